// The client against the real wpa_supplicant ("none" driver, private
// network namespace): the records as fetched, and every command that works
// without a radio, checked in the configuration file the daemon saves.
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_daemon.h"
#include "netns.h"
#include "wifi.h"
#include "wpa_conf.h"

using testing::ElementsAre;
using testing::Pair;

using settings = conf_settings;

// The network blocks of a configuration file, by SSID (as written, with
// its quotes), and the global settings under "".
static std::map<std::string, settings>
config_parse(const std::string &text)
{
	wpa_conf c = wpa_conf_parse(text);
	std::map<std::string, settings> conf(c.networks.begin(),
	    c.networks.end());
	conf[""] = c.globals;
	return conf;
}

struct wifi_real : testing::Test {
	real_daemon daemon;
	wpa_ctrl *ctrl = nullptr;

	void SetUp() override
	{
		std::string why;
		// Six networks: PSK, EAP, open, SAE, hidden, disabled.
		if (!real_daemon_start(&daemon, test_data("six_networks.conf"), &why)) {
			if (daemon.unsupported)
				GTEST_SKIP() << "real wpa_supplicant not available: " << why;
			FAIL() << why;
		}
		ctrl = ctrl_open(daemon.ctrl_path.c_str());
		ASSERT_NE(ctrl, nullptr) << strerror(errno);
	}

	void TearDown() override
	{
		ctrl_close(ctrl);
		real_daemon_stop(&daemon);
	}

	std::map<std::string, settings> saved()
	{
		return config_parse(file_read(daemon.conf_path));
	}
};

TEST_F(wifi_real, records_as_fetched)
{
	supplicant_status *st = supplicant_status_fetch(ctrl);
	ASSERT_NE(st, nullptr);
	ASSERT_NE(st->wpa_state, nullptr);
	EXPECT_EQ(st->bssid, nullptr);
	EXPECT_EQ(st->ssid, nullptr);
	EXPECT_EQ(st->freq, 0);
	supplicant_status_free(st);

	known_networks *known = known_networks_fetch(ctrl);
	ASSERT_NE(known, nullptr);
	known_networks_sort(known);
	EXPECT_THAT(known_texts(known), ElementsAre(
	    "5|Off|6|-|Open|disabled|00:00:00:00:00:00",
	    "0|HomePSK|5|-|PSK|enabled|00:00:00:00:00:00",
	    "4|Hidden|4|hidden|PSK|enabled|00:00:00:00:00:00",
	    "1|Corp|3|-|EAP|enabled|00:00:00:00:00:00",
	    "3|SaeNet|2|-|SAE|enabled|00:00:00:00:00:00",
	    "2|Cafe|1|-|Open|enabled|00:00:00:00:00:00"));
	known_networks_free(known);

	scan_results *scan = scan_results_fetch(ctrl);
	ASSERT_NE(scan, nullptr);
	EXPECT_EQ(scan->count, 0u);
	scan_results_free(scan);
}

