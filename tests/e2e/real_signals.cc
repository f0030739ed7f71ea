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
TEST_F(fake_e2e, a_signal_detaches_the_monitor)
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
