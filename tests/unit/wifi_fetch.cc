// Building the status, known-network and scan-result records from the
// supplicant's replies, as captured from the real daemon and as crafted.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_daemon.h"
#include "wifi.h"

using testing::ElementsAre;
using testing::HasSubstr;

using wifi_fetch = fake_daemon_test;

TEST_F(wifi_fetch, known_networks_from_the_real_daemon)
{
	ASSERT_TRUE(fake_world_load(&daemon.world, "wpa_supplicant.transcript"));
	known_networks *known = known_networks_fetch(ctrl);
	ASSERT_NE(known, nullptr);
	const char *any = "00:00:00:00:00:00";
	EXPECT_THAT(known_texts(known), ElementsAre(
	    "0|HomePSK|5|-|PSK|enabled|" + std::string(any),
	    "1|Corp|3|-|EAP|enabled|" + std::string(any),
	    "2|Cafe|1|-|Open|enabled|" + std::string(any),
	    "3|SaeNet|2|-|SAE|enabled|" + std::string(any),
	    "4|Hidden|4|hidden|PSK|enabled|" + std::string(any),
	    "5|Off|6|-|Open|disabled|" + std::string(any),
	    "6|M\xc3\xa4" "dchen|0|-|Open|enabled|" + std::string(any),
	    "7|a\tb\x1b[1m\\\"=|0|-|Open|enabled|" + std::string(any),
	    "8||0|-|Open|enabled|" + std::string(any),     // "\x00ABC"
	    "9||0|-|Open|enabled|" + std::string(any)));   // no SSID
	known_networks_free(known);

	// One LIST_NETWORKS, then priority, scan_ssid, key_mgmt per network.
	auto reqs = fake_daemon_requests(&daemon);
	ASSERT_EQ(reqs.size(), 1 + 3 * 10u);
	EXPECT_EQ(reqs[0], "LIST_NETWORKS");
	EXPECT_EQ(reqs[28], "GET_NETWORK 9 priority");
	EXPECT_EQ(reqs[29], "GET_NETWORK 9 scan_ssid");
	EXPECT_EQ(reqs[30], "GET_NETWORK 9 key_mgmt");
}

TEST_F(wifi_fetch, status_from_the_real_daemon)
{
	ASSERT_TRUE(fake_world_load(&daemon.world, "wpa_supplicant.transcript"));
	supplicant_status *st = supplicant_status_fetch(ctrl);
	ASSERT_NE(st, nullptr);
	EXPECT_STREQ(st->wpa_state, "DISCONNECTED");
	EXPECT_EQ(st->bssid, nullptr);
	EXPECT_EQ(st->ssid, nullptr);
	EXPECT_EQ(st->ip_address, nullptr);
	EXPECT_EQ(st->freq, 0);
	supplicant_status_free(st);
	// No BSSID, no frequency query.
	EXPECT_THAT(fake_daemon_requests(&daemon), ElementsAre("STATUS"));

	scan_results *scan = scan_results_fetch(ctrl);
	ASSERT_NE(scan, nullptr);
	EXPECT_EQ(scan->count, 0u);
	scan_results_free(scan);
}

TEST_F(wifi_fetch, status_lines)
{
	static const struct {
		std::vector<std::string> lines;
		const char *wpa_state, *ssid, *ip_address;
	} cases[] = {
		// The value is everything after the first "=".
		{ { "ssid=a=b" }, nullptr, "a=b", nullptr },
		{ { "wpa_state=COMPLETED", "ssid=M\\xc3\\xa4dchen",
		    "ip_address=192.0.2.7", "id=0", "mode=station" },
		    "COMPLETED", "M\xc3\xa4" "dchen", "192.0.2.7" },
		// The later of two lines wins; empty keys and values and lines
		// without "=" change nothing; keys are case-sensitive.
		{ { "ssid=first", "ssid=second", "ssid=", "=x", "SSID=upper",
		    "ssid", "==" }, nullptr, "second", nullptr },
		{ {}, nullptr, nullptr, nullptr },
	};
	for (const auto &c : cases) {
		daemon.world.status = c.lines;
		supplicant_status *st = supplicant_status_fetch(ctrl);
		ASSERT_NE(st, nullptr);
		auto text = [](const char *s) { return s ? std::string(s) : "(none)"; };
		SCOPED_TRACE(c.lines.empty() ? "" : c.lines[0]);
		EXPECT_EQ(text(st->wpa_state), text(c.wpa_state));
		EXPECT_EQ(text(st->ssid), text(c.ssid));
		EXPECT_EQ(text(st->ip_address), text(c.ip_address));
		EXPECT_EQ(st->freq, 0);
		supplicant_status_free(st);
	}
}

