// The journey of a new user, end to end: the real corvid in a terminal
// (tmux) against the simulated supplicant, which has not scanned yet and
// stores one network out of range.  Scan, search, a wrong passphrase, the
// right one, disconnect, forget, quit; then the daemon restarts from the
// file it saved, and corvid shows what is left.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_sim.h"

// A network the user had before, out of range, with a line the program
// never touches: it must come through every save unchanged.
static const char *const start_config =
    "ctrl_interface=/var/run/wpa_supplicant\n"
    "update_config=1\n"
    "\n"
    "network={\n"
    "\tssid=\"Office\"\n"
    "\tpsk=\"office-secret\"\n"
    "\tid_str=\"work\"\n"
    "\tpriority=3\n"
    "}\n";

// The saved networks: the user's own first, unchanged, and then `more`, each
// given by lines it must hold.
static void
expect_saved(sim_run *r, const std::vector<std::vector<std::string>> &more)
{
	std::vector<std::string> before = config_networks(r->config_before);
	std::vector<std::string> now = config_networks(sim_config(r));

	ASSERT_EQ(now.size(), before.size() + more.size()) << sim_config(r);
	for (size_t i = 0; i < before.size(); i++)
		EXPECT_EQ(now[i], before[i]);
	for (size_t i = 0; i < more.size(); i++)
		for (const auto &line : more[i])
			EXPECT_NE(now[before.size() + i].find(line + "\n"),
			    std::string::npos) << line << " in\n" <<
			    now[before.size() + i];
	EXPECT_EQ(config_globals(sim_config(r)), config_globals(r->config_before));
}

// In Known Networks: selects the network and forgets it.
static void
forget(tmux_session *t, const std::string &row)
{
	ASSERT_TRUE(select_row(t, row));
	tmux_keys(t, {"f"});
	ASSERT_TRUE(wait_until([&] { return lines_with(t, {row}, KNOWN) == 0; },
	    patience(3000))) << tmux_capture(t);
}

