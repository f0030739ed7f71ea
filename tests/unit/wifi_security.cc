// The security of scan results and stored networks, and the requests that
// configure the newer kinds of network.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_daemon.h"
#include "wifi.h"

using testing::ElementsAre;
using testing::HasSubstr;
using strings = std::vector<std::string>;

using wifi_security = fake_daemon_test;

TEST_F(wifi_security, scan_flags)
{
	// Flags as the daemon prints them, with what the screen and the
	// connect flow take from them.
	const struct {
		const char *flags;
		const char *security;
		bool sae, h2e;
	} cases[] = {
		{ "[WPA2-PSK-CCMP][ESS]", "PSK", false, false },
		{ "[WPA-PSK-CCMP+TKIP][WPA2-PSK-CCMP+TKIP][ESS]", "PSK", false, false },
		{ "[WPA2-PSK-SHA256-CCMP][ESS]", "PSK", false, false },
		{ "[WPA2-FT/PSK-CCMP][ESS]", "PSK", false, false },
		{ "[WPA2-EAP-CCMP][ESS]", "EAP", false, false },
		{ "[WPA2-FT/EAP-CCMP][ESS]", "EAP", false, false },
		{ "[WPA2-EAP-SUITE-B-GCMP][ESS]", "EAP", false, false },
		{ "[WPA2-EAP-SUITE-B-192-GCMP-256][ESS]", "EAP", false, false },
		{ "[WPA2-PSK+SAE-CCMP][ESS]", "PSK", true, false },
		{ "[WPA2-PSK+FT/PSK+SAE+FT/SAE-CCMP][ESS]", "PSK", true, false },
		{ "[WPA2-SAE-CCMP][ESS]", "SAE", true, false },
		{ "[WPA2-FT/SAE-CCMP][ESS]", "SAE", true, false },
		{ "[WPA2-SAE-CCMP][SAE-H2E][ESS]", "SAE", true, true },
		{ "[WPA2-OWE-CCMP][ESS]", "OWE", false, false },
		{ "[WPA2-OWE-CCMP][ESS][OWE-TRANS]", "OWE", false, false },
		{ "[ESS][OWE-TRANS-OPEN]", "OWE", false, false },
		{ "[WEP][ESS]", "WEP", false, false },
		{ "[WPA2--CCMP][ESS]", "N/A", false, false },
		{ "[WPA--TKIP][ESS]", "N/A", false, false },
		{ "[RSN--CCMP][ESS]", "N/A", false, false },
		// A block the daemon knows beside one it does not.
		{ "[WPA--TKIP][WPA2-PSK-CCMP][ESS]", "PSK", false, false },
		{ "[ESS]", "Open", false, false },
		{ "[WPS][ESS]", "Open", false, false },
		{ "", "Open", false, false },
	};
	for (const auto &c : cases)
		daemon.world.scan.push_back(std::string("02:00:00:00:00:01\t2412\t-40\t") +
		    c.flags + "\tNet");
	scan_results *scan = scan_results_fetch(ctrl);
	ASSERT_NE(scan, nullptr);
	ASSERT_EQ(scan->count, std::size(cases));
	for (size_t i = 0; i < scan->count; i++) {
		const auto &c = cases[i];
		const scan_result &r = scan->items[i];
		// An empty flags field is no field: the SSID moves into it.
		if (c.flags[0] != '\0') {
			EXPECT_STREQ(security_text(r.security), c.security) << c.flags;
		}
		EXPECT_STREQ(security_text(scan_flags_security(c.flags)), c.security)
		    << c.flags;
		EXPECT_EQ(r.offers_sae, c.sae) << c.flags;
		EXPECT_EQ(r.sae_h2e, c.h2e) << c.flags;
	}
	scan_results_free(scan);
}

TEST_F(wifi_security, stored_key_management)
{
	const struct {
		const char *key_mgmt;
		const char *security;
	} cases[] = {
		{ "WPA-PSK", "PSK" },
		{ "WPA-PSK WPA-EAP", "PSK" },
		{ "WPA-PSK SAE", "PSK" },
		{ "FT-PSK", "PSK" },
		{ "WPA-EAP", "EAP" },
		{ "WPA-EAP-SUITE-B-192", "EAP" },
		{ "SAE", "SAE" },
		{ "FT-SAE", "SAE" },
		{ "SAE FT-SAE", "SAE" },
		{ "OWE", "OWE" },
		{ "NONE", "Open" },
		{ "DPP", "N/A" },
		{ "", "N/A" },
	};
	for (const auto &c : cases)
		EXPECT_STREQ(security_text(key_mgmt_security(c.key_mgmt)), c.security)
		    << c.key_mgmt;
	// Out of range: the column shows N/A rather than reading past the
	// names.
	EXPECT_STREQ(security_text(static_cast<security_type>(99)), "N/A");
}

