// The world: access points with their signals and secrets, the BSS table
// that scans fill, and the seeded random numbers that make signals drift
// and faint access points come and go.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "simsupp.h"

using namespace std::literals;

struct ap_entry {
	const char *bssid;
	int freq;
	int signal;
	const char *flags;
	std::string_view ssid;    // may hold NUL bytes
	bool hidden;
	int presence;
	const char *psk;
	const char *identity;
	const char *password;
};

// The built-in world: 2.4 and 5 GHz; open, PSK, WPA/WPA2, SAE, transition
// mode, EAP, OWE, an OWE transition pair, WEP and a method the daemon does
// not know; hidden networks; SSIDs with double-width characters, with a
// quote and a backslash, with a control byte, with a byte that is not
// UTF-8, and one made of NUL bytes.
static constexpr ap_entry default_world[] = {
	{"02:00:00:00:01:01", 2437, -42, "[WPA2-PSK-CCMP][ESS]", "Home"sv,
	    false, 100, "correct horse", "", ""},
	{"02:00:00:00:01:02", 5180, -51, "[WPA2-PSK-CCMP][ESS]", "Home-5G"sv,
	    false, 100, "correct horse", "", ""},
	{"02:00:00:00:02:01", 5240, -58, "[WPA2-EAP-CCMP][ESS]", "CorpNet"sv,
	    false, 100, "", "alice", "wonderland"},
	{"02:00:00:00:02:02", 2412, -73, "[WPA2-EAP-CCMP][ESS]", "CorpNet"sv,
	    false, 100, "", "alice", "wonderland"},
	{"02:00:00:00:03:01", 2462, -66, "[ESS]", "CoffeeShop Free WiFi"sv,
	    false, 100, "", "", ""},
	{"02:00:00:00:03:02", 2412, -61, "[WPA2-PSK-CCMP][ESS]",
	    "\xe5\x92\x96\xe5\x95\xa1\xe5\xba\x97 Tea"sv, false, 100,
	    "kafeidian", "", ""},
	{"02:00:00:00:03:03", 5200, -75,
	    "[WPA-PSK-CCMP+TKIP][WPA2-PSK-CCMP+TKIP][ESS]",
	    "Stra\xc3\x9f" "e 12"sv, false, 100, "strasse12", "", ""},
	{"02:00:00:00:04:01", 2437, -79, "[WPA2-PSK-CCMP][WPS][ESS]",
	    "Linksys"sv, false, 100, "admin1234", "", ""},
	{"02:00:00:00:04:02", 5745, -57, "[WPA2-SAE-CCMP][ESS]", "Fortress"sv,
	    false, 100, "sae-secret", "", ""},
	{"02:00:00:00:04:03", 5500, -64, "[WPA2-PSK+SAE-CCMP][ESS]",
	    "Transition"sv, false, 100, "both-ways", "", ""},
	{"02:00:00:00:05:01", 2452, -60, "[WPA2-PSK-CCMP][ESS]", "Stealth"sv,
	    true, 100, "invisible", "", ""},
	{"02:00:00:00:05:02", 2427, -71, "[WPA2-PSK-CCMP][ESS]",
	    "\0\0\0\0\0\0"sv, false, 100, "nobody-knows", "", ""},
	{"02:00:00:00:06:01", 2442, -69, "[WPA2-PSK-CCMP][ESS]",
	    "Lab \"Guest\" \\ 2.4"sv, false, 100, "quoted-net", "", ""},
	{"02:00:00:00:06:02", 2472, -77, "[ESS]", "Tab\there\x01"sv, false,
	    100, "", "", ""},
	{"02:00:00:00:06:03", 5220, -72, "[WPA2-PSK-CCMP][ESS]",
	    "Caf\xe9 Latin-1"sv, false, 100, "latin-one", "", ""},
	{"02:00:00:00:07:01", 2412, -86, "[ESS]", "Airport_Free"sv, false, 50,
	    "", "", ""},
	{"02:00:00:00:07:02", 2437, -76, "[WPA2-PSK-CCMP][WPS][ESS][P2P]",
	    "DIRECT-5a-Printer"sv, false, 100, "printme123", "", ""},
	{"02:00:00:00:07:03", 5320, -68, "[ESS]", "Guest-5G"sv, false, 100,
	    "", "", ""},
	{"02:00:00:00:08:01", 2462, -80, "[WPA2-PSK-CCMP][ESS]", "Attic"sv,
	    true, 100, "up-the-ladder", "", ""},
	{"02:00:00:00:08:02", 5180, -81, "[WPA2-OWE-CCMP][ESS]", "Library"sv,
	    false, 100, "", "", ""},
	{"02:00:00:00:08:03", 2437, -82, "[ESS][OWE-TRANS-OPEN]", "Bistro"sv,
	    false, 100, "", "", ""},
	{"02:00:00:00:08:04", 2437, -83, "[WPA2-OWE-CCMP][ESS][OWE-TRANS]",
	    "Bistro-OWE"sv, true, 100, "", "", ""},
	{"02:00:00:00:08:05", 2412, -84, "[WEP][ESS]", "Oldtimer"sv, false, 100,
	    "", "", ""},
	{"02:00:00:00:08:06", 5200, -85, "[WPA2--CCMP][ESS]", "Mystery"sv,
	    false, 100, "", "", ""},
};