TEST_F(wifi_fetch, status_frequency_of_the_access_point)
{
	static const struct {
		const char *reply;
		int freq;
	} cases[] = {
		{ "freq=2412\n", 2412 },
		{ "freq=5180", 5180 },
		{ "", 0 },
		{ "FAIL\n", 0 },
		{ "freq=99999999999\n", 0 },
		{ "freq=x", 0 },
	};
	daemon.world.status = { "bssid=02:00:00:00:00:01", "wpa_state=COMPLETED" };
	for (const auto &c : cases) {
		daemon.world.replies["BSS 02:00:00:00:00:01 MASK=4"] = c.reply;
		fake_daemon_clear_requests(&daemon);
		stderr_begin();
		supplicant_status *st = supplicant_status_fetch(ctrl);
		EXPECT_EQ(stderr_end(), "");
		ASSERT_NE(st, nullptr);
		EXPECT_EQ(st->freq, c.freq) << "reply: " << c.reply;
		EXPECT_STREQ(st->bssid, "02:00:00:00:00:01");
		supplicant_status_free(st);
		EXPECT_THAT(fake_daemon_requests(&daemon),
		    ElementsAre("STATUS", "BSS 02:00:00:00:00:01 MASK=4"));
	}
}

TEST_F(wifi_fetch, status_frequency_query_that_fails)
{
	// A BSSID too long for a request: the query is refused, a warning
	// names the BSSID with its control bytes made harmless, and the
	// status stays.
	std::string bssid = "\x1b[2J" + std::string(130, 'f');
	daemon.world.status = { "bssid=" + bssid, "ssid=net" };
	stderr_begin();
	supplicant_status *st = supplicant_status_fetch(ctrl);
	std::string err = stderr_end();
	ASSERT_NE(st, nullptr);
	EXPECT_EQ(st->freq, 0);
	EXPECT_STREQ(st->ssid, "net");
	EXPECT_THAT(err, HasSubstr("wpa_ctrl request too long: BSS ?[2Jfff"));
	EXPECT_THAT(err, HasSubstr("failed to fetch frequency for ?[2Jfff"));
	EXPECT_EQ(err.find('\x1b'), std::string::npos);
	supplicant_status_free(st);
}

TEST_F(wifi_fetch, status_request_fails)
{
	fake_daemon_stop(&daemon);      // nobody listens: the send fails
	stderr_begin();
	EXPECT_EQ(supplicant_status_fetch(ctrl), nullptr);
	EXPECT_THAT(stderr_end(),
	    HasSubstr("failed to request wpa_supplicant status"));
	stderr_begin();
	EXPECT_EQ(known_networks_fetch(ctrl), nullptr);
	EXPECT_EQ(scan_results_fetch(ctrl), nullptr);
	EXPECT_EQ(stderr_end(), "");
}

