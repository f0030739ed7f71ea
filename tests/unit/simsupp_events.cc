// The simulated supplicant's behaviour over time, as an attached client
// sees it: scans and their events, connecting with right and wrong
// secrets, disconnecting, who receives events, and the fault modes.
#include <unistd.h>

#include <csignal>

#include <gtest/gtest.h>

#include "simsupp_harness.h"

static const char *const base_config =
    "network={\n"
    "\tssid=\"Home\"\n"
    "\tpsk=\"correct horse\"\n"
    "\tpriority=5\n"
    "}\n"
    "\n"
    "network={\n"
    "\tssid=\"CorpNet\"\n"
    "\tkey_mgmt=WPA-EAP\n"
    "\teap=PEAP\n"
    "\tidentity=\"alice\"\n"
    "\tpassword=\"wonderland\"\n"
    "}\n";

static const std::string cjk_ssid = "\xe5\x92\x96\xe5\x95\xa1\xe5\xba\x97 Tea";
static const std::string cjk_escaped =
    "\\xe5\\x92\\x96\\xe5\\x95\\xa1\\xe5\\xba\\x97 Tea";

// The event's text behind its "<3>" and before its first blank.
static std::string
event_name(const std::string &ev)
{
	std::string t = ev.rfind("<3>", 0) == 0 ? ev.substr(3) : ev;
	return t.substr(0, t.find(' '));
}

// Events up to and including the first that contains `last`.
static std::vector<std::string>
events_until(simsupp_client *c, const std::string &last)
{
	std::vector<std::string> out;

	for (int i = 0; i < 100; i++) {
		std::string ev = simsupp_wait_event(c, "");
		if (ev.empty())
			break;
		out.push_back(ev);
		if (ev.find(last) != std::string::npos)
			break;
	}
	return out;
}

static bool
contains(const std::string &hay, const std::string &needle)
{
	return hay.find(needle) != std::string::npos;
}

struct sim_session {
	simsupp_proc p;
	simsupp_client c;
};

static bool
session_start(sim_session *s, const std::vector<std::string> &args = {},
    const char *config = base_config)
{
	return simsupp_start(&s->p, SIMSUPP_BINARY, config, args) &&
	    simsupp_client_open(&s->c, s->p.sock) &&
	    simsupp_request(&s->c, "ATTACH") == "OK\n";
}

struct session_guard {
	sim_session *s;
	~session_guard()
	{
		simsupp_client_close(&s->c);
		EXPECT_EQ(simsupp_stop(&s->p), 0);
	}
};

TEST(simsupp_events, scan_events_in_order)
{
	sim_session s;
	session_guard g{&s};
	ASSERT_TRUE(session_start(&s, {"--seed", "7"}));

	ASSERT_EQ(simsupp_request(&s.c, "SCAN"), "OK\n");
	// A second scan while the first runs is refused, as the daemon does.
	EXPECT_EQ(simsupp_request(&s.c, "SCAN"), "FAIL-BUSY\n");
	auto evs = events_until(&s.c, "CTRL-EVENT-SCAN-RESULTS");
	ASSERT_GE(evs.size(), 2u);
	EXPECT_EQ(evs.front(), "<3>CTRL-EVENT-SCAN-STARTED ");
	EXPECT_EQ(evs.back(), "<3>CTRL-EVENT-SCAN-RESULTS ");
	for (size_t i = 1; i + 1 < evs.size(); i++)
		EXPECT_TRUE(contains(evs[i], "CTRL-EVENT-BSS-")) << evs[i];
}

