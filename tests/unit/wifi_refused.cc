// Which stored networks had their passphrase refused, from the daemon's
// event messages (the texts as the daemon on real radios sends them).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "wifi.h"

static std::vector<int>
marked_after(const std::vector<std::string> &events)
{
	refused_keys r{};
	for (const auto &e : events)
		refused_keys_event(&r, e.data(), e.size());
	return std::vector<int>(r.ids, r.ids + r.count);
}

TEST(wifi_refused, events)
{
	const std::string sae_reject = "<3>CTRL-EVENT-AUTH-REJECT 02:00:00:00:03:00 "
	    "auth_type=3 auth_transaction=2 status_code=1";
	const std::string scan = "<3>CTRL-EVENT-SCAN-RESULTS ";
	const struct {
		const char *what;
		std::vector<std::string> events;
		std::vector<int> marked;
	} cases[] = {
		{ "WPA2 wrong key", { "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=3 ssid=\"Quiet\" "
		    "auth_failures=1 duration=10 reason=WRONG_KEY" }, { 3 } },
		{ "SAE: rejected confirms, scans between, then the pause",
		    { sae_reject, scan, sae_reject, "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=0 "
		    "ssid=\"Wpa3Only\" auth_failures=1 duration=10 reason=CONN_FAILED" }, { 0 } },
		{ "SAE status 15", { "<3>CTRL-EVENT-AUTH-REJECT 02:00:00:00:03:00 auth_type=3 "
		    "auth_transaction=2 status_code=15", "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=7 "
		    "ssid=\"x\" auth_failures=1 duration=10 reason=CONN_FAILED" }, { 7 } },
		{ "a connection failure without a rejected confirm",
		    { "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=2 ssid=\"Far\" auth_failures=1 "
		    "duration=10 reason=CONN_FAILED" }, {} },
		{ "an open-system rejection is no passphrase",
		    { "<3>CTRL-EVENT-AUTH-REJECT 02:00:00:00:03:00 auth_type=0 "
		    "auth_transaction=2 status_code=17", "<3>CTRL-EVENT-SSID-TEMP-DISABLED "
		    "id=2 ssid=\"Full\" auth_failures=1 duration=10 reason=CONN_FAILED" }, {} },
		{ "the rejection counts for the next pause only", { sae_reject,
		    "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=1 ssid=\"a\" auth_failures=1 "
		    "duration=10 reason=AUTH_FAILED", "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=2 "
		    "ssid=\"b\" auth_failures=1 duration=10 reason=CONN_FAILED" }, {} },
		{ "connected clears its own mark only", {
		    "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=1 ssid=\"a\" auth_failures=1 "
		    "duration=10 reason=WRONG_KEY", "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=12 "
		    "ssid=\"b\" auth_failures=1 duration=10 reason=WRONG_KEY",
		    "<3>CTRL-EVENT-CONNECTED - Connection to 02:00:00:00:06:00 completed "
		    "[id=1 id_str=]" }, { 12 } },
		{ "removed clears it", { "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=4 ssid=\"a\" "
		    "auth_failures=1 duration=10 reason=WRONG_KEY",
		    "<3>CTRL-EVENT-NETWORK-REMOVED 4" }, {} },
		// An SSID that carries a reason of its own is read up to the
		// real one; one that fakes an id comes after the real id.
		{ "hostile SSIDs", { "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=5 ssid=\" "
		    "reason=WRONG_KEY\" auth_failures=1 duration=10 reason=CONN_FAILED",
		    "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=x6 ssid=\"a\" auth_failures=1 "
		    "duration=10 reason=WRONG_KEY", "<3>CTRL-EVENT-SSID-TEMP-DISABLED "
		    "id=99999999999 reason=WRONG_KEY", "CTRL-EVENT-SSID-TEMP-DISABLED id=8 "
		    "reason=WRONG_KEYS", "<3>WPA: CTRL-EVENT-SSID-TEMP-DISABLED id=9 "
		    "reason=WRONG_KEY" }, {} },
		{ "without the priority prefix", { "CTRL-EVENT-SSID-TEMP-DISABLED id=8 "
		    "reason=WRONG_KEY" }, { 8 } },
		{ "marked twice is marked once", {
		    "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=1 reason=WRONG_KEY",
		    "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=1 reason=WRONG_KEY" }, { 1 } },
	};
	for (const auto &c : cases)
		EXPECT_EQ(marked_after(c.events), c.marked) << c.what;

	// When full, the oldest mark goes.
	std::vector<std::string> many;
	for (int i = 0; i < static_cast<int>(REFUSED_MAX) + 2; i++)
		many.push_back("<3>CTRL-EVENT-SSID-TEMP-DISABLED id=" + std::to_string(i) +
		    " reason=WRONG_KEY");
	std::vector<int> kept = marked_after(many);
	ASSERT_EQ(kept.size(), REFUSED_MAX);
	EXPECT_EQ(kept.front(), 2);
	EXPECT_EQ(kept.back(), static_cast<int>(REFUSED_MAX) + 1);
}
