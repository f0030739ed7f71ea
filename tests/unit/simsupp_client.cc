// The supplicant client against the simulated supplicant: what the client
// parses from its replies, and a connection made with the client's own
// commands.  The two share no code, so agreement here is a real check.
#include <poll.h>

#include <cstring>
#include <gtest/gtest.h>

#include "simsupp_harness.h"
#include "wifi.h"

static const char *const base_config =
    "network={\n\tssid=\"Home\"\n\tpsk=\"correct horse\"\n\tpriority=5\n}\n"
    "network={\n\tssid=\"CorpNet\"\n\tkey_mgmt=WPA-EAP\n\teap=PEAP\n"
    "\tidentity=\"alice\"\n\tpassword=\"wonderland\"\n\tpriority=2\n}\n"
    "network={\n\tssid=\"Cafe\"\n\tkey_mgmt=NONE\n\tdisabled=1\n}\n"
    "network={\n\tssid=\"Fortress\"\n\tkey_mgmt=SAE\n\tpsk=\"sae-secret\"\n}\n";

struct client_session {
	simsupp_proc p;
	wpa_ctrl *ctrl = nullptr;
};

struct client_guard {
	client_session *s;
	~client_guard()
	{
		ctrl_close(s->ctrl);
		EXPECT_EQ(simsupp_stop(&s->p), 0);
	}
};

static const scan_result *
scan_find(const scan_results *scan, const char *bssid)
{
	struct ether_addr want;

	if (ether_aton_r(bssid, &want) == nullptr)
		return nullptr;
	for (size_t i = 0; i < scan->count; i++)
		if (memcmp(&scan->items[i].bssid, &want, sizeof(want)) == 0)
			return &scan->items[i];
	return nullptr;
}

// Reads events from the attached connection until one contains `text`.
static bool
event_wait(wpa_ctrl *ctrl, const char *text)
{
	char buf[4096];

	for (int i = 0; i < 50; i++) {
		struct pollfd pfd = {ctrl_fd(ctrl), POLLIN, 0};
		if (poll(&pfd, 1, 5000) != 1)
			return false;
		ssize_t n = recv(ctrl_fd(ctrl), buf, sizeof(buf) - 1, 0);
		if (n <= 0)
			return false;
		buf[n] = '\0';
		if (strstr(buf, text) != nullptr)
			return true;
	}
	return false;
}