TEST(simsupp_events, faint_access_point_comes_and_goes)
{
	sim_session s;
	session_guard g{&s};
	ASSERT_TRUE(session_start(&s, {"--seed", "3", "--scan-delay-ms", "0"}));

	const std::string faint = "02:00:00:00:07:01";
	bool added = false, removed = false;
	for (int i = 0; i < 40 && !(added && removed); i++) {
		ASSERT_EQ(simsupp_request(&s.c, "SCAN"), "OK\n");
		for (const auto &ev : events_until(&s.c, "SCAN-RESULTS")) {
			added |= contains(ev, "CTRL-EVENT-BSS-ADDED ") &&
			    contains(ev, faint);
			removed |= contains(ev, "CTRL-EVENT-BSS-REMOVED ") &&
			    contains(ev, faint);
		}
		// The table and the events agree.
		std::string table = simsupp_request(&s.c, "SCAN_RESULTS");
		std::string bss = simsupp_request(&s.c, "BSS " + faint + " MASK=4");
		EXPECT_EQ(contains(table, faint), bss == "freq=2412\n") << table;
	}
	EXPECT_TRUE(added);
	EXPECT_TRUE(removed);
}

TEST(simsupp_events, same_seed_same_world)
{
	std::string results[3];
	const char *seeds[3] = {"11", "11", "12"};

	for (int k = 0; k < 3; k++) {
		sim_session s;
		session_guard g{&s};
		ASSERT_TRUE(session_start(&s, {"--seed", seeds[k],
		    "--scan-delay-ms", "0"}));
		for (int i = 0; i < 4; i++) {
			ASSERT_EQ(simsupp_request(&s.c, "SCAN"), "OK\n");
			ASSERT_NE(simsupp_wait_event(&s.c, "SCAN-RESULTS"), "");
		}
		results[k] = simsupp_request(&s.c, "SCAN_RESULTS");
	}
	EXPECT_EQ(results[0], results[1]);
	// Signals drift: another seed gives other levels.
	EXPECT_NE(results[0], results[2]);
}

TEST(simsupp_events, connect_with_right_passphrase)
{
	sim_session s;
	session_guard g{&s};
	ASSERT_TRUE(session_start(&s));

	ASSERT_EQ(simsupp_request(&s.c, "ADD_NETWORK"), "2\n");
	ASSERT_EQ(simsupp_request(&s.c, "SET_NETWORK 2 ssid \"" + cjk_ssid +
	    "\""), "OK\n");
	ASSERT_EQ(simsupp_request(&s.c, "SET_NETWORK 2 psk \"kafeidian\""),
	    "OK\n");
	ASSERT_EQ(simsupp_request(&s.c, "SELECT_NETWORK 2 freq=2412"), "OK\n");
	auto evs = events_until(&s.c, "CTRL-EVENT-SIGNAL-CHANGE");

	const std::string ap = "02:00:00:00:03:02";
	std::vector<std::string> want = {
		"<3>CTRL-EVENT-NETWORK-ADDED 2",
		"<3>CTRL-EVENT-DISCONNECTED bssid=02:00:00:00:01:01 reason=3 "
		    "locally_generated=1",
		"<3>Trying to associate with " + ap + " (SSID='" + cjk_escaped +
		    "' freq=2412 MHz)",
		"<3>Associated with " + ap,
		"<3>WPA: Key negotiation completed with " + ap +
		    " [PTK=CCMP GTK=CCMP]",
		"<3>CTRL-EVENT-CONNECTED - Connection to " + ap +
		    " completed [id=2 id_str=]",
	};
	ASSERT_GE(evs.size(), want.size() + 1);
	for (size_t i = 0; i < want.size(); i++)
		EXPECT_EQ(evs[i], want[i]);
	EXPECT_EQ(event_name(evs.back()), "CTRL-EVENT-SIGNAL-CHANGE");

	std::string status = simsupp_request(&s.c, "STATUS");
	EXPECT_EQ(status.rfind("bssid=" + ap + "\nfreq=2412\nssid=" +
	    cjk_escaped + "\nid=2\n", 0), 0u) << status;
	EXPECT_TRUE(contains(status, "\nwpa_state=COMPLETED\nip_address="))
	    << status;
	// Selecting disabled every other network.
	EXPECT_EQ(simsupp_request(&s.c, "LIST_NETWORKS"),
	    "network id / ssid / bssid / flags\n"
	    "0\tHome\tany\t[DISABLED]\n"
	    "1\tCorpNet\tany\t[DISABLED]\n"
	    "2\t" + cjk_escaped + "\tany\t[CURRENT]\n");
}

