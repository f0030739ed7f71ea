// The control requests: one table entry a command, matched the way the
// daemon matches it.  A handler returns false for the daemon's "FAIL"; an
// unknown command gets "UNKNOWN COMMAND".
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <err.h>

#include "simsupp.h"

enum match_kind {
	MATCH_EXACT,      // the name alone
	MATCH_ARGS,       // the name, a blank, arguments
	MATCH_OPT_ARGS,   // either of the above
	MATCH_PREFIX,     // anything that begins with the name
};

struct request_entry {
	const char *name;
	match_kind match;
	bool (*handle)(sim &s, std::string_view args, std::string &reply);
};

// Appends a line unless the reply would outgrow the daemon's buffer; lists
// are cut after the last line that fits, as the daemon cuts them.
static bool
reply_line(std::string &reply, const std::string &line)
{
	if (reply.size() + line.size() > SIM_REPLY_MAX - 1)
		return false;
	reply += line;
	return true;
}

static bool
network_id(std::string_view text, int *id)
{
	long long v;

	if (!parse_int(text, 0, INT_MAX, &v) || text.empty() || text[0] == ' ')
		return false;
	*id = static_cast<int>(v);
	return true;
}

static bool
req_ping(sim &, std::string_view, std::string &reply)
{
	reply = "PONG\n";
	return true;
}

static bool
req_status(sim &s, std::string_view, std::string &reply)
{
	status_text(s, reply);
	return true;
}

// LIST_NETWORKS [LAST_ID=n]: as the daemon pages it, the networks from the
// first one after the leading run of ids up to n.
static bool
req_list_networks(sim &s, std::string_view args, std::string &reply)
{
	size_t from = 0;
	long long last;

	if (args.substr(0, 8) == "LAST_ID=" && parse_int(args.substr(8),
	    INT_MIN, INT_MAX, &last) && last != -1)
		while (from < s.networks.size() && s.networks[from].id <= last)
			from++;
	reply = "network id / ssid / bssid / flags\n";
	for (size_t i = from; i < s.networks.size(); i++) {
		const sim_network &n = s.networks[i];
		std::string flags;
		if (n.id == s.cur_id)
			flags += "[CURRENT]";
		if (n.disabled == 1)
			flags += "[DISABLED]";
		if (n.disabled == 2)
			flags += "[P2P-PERSISTENT]";
		if (network_temp_disabled(s, n))
			flags += "[TEMP-DISABLED]";
		std::string line = strprintf("%d\t", n.id) +
		    text_encode(n.ssid ? *n.ssid : "") + "\t" +
		    (n.bssid ? *n.bssid : "any") + "\t" + flags + "\n";
		if (!reply_line(reply, line))
			break;
	}
	return true;
}

static bool
req_scan_results(sim &s, std::string_view, std::string &reply)
{
	std::vector<const sim_ap *> table;

	for (const auto &ap : s.aps)
		if (ap_listed(ap))
			table.push_back(&ap);
	std::sort(table.begin(), table.end(), [](auto *a, auto *b) {
		return a->bss_id < b->bss_id;
	});
	reply = "bssid / frequency / signal level / flags / ssid\n";
	for (const sim_ap *ap : table) {
		std::string line = mac_text(ap->bssid) +
		    strprintf("\t%d\t%d\t", ap->freq, ap->signal) + ap->flags + "\t" +
		    text_encode(ap_ssid(*ap)) + "\n";
		if (!reply_line(reply, line))
			break;
	}
	return true;
}

static bool
req_scan(sim &s, std::string_view, std::string &reply)
{
	reply = link_scan(s) ? "OK\n" : "FAIL-BUSY\n";
	return true;
}