TEST(simsupp_client, records_parse_as_the_world_says)
{
	client_session s;
	client_guard g{&s};
	ASSERT_TRUE(simsupp_start(&s.p, SIMSUPP_BINARY, base_config));
	s.ctrl = ctrl_open(s.p.sock.c_str());
	ASSERT_NE(s.ctrl, nullptr);

	supplicant_status *st = supplicant_status_fetch(s.ctrl);
	ASSERT_NE(st, nullptr);
	EXPECT_STREQ(st->wpa_state, "COMPLETED");
	EXPECT_STREQ(st->ssid, "Home");
	EXPECT_STREQ(st->bssid, "02:00:00:00:01:01");
	EXPECT_EQ(st->freq, 2437);
	EXPECT_NE(st->ip_address, nullptr);
	supplicant_status_free(st);

	known_networks *known = known_networks_fetch(s.ctrl);
	ASSERT_NE(known, nullptr);
	ASSERT_EQ(known->count, 4u);
	static const struct {
		const char *ssid;
		int priority;
		security_type security;
		network_state state;
	} want_known[] = {
		{"Home", 5, SECURITY_PSK, NETWORK_CURRENT},
		{"CorpNet", 2, SECURITY_EAP, NETWORK_ENABLED},
		{"Cafe", 0, SECURITY_OPEN, NETWORK_DISABLED},
		{"Fortress", 0, SECURITY_SAE, NETWORK_ENABLED},
	};
	for (size_t i = 0; i < known->count; i++) {
		SCOPED_TRACE(want_known[i].ssid);
		EXPECT_EQ(known->items[i].id, static_cast<int>(i));
		EXPECT_STREQ(known->items[i].ssid, want_known[i].ssid);
		EXPECT_EQ(known->items[i].priority, want_known[i].priority);
		EXPECT_EQ(known->items[i].security, want_known[i].security);
		EXPECT_EQ(known->items[i].state, want_known[i].state);
	}
	known_networks_free(known);

	scan_results *scan = scan_results_fetch(s.ctrl);
	ASSERT_NE(scan, nullptr);
	static const struct {
		const char *bssid;
		const char *ssid;
		int freq;
		security_type security;
	} want_scan[] = {
		{"02:00:00:00:01:02", "Home-5G", 5180, SECURITY_PSK},
		{"02:00:00:00:02:01", "CorpNet", 5240, SECURITY_EAP},
		{"02:00:00:00:03:01", "CoffeeShop Free WiFi", 2462, SECURITY_OPEN},
		{"02:00:00:00:03:02", "\xe5\x92\x96\xe5\x95\xa1\xe5\xba\x97 Tea",
		    2412, SECURITY_PSK},
		{"02:00:00:00:03:03", "Stra\xc3\x9f" "e 12", 5200, SECURITY_PSK},
		{"02:00:00:00:04:02", "Fortress", 5745, SECURITY_SAE},
		{"02:00:00:00:04:03", "Transition", 5500, SECURITY_PSK},
		{"02:00:00:00:05:01", "", 2452, SECURITY_PSK},
		{"02:00:00:00:06:01", "Lab \"Guest\" \\ 2.4", 2442, SECURITY_PSK},
		{"02:00:00:00:06:02", "Tab\there\x01", 2472, SECURITY_OPEN},
		{"02:00:00:00:06:03", "Caf\xe9 Latin-1", 5220, SECURITY_PSK},
		{"02:00:00:00:08:01", "", 2462, SECURITY_PSK},
		{"02:00:00:00:08:02", "Library", 5180, SECURITY_OWE},
		{"02:00:00:00:08:03", "Bistro", 2437, SECURITY_OWE},
		{"02:00:00:00:08:04", "", 2437, SECURITY_OWE},
		{"02:00:00:00:08:05", "Oldtimer", 2412, SECURITY_WEP},
		{"02:00:00:00:08:06", "Mystery", 5200, SECURITY_NA},
	};
	for (const auto &w : want_scan) {
		SCOPED_TRACE(w.bssid);
		const scan_result *r = scan_find(scan, w.bssid);
		ASSERT_NE(r, nullptr);
		EXPECT_STREQ(r->ssid, w.ssid);
		EXPECT_EQ(r->freq, w.freq);
		EXPECT_EQ(r->security, w.security);
	}
	// The SSID of NUL bytes is dropped by the client.
	EXPECT_EQ(scan_find(scan, "02:00:00:00:05:02"), nullptr);
	scan_results_free(scan);
}

TEST(simsupp_client, connects_with_the_client_commands)
{
	client_session s;
	client_guard g{&s};
	ASSERT_TRUE(simsupp_start(&s.p, SIMSUPP_BINARY, base_config,
	    {"--connect-delay-ms", "10"}));
	s.ctrl = ctrl_open(s.p.sock.c_str());
	ASSERT_NE(s.ctrl, nullptr);
	ASSERT_EQ(ctrl_attach(s.ctrl), 0);

	int id = network_add(s.ctrl, "Linksys");
	ASSERT_EQ(id, 4);
	ASSERT_EQ(network_set_psk(s.ctrl, id, "admin1234"), 0);
	ASSERT_EQ(network_select(s.ctrl, id, 2437), 0);
	ASSERT_TRUE(event_wait(s.ctrl, "CTRL-EVENT-CONNECTED "));
	ASSERT_TRUE(event_wait(s.ctrl, "CTRL-EVENT-SIGNAL-CHANGE "));
	for (int other = 0; other < 4; other++)
		EXPECT_EQ(network_set_autoconnect(s.ctrl, other, true), 0);
	EXPECT_EQ(network_set_priority(s.ctrl, id, 9), 0);
	EXPECT_EQ(config_save(s.ctrl), 0);

	supplicant_status *st = supplicant_status_fetch(s.ctrl);
	ASSERT_NE(st, nullptr);
	EXPECT_STREQ(st->ssid, "Linksys");
	EXPECT_EQ(st->freq, 2437);
	EXPECT_NE(st->ip_address, nullptr);
	supplicant_status_free(st);
	EXPECT_NE(file_read(s.p.config).find("\tssid=\"Linksys\"\n"
	    "\tpsk=\"admin1234\"\n\tpriority=9\n}\n"), std::string::npos);

	EXPECT_EQ(supplicant_disconnect(s.ctrl), 0);
	EXPECT_TRUE(event_wait(s.ctrl, "CTRL-EVENT-DISCONNECTED "));
	EXPECT_EQ(ctrl_detach(s.ctrl), 0);
}