TEST(simsupp_events, wrong_secret_disables_for_a_while)
{
	static const struct {
		const char *name;
		std::vector<std::string> setup;   // network 2, then selected
		const char *reason;
		const char *fix;
	} cases[] = {
		// SAE names no key: the access point rejects the confirm.
		{"sae", {"SET_NETWORK 2 ssid \"Fortress\"",
		    "SET_NETWORK 2 key_mgmt SAE", "SET_NETWORK 2 ieee80211w 2",
		    "SET_NETWORK 2 psk \"not-it-at-all\""},
		    "CONN_FAILED", "SET_NETWORK 2 psk \"sae-secret\""},
		{"wpa2", {"SET_NETWORK 2 ssid \"Linksys\"",
		    "SET_NETWORK 2 psk \"admin12345\""},
		    "WRONG_KEY", "SET_NETWORK 2 psk \"admin1234\""},
		{"eap", {"SET_NETWORK 2 ssid \"CorpNet\"",
		    "SET_NETWORK 2 password \"guess\"",
		    "SET_NETWORK 2 identity \"alice\"",
		    "SET_NETWORK 2 key_mgmt WPA-EAP"},
		    "AUTH_FAILED", "SET_NETWORK 2 password \"wonderland\""},
	};
	for (const auto &tc : cases) {
		SCOPED_TRACE(tc.name);
		sim_session s;
		session_guard g{&s};
		ASSERT_TRUE(session_start(&s, {"--start-disconnected"}));
		ASSERT_EQ(simsupp_request(&s.c, "ADD_NETWORK"), "2\n");
		for (const auto &r : tc.setup)
			ASSERT_EQ(simsupp_request(&s.c, r), "OK\n") << r;
		ASSERT_EQ(simsupp_request(&s.c, "SELECT_NETWORK 2"), "OK\n");

		auto evs = events_until(&s.c, "TEMP-DISABLED");
		ASSERT_FALSE(evs.empty());
		for (const auto &ev : evs)
			EXPECT_FALSE(contains(ev, "CTRL-EVENT-CONNECTED")) << ev;
		EXPECT_TRUE(contains(evs.back(), "CTRL-EVENT-SSID-TEMP-DISABLED id=2 "
		    "ssid=\"")) << evs.back();
		if (std::string_view(tc.name) == "sae") {
			ASSERT_GE(evs.size(), 2u);
			EXPECT_TRUE(contains(evs[evs.size() - 2], "CTRL-EVENT-AUTH-REJECT "
			    "02:00:00:00:04:02 auth_type=3 auth_transaction=2 "
			    "status_code=1")) << evs[evs.size() - 2];
		}
		EXPECT_TRUE(contains(evs.back(), std::string(" auth_failures=1 "
		    "duration=10 reason=") + tc.reason)) << evs.back();
		simsupp_drain(&s.c, 50);
		for (const auto &ev : s.c.events)
			EXPECT_FALSE(contains(ev, "CTRL-EVENT-CONNECTED")) << ev;

		std::string status = simsupp_request(&s.c, "STATUS");
		EXPECT_EQ(status.rfind("wpa_state=DISCONNECTED\n", 0), 0u) << status;
		EXPECT_FALSE(contains(status, "ip_address=")) << status;
		EXPECT_TRUE(contains(simsupp_request(&s.c, "LIST_NETWORKS"),
		    "\tany\t[TEMP-DISABLED]\n"));

		// Selecting again with the right secret clears the block.
		ASSERT_EQ(simsupp_request(&s.c, tc.fix), "OK\n");
		ASSERT_EQ(simsupp_request(&s.c, "SELECT_NETWORK 2"), "OK\n");
		EXPECT_NE(simsupp_wait_event(&s.c, "CTRL-EVENT-CONNECTED "), "");
	}
}