TEST_F(wifi_fetch, known_network_lines)
{
	daemon.world.networks = {
		// No SSID: the empty field stays empty and shifts nothing.
		"2\t\tany\t[DISABLED]",
		"3\tHome\t02:00:00:00:00:01\t[CURRENT]",
		"4\tBoth\tany\t[CURRENT][DISABLED]",
		"5\t" + std::string(40, 'L') + "\tnot-a-mac",
		"6",
		"7\tExtra\tany\t[DISABLED]\tmore\tfields",
		// Paused after failures, but not disabled.
		"8\tPaused\tany\t[TEMP-DISABLED]",
		"9\tBothKinds\tany\t[TEMP-DISABLED][DISABLED]",
		// Ids are ints, the negative ones included.
		"-3\tNegative\tany\t",
		"2147483647\tLargest\tany\t",
		// Lines whose id is no int are left out: read as some number,
		// they would name another network.
		"\tNoId\tany\t",
		"x\tWord\tany\t",
		"abc",
		"12abc\tTail\tany\t",
		"99999999999\tHuge\tany\t",
		"2147483648\tPastInt\tany\t",
		"+4\tSign\tany\t",
		" 4\tBlank\tany\t",
	};
	daemon.world.replies = {
		{ "GET_NETWORK 2 priority", "5" },
		{ "GET_NETWORK 3 priority", "5x" },
		{ "GET_NETWORK 4 priority", "" },
		{ "GET_NETWORK 5 priority", "-7" },
		{ "GET_NETWORK 6 priority", "99999999999" },
		{ "GET_NETWORK -3 priority", "1" },
		{ "GET_NETWORK 2147483647 priority", "2" },
		{ "GET_NETWORK 2 scan_ssid", "1" },
		{ "GET_NETWORK 3 scan_ssid", "10" },
		{ "GET_NETWORK 5 scan_ssid", "0" },
		{ "GET_NETWORK -3 scan_ssid", "0" },
		{ "GET_NETWORK 2147483647 scan_ssid", "0" },
		{ "GET_NETWORK 2 key_mgmt", "NONE" },
		{ "GET_NETWORK 3 key_mgmt", "WPA-EAP" },
		{ "GET_NETWORK 4 key_mgmt", "WPA-PSK WPA-EAP" },
		{ "GET_NETWORK 5 key_mgmt", "SAE" },
		{ "GET_NETWORK 6 key_mgmt", "FT-PSK" },
		{ "GET_NETWORK 7 key_mgmt", "OWE" },
		{ "GET_NETWORK -3 key_mgmt", "NONE" },
		{ "GET_NETWORK 2147483647 key_mgmt", "WPA-PSK" },
	};
	known_networks *known = known_networks_fetch(ctrl);
	ASSERT_NE(known, nullptr);
	// A "?" marks a field that could not be read: a reply that is no
	// number, a failure reply, nothing.
	EXPECT_THAT(known_texts(known), ElementsAre(
	    "2||5|hidden|Open|disabled|00:00:00:00:00:00",
	    "3|Home|-1?|hidden|EAP|current|02:00:00:00:00:01",
	    "4|Both|0?|-?|PSK|current|00:00:00:00:00:00",
	    "5|" + std::string(32, 'L') + "|-7|-|SAE|enabled|00:00:00:00:00:00",
	    "6||-1?|-?|PSK|enabled|00:00:00:00:00:00",
	    "7|Extra|-1?|-?|OWE|disabled|00:00:00:00:00:00",
	    "8|Paused|-1?|-?|N/A?|enabled|00:00:00:00:00:00",
	    "9|BothKinds|-1?|-?|N/A?|disabled|00:00:00:00:00:00",
	    "-3|Negative|1|-|Open|enabled|00:00:00:00:00:00",
	    "2147483647|Largest|2|-|PSK|enabled|00:00:00:00:00:00"));
	known_networks_free(known);
	// Nothing is asked about a line that is left out.
	auto reqs = fake_daemon_requests(&daemon);
	EXPECT_EQ(reqs.size(), 1 + 3 * 10u);
	for (const auto &r : reqs)
		EXPECT_THAT(r, testing::Not(testing::AnyOf(HasSubstr(" 0 "),
		    HasSubstr(" 12 ")))) << r;
}

TEST_F(wifi_fetch, known_network_queries_without_reply)
{
	// A query that gets no answer (while the daemon still answers PING)
	// degrades its own field only, marked unknown: priority 3 (not -1),
	// not hidden, security N/A.
	daemon.world.networks = { "0\tSlow\tany\t", "1\tFine\tany\t" };
	daemon.world.replies = {
		{ "GET_NETWORK 1 priority", "8" },
		{ "GET_NETWORK 1 scan_ssid", "1" },
		{ "GET_NETWORK 1 key_mgmt", "WPA-PSK" },
	};
	daemon.responder = [this](const std::string &req) {
		if (req.starts_with("GET_NETWORK 0 "))
			return fake_reply{};
		return fake_answer(fake_world_answer(&daemon.world, req));
	};
	known_networks *known = known_networks_fetch(ctrl);
	ASSERT_NE(known, nullptr);
	EXPECT_THAT(known_texts(known), ElementsAre(
	    "0|Slow|3?|-?|N/A?|enabled|00:00:00:00:00:00",
	    "1|Fine|8|hidden|PSK|enabled|00:00:00:00:00:00"));
	known_networks_free(known);
}

