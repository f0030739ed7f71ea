// End-to-end runs against the simulated supplicant (see e2e_sim.h).
#include "e2e_sim.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "vt.h"

static const char frame_start[] = "\e[2J\e[1;1H";

std::string
test_wrapper(void)
{
	const char *w = getenv("CORVID_TEST_WRAPPER");
	return w != nullptr ? w : "";
}

int
patience(int ms)
{
	return test_wrapper().empty() ? ms : ms * 10;
}

// corvid is built with the flags the tests are built with.
#if defined(__SANITIZE_ADDRESS__)
static constexpr bool address_sanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
static constexpr bool address_sanitizer = true;
#else
static constexpr bool address_sanitizer = false;
#endif
#else
static constexpr bool address_sanitizer = false;
#endif

bool
memory_measurable(void)
{
	return test_wrapper().empty() && !address_sanitizer;
}

bool
wait_until(const std::function<bool()> &pred, int timeout_ms)
{
	auto end = std::chrono::steady_clock::now() +
	    std::chrono::milliseconds(timeout_ms);
	for (;;) {
		if (pred())
			return true;
		if (std::chrono::steady_clock::now() > end)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
	}
}

static bool
run_dir(sim_run *r)
{
	if (!r->dir.empty())
		return true;
	std::string tmpl = "/tmp/corvid-e2e-" + std::to_string(getpid()) +
	    "-XXXXXX";
	if (mkdtemp(tmpl.data()) == nullptr) {
		ADD_FAILURE() << "mkdtemp: " << strerror(errno);
		return false;
	}
	r->dir = tmpl;
	r->rc_path = r->dir + "/rc";
	return true;
}

bool
sim_daemon_start(sim_run *r, const std::string &config,
    const std::vector<std::string> &args)
{
	if (!run_dir(r))
		return false;
	r->daemon.sock.clear();
	if (!simsupp_start(&r->daemon, SIMSUPP_BINARY, config, args)) {
		ADD_FAILURE() << "simsupp did not start";
		return false;
	}
	r->config_before = file_read(r->daemon.config);
	return true;
}

std::string
sim_config(sim_run *r)
{
	return file_read(r->daemon.config);
}

int
sim_daemon_stop(sim_run *r, std::string *config)
{
	if (config != nullptr)
		*config = sim_config(r);
	return simsupp_stop(&r->daemon);
}

bool
sim_daemon_kill(sim_run *r, int sig)
{
	int status;

	if (r->daemon.pid <= 0 || kill(r->daemon.pid, sig) == -1)
		return false;
	while (waitpid(r->daemon.pid, &status, 0) == -1 && errno == EINTR)
		continue;
	r->daemon.pid = -1;
	return true;
}

bool
sim_corvid_start(sim_run *r, int width, int height, const std::string &extra)
{
	if (!run_dir(r))
		return false;
	// A caught HUP is reset to the default for corvid by exec, and lets
	// this shell outlive a hang-up of the terminal to record the status.
	for (const char *f : {"/rc", "/stty.before", "/stty.after"})
		unlink((r->dir + f).c_str());
	std::string q = shell_quote(r->dir);
	std::string script = "trap : HUP; stty -g > " + q + "/stty.before; " +
	    extra + test_wrapper() + " " + shell_quote(CORVID_BINARY) + " -c " +
	    shell_quote(r->daemon.sock) + "; rc=$?; stty -g > " + q +
	    "/stty.after 2> /dev/null; echo $rc > " + q + "/rc; exit $rc";
	std::string why;
	if (!tmux_start(&r->term, "sh -c " + shell_quote(script), width, height,
	    &why)) {
		ADD_FAILURE() << why;
		return false;
	}
	if (!tmux_wait_for(&r->term, "WiFi Info", patience(10000))) {
		ADD_FAILURE() << "no first frame; screen:\n" <<
		    tmux_capture(&r->term) << "\nstderr:\n" << tmux_stderr(&r->term);
		return false;
	}
	return true;
}

int
sim_corvid_pid(sim_run *r)
{
	int sh = tmux_pid(&r->term);
	if (sh == -1)
		return -1;
	std::string child = shell("pgrep -P " + std::to_string(sh) +
	    " | head -n 1");
	return child.empty() ? -1 : atoi(child.c_str());
}

int
sim_corvid_exit(sim_run *r, int timeout_ms)
{
	int rc = -1;
	wait_until([&] {
		std::string s = file_read(r->rc_path);
		if (s.empty() || s.back() != '\n')
			return false;
		rc = atoi(s.c_str());
		return true;
	}, timeout_ms);
	return rc;
}

