// Fuzzes the LIST_NETWORKS reply and the three GET_NETWORK queries of each
// network through known_networks_fetch and the real transport, then sorts
// and filters the result.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "responder.h"

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	responder r;
	known_networks *known;
	if (!responder_fetch(&r, data, size, known_networks_fetch, known_networks_free, &known))
		return 0;

	if (known == nullptr || known->count > known->capacity)
		abort();
	// One LIST_NETWORKS (and pages after a full reply), then priority,
	// scan_ssid and key_mgmt of each network in the order listed, each
	// naming that network's id.
	if (r.requests.empty() || r.requests[0] != "LIST_NETWORKS")
		abort();
	std::vector<std::string> queries;
	for (size_t i = 1; i < r.requests.size(); i++) {
		if (r.requests[i].starts_with("LIST_NETWORKS")) {
			if (!r.requests[i].starts_with("LIST_NETWORKS LAST_ID="))
				abort();
			continue;
		}
		queries.push_back(r.requests[i]);
	}
	r.requests = queries;
	r.requests.insert(r.requests.begin(), "LIST_NETWORKS");
	if (r.requests.size() != 1 + 3 * known->count)
		abort();
	for (size_t i = 0; i < known->count; i++) {
		const known_network &net = known->items[i];
		static const char *const names[] = {"priority", "scan_ssid",
		    "key_mgmt"};
		for (size_t k = 0; k < 3; k++) {
			char want[64];
			snprintf(want, sizeof want, "GET_NETWORK %d %s", net.id,
			    names[k]);
			if (r.requests[1 + 3 * i + k] != want)
				abort();
		}
		if (memchr(net.ssid, '\0', sizeof net.ssid) == nullptr)
			abort();
		if (net.security < SECURITY_OPEN || net.security > SECURITY_WEP ||
		    net.state < NETWORK_ENABLED || net.state > NETWORK_CURRENT)
			abort();
	}

	known_networks_sort(known);
	for (size_t i = 1; i < known->count; i++)
		if (known->items[i - 1].priority < known->items[i].priority)
			abort();
	size_t before = known->count;
	known_networks_filter(known, "a");
	if (known->count > before)
		abort();
	for (size_t i = 0; i < known->count; i++)
		if (strpbrk(known->items[i].ssid, "aA") == nullptr)
			abort();
	known_networks_free(known);
	return 0;
}