// splitmix64: small, fast and the same everywhere for a given seed.
static uint64_t
rng_next(sim &s)
{
	uint64_t z = (s.rng += 0x9e3779b97f4a7c15ULL);
	z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
	z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
	return z ^ (z >> 31);
}

static int
rng_below(sim &s, int n)
{
	return static_cast<int>(rng_next(s) % static_cast<uint64_t>(n));
}

void
world_default(sim &s)
{
	s.aps.clear();
	for (const auto &e : default_world) {
		sim_ap ap{};
		parse_mac(e.bssid, ap.bssid);
		ap.freq = e.freq;
		ap.base_signal = e.signal;
		ap.flags = e.flags;
		ap.ssid = e.ssid;
		ap.hidden = e.hidden;
		ap.presence = e.presence;
		ap.psk = e.psk;
		ap.identity = e.identity;
		ap.password = e.password;
		s.aps.push_back(std::move(ap));
	}
}

// One field of a world line: name=value, where the value is a word or a
// quoted text with the daemon's escapes (\" \\ \n \t \xNN ...).
static bool
world_field(std::string_view &line, std::string &name, std::string &value)
{
	size_t i = 0;

	while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
		i++;
	size_t start = i;
	while (i < line.size() && line[i] != '=' && line[i] != ' ' &&
	    line[i] != '\t')
		i++;
	name = line.substr(start, i - start);
	value.clear();
	if (i < line.size() && line[i] == '=') {
		i++;
		if (i < line.size() && line[i] == '"') {
			size_t q = i + 1;
			while (q < line.size() && line[q] != '"')
				q += line[q] == '\\' ? 2 : 1;
			if (q >= line.size())
				return false;
			if (!text_decode_value("P" + std::string(line.substr(i,
			    q - i + 1)), value, SIZE_MAX))
				return false;
			i = q + 1;
		} else {
			size_t vs = i;
			while (i < line.size() && line[i] != ' ' && line[i] != '\t')
				i++;
			value = line.substr(vs, i - vs);
		}
	} else {
		value = "1";
	}
	line.remove_prefix(i);
	return !name.empty();
}

