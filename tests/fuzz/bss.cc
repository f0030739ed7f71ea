// Fuzzes the BSS record parser: the input as one record, and its chunks as
// the records of a walk that a full SCAN_RESULTS reply sets off, through
// scan_results_fetch and the real transport.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "responder.h"

static void
check_result(const scan_result &res)
{
	if (memchr(res.ssid, '\0', sizeof res.ssid) == nullptr)
		abort();
	if (res.security < SECURITY_OPEN || res.security > SECURITY_WEP)
		abort();
}

// A SCAN_RESULTS reply that fills the daemon's buffer.
static const std::string &
full_scan_results(void)
{
	static std::string reply;
	if (reply.empty()) {
		reply = "bssid / frequency / signal level / flags / ssid\n";
		for (int i = 0; reply.size() < 4000; i++) {
			char line[96];
			snprintf(line, sizeof line,
			    "02:00:00:00:00:%02x\t2412\t-%d\t[ESS]\tap-%d\n",
			    i & 0xff, 40 + i % 50, i);
			reply += line;
		}
	}
	return reply;
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::string record(reinterpret_cast<const char *>(data), size);
	scan_result one;
	unsigned id;
	int kind = bss_record_parse(record.data(), record.size(), &one, &id);
	if (kind < -1 || kind > 1)
		abort();
	if (kind != -1)
		check_result(one);

	std::string input = full_scan_results() +
	    std::string(RESPONDER_SEPARATOR) + std::string(fuzz_text(data, size));
	responder r;
	scan_results *scan;
	if (!responder_fetch(&r, reinterpret_cast<const uint8_t *>(input.data()),
	    input.size(), scan_results_fetch, scan_results_free, &scan))
		return 0;
	if (scan == nullptr || scan->count > scan->capacity ||
	    scan->count > SCAN_MAX)
		abort();
	// SCAN_RESULTS, BSS FIRST, then BSS NEXT- with ids that grow.
	if (r.requests.size() < 2 || r.requests[0] != "SCAN_RESULTS" ||
	    r.requests[1] != "BSS FIRST MASK=1887")
		abort();
	long long last = -1;
	for (size_t i = 2; i < r.requests.size(); i++) {
		unsigned next;
		if (sscanf(r.requests[i].c_str(), "BSS NEXT-%u MASK=1887", &next) != 1 ||
		    static_cast<long long>(next) <= last)
			abort();
		last = next;
	}
	for (size_t i = 0; i < scan->count; i++)
		check_result(scan->items[i]);
	scan_results_free(scan);
	return 0;
}