bool
sim_terminal_restored(sim_run *r)
{
	std::string before = file_read(r->dir + "/stty.before");
	return !before.empty() && before == file_read(r->dir + "/stty.after");
}

void
sim_stop(sim_run *r)
{
	int pid = r->term.started ? sim_corvid_pid(r) : -1;

	tmux_stop(&r->term);
	// The hang-up ends corvid; one that ignores it is ended here.
	if (pid > 0 && !wait_until([&] { return process_gone(pid); }, 3000)) {
		ADD_FAILURE() << "corvid outlived its terminal";
		kill(pid, SIGKILL);
	}
	if (r->daemon.pid > 0)
		EXPECT_EQ(simsupp_stop(&r->daemon), 0) <<
		    "simsupp did not exit cleanly";
	else
		simsupp_stop(&r->daemon);
	if (!r->dir.empty()) {
		for (const char *f : {"/rc", "/stty.before", "/stty.after"})
			unlink((r->dir + f).c_str());
		rmdir(r->dir.c_str());
		r->dir.clear();
	}
}

std::string
demo_config(void)
{
	return file_read(CORVID_SOURCE_DIR "/tools/simsupp/simsupp.conf");
}

corvid_seen
sim_corvid_seen(sim_run *r)
{
	corvid_seen seen;
	seen.pid = sim_corvid_pid(r);
	if (seen.pid > 0)
		seen.private_dir = bound_socket_dir(seen.pid);
	EXPECT_GT(seen.pid, 0);
	EXPECT_NE(seen.private_dir, "") << "no control socket under /tmp";
	return seen;
}

void
expect_ended(sim_run *r, const corvid_seen &seen, int status,
    const std::vector<std::string> &messages, int timeout_ms,
    bool terminal_alive)
{
	ASSERT_EQ(sim_corvid_exit(r, timeout_ms), status) <<
	    "screen:\n" << tmux_capture(&r->term) << "stderr:\n" <<
	    tmux_stderr(&r->term);
	std::string err = tmux_stderr(&r->term);
	testing::Test::RecordProperty("corvid_stderr", err);
	bool said = messages.empty() && err.empty();
	for (const auto &m : messages)
		said = said || err.find("corvid: " + m) != std::string::npos;
	EXPECT_TRUE(said) << "stderr:\n" << err;
	EXPECT_TRUE(process_gone(seen.pid));
	struct stat st;
	EXPECT_NE(stat(seen.private_dir.c_str(), &st), 0) << seen.private_dir <<
	    " left behind";
	if (!terminal_alive)
		return;
	std::string out = tmux_output(&r->term);
	const std::string leave = "\e[?1049l\e[?25h";
	EXPECT_TRUE(out.size() >= leave.size() &&
	    out.compare(out.size() - leave.size(), leave.size(), leave) == 0) <<
	    "the output does not end by leaving the alternate screen";
	EXPECT_TRUE(sim_terminal_restored(r));
}

void
expect_config_kept(sim_run *r)
{
	std::string now = sim_config(r);
	EXPECT_EQ(config_networks(now), config_networks(r->config_before));
	EXPECT_EQ(config_globals(now), config_globals(r->config_before));
}

static std::string
strip_escapes(const std::string &line)
{
	std::string out;
	for (size_t i = 0; i < line.size(); i++) {
		if (line[i] != '\e') {
			out += line[i];
			continue;
		}
		// CSI: parameters up to the final byte.
		if (i + 1 < line.size() && line[i + 1] == '[') {
			i += 2;
			while (i < line.size() && (line[i] < 0x40 || line[i] > 0x7e))
				i++;
		}
	}
	return out;
}

std::string
selected_row(tmux_session *s)
{
	std::istringstream in(tmux_capture_with(s, "-e -N -t 0"));
	std::string line;
	while (std::getline(in, line))
		if (line.find("\e[7m") != std::string::npos)
			return strip_escapes(line);
	return "";
}

bool
select_row(tmux_session *s, const std::string &text, const std::string &key,
    int max)
{
	for (int i = 0; i <= max; i++) {
		std::string row = selected_row(s);
		if (row.find(text) != std::string::npos)
			return true;
		if (i == max)
			break;
		tmux_keys(s, {key});
		wait_until([&] { return selected_row(s) != row; }, patience(1000));
	}
	return false;
}

int
status_box_width(tmux_session *s)
{
	std::string screen = tmux_capture(s);
	std::string line = screen.substr(0, screen.find('\n'));
	if (line.rfind("╭─┐WiFi Info┌", 0) != 0 || line.size() < 3 ||
	    line.compare(line.size() - 3, 3, "╮") != 0)
		return 0;
	int n = 0;
	for (unsigned char c : line)
		n += (c & 0xc0) != 0x80;
	return n;
}