TEST_F(wifi_real, commands_reach_the_saved_configuration)
{
	int psk = network_add(ctrl, "NewNet");
	ASSERT_EQ(psk, 6);
	EXPECT_EQ(network_set_psk(ctrl, psk, "new passphrase"), 0);
	int eap = network_add(ctrl, "EapNet");
	ASSERT_EQ(eap, 7);
	EXPECT_EQ(network_set_eap(ctrl, eap, "alice", "secret"), 0);
	int open = network_add(ctrl, "OpenNet");
	ASSERT_EQ(open, 8);
	EXPECT_EQ(network_set_open(ctrl, open), 0);

	// Selecting one network disables the others; selecting any enables
	// them all again.
	EXPECT_EQ(network_select(ctrl, 2, 2412), 0);
	EXPECT_EQ(network_select(ctrl, 2, 0), 0);
	EXPECT_EQ(network_select(ctrl, -1, 0), 0);
	EXPECT_EQ(network_select(ctrl, 42, 0), -1);
	EXPECT_EQ(supplicant_reconnect(ctrl), 0);
	EXPECT_EQ(supplicant_disconnect(ctrl), 0);
	EXPECT_EQ(passive_scan_set(ctrl, 1), 0);
	EXPECT_EQ(passive_scan_set(ctrl, 0), 0);

	EXPECT_EQ(network_set_autoconnect(ctrl, 0, false), 0);
	EXPECT_EQ(network_set_autoconnect(ctrl, 5, true), 0);
	EXPECT_EQ(network_set_priority(ctrl, 2, 9), 0);
	EXPECT_EQ(network_remove(ctrl, 3), 0);
	EXPECT_EQ(config_save(ctrl), 0);

	auto conf = saved();
	EXPECT_EQ(conf[""]["update_config"], "1");
	EXPECT_EQ(conf.count("\"SaeNet\""), 0u);
	EXPECT_EQ(conf.size(), 1u + 8);
	const struct {
		const char *ssid;
		settings has;
		std::vector<std::string> lacks;
	} want[] = {
		{ "\"HomePSK\"", { { "psk", "\"secretpass\"" }, { "priority", "5" },
		    { "disabled", "1" } }, {} },
		{ "\"Corp\"", { { "key_mgmt", "WPA-EAP" }, { "eap", "PEAP" },
		    { "identity", "\"bob\"" }, { "password", "\"pw\"" },
		    { "priority", "3" } }, { "disabled" } },
		{ "\"Cafe\"", { { "key_mgmt", "NONE" }, { "priority", "9" } },
		    { "disabled" } },
		{ "\"Hidden\"", { { "scan_ssid", "1" }, { "psk", "\"hiddenpass\"" },
		    { "priority", "4" } }, { "disabled" } },
		{ "\"Off\"", { { "key_mgmt", "NONE" }, { "priority", "6" } },
		    { "disabled" } },
		{ "\"NewNet\"", { { "psk", "\"new passphrase\"" } }, { "disabled" } },
		{ "\"EapNet\"", { { "key_mgmt", "WPA-EAP" },
		    { "identity", "\"alice\"" }, { "password", "\"secret\"" } },
		    { "disabled" } },
		{ "\"OpenNet\"", { { "key_mgmt", "NONE" } }, { "disabled" } },
	};
	for (const auto &w : want) {
		SCOPED_TRACE(w.ssid);
		ASSERT_EQ(conf.count(w.ssid), 1u);
		const settings &net = conf[w.ssid];
		for (const auto &[key, value] : w.has)
			EXPECT_THAT(net, testing::Contains(Pair(key, value)));
		for (const auto &key : w.lacks)
			EXPECT_EQ(net.count(key), 0u) << key;
	}

	// And the daemon's own view agrees.
	known_networks *known = known_networks_fetch(ctrl);
	ASSERT_NE(known, nullptr);
	EXPECT_THAT(known_texts(known), ElementsAre(
	    "0|HomePSK|5|-|PSK|disabled|00:00:00:00:00:00",
	    "1|Corp|3|-|EAP|enabled|00:00:00:00:00:00",
	    "2|Cafe|9|-|Open|enabled|00:00:00:00:00:00",
	    "4|Hidden|4|hidden|PSK|enabled|00:00:00:00:00:00",
	    "5|Off|6|-|Open|enabled|00:00:00:00:00:00",
	    "6|NewNet|0|-|PSK|enabled|00:00:00:00:00:00",
	    "7|EapNet|0|-|EAP|enabled|00:00:00:00:00:00",
	    "8|OpenNet|0|-|Open|enabled|00:00:00:00:00:00"));
	known_networks_free(known);
}

TEST_F(wifi_real, failed_ssid_leaves_no_network_behind)
{
	// The daemon refuses an SSID of more than 32 bytes; the network just
	// added is removed again and the next save does not write it.
	std::string ssid(33, 'x');
	EXPECT_EQ(network_add(ctrl, ssid.c_str()), -1);
	known_networks *known = known_networks_fetch(ctrl);
	ASSERT_NE(known, nullptr);
	EXPECT_EQ(known->count, 6u);
	known_networks_free(known);
	EXPECT_EQ(config_save(ctrl), 0);
	auto conf = saved();
	EXPECT_EQ(conf.size(), 1u + 6);
	EXPECT_EQ(conf.count(""), 1u);
	EXPECT_EQ(conf[""].count("ssid"), 0u);
}

TEST_F(wifi_real, requests_while_attached)
{
	// Attached, the daemon sends its event about a new network before the
	// reply; the request still gets its own reply.
	ASSERT_EQ(ctrl_attach(ctrl), 0);
	int id = network_add(ctrl, "Evented");
	EXPECT_EQ(id, 6);
	EXPECT_EQ(network_remove(ctrl, id), 0);
	EXPECT_EQ(scan_start(ctrl), 0);
	supplicant_status *st = supplicant_status_fetch(ctrl);
	EXPECT_NE(st, nullptr);
	supplicant_status_free(st);
	EXPECT_EQ(ctrl_detach(ctrl), 0);
}

// A configuration of `n` open networks with 32-character names.
static std::string
many_networks(int n)
{
	std::string conf;
	for (int i = 0; i < n; i++) {
		char ssid[48];   // 32 bytes for fewer than 10000 networks
		snprintf(ssid, sizeof ssid, "%-28s%04d", "stored-network", i);
		conf += "network={\n\tssid=\"" + std::string(ssid) +
		    "\"\n\tkey_mgmt=NONE\n\tpriority=" + std::to_string(i % 7) + "\n}\n";
	}
	return conf;
}

