// The networks people meet today, end to end through the simulated
// supplicant: WPA3 (SAE) with a passphrase refused and asked again, a
// transition network, OWE, a hidden network, WEP and a method the daemon
// does not know; a daemon built without SAE and OWE; EAP credentials too
// long for a request.  Checked on the screen and in the requests the
// daemon received.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_sim.h"

static const char *const empty_config =
    "ctrl_interface=/var/run/wpa_supplicant\n"
    "update_config=1\n";

// The requests that change the daemon since the last call, the reads that
// refresh the screen left out.
struct request_reader {
	sim_run *r;
	size_t seen = 0;

	std::vector<std::string> next()
	{
		std::vector<std::string> all = file_lines(r->daemon.log), out;
		static const char *const reads[] = { "STATUS", "LIST_NETWORKS",
		    "GET_NETWORK ", "SCAN_RESULTS", "BSS ", "PING", "ATTACH", "DETACH" };
		for (size_t i = seen; i < all.size(); i++) {
			bool read = false;
			for (const char *p : reads)
				read |= all[i].rfind(p, 0) == 0;
			if (!read)
				out.push_back(all[i]);
		}
		seen = all.size();
		return out;
	}
};

static bool
drawn(tmux_session *t, const std::string &text)
{
	return tmux_output(t).find(text) != std::string::npos;
}

// Selects the scan row of the hidden network on `mhz` (no SSID, `security`).
static bool
select_hidden(tmux_session *t, const std::string &mhz, const std::string &security)
{
	for (int i = 0; i < 30; i++) {
		std::string row = selected_row(t);
		size_t sec = row.find(" " + security + " ");
		if (row.find(mhz + " MHz") != std::string::npos && sec != std::string::npos &&
		    row.find_first_not_of(" >│", 0) == row.find(security, 0))
			return true;
		tmux_keys(t, {"j"});
		wait_until([&] { return selected_row(t) != row; }, patience(1000));
	}
	return false;
}

// The daemon on an empty configuration and corvid in tmux, in the Network
// Scan section.
struct sim_networks : testing::Test {
	sim_run r;
	sim_run_guard guard{&r};
	tmux_session *t = &r.term;
	request_reader req{&r};
	corvid_seen seen{};

	void start(const std::vector<std::string> &args = {})
	{
		ASSERT_TRUE(sim_daemon_start(&r, empty_config, args));
		ASSERT_TRUE(sim_corvid_start(&r));
		seen = sim_corvid_seen(&r);
		tmux_keys(t, {"Tab"});
	}
};

static bool
connected_to(tmux_session *t, const std::string &ssid)
{
	return wait_for_uncovered(t, "SSID     : " + ssid + " ", patience(5000)) &&
	    wait_for_uncovered(t, "WPA State: COMPLETED", patience(5000));
}