TEST_F(wifi_fetch, scan_result_lines)
{
	daemon.world.scan = {
		"02:00:00:00:00:01\t2412\t-40\t[WPA2-PSK-CCMP][ESS]\tHome",
		"02:00:00:00:00:02\t5180\t-60\t[WPA2-EAP-CCMP][ESS]\tCorp",
		"02:00:00:00:00:03\t2437\t-70\t[ESS]\tCafe",
		// An empty flags field keeps the SSID in its column.
		"02:00:00:00:00:04\t2462\t-75\t\tNoFlags",
		// Hidden networks: no SSID field, or an empty one.
		"02:00:00:00:00:05\t2412\t-80\t[WPA2-PSK-CCMP][ESS]",
		"02:00:00:00:00:06\t2412\t-81\t[ESS]\t",
		// Text that decodes to nothing: dropped.
		"02:00:00:00:00:07\t2412\t-82\t[ESS]\t\\x00",
		"02:00:00:00:00:08\t2412\t-83\t[ESS]\t\\x00ABC",
		"02:00:00:00:00:09\t2412\t-84\t[ESS]\tM\\xc3\\xa4dchen",
		"nonsense\tx\t\t[ESS]\t" + std::string(40, 'S'),
		"02:00:00:00:00:0a",
	};
	scan_results *scan = scan_results_fetch(ctrl);
	ASSERT_NE(scan, nullptr);
	EXPECT_THAT(scan_texts(scan), ElementsAre(
	    "02:00:00:00:00:01|2412|-40|PSK|Home",
	    "02:00:00:00:00:02|5180|-60|EAP|Corp",
	    "02:00:00:00:00:03|2437|-70|Open|Cafe",
	    "02:00:00:00:00:04|2462|-75|Open|NoFlags",
	    "02:00:00:00:00:05|2412|-80|PSK|",
	    "02:00:00:00:00:06|2412|-81|Open|",
	    "02:00:00:00:00:09|2412|-84|Open|M\xc3\xa4" "dchen",
	    "00:00:00:00:00:00|0|0|Open|" + std::string(32, 'S'),
	    "02:00:00:00:00:0a|0|0|Open|"));
	scan_results_free(scan);
}

TEST_F(wifi_fetch, lists_without_entries)
{
	// Only the header, nothing at all, or blank lines: an empty array.
	for (const char *reply : { "bssid / frequency / signal level / flags / ssid\n",
	    "", "\n\n\n" }) {
		daemon.world.replies["SCAN_RESULTS"] = reply;
		daemon.world.replies["LIST_NETWORKS"] = reply;
		scan_results *scan = scan_results_fetch(ctrl);
		known_networks *known = known_networks_fetch(ctrl);
		ASSERT_NE(scan, nullptr);
		ASSERT_NE(known, nullptr);
		EXPECT_EQ(scan->count, 0u);
		EXPECT_EQ(known->count, 0u);
		scan_results_free(scan);
		known_networks_free(known);
	}
}

// Scan lines of `n` access points named network-<i>, strongest first.
static std::vector<std::string>
crowded_scan(int n)
{
	std::vector<std::string> lines;
	for (int i = 0; i < n; i++) {
		char line[96];
		snprintf(line, sizeof line,
		    "02:00:00:00:%02x:%02x\t2412\t-%d\t[WPA2-PSK-CCMP][ESS]\tnetwork-%d",
		    i / 256, i % 256, 30 + i % 60, i);
		lines.push_back(line);
	}
	return lines;
}

static const std::string BSS_FIRST = "BSS FIRST MASK=1887";