// BSS <bssid | ID-n | NEXT-n | PREV-n | FIRST | LAST | index> [MASK=hex]:
// the fields the mask selects, in the daemon's order; an empty reply for an
// unknown entry (and past either end of the table).
static bool
req_bss(sim &s, std::string_view args, std::string &reply)
{
	std::string_view which = next_word(args);
	unsigned long mask = 0xffffffffUL;
	std::vector<const sim_ap *> table;
	const sim_ap *ap = nullptr;
	uint8_t mac[6];
	long long v;

	while (!args.empty()) {
		std::string_view w = next_word(args);
		if (w.substr(0, 5) == "MASK=") {
			std::string hex(w.substr(5));
			char *end;
			errno = 0;
			mask = strtoul(hex.c_str(), &end, 16);
			if (hex.empty() || *end != '\0' || errno != 0)
				return true;
		}
	}
	for (const auto &a : s.aps)
		if (ap_listed(a))
			table.push_back(&a);
	std::sort(table.begin(), table.end(), [](auto *a, auto *b) {
		return a->bss_id < b->bss_id;
	});
	if (parse_mac(which, mac)) {
		for (const sim_ap *a : table)
			if (memcmp(a->bssid, mac, 6) == 0)
				ap = a;
	} else if (which.substr(0, 3) == "ID-" &&
	    parse_int(which.substr(3), 0, INT_MAX, &v)) {
		for (const sim_ap *a : table)
			if (a->bss_id == v)
				ap = a;
	} else if ((which.substr(0, 5) == "NEXT-" || which.substr(0, 5) ==
	    "PREV-") && parse_int(which.substr(5), 0, INT_MAX, &v)) {
		bool next = which[0] == 'N';
		for (size_t i = 0; i < table.size(); i++)
			if (table[i]->bss_id == v) {
				if (next && i + 1 < table.size())
					ap = table[i + 1];
				else if (!next && i > 0)
					ap = table[i - 1];
			}
	} else if (which == "FIRST" && !table.empty()) {
		ap = table.front();
	} else if (which == "LAST" && !table.empty()) {
		ap = table.back();
	} else if (parse_int(which, 0, INT_MAX, &v) &&
	    static_cast<size_t>(v) < table.size()) {
		ap = table[static_cast<size_t>(v)];
	}
	if (ap == nullptr)
		return true;

	bool secured = ap_key_mgmt(*ap) != KM_NONE;
	std::string ssid = ap_ssid(*ap);
	int chan = ap->freq >= 5000 ? (ap->freq - 5000) / 5 : (ap->freq - 2407) / 5;
	if (mask & (1u << 0))
		reply += strprintf("id=%d\n", ap->bss_id);
	if (mask & (1u << 1))
		reply += "bssid=" + mac_text(ap->bssid) + "\n";
	if (mask & (1u << 2))
		reply += strprintf("freq=%d\n", ap->freq);
	if (mask & (1u << 3))
		reply += "beacon_int=100\n";
	if (mask & (1u << 4))
		reply += strprintf("capabilities=0x%04x\n", secured ? 0x0411 : 0x0401);
	if (mask & (1u << 5))
		reply += "qual=0\n";
	if (mask & (1u << 6))
		reply += "noise=-89\n";
	if (mask & (1u << 7))
		reply += strprintf("level=%d\n", ap->signal);
	if (mask & (1u << 8))
		reply += strprintf("tsf=%016lld\n", ap->seen_ms * 1000LL);
	if (mask & (1u << 9))
		reply += strprintf("age=%lld\n",
		    static_cast<long long>((now_ms() - ap->seen_ms) / 1000));
	if (mask & (1u << 10)) {
		reply += strprintf("ie=00%02zx", ssid.size());
		for (unsigned char c : ssid)
			reply += strprintf("%02x", c);
		reply += strprintf("0301%02x\n", chan & 0xff);
	}
	if (mask & (1u << 11))
		reply += "flags=" + ap->flags + "\n";
	if (mask & (1u << 12))
		reply += "ssid=" + text_encode(ssid) + "\n";
	return true;
}

static bool
same_addr(const sim_client &c, const struct sockaddr_un &a, socklen_t len)
{
	return c.len == len && memcmp(&c.addr, &a, len) == 0;
}