TEST_F(sim_networks, every_kind_of_network)
{
	ASSERT_NO_FATAL_FAILURE(start());
	ASSERT_TRUE(rows_shown(t, {"Fortress", "SAE", "5745 MHz"}, 1, SCAN));
	req.next();
	{
		SCOPED_TRACE("WEP and an unknown method: refused, nothing added");
		ASSERT_TRUE(select_row(t, " Oldtimer ", "j", 30));
		tmux_keys(t, {"c"});
		EXPECT_TRUE(tmux_wait_for(t, "Oldtimer: WEP is not supported", patience(3000)));
		ASSERT_TRUE(select_row(t, " Mystery ", "k", 30));
		tmux_keys(t, {"c"});
		EXPECT_TRUE(tmux_wait_for(t, "Mystery: unsupported security", patience(3000)));
		EXPECT_EQ(req.next(), std::vector<std::string>{});
	}
	{
		SCOPED_TRACE("WPA3: a wrong passphrase, refused; asked again");
		ASSERT_TRUE(select_row(t, " Fortress ", "k", 30));
		connect_with(t, "not-it-at-all");
		ASSERT_TRUE(wait_until([&] { return drawn(t, "reason=CONN_FAILED"); },
		    patience(5000)));
		EXPECT_EQ(req.next(), (std::vector<std::string>{ "GET_CAPABILITY key_mgmt",
		    "ADD_NETWORK", "SET_NETWORK 0 ssid \"Fortress\"",
		    "SET_NETWORK 0 psk \"not-it-at-all\"", "SET_NETWORK 0 key_mgmt SAE",
		    "SET_NETWORK 0 ieee80211w 2", "SELECT_NETWORK 0 freq=5745",
		    "SET update_config 1", "SAVE_CONFIG" }));
		tmux_keys(t, {"C-l"});
		connect_with(t, "sae-secret");
		EXPECT_TRUE(connected_to(t, "Fortress")) << tmux_capture(t);
		EXPECT_EQ(req.next(), (std::vector<std::string>{
		    "SET_NETWORK 0 psk \"sae-secret\"", "SELECT_NETWORK 0 freq=5745",
		    "SET update_config 1", "SAVE_CONFIG" }));
		EXPECT_TRUE(rows_shown(t, {">Fortress", "SAE", "Current"}, 1, KNOWN));
	}
	{
		SCOPED_TRACE("transition: SAE where the daemon has it");
		ASSERT_TRUE(select_row(t, " Transition ", "j", 30));
		connect_with(t, "both-ways");
		EXPECT_TRUE(connected_to(t, "Transition")) << tmux_capture(t);
		EXPECT_EQ(req.next(), (std::vector<std::string>{ "ADD_NETWORK",
		    "SET_NETWORK 1 ssid \"Transition\"", "SET_NETWORK 1 psk \"both-ways\"",
		    "SET_NETWORK 1 key_mgmt WPA-PSK SAE", "SET_NETWORK 1 ieee80211w 1",
		    "SELECT_NETWORK 1 freq=5500", "DISABLE_NETWORK 0",
		    "SET update_config 1", "SAVE_CONFIG" }));
	}
	{
		SCOPED_TRACE("OWE: no dialog");
		ASSERT_TRUE(select_row(t, " Library ", "j", 30));
		tmux_keys(t, {"c"});
		EXPECT_TRUE(connected_to(t, "Library")) << tmux_capture(t);
		EXPECT_FALSE(shows(t, "Enter the"));
		EXPECT_EQ(req.next(), (std::vector<std::string>{ "ADD_NETWORK",
		    "SET_NETWORK 2 ssid \"Library\"", "SET_NETWORK 2 key_mgmt OWE",
		    "SET_NETWORK 2 ieee80211w 2", "SET_NETWORK 2 owe_only 1",
		    "SELECT_NETWORK 2 freq=5180", "DISABLE_NETWORK 0", "DISABLE_NETWORK 1",
		    "SET update_config 1", "SAVE_CONFIG" }));
	}
	{
		SCOPED_TRACE("hidden: the name first; Escape adds nothing");
		ASSERT_TRUE(select_hidden(t, "2462", "PSK")) << tmux_capture(t);
		tmux_keys(t, {"c"});
		ASSERT_TRUE(tmux_wait_for(t, "Enter the network name", patience(3000)));
		tmux_keys(t, {"Escape"});
		ASSERT_TRUE(tmux_wait_gone(t, "Enter the network name", patience(3000)));
		EXPECT_EQ(req.next(), std::vector<std::string>{});
		tmux_keys(t, {"c"});
		ASSERT_TRUE(tmux_wait_for(t, "Enter the network name", patience(3000)));
		tmux_type(t, "Attic");
		// Shown as typed.
		ASSERT_TRUE(tmux_wait_for(t, "Attic ", patience(3000)));
		tmux_keys(t, {"Enter"});
		type_password(t, "up-the-ladder");
		EXPECT_TRUE(connected_to(t, "Attic")) << tmux_capture(t);
		EXPECT_EQ(req.next(), (std::vector<std::string>{ "ADD_NETWORK",
		    "SET_NETWORK 3 ssid \"Attic\"", "SET_NETWORK 3 scan_ssid 1",
		    "SET_NETWORK 3 psk \"up-the-ladder\"", "SELECT_NETWORK 3 freq=2462",
		    "DISABLE_NETWORK 0", "DISABLE_NETWORK 1", "DISABLE_NETWORK 2",
		    "SET update_config 1", "SAVE_CONFIG" }));
		EXPECT_TRUE(rows_shown(t, {">Attic", "PSK", "Yes", "Current"}, 1, KNOWN));
	}
	std::vector<std::string> log = file_lines(r.daemon.log);
	EXPECT_EQ(count_prefix(log, "GET_CAPABILITY "), 1u);
	EXPECT_EQ(config_networks(sim_config(&r)), (std::vector<std::string>{
	    "disabled=1\nieee80211w=2\nkey_mgmt=SAE\npsk=\"sae-secret\"\nssid=\"Fortress\"\n",
	    "disabled=1\nieee80211w=1\nkey_mgmt=WPA-PSK SAE\npsk=\"both-ways\"\n"
	    "ssid=\"Transition\"\n",
	    "disabled=1\nieee80211w=2\nkey_mgmt=OWE\nowe_only=1\nssid=\"Library\"\n",
	    "psk=\"up-the-ladder\"\nscan_ssid=1\nssid=\"Attic\"\n" }));
	tmux_keys(t, {"q"});
	expect_ended(&r, seen, 0, {}, patience(5000));
}

