// corvid in a real terminal against the real supplicant ("none" driver in
// a private network namespace): what it shows, a change made behind its
// back, the ways it ends when the daemon goes away, and the routing socket
// of the namespace it runs in.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e_real.h"
#include "fake_daemon.h"

using testing::ElementsAre;

// The six stored networks, highest priority first.
static const std::vector<std::string> six = { "Off", "HomePSK", "Hidden",
	"Corp", "SaeNet", "Cafe" };

struct real_run : real_e2e {
	void SetUp() override { daemon_start(test_data("six_networks.conf")); }
};

using real_run_fake = fake_e2e;

TEST_F(real_run, shows_the_stored_networks_and_quits_cleanly)
{
	corvid_start();
	ASSERT_TRUE(wait_known(six)) << tmux_capture(&term);
	EXPECT_THAT(known_row_texts(known()), ElementsAre(
	    "Off|Open|No|6|No",
	    "HomePSK|PSK|No|5|Yes",
	    "Hidden|PSK|Yes|4|Yes",
	    "Corp|EAP|No|3|Yes",
	    "SaeNet|SAE|No|2|Yes",
	    "Cafe|Open|No|1|Yes"));
	std::string screen = tmux_capture(&term);
	// Not connected: the daemon has no radio.
	EXPECT_NE(screen.find("SSID     : N/A"), std::string::npos) << screen;
	EXPECT_NE(screen.find("WPA State: "), std::string::npos) << screen;

	std::vector<std::string> sockets = process_socket_paths(tmux_pid(&term));
	ASSERT_EQ(sockets.size(), 1u);
	tmux_type(&term, "q");
	EXPECT_EQ(tmux_wait_exit(&term, patience(5000)), 0);
	expect_terminal_restored(&term);
	EXPECT_EQ(tmux_stderr(&term), "");
	std::string dir = sockets[0].substr(0, sockets[0].rfind('/'));
	EXPECT_NE(access(dir.c_str(), F_OK), 0) << dir << " left behind";
}

TEST_F(real_run, shows_changes_made_behind_its_back)
{
	corvid_start();
	ASSERT_TRUE(wait_known(six)) << tmux_capture(&term);

	// Each change reaches corvid only as the daemon's event.
	EXPECT_EQ(wpa_cli({ "remove_network", "2" }), "OK\n");
	EXPECT_TRUE(wait_known({ "Off", "HomePSK", "Hidden", "Corp", "SaeNet" }))
	    << tmux_capture(&term);
	EXPECT_TRUE(tmux_wait_for(&term, "CTRL-EVENT-NETWORK-REMOVED 2",
	    patience(5000)));

	EXPECT_EQ(wpa_cli({ "add_network" }), "6\n");
	// A new network has no SSID yet and is not enabled.
	EXPECT_TRUE(wait_known({ "Off", "HomePSK", "Hidden", "Corp", "SaeNet", "" }))
	    << tmux_capture(&term);
	EXPECT_TRUE(tmux_wait_for(&term, "CTRL-EVENT-NETWORK-ADDED 6",
	    patience(5000)));
	known_table t = known();
	ASSERT_EQ(t.rows.size(), 6u);
	EXPECT_EQ(t.rows[5].autoconnect, "No");
	EXPECT_EQ(t.rows[5].priority, 0);
	EXPECT_TRUE(tmux_running(&term));
	EXPECT_EQ(tmux_stderr(&term), "");
}

// The daemon going away ends corvid with one message, whichever way it
// goes: terminated, it says so to its monitors; killed, it says nothing and
// corvid finds out at its next request, made by the 30-second scan timer or
// by a key.
struct daemon_stop_case {
	const char *name;
	int signal;
	const char *key;          // pressed after the signal, or nullptr
	int within_ms;
	const char *message;      // the last line on standard error
	std::set<std::string> warnings;  // lines that may come before it
};

static const daemon_stop_case daemon_stop_cases[] = {
	{ "terminated", SIGTERM, nullptr, 10000,
	    "corvid: failed to retrieve wpa_supplicant status",
	    { "corvid: failed to request wpa_supplicant status" } },
	{ "killed_then_scan_timer", SIGKILL, nullptr, 40000,
	    "corvid: failed to retrieve wpa_supplicant status",
	    { "corvid: failed to initiate scan",
	      "corvid: failed to request wpa_supplicant status" } },
	{ "killed_then_reconnect_key", SIGKILL, "r", 10000,
	    "corvid: failed to reconnect", {} },
};