static bool
req_attach(sim &s, std::string_view, std::string &)
{
	if (s.from_len <= offsetof(struct sockaddr_un, sun_path) ||
	    s.from_len > sizeof(s.from))
		return false;
	for (const auto &c : s.clients)
		if (same_addr(c, s.from, s.from_len))
			return true;
	if (s.clients.size() >= SIM_CLIENTS_MAX)
		return false;
	sim_client c{};
	memcpy(&c.addr, &s.from, s.from_len);
	c.len = s.from_len;
	s.clients.push_back(c);
	return true;
}

static bool
req_detach(sim &s, std::string_view, std::string &)
{
	for (size_t i = 0; i < s.clients.size(); i++)
		if (same_addr(s.clients[i], s.from, s.from_len)) {
			s.clients.erase(s.clients.begin() +
			    static_cast<ptrdiff_t>(i));
			return true;
		}
	return false;
}

static bool
req_level(sim &, std::string_view args, std::string &)
{
	long long v;

	return parse_int(args, INT_MIN, INT_MAX, &v);
}

static bool
req_get_network(sim &s, std::string_view args, std::string &reply)
{
	int id;

	if (!network_id(next_word(args), &id))
		return false;
	sim_network *n = network_find(s, id);
	if (n == nullptr)
		return false;
	auto v = network_field_get(*n, args);
	if (!v)
		return false;
	reply = *v;
	return true;
}

static bool
req_set_network(sim &s, std::string_view args, std::string &)
{
	int id;

	if (!network_id(next_word(args), &id))
		return false;
	sim_network *n = network_find(s, id);
	if (n == nullptr || args.find(' ') == std::string_view::npos)
		return false;
	std::string_view name = next_word(args);
	// A build without SAE and OWE does not know their names.
	if (s.opt.no_wpa3 && name == "key_mgmt") {
		std::string_view words = args;
		while (!words.empty()) {
			std::string_view w = next_word(words);
			if (w == "SAE" || w == "OWE")
				return false;
		}
	}
	return network_field_set(*n, name, args);
}

static bool
req_add_network(sim &s, std::string_view, std::string &reply)
{
	int id = 0;

	if (s.networks.size() >= SIM_NETWORKS_MAX)
		return false;
	for (const auto &n : s.networks)
		if (n.id >= id)
			id = n.id + 1;
	sim_network n = network_new(id);
	n.disabled = 1;
	s.networks.push_back(std::move(n));
	event_send_now(s, "CTRL-EVENT-NETWORK-ADDED %d", id);
	reply = strprintf("%d\n", id);
	return true;
}

// "all" or one existing id; applies `fn` to each network meant.
template <typename F>
static bool
for_networks(sim &s, std::string_view arg, F fn)
{
	int id;

	if (arg == "all") {
		for (size_t i = 0; i < s.networks.size(); i++)
			if (!fn(s.networks[i].id))
				return false;
		return true;
	}
	if (!network_id(arg, &id) || network_find(s, id) == nullptr)
		return false;
	return fn(id);
}

static void
network_leave(sim &s, int id)
{
	if (s.cur_id == id)
		link_drop(s, 3, true);
	if (s.select_id == id) {
		s.select_id = -1;
		s.connect_after_scan = false;
	}
}

static bool
req_remove_network(sim &s, std::string_view args, std::string &)
{
	std::vector<int> ids;

	if (!for_networks(s, args, [&](int id) {
		ids.push_back(id);
		return true;
	}))
		return false;
	for (int id : ids) {
		network_leave(s, id);
		std::erase_if(s.networks, [id](const sim_network &n) {
			return n.id == id;
		});
		event_send_now(s, "CTRL-EVENT-NETWORK-REMOVED %d", id);
	}
	return true;
}

