// Fuzzes the SCAN_RESULTS reply through scan_results_fetch and the real
// transport, then sorts and filters the result.
#include <cstdlib>
#include <cstring>

#include "responder.h"

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	responder r;
	scan_results *scan;
	if (!responder_fetch(&r, data, size, scan_results_fetch, scan_results_free, &scan))
		return 0;

	if (scan == nullptr || scan->count > scan->capacity)
		abort();
	// SCAN_RESULTS, and after a full reply a walk of BSS records.
	if (r.requests.empty() || r.requests[0] != "SCAN_RESULTS")
		abort();
	for (size_t i = 1; i < r.requests.size(); i++)
		if (!r.requests[i].starts_with(i == 1 ? "BSS FIRST " : "BSS NEXT-"))
			abort();
	for (size_t i = 0; i < scan->count; i++) {
		const scan_result &res = scan->items[i];
		if (memchr(res.ssid, '\0', sizeof res.ssid) == nullptr)
			abort();
		if (res.security < SECURITY_OPEN || res.security > SECURITY_WEP)
			abort();
	}

	scan_results_sort(scan);
	for (size_t i = 1; i < scan->count; i++)
		if (scan->items[i - 1].signal < scan->items[i].signal)
			abort();
	scan_results_filter(scan, "e");
	for (size_t i = 0; i < scan->count; i++)
		if (strpbrk(scan->items[i].ssid, "eE") == nullptr)
			abort();
	scan_results_free(scan);
	return 0;
}