TEST(simsupp_events, disconnect_and_reconnect)
{
	sim_session s;
	session_guard g{&s};
	ASSERT_TRUE(session_start(&s, {"--scan-delay-ms", "0"}));
	ASSERT_TRUE(contains(simsupp_request(&s.c, "STATUS"),
	    "wpa_state=COMPLETED"));

	ASSERT_EQ(simsupp_request(&s.c, "DISCONNECT"), "OK\n");
	EXPECT_EQ(simsupp_wait_event(&s.c, "DISCONNECTED"),
	    "<3>CTRL-EVENT-DISCONNECTED bssid=02:00:00:00:01:01 reason=3 "
	    "locally_generated=1");
	std::string status = simsupp_request(&s.c, "STATUS");
	EXPECT_EQ(status.rfind("wpa_state=DISCONNECTED\naddress=", 0), 0u)
	    << status;

	// A scan does not connect again after DISCONNECT ...
	ASSERT_EQ(simsupp_request(&s.c, "SCAN"), "OK\n");
	for (const auto &ev : events_until(&s.c, "SCAN-RESULTS"))
		EXPECT_FALSE(contains(ev, "Trying to associate")) << ev;
	simsupp_drain(&s.c, 50);
	for (const auto &ev : s.c.events)
		EXPECT_FALSE(contains(ev, "Trying to associate")) << ev;
	// ... RECONNECT does, to the best network in range.
	ASSERT_EQ(simsupp_request(&s.c, "RECONNECT"), "OK\n");
	EXPECT_EQ(simsupp_wait_event(&s.c, "CTRL-EVENT-CONNECTED "),
	    "<3>CTRL-EVENT-CONNECTED - Connection to 02:00:00:00:01:01 "
	    "completed [id=0 id_str=]");
}

TEST(simsupp_events, network_out_of_range_is_not_found)
{
	static const char *const selects[] = {
		"SELECT_NETWORK 2",              // no such SSID around
		"SELECT_NETWORK 0 freq=5180",    // Home is on 2437 only
	};
	for (const char *sel : selects) {
		SCOPED_TRACE(sel);
		sim_session s;
		session_guard g{&s};
		ASSERT_TRUE(session_start(&s, {"--start-disconnected"}));
		ASSERT_EQ(simsupp_request(&s.c, "ADD_NETWORK"), "2\n");
		ASSERT_EQ(simsupp_request(&s.c, "SET_NETWORK 2 ssid \"Nowhere\""),
		    "OK\n");
		ASSERT_EQ(simsupp_request(&s.c, "SET_NETWORK 2 key_mgmt NONE"),
		    "OK\n");
		ASSERT_EQ(simsupp_request(&s.c, sel), "OK\n");
		auto evs = events_until(&s.c, "NETWORK-NOT-FOUND");
		ASSERT_FALSE(evs.empty());
		EXPECT_EQ(evs.back(), "<3>CTRL-EVENT-NETWORK-NOT-FOUND ");
		for (const auto &ev : evs)
			EXPECT_FALSE(contains(ev, "Trying")) << ev;
	}
}

TEST(simsupp_events, hidden_network_needs_scan_ssid)
{
	sim_session s;
	session_guard g{&s};
	ASSERT_TRUE(session_start(&s, {"--start-disconnected"}));
	const std::string hidden = "02:00:00:00:05:01\t2452\t-60\t"
	    "[WPA2-PSK-CCMP][ESS]\t\n";
	EXPECT_TRUE(contains(simsupp_request(&s.c, "SCAN_RESULTS"), hidden));

	ASSERT_EQ(simsupp_request(&s.c, "ADD_NETWORK"), "2\n");
	for (const char *r : {"SET_NETWORK 2 ssid \"Stealth\"",
	    "SET_NETWORK 2 psk \"invisible\"", "SET_NETWORK 2 scan_ssid 1"})
		ASSERT_EQ(simsupp_request(&s.c, r), "OK\n");
	ASSERT_EQ(simsupp_request(&s.c, "SELECT_NETWORK 2"), "OK\n");
	EXPECT_NE(simsupp_wait_event(&s.c, "CTRL-EVENT-CONNECTED "), "");
	EXPECT_TRUE(contains(simsupp_request(&s.c, "STATUS"), "\nssid=Stealth\n"));
}

