// The terminating signals end corvid through its normal way out, in a real
// terminal against the real supplicant: the screen left, the terminal's
// attributes back, the private socket directory gone, status 1 and a
// message naming the signal.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e_real.h"

using testing::ElementsAre;

struct signal_case {
	const char *name;
	int signal;
};

static const signal_case signal_cases[] = {
	{ "SIGTERM", SIGTERM },
	{ "SIGHUP", SIGHUP },
	{ "SIGINT", SIGINT },
	// Those whose default action would end the program where it stands,
	// the terminal raw on the alternate screen and the socket directory
	// left behind.
	{ "SIGQUIT", SIGQUIT },
	{ "SIGABRT", SIGABRT },
	{ "SIGUSR1", SIGUSR1 },
	{ "SIGUSR2", SIGUSR2 },
	{ "SIGPIPE", SIGPIPE },
	{ "SIGALRM", SIGALRM },
};

// Whether `sig` is in the signal mask `field` ("SigCgt", "SigBlk") of
// process `pid`.
static bool
signal_in_mask(pid_t pid, const char *field, int sig)
{
	std::string mask = proc_status_field(pid, field);
	return !mask.empty() &&
	    (strtoull(mask.c_str(), nullptr, 16) >> (sig - 1)) & 1;
}

static void
PrintTo(const signal_case &c, std::ostream *os)
{
	*os << c.name;
}

struct real_signals : real_e2e, testing::WithParamInterface<signal_case> {
	void SetUp() override { daemon_start(test_data("six_networks.conf")); }
};

using real_signals_fake = fake_e2e;

using real_signals_e2e = real_e2e;

TEST_P(real_signals, end_corvid_cleanly)
{
	const signal_case &c = GetParam();
	corvid_start();
	ASSERT_TRUE(tmux_wait_for(&term, "HomePSK", patience(5000)));
	pid_t pid = tmux_pid(&term);
	ASSERT_GT(pid, 0);
	std::vector<std::string> sockets = process_socket_paths(pid);
	ASSERT_EQ(sockets.size(), 1u);
	std::string dir = sockets[0].substr(0, sockets[0].rfind('/'));
	ASSERT_EQ(access(dir.c_str(), F_OK), 0) << dir;
	// The signal is read from the event queue, never caught by a handler.
	// (A wrapper such as valgrind catches every signal itself.)
	if (test_wrapper().empty()) {
		EXPECT_FALSE(signal_in_mask(pid, "SigCgt", c.signal));
	}

	ASSERT_EQ(kill(pid, c.signal), 0);
	ASSERT_EQ(tmux_wait_exit(&term, patience(5000)), 1);
	EXPECT_THAT(text_lines(tmux_stderr(&term)),
	    ElementsAre(std::string("corvid: terminated by ") + c.name));
	expect_terminal_restored(&term);
	EXPECT_NE(access(dir.c_str(), F_OK), 0) << dir << " left behind";
}

INSTANTIATE_TEST_SUITE_P(, real_signals, testing::ValuesIn(signal_cases),
    [](const auto &info) { return std::string(info.param.name); });

// The way out also tells the daemon that its monitor is going.
TEST_F(real_signals_fake, a_signal_detaches_the_monitor)
{
	corvid_start();
	pid_t pid = tmux_pid(&term);
	ASSERT_GT(pid, 0);
	ASSERT_EQ(kill(pid, SIGTERM), 0);
	ASSERT_EQ(tmux_wait_exit(&term, patience(5000)), 1);
	std::vector<std::string> requests = fake_daemon_requests(&daemon);
	ASSERT_FALSE(requests.empty());
	EXPECT_EQ(requests.back(), "DETACH");
}

// The state letter of process `pid` ('T' when stopped), or 0.
static char
process_state(pid_t pid)
{
	std::string stat = file_read("/proc/" + std::to_string(pid) + "/stat");
	size_t at = stat.rfind(") ");
	return at == std::string::npos ? 0 : stat[at + 2];
}

// The terminal's attributes as "stty -a" reports them.
static std::string
pane_stty(tmux_session *term)
{
	std::string tty = tmux_command(term, "display -p -t 0 '#{pane_tty}'");
	while (!tty.empty() && tty.back() == '\n')
		tty.pop_back();
	return shell("stty -a < " + shell_quote(tty));
}

// SIGTSTP gives the terminal back and stops; SIGCONT takes it again and
// redraws.  Left stopped raw on the alternate screen, the shell the user
// comes back to would be unusable.
TEST_F(real_signals_e2e, stop_and_continue_give_the_terminal_back_and_take_it_again)
{
	daemon_start(test_data("six_networks.conf"));
	corvid_start();
	ASSERT_TRUE(tmux_wait_for(&term, "HomePSK", patience(5000)));
	pid_t pid = tmux_pid(&term);
	ASSERT_GT(pid, 0);
	EXPECT_NE(pane_stty(&term).find("-icanon"), std::string::npos);

	ASSERT_EQ(kill(pid, SIGTSTP), 0);
	ASSERT_TRUE(tmux_wait_output_tail(&term, "\e[?2004l\e[?1049l\e[?25h",
	    patience(5000)));
	bool stopped = false;
	for (int i = 0; i < patience(200) && !stopped; i++) {
		stopped = process_state(pid) == 'T';
		if (!stopped)
			usleep(10000);
	}
	EXPECT_TRUE(stopped);
	std::string cooked = pane_stty(&term);
	EXPECT_EQ(cooked.find("-icanon"), std::string::npos) << cooked;
	EXPECT_EQ(cooked.find("-echo "), std::string::npos) << cooked;
	EXPECT_FALSE(tmux_wait_for(&term, "HomePSK", 200)) << "the screen was left";

	size_t before = tmux_output(&term).size();
	ASSERT_EQ(kill(pid, SIGCONT), 0);
	ASSERT_TRUE(tmux_wait_for(&term, "HomePSK", patience(5000)))
	    << tmux_capture(&term);
	EXPECT_NE(tmux_output(&term).find("\e[?1049h\e[?25l\e[?2004h", before),
	    std::string::npos);
	EXPECT_NE(pane_stty(&term).find("-icanon"), std::string::npos);
	// And it still takes keys.
	tmux_keys(&term, { "q" });
	EXPECT_EQ(tmux_wait_exit(&term, patience(5000)), 0);
	expect_terminal_restored(&term);
}