TEST_F(wifi_security, sequences)
{
	const struct {
		std::function<int(wpa_ctrl *)> op;
		strings requests;
	} cases[] = {
		{ [](wpa_ctrl *c) { return network_set_sae(c, 3, "sae-secret", false); },
		    { "SET_NETWORK 3 psk \"sae-secret\"", "SET_NETWORK 3 key_mgmt SAE",
		    "SET_NETWORK 3 ieee80211w 2" } },
		{ [](wpa_ctrl *c) { return network_set_sae(c, 3, "both-ways", true); },
		    { "SET_NETWORK 3 psk \"both-ways\"",
		    "SET_NETWORK 3 key_mgmt WPA-PSK SAE", "SET_NETWORK 3 ieee80211w 1" } },
		{ [](wpa_ctrl *c) { return network_set_owe(c, 4); },
		    { "SET_NETWORK 4 key_mgmt OWE", "SET_NETWORK 4 ieee80211w 2",
		    "SET_NETWORK 4 owe_only 1" } },
		{ [](wpa_ctrl *c) { return network_set_hidden(c, 5); },
		    { "SET_NETWORK 5 scan_ssid 1" } },
		{ [](wpa_ctrl *c) { return sae_pwe_set(c, 2); }, { "SET sae_pwe 2" } },
	};
	for (const auto &c : cases) {
		fake_daemon_clear_requests(&daemon);
		stderr_begin();
		EXPECT_EQ(c.op(ctrl), 0) << c.requests[0];
		EXPECT_EQ(stderr_end(), "");
		EXPECT_EQ(fake_daemon_requests(&daemon), c.requests);
	}
}

TEST_F(wifi_security, first_failure_ends_a_sequence)
{
	daemon.world.fail = { "SET_NETWORK 3 key_mgmt SAE", "SET_NETWORK 4 ieee80211w 2",
	    "SET sae_pwe 2" };
	stderr_begin();
	EXPECT_EQ(network_set_sae(ctrl, 3, "sae-secret", false), -1);
	EXPECT_EQ(network_set_owe(ctrl, 4), -1);
	EXPECT_EQ(sae_pwe_set(ctrl, 2), -1);
	std::string err = stderr_end();
	EXPECT_THAT(err, HasSubstr("(wpa_ctrl) failed to set sae_pwe=2"));
	EXPECT_EQ(err.find("sae-secret"), std::string::npos);
	EXPECT_THAT(fake_daemon_requests(&daemon), ElementsAre(
	    "SET_NETWORK 3 psk \"sae-secret\"", "SET_NETWORK 3 key_mgmt SAE",
	    "SET_NETWORK 4 key_mgmt OWE", "SET_NETWORK 4 ieee80211w 2",
	    "SET sae_pwe 2"));
}

TEST_F(wifi_security, capability)
{
	// The replies of the daemon on mac80211_hwsim, of one whose driver
	// offers neither (the real daemon with -D none, no
	// newline at the end), and of one that refuses the request.
	const struct {
		const char *reply;
		unsigned akm;
	} cases[] = {
		{ "NONE IEEE8021X WPA-EAP WPA-PSK WPA-EAP-SUITE-B WPA-EAP-SUITE-B-192 OWE "
		    "DPP FILS-SHA256 FILS-SHA384 FT-FILS-SHA256 FT-FILS-SHA384 FT-PSK "
		    "FT-EAP SAE", AKM_SAE | AKM_OWE },
		{ "WPA-PSK WPA-EAP IEEE8021X WPA-NONE NONE", 0 },
		{ "FT-SAE SAE-EXT-KEY OWE", AKM_OWE },
		{ "SAE", AKM_SAE },
		{ "FAIL\n", 0 },
	};
	for (const auto &c : cases) {
		daemon.world.replies["GET_CAPABILITY key_mgmt"] = c.reply;
		EXPECT_EQ(supplicant_akm(ctrl), c.akm) << c.reply;
	}
	daemon.responder = [](const std::string &) { return fake_reply{}; };
	EXPECT_EQ(supplicant_akm(ctrl), 0u);
}

TEST_F(wifi_security, longest_text_a_request_carries)
{
	// "SET_NETWORK 1 password \"" and a closing quote: 25 characters, so
	// 102 fit under 128; a longer id leaves less.
	EXPECT_EQ(network_text_max(1, "password"), 102);
	EXPECT_EQ(network_text_max(1, "identity"), 102);
	EXPECT_EQ(network_text_max(12345, "identity"), 98);
	EXPECT_EQ(network_text_max(1, "psk"), 107);
}