TEST(simsupp_events, every_attached_client_and_only_those)
{
	sim_session s;
	session_guard g{&s};
	ASSERT_TRUE(session_start(&s, {"--scan-delay-ms", "0"}));
	simsupp_client other, quiet;
	simsupp_client_guard go{&other}, gq{&quiet};
	ASSERT_TRUE(simsupp_client_open(&other, s.p.sock));
	ASSERT_TRUE(simsupp_client_open(&quiet, s.p.sock));
	ASSERT_EQ(simsupp_request(&other, "ATTACH"), "OK\n");
	ASSERT_EQ(simsupp_request(&quiet, "ATTACH"), "OK\n");
	ASSERT_EQ(simsupp_request(&quiet, "DETACH"), "OK\n");

	ASSERT_EQ(simsupp_request(&s.c, "SCAN"), "OK\n");
	EXPECT_NE(simsupp_wait_event(&s.c, "SCAN-RESULTS"), "");
	EXPECT_NE(simsupp_wait_event(&other, "SCAN-RESULTS"), "");
	simsupp_drain(&quiet, 50);
	EXPECT_TRUE(quiet.events.empty());
}

TEST(simsupp_events, clients_that_are_gone_are_dropped)
{
	sim_session s;
	session_guard g{&s};
	ASSERT_TRUE(session_start(&s, {"--scan-delay-ms", "0"}));

	// Fill every slot with clients that then vanish without DETACH.
	std::vector<simsupp_client> gone(80);
	int attached = 1;
	for (auto &c : gone) {
		ASSERT_TRUE(simsupp_client_open(&c, s.p.sock));
		if (simsupp_request(&c, "ATTACH") == "OK\n")
			attached++;
	}
	for (auto &c : gone)
		simsupp_client_close(&c);
	EXPECT_LT(attached, 80) << "the number of monitors is not bounded";

	ASSERT_EQ(simsupp_request(&s.c, "SCAN"), "OK\n");
	EXPECT_NE(simsupp_wait_event(&s.c, "SCAN-RESULTS"), "");
	// Their slots are free again.
	simsupp_client late;
	simsupp_client_guard gl{&late};
	ASSERT_TRUE(simsupp_client_open(&late, s.p.sock));
	EXPECT_EQ(simsupp_request(&late, "ATTACH"), "OK\n");
	ASSERT_EQ(simsupp_request(&s.c, "SCAN"), "OK\n");
	EXPECT_NE(simsupp_wait_event(&late, "SCAN-RESULTS"), "");
}

