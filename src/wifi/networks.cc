// The known networks: LIST_NETWORKS, and three GET_NETWORK queries for each
// network listed.
#include <limits.h>

#include <cstdlib>
#include <cstring>

#include <string_view>

#include "records.h"
#include "wifi.h"

// Reply capacities of the per-network queries.
#define PRIORITY_CAPACITY 12
#define SCAN_SSID_CAPACITY 1

// The priority; 3 when the query failed, -1 when the reply is no number.
static int
network_priority(wpa_ctrl *ctrl, int id)
{
	char reply[PRIORITY_CAPACITY + 1], *end;
	size_t len = PRIORITY_CAPACITY;

	if (ctrl_query(ctrl, reply, &len, "GET_NETWORK %d priority", id) != 0)
		return 3;
	long long v = strtoll(reply, &end, 10);
	if (*end != '\0' || v < INT_MIN || v > INT_MAX)
		return -1;
	return static_cast<int>(v);
}

static bool
network_scan_ssid(wpa_ctrl *ctrl, int id)
{
	char reply[SCAN_SSID_CAPACITY + 1];
	size_t len = SCAN_SSID_CAPACITY;

	return ctrl_query(ctrl, reply, &len, "GET_NETWORK %d scan_ssid", id) ==
	    0 && reply[0] == '1';
}

static security_type
network_security(wpa_ctrl *ctrl, int id)
{
	char reply[REPLY_CAPACITY + 1];
	size_t len = REPLY_CAPACITY;

	if (ctrl_query(ctrl, reply, &len, "GET_NETWORK %d key_mgmt", id) != 0)
		return SECURITY_NA;
	return key_mgmt_security(reply);
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
static void
network_parse(wpa_ctrl *ctrl, char *line, known_network *net)
{
	char *f[4];
	size_t n = line_fields(line, f, 4);

	net->id = f[0][0] == '\0' ? -1 : field_int(f[0]);
	net->priority = network_priority(ctrl, net->id);
	net->scan_ssid = network_scan_ssid(ctrl, net->id);
	net->security = network_security(ctrl, net->id);
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
}

// 1 + 3n requests for n networks.  A failed query degrades its own field
// only.
known_networks *
known_networks_fetch(wpa_ctrl *ctrl)
{
	return record_fetch<known_network>(ctrl, "LIST_NETWORKS",
	    [ctrl](char *line, known_network *net) {
		network_parse(ctrl, line, net);
		return true;
	});
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