TEST(sim_journey, new_user)
{
	sim_run r;
	sim_run_guard guard{&r};
	tmux_session *t = &r.term;
	const std::string home_row = " Home        ";

	ASSERT_TRUE(sim_daemon_start(&r, start_config,
	    {"--empty-bss", "--connect-delay-ms", "600"}));
	ASSERT_TRUE(sim_corvid_start(&r));
	corvid_seen seen = sim_corvid_seen(&r);

	{
		SCOPED_TRACE("start: not connected, the stored network, no scan yet");
		EXPECT_TRUE(shows(t, "SSID     : N/A"));
		EXPECT_TRUE(rows_shown(t, {"Office", "PSK", "3"}, 1, KNOWN));
		EXPECT_EQ(scan_rows(t), 0);
	}
	{
		SCOPED_TRACE("scan: new rows appear with signal bars");
		tmux_keys(t, {"s"});
		EXPECT_TRUE(tmux_wait_for(t, "Starting scan...", patience(3000)));
		ASSERT_TRUE(wait_uncovered(t, [&] {
			return lines_with(t, {home_row, "PSK", "▂▄▆█", "2437 MHz"}) ==
			    1;
		}, patience(5000))) << tmux_capture(t);
		EXPECT_GE(scan_rows(t), 10);
		EXPECT_TRUE(rows_shown(t, {"Home-5G", "5180 MHz"}, 1));
	}
	{
		SCOPED_TRACE("search the scan list");
		tmux_keys(t, {"C-l", "Tab", "/"});
		tmux_type(t, "home");
		ASSERT_TRUE(tmux_wait_for(t, "/home", patience(3000)));
		tmux_keys(t, {"Enter"});
		ASSERT_TRUE(wait_until([&] { return scan_rows(t) == 2; },
		    patience(3000))) << tmux_capture(t);
		EXPECT_EQ(lines_with(t, {"Home-5G"}), 1);
		EXPECT_EQ(lines_with(t, {"CorpNet"}), 0);
		ASSERT_TRUE(select_row(t, home_row, "j", 2));
	}
	{
		SCOPED_TRACE("a wrong passphrase: the daemon says so, nothing "
		    "connects");
		connect_with(t, "wrong-pass");
		EXPECT_TRUE(tmux_wait_for(t, "Connecting to Home [freq=2437]",
		    patience(3000)));
		// The daemon reports the failed handshake; which of its
		// messages survive depends on how they queue up behind the
		// refreshes that the first one causes.
		ASSERT_TRUE(wait_until([&] {
			return shows(t, "reason=15") || shows(t, "WRONG_KEY") ||
			    shows(t, "may be incorrect");
		}, patience(5000))) << tmux_capture(t);
		EXPECT_TRUE(wait_for_uncovered(t, "WPA State: DISCONNECTED",
		    patience(3000)));
		EXPECT_TRUE(shows(t, "SSID     : N/A"));
		std::vector<std::string> f = frames(tmux_output(t));
		EXPECT_EQ(frame_find(f, {"WPA State: COMPLETED"}), -1);
		expect_saved(&r, {{"ssid=\"Home\"", "psk=\"wrong-pass\""}});
	}
	{
		SCOPED_TRACE("forget it, so that the next connect asks again");
		tmux_keys(t, {"Tab"});
		forget(t, home_row);
		expect_saved(&r, {});
		EXPECT_TRUE(rows_shown(t, {"Office", "PSK", "3"}, 1, KNOWN));
	}
	size_t frames_before = frames(tmux_output(t)).size();
	{
		SCOPED_TRACE("the right passphrase: SSID, frequency, then the "
		    "address");
		tmux_keys(t, {"Tab"});
		ASSERT_TRUE(select_row(t, home_row, "j", 2));
		connect_with(t, "correct horse");
		ASSERT_TRUE(wait_for_uncovered(t, "IP Address: 192.168.1.",
		    patience(5000))) << tmux_capture(t);
		EXPECT_TRUE(shows(t, "SSID     : Home"));
		EXPECT_TRUE(shows(t, "WPA State: COMPLETED"));
		EXPECT_TRUE(shows(t, "Frequency : 2437 MHz"));
		EXPECT_TRUE(rows_shown(t, {">Home", "Current"}, 1, KNOWN));
		// The connection showed before its address did.
		std::vector<std::string> f = frames(tmux_output(t));
		int connected = frame_find(f, {"SSID     : Home",
		    "WPA State: COMPLETED"}, frames_before);
		ASSERT_NE(connected, -1);
		EXPECT_NE(f[static_cast<size_t>(connected)].find(
		    "IP Address: Acquiring..."), std::string::npos);
		EXPECT_GT(frame_find(f, {"IP Address: 192.168.1."},
		    frames_before), connected);
		// The other stored network is still enabled, and saved as it was.
		expect_saved(&r, {{"ssid=\"Home\"", "psk=\"correct horse\""}});
	}
	{
		SCOPED_TRACE("disconnect");
		tmux_keys(t, {"d"});
		EXPECT_TRUE(wait_for_uncovered(t, "WPA State: DISCONNECTED",
		    patience(3000)));
		EXPECT_TRUE(shows(t, "SSID     : N/A"));
		EXPECT_EQ(lines_with(t, {">Home"}), 0);
	}
	{
		SCOPED_TRACE("forget the network");
		tmux_keys(t, {"Tab"});
		forget(t, home_row);
		expect_saved(&r, {});
	}
	{
		SCOPED_TRACE("quit: the terminal is restored, nothing left behind");
		tmux_keys(t, {"q"});
		expect_ended(&r, seen, 0, {}, patience(5000));
		std::vector<std::string> log = file_lines(r.daemon.log);
		ASSERT_FALSE(log.empty());
		EXPECT_EQ(log.back(), "DETACH");
		std::string out = tmux_output(t);
		// No passphrase ever reached the terminal.
		EXPECT_EQ(out.find("correct horse"), std::string::npos);
		EXPECT_EQ(out.find("wrong-pass"), std::string::npos);
	}
	{
		SCOPED_TRACE("the daemon restarts from its saved file");
		std::string saved;
		ASSERT_EQ(sim_daemon_stop(&r, &saved), 0);
		EXPECT_EQ(config_networks(saved), config_networks(start_config));
		tmux_stop(t);
		ASSERT_TRUE(sim_daemon_start(&r, saved, {"--empty-bss"}));
		ASSERT_TRUE(sim_corvid_start(&r));
		EXPECT_TRUE(rows_shown(t, {"Office", "PSK", "3"}, 1, KNOWN));
		EXPECT_EQ(lines_with(t, {"Home"}, KNOWN), 0);
		EXPECT_EQ(scan_rows(t), 0);
		tmux_keys(t, {"q"});
		EXPECT_EQ(sim_corvid_exit(&r, patience(5000)), 0);
	}
}