TEST(simsupp_events, fault_modes)
{
	{
		SCOPED_TRACE("hang-after");
		sim_session s;
		session_guard g{&s};
		// The harness's PING and the ATTACH are the first two requests.
		ASSERT_TRUE(session_start(&s, {"--hang-after", "3"}));
		EXPECT_EQ(simsupp_request(&s.c, "PING"), "PONG\n");
		EXPECT_EQ(simsupp_request(&s.c, "PING", 300), "<no reply>");
		std::string log = file_read(s.p.log);
		EXPECT_EQ(log.substr(log.size() - 10), "PING\nPING\n");
	}
	{
		SCOPED_TRACE("late-replies");
		sim_session s;
		session_guard g{&s};
		ASSERT_TRUE(session_start(&s, {"--late-replies", "100"}));
		// The scan's first event overtakes the reply to SCAN.
		EXPECT_EQ(simsupp_request(&s.c, "SCAN"), "OK\n");
		ASSERT_FALSE(s.c.events.empty());
		EXPECT_EQ(s.c.events.front(), "<3>CTRL-EVENT-SCAN-STARTED ");
	}
	{
		SCOPED_TRACE("flood");
		sim_session s;
		session_guard g{&s};
		ASSERT_TRUE(session_start(&s, {"--flood", "20"}));
		s.c.events.clear();
		EXPECT_EQ(simsupp_request(&s.c, "PING"), "PONG\n");
		EXPECT_EQ(s.c.events.size(), 20u);
	}
	{
		SCOPED_TRACE("SIGUSR1 stops answering, the next one answers again");
		sim_session s;
		session_guard g{&s};
		ASSERT_TRUE(session_start(&s));
		ASSERT_TRUE(simsupp_toggle_answers(&s.p));
		// No reply within a while: a slow machine cannot fake one.
		EXPECT_EQ(simsupp_request(&s.c, "PING", 300), "<no reply>");
		ASSERT_TRUE(simsupp_toggle_answers(&s.p));
		EXPECT_EQ(simsupp_request(&s.c, "PING"), "PONG\n");
		// Each change is noted in the log, where no request can be
		// taken for one.
		std::string log = file_read(s.p.log);
		const std::string tail = "\\ not answering\nPING\n"
		    "\\ answering\nPING\n";
		ASSERT_GE(log.size(), tail.size());
		EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
	}
	{
		SCOPED_TRACE("SIGUSR2 sends a burst");
		sim_session s;
		session_guard g{&s};
		ASSERT_TRUE(session_start(&s, {"--burst", "50", "--burst-ms",
		    "100"}));
		s.c.events.clear();
		ASSERT_EQ(kill(s.p.pid, SIGUSR2), 0);
		// Sent, so already in the client's socket, once it is noted.
		ASSERT_TRUE(simsupp_wait_note(&s.p, "burst sent", 5000));
		simsupp_drain(&s.c, 100);
		EXPECT_EQ(s.c.events.size(), 50u);
		for (const auto &ev : s.c.events)
			EXPECT_EQ(event_name(ev), "CTRL-EVENT-SIGNAL-CHANGE");
	}
	{
		SCOPED_TRACE("empty-bss");
		sim_session s;
		session_guard g{&s};
		ASSERT_TRUE(session_start(&s, {"--empty-bss"}));
		const std::string header =
		    "bssid / frequency / signal level / flags / ssid\n";
		EXPECT_EQ(simsupp_request(&s.c, "SCAN_RESULTS"), header);
		EXPECT_FALSE(contains(simsupp_request(&s.c, "STATUS"),
		    "wpa_state=COMPLETED"));
		ASSERT_EQ(simsupp_request(&s.c, "SCAN"), "OK\n");
		ASSERT_NE(simsupp_wait_event(&s.c, "CTRL-EVENT-SCAN-RESULTS"), "");
		EXPECT_TRUE(contains(simsupp_request(&s.c, "SCAN_RESULTS"),
		    "\tHome\n"));
	}
}

// How a network of each kind comes out with the settings a client gives
// it: what the daemon measured on real radios does with them.
TEST(simsupp_events, outcome_follows_key_management_and_protection)
{
	static const struct {
		std::vector<std::string> setup;   // after the SSID
		const char *ssid;
		const char *key_mgmt;             // STATUS; nullptr: never connects
	} cases[] = {
		{ {"key_mgmt NONE"}, "Fortress", nullptr },
		{ {"psk \"sae-secret\"", "key_mgmt SAE"}, "Fortress", nullptr },
		{ {"psk \"sae-secret\"", "key_mgmt SAE", "ieee80211w 2"}, "Fortress",
		    "SAE" },
		{ {"psk \"both-ways\""}, "Transition", "WPA2-PSK" },
		{ {"psk \"both-ways\"", "key_mgmt WPA-PSK SAE", "ieee80211w 1"},
		    "Transition", "SAE" },
		{ {"key_mgmt NONE"}, "Library", nullptr },
		{ {"key_mgmt OWE", "ieee80211w 2", "owe_only 1"}, "Library", "OWE" },
		{ {"key_mgmt NONE"}, "Bistro", "NONE" },
		{ {"key_mgmt OWE", "ieee80211w 2", "owe_only 1"}, "Bistro", "OWE" },
		{ {"key_mgmt NONE"}, "Oldtimer", nullptr },
		{ {"key_mgmt NONE"}, "Mystery", nullptr },
		{ {"psk \"up-the-ladder\""}, "Attic", nullptr },
		{ {"scan_ssid 1", "psk \"up-the-ladder\""}, "Attic", "WPA2-PSK" },
	};
	sim_session s;
	session_guard g{&s};
	ASSERT_TRUE(session_start(&s, {"--start-disconnected", "--scan-delay-ms",
	    "20", "--connect-delay-ms", "10"}));
	for (const auto &tc : cases) {
		SCOPED_TRACE(std::string(tc.ssid) + " " + tc.setup.back());
		ASSERT_EQ(simsupp_request(&s.c, "ADD_NETWORK"), "2\n");
		ASSERT_EQ(simsupp_request(&s.c, std::string("SET_NETWORK 2 ssid \"") +
		    tc.ssid + "\""), "OK\n");
		for (const auto &r : tc.setup)
			ASSERT_EQ(simsupp_request(&s.c, "SET_NETWORK 2 " + r), "OK\n") << r;
		s.c.events.clear();
		ASSERT_EQ(simsupp_request(&s.c, "SELECT_NETWORK 2"), "OK\n");
		std::string last;
		for (int i = 0; i < 100 && last.empty(); i++) {
			std::string ev = simsupp_wait_event(&s.c, "");
			if (ev.empty())
				break;
			if (contains(ev, "CTRL-EVENT-CONNECTED ") ||
			    contains(ev, "CTRL-EVENT-NETWORK-NOT-FOUND") ||
			    contains(ev, "TEMP-DISABLED"))
				last = ev;
		}
		std::string status = simsupp_request(&s.c, "STATUS");
		if (tc.key_mgmt == nullptr) {
			EXPECT_TRUE(contains(last, "CTRL-EVENT-NETWORK-NOT-FOUND")) << last;
			EXPECT_FALSE(contains(status, "wpa_state=COMPLETED")) << status;
		} else {
			EXPECT_TRUE(contains(last, "CTRL-EVENT-CONNECTED ")) << last;
			EXPECT_TRUE(contains(status, std::string("\nkey_mgmt=") +
			    tc.key_mgmt + "\n")) << status;
		}
		ASSERT_EQ(simsupp_request(&s.c, "REMOVE_NETWORK 2"), "OK\n");
	}
}