TEST_F(sim_networks, daemon_without_sae_and_owe)
{
	ASSERT_NO_FATAL_FAILURE(start({"--no-wpa3"}));
	ASSERT_TRUE(rows_shown(t, {"Fortress", "SAE", "5745 MHz"}, 1, SCAN));
	req.next();

	ASSERT_TRUE(select_row(t, " Fortress ", "j", 30));
	tmux_keys(t, {"c"});
	EXPECT_TRUE(wait_until([&] { return drawn(t, "Fortress needs WPA3"); },
	    patience(3000))) << tmux_capture(t);
	ASSERT_TRUE(select_row(t, " Library ", "j", 30));
	tmux_keys(t, {"c"});
	EXPECT_TRUE(wait_until([&] { return drawn(t, "Library needs OWE"); },
	    patience(3000))) << tmux_capture(t);
	EXPECT_FALSE(shows(t, "Enter the"));
	EXPECT_EQ(req.next(), std::vector<std::string>{ "GET_CAPABILITY key_mgmt" });

	// A transition network connects as WPA2.
	ASSERT_TRUE(select_row(t, " Transition ", "k", 30));
	connect_with(t, "both-ways");
	EXPECT_TRUE(connected_to(t, "Transition")) << tmux_capture(t);
	EXPECT_EQ(req.next(), (std::vector<std::string>{ "ADD_NETWORK",
	    "SET_NETWORK 0 ssid \"Transition\"", "SET_NETWORK 0 psk \"both-ways\"",
	    "SELECT_NETWORK 0 freq=5500", "SET update_config 1", "SAVE_CONFIG" }));
	EXPECT_EQ(config_networks(sim_config(&r)), (std::vector<std::string>{
	    "psk=\"both-ways\"\nssid=\"Transition\"\n" }));
	tmux_keys(t, {"q"});
	expect_ended(&r, seen, 0, {}, patience(5000));
}

TEST_F(sim_networks, eap_credentials_longer_than_a_request_carries)
{
	ASSERT_NO_FATAL_FAILURE(start());
	ASSERT_TRUE(select_row(t, " CorpNet ", "j", 30));
	req.next();
	// Network 0: "SET_NETWORK 0 identity \"...\"" carries 102 bytes.
	for (const char *prompt : { "Enter the EAP username", "Enter the password" }) {
		SCOPED_TRACE(prompt);
		tmux_keys(t, {"C-l", "c"});
		ASSERT_TRUE(tmux_wait_for(t, "Enter the EAP username", patience(3000)));
		if (std::string(prompt) == "Enter the password") {
			tmux_type(t, "alice");
			tmux_keys(t, {"Enter"});
			ASSERT_TRUE(tmux_wait_for(t, prompt, patience(3000)));
		}
		tmux_type(t, std::string(103, 'x'));
		tmux_keys(t, {"Enter"});
		EXPECT_TRUE(tmux_wait_for(t, "Input must not exceed 102 characters",
		    patience(3000))) << tmux_capture(t);
		EXPECT_EQ(req.next(), (std::vector<std::string>{ "ADD_NETWORK",
		    "SET_NETWORK 0 ssid \"CorpNet\"", "REMOVE_NETWORK 0" }));
	}
	// 102 bytes pass.
	tmux_keys(t, {"C-l", "c"});
	ASSERT_TRUE(tmux_wait_for(t, "Enter the EAP username", patience(3000)));
	tmux_type(t, "alice");
	tmux_keys(t, {"Enter"});
	ASSERT_TRUE(tmux_wait_for(t, "Enter the password", patience(3000)));
	tmux_type(t, std::string(102, 'x'));
	tmux_keys(t, {"Enter"});
	ASSERT_TRUE(tmux_wait_for(t, "Connecting to CorpNet", patience(3000)));
	std::vector<std::string> sent = req.next();
	ASSERT_GE(sent.size(), 5u);
	EXPECT_EQ(sent[2], "SET_NETWORK 0 password \"" + std::string(102, 'x') + "\"");
	tmux_keys(t, {"q"});
	expect_ended(&r, seen, 0, {}, patience(5000));
}
