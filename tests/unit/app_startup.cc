// Start-up: the command line, the checks before the screen is taken, a
// whole run from start to exit, the terminal size with its layout numbers,
// and the ways out after a fatal error.
#include <sys/wait.h>

#include <atomic>
#include <csignal>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core_state.h"
#include "e2e_real.h"

namespace {

using strings = std::vector<std::string>;

const std::string usage_text =
    "Usage:\tcorvid [-h | --help]\n\tcorvid [--ctrl-interface <path> | -c <path>]\n";

std::string
read_all(int fd)
{
	std::string s;
	char buf[4096];
	ssize_t n;
	while ((n = read(fd, buf, sizeof buf)) > 0)
		s.append(buf, static_cast<size_t>(n));
	return s;
}

// Standard error without the notes a sanitizer's leak check adds in a
// child forked from a process with threads ("==pid==Running thread ...").
std::string
without_sanitizer_notes(const std::string &s)
{
	std::string out;
	size_t at = 0;
	while (at < s.size()) {
		size_t nl = s.find('\n', at);
		size_t end = nl == s.npos ? s.size() : nl + 1;
		std::string line = s.substr(at, end - at);
		size_t digits = line.find_first_not_of("0123456789", 2);
		bool note = line.starts_with("==") && digits != line.npos && digits > 2 &&
		    line.compare(digits, 2, "==") == 0;
		if (!note)
			out += line;
		at = end;
	}
	return out;
}

// Waits for a child for at most ten seconds, then kills it.
int
wait_child(pid_t pid)
{
	int status = 0;
	for (int i = 0; i < 1000; i++) {
		if (waitpid(pid, &status, WNOHANG) == pid)
			return status;
		usleep(10000);
	}
	kill(pid, SIGKILL);
	waitpid(pid, &status, 0);
	ADD_FAILURE() << "the program did not end";
	return status;
}

// Points into `args`, which must outlive the result.
std::vector<char *>
argv_of(const strings &args)
{
	std::vector<char *> argv{ const_cast<char *>("corvid") };
	for (const std::string &a : args)
		argv.push_back(const_cast<char *>(a.c_str()));
	argv.push_back(nullptr);
	return argv;
}

struct run_result {
	int status = -1;
	std::string out, err;
};

// Runs the program in a child whose standard input is `in`.
run_result
run_main(const strings &args, int in)
{
	int o[2], e[2];
	run_result r;

	if (pipe(o) == -1 || pipe(e) == -1)
		return r;
	// Only exec in the child: see run_session.
	std::vector<char *> argv = argv_of(args);
	argv[0] = const_cast<char *>(CORVID_BINARY);
	fflush(nullptr);   // the child must not write the parent's buffers again
	pid_t pid = fork();
	if (pid == 0) {
		dup2(in, 0);
		dup2(o[1], 1);
		dup2(e[1], 2);
		for (int fd : { o[0], o[1], e[0], e[1] })
			close(fd);
		execv(CORVID_BINARY, argv.data());
		_exit(127);
	}
	close(o[1]);
	close(e[1]);
	r.out = read_all(o[0]);
	r.err = without_sanitizer_notes(read_all(e[0]));
	close(o[0]);
	close(e[0]);
	int status = wait_child(pid);
	r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
	return r;
}

bool
ends_with(const std::string &s, const std::string &tail)
{
	return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(app_startup, TheCommandLineAndTheChecksBeforeTheScreen)
{
	core_pty tty;
	ASSERT_TRUE(tty.open(34, 80, false));
	int null = open("/dev/null", O_RDONLY);
	ASSERT_NE(null, -1);
	struct termios before;
	ASSERT_EQ(tcgetattr(tty.slave, &before), 0);

	const struct {
		strings args;
		bool on_tty;
		int status;
		std::string out;
		std::string err_has;          // "" when nothing may be written
		bool err_ends_with_usage;
	} cases[] = {
		{ { "-h" }, true, 0, usage_text, "", false },
		{ { "--help" }, true, 0, usage_text, "", false },
		{ { "-h", "-x" }, true, 0, usage_text, "", false },
		// The help needs no terminal ("corvid -h | less"); the rest does,
		// and the terminal check comes before the operands and the socket.
		{ { "-h" }, false, 0, usage_text, "", false },
		{ { "--help" }, false, 0, usage_text, "", false },
		{ { "-c", "/nonexistent/a" }, false, 1, "", "not a TTY\n", false },
		{ { "extra" }, false, 1, "", "not a TTY\n", false },
		{ { "-x" }, false, 1, "", "option", true },
		// Operands, and the parsing that stops at the first one.
		{ { "extra" }, true, 1, "", "wrong number of arguments\n", true },
		{ { "extra", "-h" }, true, 1, "", "wrong number of arguments\n", true },
		// The option parser's own diagnostic, then the usage text.
		{ { "-x" }, true, 1, "", "option", true },
		{ { "-c" }, true, 1, "", "option", true },
		{ { "--ctrl-interface" }, true, 1, "", "option", true },
		{ { "--bogus" }, true, 1, "", "option", true },
		// The last -c counts.
		{ { "-c", "/nonexistent/a", "-c", "/nonexistent/b" }, true, 1, "",
		  "failed to open wpa_supplicant ctrl_interface, /nonexistent/b: "
		  "No such file or directory\n", false },
		{ { "--ctrl-interface=/nonexistent/c" }, true, 1, "",
		  "failed to open wpa_supplicant ctrl_interface, /nonexistent/c: ", false },
	};
	for (const auto &c : cases) {
		std::string what = c.args.empty() ? "" : c.args[0];
		run_result r = run_main(c.args, c.on_tty ? tty.slave : null);
		EXPECT_EQ(r.status, c.status) << what;
		EXPECT_EQ(r.out, c.out) << what;
		if (c.err_has.empty())
			EXPECT_EQ(r.err, "") << what;
		else
			EXPECT_NE(r.err.find(c.err_has), std::string::npos) << what << ": " << r.err;
		EXPECT_EQ(ends_with(r.err, usage_text), c.err_ends_with_usage) << what;
	}

	// Without -c the first socket of the daemon's directory is taken; this
	// holds only on a machine where there is none.
	if (ctrl_default_path() == nullptr) {
		run_result r = run_main({}, tty.slave);
		EXPECT_EQ(r.status, 1);
		EXPECT_TRUE(ends_with(r.err, ": no wpa ctrl interface on default "
		    "path, provide --ctrl-interface\n")) << r.err;
	}

	// None of it touched the terminal.
	struct termios after;
	ASSERT_EQ(tcgetattr(tty.slave, &after), 0);
	EXPECT_EQ(after.c_lflag, before.c_lflag);
	EXPECT_EQ(after.c_iflag, before.c_iflag);
	EXPECT_EQ(tty.output(), "");
	close(null);
}

// A whole run: the program on a terminal of its own against an in-test
// daemon, from start-up to its end.
struct run_session {
	fake_daemon daemon;
	core_pty tty;
	pid_t pid = -1;
	int err[2] = { -1, -1 };
	struct termios cooked;

	~run_session()
	{
		if (pid > 0) {
			kill(pid, SIGKILL);
			waitpid(pid, nullptr, 0);
		}
		for (int fd : err)
			if (fd != -1)
				close(fd);
		tty.close();
		fake_daemon_stop(&daemon);
	}

	// Starts the program with the pty as its controlling terminal and
	// waits for its first frame.
	void start()
	{
		launch();
		if (testing::Test::HasFatalFailure())
			return;
		if (!tty.wait_for("Known Networks")) {
			kill(pid, SIGKILL);
			waitpid(pid, nullptr, 0);
			pid = -1;
			FAIL() << "no frame; standard error: " << read_all(err[0]);
		}
	}

	// Starts the program, without waiting for anything.
	void launch()
	{
		world_networks(&daemon.world, { { 0, "Home", 5, "[CURRENT]" } });
		world_scan(&daemon.world, { { "Cafe", -40 } });
		ASSERT_TRUE(fake_daemon_start(&daemon));
		ASSERT_TRUE(tty.open(34, 80, false));
		ASSERT_EQ(tcgetattr(tty.slave, &cooked), 0);
		ASSERT_EQ(pipe(err), 0);
		std::string name = ptsname(tty.master);
		// This process has threads (the daemon's, the terminal reader's):
		// the child only execs the program, with everything it needs made
		// before the fork, for a child of a threaded process may find a
		// lock (the allocator's, the locale's) held for ever.
		const strings args = { "-c", daemon.path };
		std::vector<char *> argv = argv_of(args);
		argv[0] = const_cast<char *>(CORVID_BINARY);
		std::vector<std::string> env_text = { "LC_ALL=C.UTF-8" };
		for (char **e = environ; *e != nullptr; e++)
			if (strncmp(*e, "LC_ALL=", 7) != 0)
				env_text.emplace_back(*e);
		std::vector<char *> envp;
		for (std::string &e : env_text)
			envp.push_back(e.data());
		envp.push_back(nullptr);
		fflush(nullptr);
		pid = fork();
		ASSERT_NE(pid, -1);
		if (pid == 0) {
			setsid();
			int fd = open(name.c_str(), O_RDWR);
			ioctl(fd, TIOCSCTTY, 0);
			dup2(fd, 0);
			dup2(fd, 1);
			dup2(err[1], 2);
			execve(CORVID_BINARY, argv.data(), envp.data());
			_exit(127);
		}
		close(err[1]);
		err[1] = -1;
	}
};

// A signal while start-up waits for a slow daemon, before the screen is
// taken, ends the program through the normal way out: the private socket
// directory goes, the terminal is left alone.  Its default action would
// leave the directory behind.
TEST(app_startup_run, ASignalDuringASlowStartUpRemovesWhatItMade)
{
	const std::pair<int, const char *> signals[] = {
		{ SIGINT, "SIGINT" }, { SIGTERM, "SIGTERM" }, { SIGQUIT, "SIGQUIT" } };
	for (const auto &[sig, name] : signals) {
		SCOPED_TRACE(name);
		run_session s;
		std::atomic<bool> asked{false};
		s.daemon.responder = [&](const std::string &req) {
			if (req == "STATUS") {
				asked = true;
				usleep(300000);
			}
			return fake_answer(fake_world_answer(&s.daemon.world, req));
		};
		s.launch();
		if (testing::Test::HasFatalFailure())
			return;
		for (int i = 0; i < 1000 && !asked; i++)
			usleep(10000);
		ASSERT_TRUE(asked);
		std::vector<std::string> sockets = process_socket_paths(s.pid);
		ASSERT_EQ(sockets.size(), 1u);
		std::string dir = sockets[0].substr(0, sockets[0].rfind('/'));
		ASSERT_EQ(kill(s.pid, sig), 0);
		int status = wait_child(s.pid);
		s.pid = -1;
		ASSERT_TRUE(WIFEXITED(status)) << "killed by the signal";
		EXPECT_EQ(WEXITSTATUS(status), 1);
		EXPECT_EQ(without_sanitizer_notes(read_all(s.err[0])),
		    std::string("corvid: terminated by ") + name + "\n");
		EXPECT_NE(access(dir.c_str(), F_OK), 0) << dir << " left behind";
		EXPECT_EQ(s.tty.output().find("\e[?1049h"), std::string::npos);
	}
}

TEST(app_startup_run, FromStartUpToTheEndTheTerminalIsTakenAndGivenBack)
{
	const struct {
		const char *how;
		int status;
		const char *message;
	} cases[] = {
		{ "q", 0, "" },
		{ "Q", 0, "" },
		{ "SIGTERM", 1, "terminated by SIGTERM\n" },
		{ "empty datagram", 1, "wpa ctrl interface socket closed" },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.how);
		run_session s;
		s.start();
		if (testing::Test::HasFatalFailure())
			return;
		EXPECT_EQ(s.tty.output().find("\e[?1049h\e[?25l"), 0u)
		    << "the alternate screen first";
		struct termios raw;
		ASSERT_EQ(tcgetattr(s.tty.slave, &raw), 0);
		EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
		EXPECT_EQ(raw.c_oflag & OPOST, 0u);

		if (std::string(c.how) == "SIGTERM")
			kill(s.pid, SIGTERM);
		else if (std::string(c.how) == "empty datagram")
			ASSERT_TRUE(fake_daemon_send(&s.daemon, ""));
		else
			ASSERT_EQ(write(s.tty.master, c.how, 1), 1);
		int status = wait_child(s.pid);
		s.pid = -1;
		ASSERT_TRUE(WIFEXITED(status));
		EXPECT_EQ(WEXITSTATUS(status), c.status);
		std::string e = without_sanitizer_notes(read_all(s.err[0]));
		if (*c.message == '\0')
			EXPECT_EQ(e, "");
		else
			EXPECT_NE(e.find(c.message), std::string::npos) << e;
		ASSERT_TRUE(s.tty.wait_for("\e[?1049l\e[?25h"));
		EXPECT_TRUE(ends_with(s.tty.output(), "\e[?1049l\e[?25h"));
		struct termios after;
		ASSERT_EQ(tcgetattr(s.tty.slave, &after), 0);
		EXPECT_EQ(after.c_lflag, s.cooked.c_lflag) << "attributes restored";
		EXPECT_EQ(after.c_iflag, s.cooked.c_iflag);
		EXPECT_EQ(after.c_oflag, s.cooked.c_oflag);

		strings req;
		for (const std::string &r : fake_daemon_requests(&s.daemon))
			if (!r.starts_with("GET_NETWORK "))
				req.push_back(r);
		ASSERT_GE(req.size(), 5u);
		EXPECT_EQ(strings(req.begin(), req.begin() + 4),
		    (strings{ "STATUS", "LIST_NETWORKS", "SCAN_RESULTS", "ATTACH" }));
		EXPECT_EQ(req.back(), "DETACH") << "the monitor is detached at exit";
	}
}

struct app_startup_screen : core_test {};

TEST_F(app_startup_screen, TheSizeGivesTheLayoutNumbers)
{
	const struct {
		int rows, cols;
		size_t layout_rows, visible;
		bool too_small;
	} cases[] = {
		{ 22, 44, 22, 7, false },   // the smallest usable terminal
		{ 21, 44, 21, 6, true },
		{ 22, 43, 22, 7, true },
		{ 24, 80, 24, 8, false },
		{ 33, 80, 33, 12, false },
		{ 34, 80, 34, 13, false },
		{ 60, 200, 34, 13, false },
		{ 8, 80, 8, 0, true },
		{ 7, 80, 7, 0, true },
	};
	for (const auto &c : cases) {
		tty.resize(c.rows, c.cols);
		ASSERT_EQ(fetch_winsize(), 0);
		EXPECT_EQ(app_rows(), c.rows);
		EXPECT_EQ(app_cols(), c.cols);
		EXPECT_EQ(app.layout_rows, c.layout_rows) << c.rows << "x" << c.cols;
		EXPECT_EQ(app.tables[SECTION_KNOWN].visible, c.visible) << c.rows << "x" << c.cols;
		EXPECT_EQ(app.tables[SECTION_SCAN].visible, c.visible);
		EXPECT_EQ(app.too_small, c.too_small) << c.rows << "x" << c.cols;
	}
	EXPECT_EQ(tty.output(), "") << "a known size needs no query";
}

TEST_F(app_startup_screen, WithoutAColumnCountTheTerminalIsAskedWhereTheCursorStops)
{
	const struct {
		const char *reply;           // nullptr: no answer at all
		int result;
	} cases[] = {
		{ "\e[40;100R", 0 },
		{ "[40;100R", -1 },
		{ "\e[40R", -1 },
		{ "\e[;100R", -1 },
		{ nullptr, -1 },
	};
	for (const auto &c : cases) {
		tty.resize(50, 0);
		app.winsize = {};
		size_t mark = tty.output().size();
		std::thread answer([&] {
			if (tty.wait_for("\e[6n", mark) && c.reply != nullptr)
				(void)!write(tty.master, c.reply, strlen(c.reply));
		});
		int result = fetch_winsize();
		answer.join();
		EXPECT_EQ(result, c.result) << (c.reply ? c.reply + 1 : "no reply");
		EXPECT_EQ(tty.output().substr(mark), "\e[999C\e[999B\e[6n");
		if (c.result == 0) {
			EXPECT_EQ(app_rows(), 40);
			EXPECT_EQ(app_cols(), 100);
			EXPECT_EQ(app.layout_rows, 34u);
			EXPECT_EQ(app.tables[SECTION_KNOWN].visible, 13u);
			EXPECT_FALSE(app.too_small);
		}
		struct termios t;
		ASSERT_EQ(tcgetattr(tty.slave, &t), 0);
		EXPECT_EQ(t.c_cc[VMIN], 0) << "the terminal's mode is put back";
	}
}

// While the screen is up, the client's warnings would flash into the frame
// and be gone at the next redraw: they come out, in order, under the final
// message's summary instead.
TEST_F(app_startup_screen, WarningsWhileTheScreenIsUpComeOutBeforeTheFinalMessage)
{
	connect();
	change_world([](fake_world *w) { w->fail = { "SCAN" }; });
	warnings_hold();
	stderr_begin();
	EXPECT_EQ(scan_start(app.ctrl), -1);
	EXPECT_EQ(stderr_end(), "") << "nothing is written over the screen";
	CORE_EXPECT_EXIT(fatalx("failed to update config"), testing::ExitedWithCode(1),
	    "request failed: SCAN\n.*: failed to initiate scan\n"
	    ".*: failed to update config\n$");
	stderr_begin();
	warnings_release();
	EXPECT_NE(stderr_end().find("failed to initiate scan"), std::string::npos);
}

TEST_F(app_startup_screen, AFatalErrorLeavesTheScreenAndRestoresTheTerminalFirst)
{
	struct termios raw;
	ASSERT_EQ(tcgetattr(tty.slave, &raw), 0);
	app.saved_termios = raw;
	app.saved_termios.c_lflag |= ICANON | ECHO;
	app.termios_saved = true;

	size_t mark = tty.output().size();
	CORE_EXPECT_EXIT({
		errno = ENOENT;
		fatal("boom %d", 7);
	}, testing::ExitedWithCode(1), "boom 7: No such file or directory\n");
	EXPECT_TRUE(tty.wait_for("\e[?1049l\e[?25h", mark));
	struct termios t;
	ASSERT_EQ(tcgetattr(tty.slave, &t), 0);
	EXPECT_EQ(t.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));

	ASSERT_EQ(tcsetattr(tty.slave, TCSANOW, &raw), 0);
	mark = tty.output().size();
	CORE_EXPECT_EXIT({
		errno = ENOENT;
		fatalx("boom %d", 8);
	}, testing::ExitedWithCode(1), "boom 8\n");
	EXPECT_TRUE(tty.wait_for("\e[?1049l\e[?25h", mark));
	ASSERT_EQ(tcgetattr(tty.slave, &t), 0);
	EXPECT_EQ(t.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
}

} // namespace