// With no network in use and no DISCONNECT standing, the daemon looks for
// one to connect to.
static void
autoconnect(sim &s)
{
	if (s.cur_id >= 0 || s.disconnected || s.state >= WPA_ASSOCIATING)
		return;
	s.select_id = -1;
	s.select_freqs.clear();
	s.connect_after_scan = true;
	link_scan(s);
}

static bool
req_enable_network(sim &s, std::string_view args, std::string &)
{
	if (!for_networks(s, args, [&](int id) {
		sim_network *n = network_find(s, id);
		if (n->disabled == 1)
			n->disabled = 0;
		n->disabled_until = 0;
		return true;
	}))
		return false;
	autoconnect(s);
	return true;
}

static bool
req_disable_network(sim &s, std::string_view args, std::string &)
{
	return for_networks(s, args, [&](int id) {
		sim_network *n = network_find(s, id);
		if (n->disabled == 2)
			return false;
		n->disabled = 1;
		network_leave(s, id);
		return true;
	});
}

// SELECT_NETWORK <id | any> [freq=f1,f2,...]: enables the network, disables
// every other one (selecting "any" enables them all) and connects.
static bool
req_select_network(sim &s, std::string_view args, std::string &)
{
	std::string_view which = next_word(args);
	std::vector<int> freqs;
	int id = -1;
	long long v;

	if (which != "any" && (!network_id(which, &id) ||
	    network_find(s, id) == nullptr))
		return false;
	while (!args.empty()) {
		std::string_view w = next_word(args);
		if (w.substr(0, 5) != "freq=")
			continue;
		w.remove_prefix(5);
		while (!w.empty()) {
			size_t comma = w.find(',');
			if (!parse_int(w.substr(0, comma), 1, 100000, &v))
				return false;
			freqs.push_back(static_cast<int>(v));
			w = comma == std::string_view::npos ? std::string_view() :
			    w.substr(comma + 1);
		}
	}
	s.disconnected = false;
	if (id < 0) {
		for (auto &n : s.networks)
			if (n.disabled == 1)
				n.disabled = 0;
		if (s.state < WPA_ASSOCIATING)
			autoconnect(s);
		return true;
	}
	for (auto &n : s.networks) {
		if (n.id == id) {
			n.disabled = 0;
			n.auth_failures = 0;
			n.disabled_until = 0;
		} else if (n.disabled != 2) {
			n.disabled = 1;
		}
	}
	if (s.cur_id == id && s.state >= WPA_ASSOCIATING)
		return true;
	link_drop(s, 3, true);
	s.cur_id = id;
	s.select_id = id;
	s.select_freqs = freqs;
	int ap = ap_find(s, *network_find(s, id), freqs);
	if (ap >= 0) {
		s.connect_after_scan = false;
		link_connect(s, id, ap);
	} else {
		s.connect_after_scan = true;
		link_scan(s);
	}
	return true;
}

static bool
req_set(sim &s, std::string_view args, std::string &)
{
	std::string_view name = next_word(args);
	long long v;

	if (name == "sae_pwe" && !s.opt.no_wpa3) {
		if (!parse_int(args, 0, 3, &v))
			return false;
		// Kept among the global lines, which the next save writes.
		auto g = std::find_if(s.globals.begin(), s.globals.end(),
		    [](const std::string &l) { return l.starts_with("sae_pwe="); });
		std::string line = strprintf("sae_pwe=%lld", v);
		if (g == s.globals.end())
			s.globals.push_back(line);
		else
			*g = line;
		return true;
	}
	if (name != "passive_scan" && name != "update_config")
		return false;
	if (!parse_int(args, INT_MIN, INT_MAX, &v))
		return false;
	(name == "passive_scan" ? s.passive_scan : s.update_config) =
	    static_cast<int>(v);
	return true;
}

static bool
req_save_config(sim &s, std::string_view, std::string &)
{
	std::string why;

	if (s.opt.config_path == nullptr || !s.update_config)
		return false;
	if (!config_write(s, why)) {
		warnx("%s", why.c_str());
		return false;
	}
	return true;
}