static bool
world_line(std::string_view line, sim_ap &ap, std::string &why)
{
	std::string name, value;
	bool have_bssid = false, have_freq = false, have_ssid = false;
	long long v;

	ap = sim_ap{};
	ap.base_signal = -60;
	ap.flags = "[ESS]";
	ap.presence = 100;
	for (;;) {
		while (!line.empty() && (line[0] == ' ' || line[0] == '\t'))
			line.remove_prefix(1);
		if (line.empty())
			break;
		if (!world_field(line, name, value)) {
			why = "bad field";
			return false;
		}
		if (name == "bssid") {
			have_bssid = parse_mac(value, ap.bssid);
			if (!have_bssid)
				return why = "bad bssid", false;
		} else if (name == "freq") {
			if (!parse_int(value, 2400, 7200, &v))
				return why = "bad freq", false;
			ap.freq = static_cast<int>(v);
			have_freq = true;
		} else if (name == "signal") {
			if (!parse_int(value, -110, 0, &v))
				return why = "bad signal", false;
			ap.base_signal = static_cast<int>(v);
		} else if (name == "presence") {
			if (!parse_int(value, 0, 100, &v))
				return why = "bad presence", false;
			ap.presence = static_cast<int>(v);
		} else if (name == "flags") {
			if (value.empty() || !text_printable(value) ||
			    value.find(' ') != std::string::npos)
				return why = "bad flags", false;
			ap.flags = value;
		} else if (name == "ssid") {
			if (value.size() > SIM_SSID_MAX)
				return why = "ssid longer than 32 bytes", false;
			ap.ssid = value;
			have_ssid = true;
		} else if (name == "hidden") {
			ap.hidden = value == "1";
		} else if (name == "psk") {
			ap.psk = value;
		} else if (name == "identity") {
			ap.identity = value;
		} else if (name == "password") {
			ap.password = value;
		} else {
			return why = "unknown field " + name, false;
		}
	}
	if (!have_bssid || !have_freq || !have_ssid)
		return why = "bssid, freq and ssid are required", false;
	return true;
}

// A world file: one access point a line, fields as name=value; blank lines
// and lines that begin with "#" are skipped.
bool
world_load(sim &s, const char *path, std::string &err)
{
	FILE *f = fopen(path, "re");
	char *buf = nullptr;
	size_t cap = 0;
	ssize_t n;
	size_t lineno = 0;

	if (f == nullptr) {
		err = strprintf("%s: %s", path, strerror(errno));
		return false;
	}
	s.aps.clear();
	bool ok = true;
	while (ok && (n = getline(&buf, &cap, f)) != -1) {
		lineno++;
		std::string_view line(buf, static_cast<size_t>(n));
		while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
			line.remove_suffix(1);
		size_t first = line.find_first_not_of(" \t");
		if (first == std::string_view::npos || line[first] == '#')
			continue;
		sim_ap ap;
		std::string why;
		if (!world_line(line, ap, why)) {
			err = strprintf("%s:%zu: %s", path, lineno, why.c_str());
			ok = false;
		} else {
			s.aps.push_back(std::move(ap));
		}
	}
	free(buf);
	fclose(f);
	return ok;
}

// What the access point offers.  The open side of an OWE transition pair
// takes OWE too (the daemon goes on to the hidden side); WEP and a WPA or
// RSN block whose method the daemon does not know offer nothing a network
// block can ask for.
unsigned
ap_key_mgmt(const sim_ap &ap)
{
	unsigned km = 0;

	if (ap.flags.find("[WEP]") != std::string::npos)
		return KM_WEP;
	if (ap.flags.find("[OWE-TRANS-OPEN]") != std::string::npos)
		return KM_NONE | KM_OWE;
	if (ap.flags.find("PSK") != std::string::npos)
		km |= KM_PSK_ANY;
	if (ap.flags.find("EAP") != std::string::npos)
		km |= KM_EAP_ANY;
	if (ap.flags.find("SAE") != std::string::npos)
		km |= KM_SAE;
	if (ap.flags.find("OWE") != std::string::npos)
		km |= KM_OWE;
	if (km == 0 && (ap.flags.find("[WPA-") != std::string::npos ||
	    ap.flags.find("[WPA2-") != std::string::npos ||
	    ap.flags.find("[RSN-") != std::string::npos))
		return KM_WEP;
	return km != 0 ? km : KM_NONE;
}

// Whether the access point requires management frame protection: a WPA3
// only or OWE only one does, a transition network only offers it.
static bool
ap_pmf_required(const sim_ap &ap)
{
	unsigned km = ap_key_mgmt(ap);

	return (km & (KM_SAE | KM_OWE)) != 0 &&
	    (km & (KM_PSK_ANY | KM_EAP_ANY | KM_NONE)) == 0;
}

// The methods network `n` may use with the access point: those both name,
// without SAE and OWE when the network does not allow management frame
// protection (both need it), and none when the access point requires the
// protection and the network does not allow it.
unsigned
network_akm_usable(const sim_network &n, const sim_ap &ap)
{
	unsigned common = n.key_mgmt & ap_key_mgmt(ap);

	if (n.ieee80211w == 0) {
		if (ap_pmf_required(ap))
			return 0;
		common &= ~(KM_SAE | KM_OWE);
	}
	if (n.owe_only && (common & KM_OWE) == 0)
		return 0;
	return common;
}

