// Fuzzes the STATUS reply and the BSS frequency query through
// supplicant_status_fetch and the real transport.
#include <cstdlib>
#include <cstring>

#include "responder.h"

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	responder r;
	supplicant_status *st;
	if (!responder_fetch(&r, data, size, supplicant_status_fetch, supplicant_status_free, &st))
		return 0;

	// Every request was answered, so the fetch cannot fail.
	if (st == nullptr)
		abort();
	// STATUS, then BSS only for a named access point (a BSSID too long
	// for a request is not asked about).
	if (r.requests.empty() || r.requests[0] != "STATUS")
		abort();
	if (r.requests.size() > (st->bssid != nullptr ? 2u : 1u))
		abort();
	if (r.requests.size() == 2 && !r.requests[1].starts_with("BSS "))
		abort();
	if (st->bssid == nullptr && st->freq != 0)
		abort();
	// Kept texts are non-empty: an empty value leaves its field unset.
	for (const char *s : {st->wpa_state, st->bssid, st->ssid, st->ip_address})
		if (s != nullptr && s[0] == '\0' && s != st->ssid)
			abort();
	supplicant_status_free(st);
	return 0;
}
