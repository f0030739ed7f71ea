// The daemon's edges under a running corvid: a restart of the real daemon,
// and a daemon that hangs while its events go on.
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e_real.h"


using real_daemon_edges = fake_e2e;

struct real_daemon_edges_restart : real_e2e {
	void SetUp() override { daemon_start(test_data("six_networks.conf")); }
};

// The daemon restarts on its configuration at the same path: the next
// request (the refresh after the events the daemon sends as it ends, or
// the scan key's) finds its socket gone, corvid connects again, fetches
// everything and says so, and the next press works on the new connection.
// The terminal is tall enough to show every notification of the restart.
TEST_F(real_daemon_edges_restart, a_restart_is_survived)
{
	corvid_start(160, 90);
	std::vector<std::string> before = screen_known_ssids(tmux_capture(&term));
	ASSERT_FALSE(before.empty());
	tmux_keys(&term, { "C-l" });
	std::string why;
	ASSERT_TRUE(real_daemon_restart(&daemon, &why)) << why;

	tmux_keys(&term, { "s" });
	// The events the old daemon sent as it ended are handled after, and
	// their notifications come on top: look for it in the frames drawn.
	bool said = false;
	for (int i = 0; i < patience(10000) / 50 && !said; i++) {
		said = tmux_output(&term).find("Reconnected to wpa_supplicant") !=
		    std::string::npos;
		if (!said)
			std::this_thread::sleep_for(std::chrono::milliseconds(50));
	}
	ASSERT_TRUE(said) << tmux_capture(&term);
	EXPECT_TRUE(tmux_running(&term));
	EXPECT_TRUE(wait_known(before));

	tmux_keys(&term, { "C-l" });
	ASSERT_TRUE(tmux_wait_gone(&term, "Reconnected", patience(5000)));
	tmux_keys(&term, { "s" });
	ASSERT_TRUE(tmux_wait_for(&term, "Starting scan...", patience(5000)));
	EXPECT_FALSE(tmux_wait_for(&term, "Reconnected", 500));
	EXPECT_TRUE(tmux_running(&term));
	tmux_keys(&term, { "q" });
	EXPECT_EQ(tmux_wait_exit(&term, patience(5000)), 0);
}

// A daemon that stops answering while it still sends an event every half
// second: a terminating signal that comes while a request waits ends
// corvid at once, cleanly, and the DETACH at exit does not wait long.
TEST_F(real_daemon_edges, a_signal_ends_a_wait_for_a_hung_daemon)
{
	corvid_start();
	pid_t pid = tmux_pid(&term);
	ASSERT_GT(pid, 0);
	{
		std::lock_guard<std::mutex> lock(daemon.mutex);
		daemon.responder = [](const std::string &) { return fake_reply{}; };
	}
	event_ticker ticker(&daemon, 500);
	fake_daemon_clear_requests(&daemon);
	tmux_keys(&term, { "s" });
	// The scan key's first request is waiting.
	for (int i = 0; i < 100 && fake_daemon_requests(&daemon).empty(); i++)
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
	ASSERT_FALSE(fake_daemon_requests(&daemon).empty());
	ASSERT_EQ(kill(pid, SIGTERM), 0);
	// Well before the request's own three seconds are up.
	ASSERT_EQ(tmux_wait_exit(&term, patience(2000)), 1);
	// The warning of the request the signal cut short may come first:
	// what the client warned of while the screen was up comes out before
	// the final message.
	std::vector<std::string> lines = text_lines(tmux_stderr(&term));
	ASSERT_FALSE(lines.empty());
	EXPECT_EQ(lines.back(), "corvid: terminated by SIGTERM");
	EXPECT_LE(lines.size(), 3u);
	expect_terminal_restored(&term);
	EXPECT_EQ(fake_daemon_requests(&daemon).back(), "DETACH");
}