bool
ap_listed(const sim_ap &ap)
{
	return ap.bss_id >= 0;
}

// The SSID the BSS table holds: a hidden access point's is empty until a
// directed probe learnt it.
std::string
ap_ssid(const sim_ap &ap)
{
	return ap.hidden && !ap.revealed ? std::string() : ap.ssid;
}

// Whether a scan probes for this SSID by name: an enabled network asks for
// it with scan_ssid=1.
static bool
ap_probed(const sim &s, const sim_ap &ap)
{
	for (const auto &n : s.networks)
		if (n.scan_ssid && n.disabled != 1 && n.ssid && *n.ssid == ap.ssid)
			return true;
	return false;
}

static void
ap_heard(sim &s, sim_ap &ap, bool announce)
{
	ap.missed = 0;
	ap.seen_ms = now_ms();
	if (ap.hidden && ap_probed(s, ap))
		ap.revealed = true;
	if (ap.bss_id < 0) {
		ap.bss_id = s.next_bss_id++;
		if (announce)
			event_send(s, "CTRL-EVENT-BSS-ADDED %d %s", ap.bss_id,
			    mac_text(ap.bssid).c_str());
	}
}

// The table as a daemon that has been running for a while has it: every
// access point that is always in range, and the faint ones by chance.  A
// daemon that has just started (--empty-bss) has heard nothing yet.
void
world_start(sim &s)
{
	for (auto &ap : s.aps) {
		ap.signal = ap.base_signal;
		ap.bss_id = -1;
		ap.heard = !s.opt.empty_bss && (ap.presence >= 100 ||
		    rng_below(s, 100) < ap.presence);
		if (ap.heard)
			ap_heard(s, ap, false);
	}
}

// The end of a scan: signals drift by up to 3 dB around their level, faint
// access points may go unheard, an entry missing from two scans in a row
// leaves the table.  The connected access point is always heard.
void
scan_finish(sim &s)
{
	for (size_t i = 0; i < s.aps.size(); i++) {
		sim_ap &ap = s.aps[i];
		ap.heard = ap.presence >= 100 || static_cast<int>(i) == s.cur_ap ||
		    rng_below(s, 100) < ap.presence;
		if (ap.heard) {
			ap.signal += rng_below(s, 7) - 3;
			if (ap.signal > ap.base_signal + 8)
				ap.signal = ap.base_signal + 8;
			if (ap.signal < ap.base_signal - 8)
				ap.signal = ap.base_signal - 8;
			ap_heard(s, ap, true);
		} else if (ap.bss_id >= 0 && ++ap.missed >= 2) {
			event_send(s, "CTRL-EVENT-BSS-REMOVED %d %s", ap.bss_id,
			    mac_text(ap.bssid).c_str());
			ap.bss_id = -1;
			ap.revealed = false;
		}
	}
}

// The strongest access point in the table that network `n` may use: same
// SSID, a key management in common, the credentials it needs, the BSSID and
// frequencies it is limited to.  -1 when there is none.
int
ap_find(sim &s, const sim_network &n, const std::vector<int> &freqs)
{
	int best = -1;

	if (!n.ssid)
		return -1;
	for (size_t i = 0; i < s.aps.size(); i++) {
		const sim_ap &ap = s.aps[i];
		if (!ap_listed(ap) || ap_ssid(ap) != *n.ssid ||
		    (!freqs.empty() && std::find(freqs.begin(), freqs.end(),
		    ap.freq) == freqs.end()) ||
		    (n.bssid && *n.bssid != mac_text(ap.bssid)))
			continue;
		unsigned common = network_akm_usable(n, ap);
		if (common == 0)
			continue;
		if ((common & (KM_NONE | KM_EAP_ANY | KM_OWE)) == 0 && !n.psk &&
		    !((common & KM_SAE) && n.sae_password))
			continue;
		if (best < 0 || ap.signal > s.aps[best].signal)
			best = static_cast<int>(i);
	}
	return best;
}