TEST(simsupp_events, build_without_wpa3)
{
	for (bool without : { false, true }) {
		SCOPED_TRACE(without ? "--no-wpa3" : "full");
		sim_session s;
		session_guard g{&s};
		std::vector<std::string> args = {"--start-disconnected"};
		if (without)
			args.push_back("--no-wpa3");
		ASSERT_TRUE(session_start(&s, args));
		std::string caps = simsupp_request(&s.c, "GET_CAPABILITY key_mgmt");
		EXPECT_TRUE(contains(caps, "WPA-PSK")) << caps;
		EXPECT_EQ(contains(caps, " SAE"), !without) << caps;
		EXPECT_EQ(contains(caps, " OWE"), !without) << caps;
		ASSERT_EQ(simsupp_request(&s.c, "ADD_NETWORK"), "2\n");
		const char *ok = without ? "FAIL\n" : "OK\n";
		EXPECT_EQ(simsupp_request(&s.c, "SET_NETWORK 2 key_mgmt WPA-PSK SAE"), ok);
		EXPECT_EQ(simsupp_request(&s.c, "SET_NETWORK 2 key_mgmt OWE"), ok);
		EXPECT_EQ(simsupp_request(&s.c, "SET sae_pwe 2"), ok);
		EXPECT_EQ(simsupp_request(&s.c, "SET_NETWORK 2 key_mgmt WPA-PSK"), "OK\n");
		EXPECT_EQ(simsupp_request(&s.c, "SET_NETWORK 2 ssid \"Saved\""), "OK\n");
		EXPECT_EQ(simsupp_request(&s.c, "SET_NETWORK 2 ieee80211w 1"), "OK\n");
		EXPECT_EQ(simsupp_request(&s.c, "GET_NETWORK 2 ieee80211w"), "1");
		EXPECT_EQ(simsupp_request(&s.c, "SET update_config 1"), "OK\n");
		EXPECT_EQ(simsupp_request(&s.c, "SAVE_CONFIG"), "OK\n");
		std::string conf = file_read(s.p.config);
		EXPECT_EQ(contains(conf, "sae_pwe=2\n"), !without) << conf;
		EXPECT_TRUE(contains(conf, "\tieee80211w=1\n")) << conf;
	}
}