static bool
req_disconnect(sim &s, std::string_view, std::string &)
{
	s.disconnected = true;
	s.connect_after_scan = false;
	link_drop(s, 3, true);
	return true;
}

static bool
req_reconnect(sim &s, std::string_view, std::string &)
{
	if (s.disconnected) {
		s.disconnected = false;
		autoconnect(s);
	}
	return true;
}

// The key management methods this build and its driver offer, in the
// words of the daemon on mac80211_hwsim (no newline at the end); a build
// without SAE and OWE leaves out both, and DPP, which needs them.
static bool
req_get_capability(sim &s, std::string_view args, std::string &reply)
{
	if (args != "key_mgmt")
		return false;
	reply = "NONE IEEE8021X WPA-EAP WPA-PSK WPA-EAP-SUITE-B "
	    "WPA-EAP-SUITE-B-192";
	if (!s.opt.no_wpa3)
		reply += " OWE DPP";
	reply += " FILS-SHA256 FILS-SHA384 FT-FILS-SHA256 FT-FILS-SHA384 FT-PSK "
	    "FT-EAP";
	if (!s.opt.no_wpa3)
		reply += " SAE";
	return true;
}

static bool
req_terminate(sim &s, std::string_view, std::string &)
{
	s.stop = true;
	return true;
}

static constexpr request_entry requests[] = {
	{"PING", MATCH_EXACT, req_ping},
	{"STATUS", MATCH_PREFIX, req_status},
	{"LIST_NETWORKS", MATCH_PREFIX, req_list_networks},
	{"SCAN_RESULTS", MATCH_EXACT, req_scan_results},
	{"SCAN", MATCH_OPT_ARGS, req_scan},
	{"BSS", MATCH_ARGS, req_bss},
	{"ATTACH", MATCH_EXACT, req_attach},
	{"DETACH", MATCH_EXACT, req_detach},
	{"LEVEL", MATCH_ARGS, req_level},
	{"GET_NETWORK", MATCH_ARGS, req_get_network},
	{"SET_NETWORK", MATCH_ARGS, req_set_network},
	{"ADD_NETWORK", MATCH_EXACT, req_add_network},
	{"REMOVE_NETWORK", MATCH_ARGS, req_remove_network},
	{"ENABLE_NETWORK", MATCH_ARGS, req_enable_network},
	{"DISABLE_NETWORK", MATCH_ARGS, req_disable_network},
	{"SELECT_NETWORK", MATCH_ARGS, req_select_network},
	{"SET", MATCH_ARGS, req_set},
	{"GET_CAPABILITY", MATCH_ARGS, req_get_capability},
	{"SAVE_CONFIG", MATCH_EXACT, req_save_config},
	{"DISCONNECT", MATCH_EXACT, req_disconnect},
	{"RECONNECT", MATCH_EXACT, req_reconnect},
	{"TERMINATE", MATCH_EXACT, req_terminate},
};

// Answers one request; the reply is always set.
bool
request_handle(sim &s, std::string_view req, std::string &reply)
{
	for (const auto &e : requests) {
		std::string_view name = e.name;
		if (req.substr(0, name.size()) != name)
			continue;
		std::string_view rest = req.substr(name.size());
		bool exact = rest.empty(), args = !rest.empty() && rest[0] == ' ';
		bool hit = e.match == MATCH_PREFIX ||
		    (e.match == MATCH_EXACT && exact) ||
		    (e.match == MATCH_ARGS && args) ||
		    (e.match == MATCH_OPT_ARGS && (exact || args));
		if (!hit)
			continue;
		reply.clear();
		if (!e.handle(s, args ? rest.substr(1) : rest, reply))
			reply = "FAIL\n";
		else if (reply.empty() && e.handle != req_bss)
			reply = "OK\n";   // BSS alone answers an unknown entry empty
		return true;
	}
	reply = "UNKNOWN COMMAND\n";
	return true;
}