TEST_F(wifi_fetch, long_reply_is_cut_at_its_capacity)
{
	// 300 lines do not fit into 4095 bytes.  Where the daemon cannot walk
	// its table one BSS at a time, the lines that do fit are read, and the
	// one cut in its middle is left out.
	daemon.world.scan = crowded_scan(300);
	daemon.world.fail = { BSS_FIRST };
	std::string reply = "bssid / frequency / signal level / flags / ssid\n";
	for (const auto &l : daemon.world.scan)
		reply += l + "\n";
	std::string kept = reply.substr(0, 4095);
	size_t lines = std::count(kept.begin(), kept.end(), '\n');
	scan_results *scan = scan_results_fetch(ctrl);
	ASSERT_NE(scan, nullptr);
	ASSERT_NE(kept.back(), '\n');
	ASSERT_EQ(scan->count, lines - 1);
	EXPECT_STREQ(scan->items[scan->count - 1].ssid,
	    ("network-" + std::to_string(lines - 2)).c_str());
	scan_results_free(scan);

	// A cut known network would carry a shortened id.
	daemon.world.replies["LIST_NETWORKS"] = "header\n";
	for (int i = 0; i < 600; i++)
		daemon.world.replies["LIST_NETWORKS"] += std::to_string(i) + "\tOffice\n";
	known_networks *known = known_networks_fetch(ctrl);
	ASSERT_NE(known, nullptr);
	ASSERT_GT(known->count, 300u);
	for (size_t i = 0; i < known->count; i++)
		EXPECT_EQ(known->items[i].id, static_cast<int>(i));
	known_networks_free(known);

	// A status line cut in its value is left out as well.
	daemon.world.status = { "wpa_state=COMPLETED",
	    std::string(4060, 'x') + "=1", "ssid=a-long-name" };
	supplicant_status *st = supplicant_status_fetch(ctrl);
	ASSERT_NE(st, nullptr);
	EXPECT_EQ(st->ssid, nullptr);
	EXPECT_STREQ(st->wpa_state, "COMPLETED");
	supplicant_status_free(st);
}

// A crowded place: SCAN_RESULTS comes back full, and the whole table is
// read again one BSS at a time; a short list is one request, as ever.
TEST_F(wifi_fetch, full_scan_results_are_walked_one_bss_at_a_time)
{
	daemon.world.scan = crowded_scan(300);
	scan_results *scan = scan_results_fetch(ctrl);
	ASSERT_NE(scan, nullptr);
	ASSERT_EQ(scan->count, 300u);
	EXPECT_THAT(scan_texts(scan)[299], "02:00:00:00:01:2b|2412|-89|PSK|network-299");
	scan_results_free(scan);
	auto reqs = fake_daemon_requests(&daemon);
	ASSERT_EQ(reqs.size(), 2 + 300u);
	EXPECT_EQ(reqs[0], "SCAN_RESULTS");
	EXPECT_EQ(reqs[1], BSS_FIRST);
	EXPECT_EQ(reqs[2], "BSS NEXT-0 MASK=1887");
	EXPECT_EQ(reqs[301], "BSS NEXT-299 MASK=1887");

	daemon.world.scan = crowded_scan(20);
	fake_daemon_clear_requests(&daemon);
	scan = scan_results_fetch(ctrl);
	ASSERT_NE(scan, nullptr);
	EXPECT_EQ(scan->count, 20u);
	scan_results_free(scan);
	EXPECT_THAT(fake_daemon_requests(&daemon), ElementsAre("SCAN_RESULTS"));
}

