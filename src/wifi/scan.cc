// The scan results: SCAN_RESULTS, one access point a line, and when that
// came back full, the whole table one BSS record at a time.
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "records.h"
#include "wifi.h"

// The longest SCAN_RESULTS line: a BSSID of 17 characters, a frequency and
// a level of up to 11, flags (one bracket for each cipher suite, WPS, ESS,
// P2P, HS20...) given a generous 256, an SSID of 32 bytes printed with up
// to 4 characters each, four tabs and the newline.
#define SCAN_LINE_MAX (17 + 11 + 11 + 256 + 4 * SSID_MAX + 5)

// What the flags column says of a result's security.
static void
flags_fill(scan_result *res, const char *flags)
{
	res->security = scan_flags_security(flags);
	res->offers_sae = strstr(flags, "SAE") != nullptr;
	res->sae_h2e = strstr(flags, "[SAE-H2E]") != nullptr;
}

// Decodes an SSID field into `res`; false when its text decodes to nothing
// (an SSID that begins with an escaped NUL byte).  An empty field is a
// hidden network.
static bool
ssid_field(char *text, scan_result *res)
{
	if (text[0] == '\0') {
		res->ssid[0] = '\0';
		return true;
	}
	if (*ssid_unescape(text, strlen(text)) == '\0')
		return false;
	strlcpy(res->ssid, text, sizeof res->ssid);
	return true;
}

// One SCAN_RESULTS line: BSSID, frequency, signal level, flags, SSID.
// 0 for a line to drop (its SSID decodes to nothing); a line without an
// SSID, or with an empty one, is a hidden network and stays.
static int
scan_parse(char *line, scan_result *res)
{
	char *f[5];
	size_t n = line_fields(line, f, 5);

	if (n > 4 && !ssid_field(f[4], res))
		return 0;
	if (n > 1)
		res->freq = field_int(f[1]);
	if (n > 2)
		res->signal = field_int(f[2]);
	if (ether_aton_r(f[0], &res->bssid) == nullptr)
		memset(&res->bssid, 0, sizeof res->bssid);
	res->security = SECURITY_OPEN;
	if (n > 3)
		flags_fill(res, f[3]);
	return 1;
}

int
bss_record_parse(char *reply, size_t len, scan_result *res, unsigned *id)
{
	reply_reader rd = reply_begin(reply, len, REPLY_CAPACITY);
	bool have_id = false, keep = true;
	char *line;

	*res = scan_result{};
	res->security = SECURITY_OPEN;
	while ((line = reply_line(&rd)) != nullptr) {
		char *eq = strchr(line, '=');
		if (eq == nullptr)
			continue;
		*eq = '\0';
		std::string_view key(line);
		char *value = eq + 1;
		if (key == "id") {
			std::string_view v(value);
			auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(),
			    *id);
			have_id = !v.empty() && ec == std::errc() &&
			    p == v.data() + v.size();
		} else if (key == "bssid") {
			if (ether_aton_r(value, &res->bssid) == nullptr)
				memset(&res->bssid, 0, sizeof res->bssid);
		} else if (key == "freq") {
			res->freq = field_int(value);
		} else if (key == "level") {
			res->signal = field_int(value);
		} else if (key == "flags") {
			flags_fill(res, value);
		} else if (key == "ssid") {
			keep = ssid_field(value, res);
		}
	}
	if (!have_id)
		return -1;
	return keep ? 1 : 0;
}

// Walks the daemon's table: "BSS FIRST", then "BSS NEXT-%u" after each
// record's id, until the empty reply after the last.  1 when the walk
// reached the end (or SCAN_MAX records), 0 when the daemon stopped giving
// records before it (a failure reply, a query that timed out, an id that
// does not grow), -1 when the fetch is to fail.
static int
bss_walk(wpa_ctrl *ctrl, scan_results *all)
{
	char reply[REPLY_CAPACITY + 1];
	unsigned id, last = 0;

	for (bool first = true; all->count < SCAN_MAX; first = false) {
		size_t len = REPLY_CAPACITY;
		int rc = first ?
		    ctrl_query(ctrl, reply, &len, "BSS FIRST MASK=%x",
		    BSS_MASK_SCAN) :
		    ctrl_query(ctrl, reply, &len, "BSS NEXT-%u MASK=%x", last,
		    BSS_MASK_SCAN);
		if (rc != 0)
			return query_failure_tolerated(ctrl) ? 0 : -1;
		if (len == 0)
			return 1;
		scan_result res;
		int kind = bss_record_parse(reply, len, &res, &id);
		if (kind == -1 || (!first && id <= last))
			return 0;
		last = id;
		if (kind == 1 && !record_append(all, &res)) {
			wifi_warn("reallocarray");
			return -1;
		}
	}
	return 1;
}

// SCAN_RESULTS alone while it fits the daemon's buffer.  A walk that does
// not reach the end leaves the lines of SCAN_RESULTS as they were.
scan_results *
scan_results_fetch(wpa_ctrl *ctrl)
{
	scan_results *scan, *all;
	bool full;

	ctrl_fetch_begin(ctrl);
	if ((scan = record_new<scan_result>()) == nullptr)
		return nullptr;
	if (record_page(ctrl, "SCAN_RESULTS", scan, SCAN_LINE_MAX, &full,
	    scan_parse) == -1)
		return nullptr;
	if (!full)
		return scan;
	if ((all = record_new<scan_result>()) == nullptr) {
		record_free(scan);
		return nullptr;
	}
	switch (bss_walk(ctrl, all)) {
	case 1:
		record_free(scan);
		return all;
	case 0:
		record_free(all);
		return scan;
	default:
		record_free(all);
		record_free(scan);
		return nullptr;
	}
}

void
scan_results_free(scan_results *scan)
{
	record_free(scan);
}

bool
scan_results_append(scan_results *scan, const scan_result *res)
{
	return record_append(scan, res);
}

void
scan_results_sort(scan_results *scan)
{
	record_sort<scan_result, &scan_result::signal>(scan);
}

void
scan_results_filter(scan_results *scan, const char *text)
{
	record_filter(scan, text);
}
