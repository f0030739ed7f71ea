// The scan results: SCAN_RESULTS, one access point a line.
#include <cstdlib>
#include <cstring>

#include "records.h"
#include "wifi.h"

// One SCAN_RESULTS line: BSSID, frequency, signal level, flags, SSID.
// False for a line to drop: one whose SSID field holds text that decodes to
// nothing (an SSID that begins with an escaped NUL byte).  A line without
// an SSID, or with an empty one, is a hidden network and stays.
static bool
scan_parse(char *line, scan_result *res)
{
	char *f[5];
	size_t n = line_fields(line, f, 5);

	if (n > 4 && f[4][0] != '\0') {
		if (*ssid_unescape(f[4], strlen(f[4])) == '\0')
			return false;
		strlcpy(res->ssid, f[4], sizeof res->ssid);
	}
	if (n > 1)
		res->freq = field_int(f[1]);
	if (n > 2)
		res->signal = field_int(f[2]);
	if (ether_aton_r(f[0], &res->bssid) == nullptr)
		memset(&res->bssid, 0, sizeof res->bssid);
	res->security = SECURITY_OPEN;
	if (n > 3) {
		res->security = scan_flags_security(f[3]);
		res->offers_sae = strstr(f[3], "SAE") != nullptr;
		res->sae_h2e = strstr(f[3], "[SAE-H2E]") != nullptr;
	}
	return true;
}

scan_results *
scan_results_fetch(wpa_ctrl *ctrl)
{
	return record_fetch<scan_result>(ctrl, "SCAN_RESULTS", scan_parse);
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