// A walk that does not reach its end leaves the lines of SCAN_RESULTS: a
// failure reply, a record without an id, an id that does not grow, a
// query that times out.  A daemon that stops answering altogether is found
// out by the next request.
TEST_F(wifi_fetch, bss_walk_that_goes_wrong)
{
	daemon.world.scan = crowded_scan(100);
	static const char *const seconds[] = {
		"FAIL\n",
		"bssid=02:00:00:00:00:09\nssid=x\n",
		"id=0\nbssid=02:00:00:00:00:09\nssid=again\n",
	};
	for (const char *second : seconds) {
		daemon.world.replies["BSS NEXT-0 MASK=1887"] = second;
		scan_results *scan = scan_results_fetch(ctrl);
		ASSERT_NE(scan, nullptr) << second;
		EXPECT_GT(scan->count, 40u) << second;
		EXPECT_LT(scan->count, 100u) << second;
		scan_results_free(scan);
	}

	daemon.world.replies.clear();
	daemon.responder = [this](const std::string &req) {
		if (req.starts_with("BSS NEXT-5 ") || req == "PING")
			return fake_reply{};
		return fake_answer(fake_world_answer(&daemon.world, req));
	};
	scan_results *scan = scan_results_fetch(ctrl);
	ASSERT_NE(scan, nullptr);
	EXPECT_LT(scan->count, 100u);
	scan_results_free(scan);
	stderr_begin();
	EXPECT_EQ(supplicant_status_fetch(ctrl), nullptr);
	stderr_end();
	EXPECT_EQ(ctrl_last_failure(ctrl), CTRL_FAIL_UNRESPONSIVE);
}

// LIST_NETWORKS is paged after the last id of a reply that came back full.
// The real daemon's pages are tested in wifi_real.
TEST_F(wifi_fetch, known_networks_are_paged)
{
	for (int i = 0; i < 250; i++)
		daemon.world.networks.push_back(std::to_string(i) + "\t" +
		    std::string(30, 'n') + std::to_string(i % 10) + "\tany\t");
	daemon.responder = [this](const std::string &req) {
		if (req.starts_with("GET_NETWORK "))
			return fake_answer("0");
		return fake_answer(fake_world_answer(&daemon.world, req));
	};
	known_networks *known = known_networks_fetch(ctrl);
	ASSERT_NE(known, nullptr);
	ASSERT_EQ(known->count, 250u);
	for (size_t i = 0; i < known->count; i++)
		ASSERT_EQ(known->items[i].id, static_cast<int>(i));
	known_networks_free(known);
	std::vector<std::string> lists;
	for (const auto &r : fake_daemon_requests(&daemon))
		if (r.starts_with("LIST_NETWORKS"))
			lists.push_back(r);
	ASSERT_GE(lists.size(), 3u);
	EXPECT_EQ(lists[0], "LIST_NETWORKS");
	EXPECT_TRUE(lists[1].starts_with("LIST_NETWORKS LAST_ID=")) << lists[1];

	// Pages that repeat themselves end the list.
	daemon.responder = [this](const std::string &req) {
		if (req.starts_with("LIST_NETWORKS"))
			return fake_answer(fake_world_answer(&daemon.world, "LIST_NETWORKS"));
		return fake_answer("0");
	};
	fake_daemon_clear_requests(&daemon);
	known = known_networks_fetch(ctrl);
	ASSERT_NE(known, nullptr);
	known_networks_free(known);
	size_t n = 0;
	for (const auto &r : fake_daemon_requests(&daemon))
		n += r.starts_with("LIST_NETWORKS");
	EXPECT_EQ(n, 2u);
}

TEST_F(wifi_fetch, hostile_replies_do_not_break_parsing)
{
	// NUL bytes, stray escapes and runs of separators: no crash, no read
	// past the reply (the sanitizer build checks), and records stay sane.
	static const char raw[] = "0\tA\0B\tany\t[CURRENT]\n1\t\\\tany\t\n";
	std::string nul(raw, sizeof raw - 1);
	for (const std::string &body : { nul, std::string("\t\t\t\t\t\t\n\\\\\\\n"),
	    std::string(4095, '\\'), std::string(4095, '\t') }) {
		daemon.world.replies["LIST_NETWORKS"] = "header\n" + body;
		daemon.world.replies["SCAN_RESULTS"] = "header\n" + body;
		daemon.world.replies["STATUS"] = body;
		known_networks *known = known_networks_fetch(ctrl);
		scan_results *scan = scan_results_fetch(ctrl);
		supplicant_status *st = supplicant_status_fetch(ctrl);
		ASSERT_NE(known, nullptr);
		ASSERT_NE(scan, nullptr);
		ASSERT_NE(st, nullptr);
		for (size_t i = 0; i < known->count; i++)
			EXPECT_LE(strlen(known->items[i].ssid), SSID_MAX);
		known_networks_free(known);
		scan_results_free(scan);
		supplicant_status_free(st);
	}
}