bool
wait_uncovered(tmux_session *s, const std::function<bool()> &pred,
    int timeout_ms)
{
	return wait_until([&] {
		if (pred())
			return true;
		// Until the redraw that Ctrl-L asks for has come: tmux has
		// passed it on, and the next capture waits for the rest.
		struct stat st;
		std::string out = s->dir + "/output";
		off_t before = stat(out.c_str(), &st) == 0 ? st.st_size : 0;
		tmux_keys(s, {"C-l"});
		wait_until([&] {
			return stat(out.c_str(), &st) == 0 && st.st_size > before;
		}, patience(1000));
		return false;
	}, timeout_ms);
}

bool
wait_for_uncovered(tmux_session *s, const std::string &needle, int timeout_ms)
{
	return wait_uncovered(s, [&] {
		return tmux_capture(s).find(needle) != std::string::npos;
	}, timeout_ms);
}

std::vector<std::string>
frames(const std::string &output)
{
	std::vector<std::string> out;
	size_t at = output.find(frame_start);

	while (at != std::string::npos) {
		size_t next = output.find(frame_start, at + 1);
		out.push_back(output.substr(at, next == std::string::npos ?
		    std::string::npos : next - at));
		at = next;
	}
	return out;
}

std::string
frame_screen(const std::string &frame, int rows, int cols)
{
	static bool locale = setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
	vt_screen vt;
	std::string out;

	(void)locale;
	vt_init(&vt, rows, cols);
	vt_feed(&vt, frame);
	for (int y = 0; y < rows; y++)
		out += vt_row(&vt, y) + "\n";
	return out;
}

int
frame_find(const std::vector<std::string> &frames,
    const std::vector<std::string> &needles, size_t from)
{
	for (size_t i = from; i < frames.size(); i++) {
		bool all = true;
		for (const auto &n : needles)
			all = all && frames[i].find(n) != std::string::npos;
		if (all)
			return static_cast<int>(i);
	}
	return -1;
}

size_t
count_prefix(const std::vector<std::string> &lines, const std::string &prefix,
    size_t from)
{
	size_t n = 0;

	for (size_t i = from; i < lines.size(); i++)
		if (lines[i].rfind(prefix, 0) == 0)
			n++;
	return n;
}

bool
shows(tmux_session *t, const std::string &text)
{
	return tmux_capture(t).find(text) != std::string::npos;
}

// The lines of `where` that contain all of `parts`.
int
lines_with(tmux_session *t, const std::vector<std::string> &parts,
    region where)
{
	std::string screen = tmux_capture(t), line;
	size_t start = 0;
	int n = 0;

	for (int i = 0; start < screen.size(); i++) {
		size_t end = screen.find('\n', start);
		line = screen.substr(start, end - start);
		bool all = where == SCREEN || (where == KNOWN && i >= 5 && i < 18) ||
		    (where == SCAN && i >= 20 && i < 33);
		for (const auto &p : parts)
			all = all && line.find(p) != std::string::npos;
		n += all;
		if (end == std::string::npos)
			break;
		start = end + 1;
	}
	return n;
}

// Whether, within a few seconds, `n` lines of `where` contain all of
// `parts` once the notifications that may cover them are cleared.
bool
rows_shown(tmux_session *t, const std::vector<std::string> &parts, int n,
    region where)
{
	return wait_uncovered(t, [&] { return lines_with(t, parts, where) == n; },
	    patience(3000));
}

// Rows of the Network Scan table, once no notification covers them (the
// screen's only top-left corner is then the status box's).
int
scan_rows(tmux_session *t)
{
	int n = -1;
	wait_uncovered(t, [&] {
		n = lines_with(t, {" MHz"}, SCAN);
		std::string screen = tmux_capture(t);
		return screen.find("╭") == screen.rfind("╭");
	}, patience(3000));
	return n;
}

// Opens the password dialog for the selected scan result, types `secret`
// and sends it.
void
connect_with(tmux_session *t, const std::string &secret)
{
	tmux_keys(t, {"c"});
	type_password(t, secret);
}

void
type_password(tmux_session *t, const std::string &secret)
{
	ASSERT_TRUE(tmux_wait_for(t, "Enter the password", patience(3000)));
	tmux_type(t, secret);
	// Masked: one asterisk a byte, the text itself never shows.
	ASSERT_TRUE(tmux_wait_for(t, std::string(secret.size(), '*') + " ",
	    patience(3000)));
	EXPECT_FALSE(shows(t, secret));
	tmux_keys(t, {"Enter"});
	ASSERT_TRUE(tmux_wait_gone(t, "Enter the password", patience(3000)));
}
