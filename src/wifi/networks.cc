// The known networks: LIST_NETWORKS, and three GET_NETWORK queries for each
// network listed.
#include <limits.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <string_view>

#include "records.h"
#include "wifi.h"

// Reply capacities of the per-network queries.
#define PRIORITY_CAPACITY 12
#define SCAN_SSID_CAPACITY 1

// The longest LIST_NETWORKS line: an id of up to 11 characters, an SSID of
// 32 bytes printed with up to 4 characters each, a BSSID of 17, the flags
// [CURRENT][DISABLED][P2P-PERSISTENT][TEMP-DISABLED] with room to spare,
// three tabs and the newline.
#define LIST_LINE_MAX (11 + 4 * SSID_MAX + 17 + 64 + 4)

// A whole reply that is a number in the range of int.
static bool
int_text(std::string_view text, int *out)
{
	const char *end = text.data() + text.size();
	auto [p, ec] = std::from_chars(text.data(), end, *out);

	return !text.empty() && ec == std::errc() && p == end;
}

// The priority; 3 when the query failed, -1 when the reply is some other
// text than a number (0 when it is empty); both unknown.  -1 for the fetch
// when the query failed otherwise than by a time-out.
static int
network_priority(wpa_ctrl *ctrl, known_network *net)
{
	char reply[PRIORITY_CAPACITY + 1], *end;
	size_t len = PRIORITY_CAPACITY;

	if (ctrl_query(ctrl, reply, &len, "GET_NETWORK %d priority",
	    net->id) != 0) {
		net->priority = 3;
		net->unknown |= KNOWN_PRIORITY_UNKNOWN;
		return query_failure_tolerated(ctrl) ? 0 : -1;
	}
	if (int_text(std::string_view(reply, len), &net->priority))
		return 0;
	net->unknown |= KNOWN_PRIORITY_UNKNOWN;
	long long v = strtoll(reply, &end, 10);
	net->priority = *end != '\0' || v < INT_MIN || v > INT_MAX ? -1 :
	    static_cast<int>(v);
	return 0;
}

static int
network_scan_ssid(wpa_ctrl *ctrl, known_network *net)
{
	char reply[SCAN_SSID_CAPACITY + 1];
	size_t len = SCAN_SSID_CAPACITY;

	if (ctrl_query(ctrl, reply, &len, "GET_NETWORK %d scan_ssid",
	    net->id) != 0) {
		net->unknown |= KNOWN_HIDDEN_UNKNOWN;
		return query_failure_tolerated(ctrl) ? 0 : -1;
	}
	net->scan_ssid = len == 1 && reply[0] == '1';
	if (len != 1 || (reply[0] != '0' && reply[0] != '1'))
		net->unknown |= KNOWN_HIDDEN_UNKNOWN;
	return 0;
}

// A key management list naming a PSK method counts as PSK even when it also
// names an EAP method, as the supplicant's default "WPA-PSK WPA-EAP" does.
static int
network_security(wpa_ctrl *ctrl, known_network *net)
{
	char reply[REPLY_CAPACITY + 1];
	size_t len = REPLY_CAPACITY;

	net->security = SECURITY_NA;
	if (ctrl_query(ctrl, reply, &len, "GET_NETWORK %d key_mgmt",
	    net->id) != 0) {
		net->unknown |= KNOWN_SECURITY_UNKNOWN;
		return query_failure_tolerated(ctrl) ? 0 : -1;
	}
	if (strncmp(reply, "FAIL", 4) == 0 || len == 0)
		net->unknown |= KNOWN_SECURITY_UNKNOWN;
	else
		net->security = key_mgmt_security(reply);
	return 0;
}

// Whether the flags say the network is disabled.  "[TEMP-DISABLED]" is the
// daemon's pause after failed attempts: such a network is still enabled,
// and reading it as disabled would have the connect flow save the pause as
// a permanent DISABLE_NETWORK.
static bool
flags_disabled(std::string_view flags)
{
	constexpr std::string_view word = "DISABLED", temp = "TEMP-";

	for (size_t at = flags.find(word); at != flags.npos;
	    at = flags.find(word, at + 1))
		if (at < temp.size() || std::string_view(flags.data() + at -
		    temp.size(), temp.size()) != temp)
			return true;
	return false;
}

// One LIST_NETWORKS line: id, SSID, BSSID, flags; then the three queries.
// A line whose id is no int is left out (0): read as some number, it would
// name another network.  -1 when a query ends the fetch.
static int
network_parse(wpa_ctrl *ctrl, char *line, known_network *net)
{
	char *f[4];
	size_t n = line_fields(line, f, 4);

	if (!int_text(f[0], &net->id))
		return 0;
	if (network_priority(ctrl, net) == -1 ||
	    network_scan_ssid(ctrl, net) == -1 ||
	    network_security(ctrl, net) == -1)
		return -1;
	if (n > 1)
		strlcpy(net->ssid, ssid_unescape(f[1], strlen(f[1])),
		    sizeof net->ssid);
	if (n > 2 && ether_aton_r(f[2], &net->bssid) == nullptr)
		memset(&net->bssid, 0, sizeof net->bssid);
	if (n > 3) {
		if (strstr(f[3], "CURRENT") != nullptr)
			net->state = NETWORK_CURRENT;
		else if (flags_disabled(f[3]))
			net->state = NETWORK_DISABLED;
	}
	return 1;
}

// 1 + 3n requests for n networks that fit one reply.  A reply that came
// back full is followed by the page after its last id, and so on; the ids
// of the daemon's list grow, and a page that does not go past its request's
// id ends the list.
known_networks *
known_networks_fetch(wpa_ctrl *ctrl)
{
	char req[CTRL_REQUEST_MAX] = "LIST_NETWORKS";
	known_networks *known;

	ctrl_fetch_begin(ctrl);
	if ((known = record_new<known_network>()) == nullptr)
		return nullptr;
	for (bool first = true;; first = false) {
		size_t before = known->count;
		bool full;
		if (record_page(ctrl, req, known, LIST_LINE_MAX, &full,
		    [ctrl](char *line, known_network *net) {
			return network_parse(ctrl, line, net);
		}) == -1)
			return nullptr;
		if (!full || known->count == before || known->count >= KNOWN_MAX)
			break;
		int last = known->items[known->count - 1].id;
		if (!first && last <= known->items[before - 1].id)
			break;
		snprintf(req, sizeof req, "LIST_NETWORKS LAST_ID=%d", last);
	}
	return known;
}

void
known_networks_free(known_networks *known)
{
	record_free(known);
}

bool
known_networks_append(known_networks *known, const known_network *net)
{
	return record_append(known, net);
}

void
known_networks_sort(known_networks *known)
{
	record_sort<known_network, &known_network::priority>(known);
}

void
known_networks_filter(known_networks *known, const char *text)
{
	record_filter(known, text);
}