static void
PrintTo(const daemon_stop_case &c, std::ostream *os)
{
	*os << c.name;
}

struct real_run_daemon_gone : real_run,
    testing::WithParamInterface<daemon_stop_case> {};

TEST_P(real_run_daemon_gone, ends_corvid_with_one_message)
{
	const daemon_stop_case &c = GetParam();
	corvid_start();
	ASSERT_TRUE(wait_known(six)) << tmux_capture(&term);

	ASSERT_EQ(file_read("/proc/" + std::to_string(daemon.pid) + "/comm"),
	    "wpa_supplicant\n");
	ASSERT_EQ(kill(daemon.pid, c.signal), 0);
	if (c.key != nullptr) {
		// Only once the daemon is gone.
		for (int i = 0; i < 500 && kill(daemon.pid, 0) == 0 &&
		    file_read("/proc/" + std::to_string(daemon.pid) + "/stat")
		    .find(") Z") == std::string::npos; i++)
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
		tmux_type(&term, c.key);
	}
	ASSERT_EQ(tmux_wait_exit(&term, patience(c.within_ms)), 1)
	    << tmux_capture(&term);
	std::vector<std::string> lines = text_lines(tmux_stderr(&term));
	ASSERT_FALSE(lines.empty());
	EXPECT_EQ(lines.back(), c.message);
	lines.pop_back();
	for (const std::string &l : lines)
		EXPECT_EQ(c.warnings.count(l), 1u) << "unexpected: " << l;
	expect_terminal_restored(&term);
}

INSTANTIATE_TEST_SUITE_P(, real_run_daemon_gone,
    testing::ValuesIn(daemon_stop_cases),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(real_run_fake, empty_datagram_means_the_socket_closed)
{
	corvid_start();
	ASSERT_TRUE(fake_daemon_send(&daemon, ""));
	ASSERT_EQ(tmux_wait_exit(&term, patience(5000)), 1);
	std::vector<std::string> lines = text_lines(tmux_stderr(&term));
	// An empty read carries no error to report beside the message.
	EXPECT_THAT(lines, ElementsAre("corvid: wpa ctrl interface socket closed"));
	expect_terminal_restored(&term);
}

// An address added to or removed from an interface of the namespace corvid
// runs in makes it fetch the status again, and only the status.  Each step
// gives the daemon a new address to report, so the screen shows whether
// the status box was refreshed.
TEST_F(real_run_fake, address_changes_refresh_the_status)
{
	std::string why;
	if (!e2e_netns_make(&ns, &why))
		GTEST_SKIP() << why;
	set_status({ "wpa_state=COMPLETED", "ssid=HomeNet" });
	corvid_start(e2e_netns_exec(ns.name));
	ASSERT_TRUE(tmux_wait_for(&term, "Acquiring...", patience(5000)))
	    << tmux_capture(&term);

	const struct {
		const char *what;
		std::vector<std::string> ip;
		const char *reported;
	} steps[] = {
		{ "IPv4 address added", { "addr", "add", "127.0.0.2/8", "dev", "lo" },
		    "127.0.0.12" },
		{ "IPv4 address removed", { "addr", "del", "127.0.0.2/8", "dev", "lo" },
		    "127.0.0.13" },
		{ "IPv6 address added", { "-6", "addr", "add", "::1/128", "dev", "lo" },
		    "127.0.0.14" },
	};
	for (const auto &step : steps) {
		SCOPED_TRACE(step.what);
		set_status({ "wpa_state=COMPLETED", "ssid=HomeNet",
		    std::string("ip_address=") + step.reported });
		fake_daemon_clear_requests(&daemon);
		ASSERT_EQ(e2e_netns_ip(&ns, step.ip), 0);
		EXPECT_TRUE(tmux_wait_for(&term, step.reported, patience(5000)))
		    << tmux_capture(&term);
		std::vector<std::string> requests = fake_daemon_requests(&daemon);
		EXPECT_FALSE(requests.empty());
		for (const std::string &r : requests)
			EXPECT_EQ(r, "STATUS");
	}
	EXPECT_TRUE(tmux_running(&term));
	EXPECT_EQ(tmux_stderr(&term), "");
}