// The daemon's reply buffer holds about 100 such networks; the rest come
// in pages after the last id of each.
TEST(wifi_real_many, stored_networks_past_one_reply)
{
	real_daemon daemon;
	std::string why;
	if (!real_daemon_start(&daemon, many_networks(150), &why)) {
		if (daemon.unsupported)
			GTEST_SKIP() << "real wpa_supplicant not available: " << why;
		FAIL() << why;
	}
	wpa_ctrl *ctrl = ctrl_open(daemon.ctrl_path.c_str());
	ASSERT_NE(ctrl, nullptr) << strerror(errno);

	// What one request gets: a reply cut after a whole line.
	static char reply[DAEMON_REPLY_MAX];
	size_t len = sizeof reply - 1;
	ASSERT_EQ(ctrl_transact(ctrl, "LIST_NETWORKS", 13, reply, &len), 0);
	std::string text(reply, len);
	EXPECT_GT(len + 100, DAEMON_REPLY_MAX);
	EXPECT_EQ(text.back(), '\n');
	size_t lines = std::count(text.begin(), text.end(), '\n');
	EXPECT_LT(lines - 1, 150u);

	known_networks *known = known_networks_fetch(ctrl);
	ASSERT_NE(known, nullptr);
	ASSERT_EQ(known->count, 150u);
	for (size_t i = 0; i < known->count; i++) {
		const known_network &k = known->items[i];
		EXPECT_EQ(k.id, static_cast<int>(i));
		EXPECT_EQ(k.priority, static_cast<int>(i % 7));
		EXPECT_EQ(k.unknown, 0u);
		EXPECT_EQ(strlen(k.ssid), SSID_MAX);
	}
	known_networks_free(known);
	ctrl_close(ctrl);
	real_daemon_stop(&daemon);
}

TEST_F(wifi_real, newer_security_reaches_the_saved_configuration)
{
	// The driver "none" offers neither SAE nor OWE, though the daemon
	// takes both settings.
	EXPECT_EQ(supplicant_akm(ctrl), 0u);
	// Added networks stay disabled until selected.
	int sae = network_add(ctrl, "SaeOnly");
	ASSERT_EQ(sae, 6);
	EXPECT_EQ(network_set_sae(ctrl, sae, "sae passphrase", false), 0);
	int both = network_add(ctrl, "Both");
	EXPECT_EQ(network_set_sae(ctrl, both, "both passphrase", true), 0);
	int owe = network_add(ctrl, "Enhanced");
	EXPECT_EQ(network_set_owe(ctrl, owe), 0);
	int hidden = network_add(ctrl, "Quiet");
	EXPECT_EQ(network_set_hidden(ctrl, hidden), 0);
	EXPECT_EQ(network_set_psk(ctrl, hidden, "quiet passphrase"), 0);
	EXPECT_EQ(sae_pwe_set(ctrl, 2), 0);
	EXPECT_EQ(config_save(ctrl), 0);

	auto conf = saved();
	EXPECT_EQ(conf[""]["sae_pwe"], "2");
	const struct {
		const char *ssid;
		settings has;
	} want[] = {
		{ "\"SaeOnly\"", { { "psk", "\"sae passphrase\"" },
		    { "key_mgmt", "SAE" }, { "ieee80211w", "2" } } },
		{ "\"Both\"", { { "psk", "\"both passphrase\"" },
		    { "key_mgmt", "WPA-PSK SAE" }, { "ieee80211w", "1" } } },
		{ "\"Enhanced\"", { { "key_mgmt", "OWE" }, { "ieee80211w", "2" },
		    { "owe_only", "1" } } },
		{ "\"Quiet\"", { { "scan_ssid", "1" }, { "psk", "\"quiet passphrase\"" } } },
	};
	for (const auto &w : want) {
		SCOPED_TRACE(w.ssid);
		ASSERT_EQ(conf.count(w.ssid), 1u);
		for (const auto &[key, value] : w.has)
			EXPECT_THAT(conf[w.ssid], testing::Contains(Pair(key, value)));
	}
	known_networks *known = known_networks_fetch(ctrl);
	ASSERT_NE(known, nullptr);
	EXPECT_THAT(known_texts(known), testing::IsSupersetOf({
	    "6|SaeOnly|0|-|SAE|disabled|00:00:00:00:00:00",
	    "7|Both|0|-|PSK|disabled|00:00:00:00:00:00",
	    "8|Enhanced|0|-|OWE|disabled|00:00:00:00:00:00",
	    "9|Quiet|0|hidden|PSK|disabled|00:00:00:00:00:00"}));
	known_networks_free(known);
}
