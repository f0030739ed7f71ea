// Stored networks: their fields as SET_NETWORK and GET_NETWORK see them, and
// the configuration file they are read from and saved to.
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "simsupp.h"

struct name_bit {
	const char *name;
	unsigned bit;
};

static constexpr name_bit key_mgmt_names[] = {
	{"WPA-PSK", KM_WPA_PSK},
	{"WPA-EAP", KM_WPA_EAP},
	{"IEEE8021X", KM_IEEE8021X},
	{"NONE", KM_NONE},
	{"WPA-PSK-SHA256", KM_WPA_PSK_SHA256},
	{"WPA-EAP-SHA256", KM_WPA_EAP_SHA256},
	{"SAE", KM_SAE},
	{"OWE", KM_OWE},
};

static constexpr const char *eap_names[] = {
	"MD5", "MSCHAPV2", "OTP", "GTC", "TLS", "PEAP", "TTLS", "FAST",
	"LEAP", "PSK", "PAX", "SAKE", "GPSK", "IKEV2", "PWD", "EKE", "TEAP",
	"SIM", "AKA", "AKA'",
};

// The fields this simulator understands; the file may hold others.
static constexpr const char *field_names[] = {
	"ssid", "psk", "key_mgmt", "eap", "identity", "password",
	"sae_password", "id_str", "bssid", "priority", "scan_ssid", "disabled",
	"ieee80211w", "owe_only",
};

// Longest identity or password taken.
static constexpr size_t CREDENTIAL_MAX = 256;

sim_network
network_new(int id)
{
	sim_network n{};
	n.id = id;
	n.key_mgmt = KM_DEFAULT;
	return n;
}

static bool
key_mgmt_parse(std::string_view v, unsigned *out)
{
	unsigned bits = 0;

	while (!v.empty()) {
		std::string_view w = next_word(v);
		if (w.empty())
			continue;
		unsigned bit = 0;
		for (const auto &k : key_mgmt_names)
			if (w == k.name)
				bit = k.bit;
		if (bit == 0)
			return false;
		bits |= bit;
	}
	if (bits == 0)
		return false;
	*out = bits;
	return true;
}

static std::string
key_mgmt_text(unsigned bits)
{
	std::string out;

	for (const auto &k : key_mgmt_names) {
		if ((bits & k.bit) == 0)
			continue;
		if (!out.empty())
			out += ' ';
		out += k.name;
	}
	return out;
}

static bool
eap_parse(std::string_view v, std::string &out)
{
	out.clear();
	while (!v.empty()) {
		std::string_view w = next_word(v);
		if (w.empty())
			continue;
		bool known = false;
		for (const char *e : eap_names)
			known |= w == e;
		if (!known)
			return false;
		if (!out.empty())
			out += ' ';
		out += w;
	}
	return !out.empty();
}

// A passphrase of 8 to 63 printable ASCII characters in quotes, or a
// 256-bit key as 64 hex digits.
static bool
psk_parse(std::string_view v, sim_network &n)
{
	if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
		std::string_view p = v.substr(1, v.size() - 2);
		if (p.size() < 8 || p.size() > 63 || !text_printable(p))
			return false;
		n.psk = std::string(p);
		n.psk_hex = false;
		return true;
	}
	if (v.size() != 64)
		return false;
	for (char c : v)
		if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
		    (c >= 'A' && c <= 'F')))
			return false;
	n.psk = std::string(v);
	n.psk_hex = true;
	return true;
}

static bool
int_field(std::string_view v, long long min, long long max, int *out)
{
	long long x;

	if (!parse_int(v, min, max, &x))
		return false;
	*out = static_cast<int>(x);
	return true;
}

static bool
string_field(std::string_view v, size_t max, std::optional<std::string> &out)
{
	std::string s;

	if (!text_decode_value(v, s, max))
		return false;
	out = std::move(s);
	return true;
}

// Sets one field from its text; false (and nothing changed) when the name is
// unknown or the value does not parse.
bool
network_field_set(sim_network &n, std::string_view name, std::string_view v)
{
	if (name == "ssid")
		return string_field(v, SIM_SSID_MAX, n.ssid);
	if (name == "psk")
		return psk_parse(v, n);
	if (name == "key_mgmt")
		return key_mgmt_parse(v, &n.key_mgmt);
	if (name == "eap") {
		std::string e;
		if (!eap_parse(v, e))
			return false;
		n.eap = std::move(e);
		return true;
	}
	if (name == "identity")
		return string_field(v, CREDENTIAL_MAX, n.identity);
	if (name == "password")
		return string_field(v, CREDENTIAL_MAX, n.password);
	if (name == "sae_password")
		return string_field(v, CREDENTIAL_MAX, n.sae_password);
	if (name == "id_str")
		return string_field(v, CREDENTIAL_MAX, n.id_str);
	if (name == "bssid") {
		uint8_t mac[6];
		if (v == "any") {
			n.bssid.reset();
			return true;
		}
		if (!parse_mac(v, mac))
			return false;
		n.bssid = mac_text(mac);
		return true;
	}
	if (name == "priority")
		return int_field(v, INT_MIN, INT_MAX, &n.priority);
	if (name == "scan_ssid")
		return int_field(v, 0, 1, &n.scan_ssid);
	if (name == "disabled")
		return int_field(v, 0, 2, &n.disabled);
	if (name == "ieee80211w")
		return int_field(v, 0, 2, &n.ieee80211w);
	if (name == "owe_only")
		return int_field(v, 0, 1, &n.owe_only);
	return false;
}

// A field as GET_NETWORK shows it; nothing for an unknown or unset field.
// Secrets show as "*".
std::optional<std::string>
network_field_get(const sim_network &n, std::string_view name)
{
	auto shown = [](const std::optional<std::string> &t) {
		return t ? std::optional<std::string>(text_value(*t)) :
		    std::nullopt;
	};

	if (name == "ssid")
		return shown(n.ssid);
	if (name == "psk" || name == "password" || name == "sae_password") {
		const auto &t = name == "psk" ? n.psk :
		    name == "password" ? n.password : n.sae_password;
		return t ? std::optional<std::string>("*") : std::nullopt;
	}
	if (name == "key_mgmt")
		return key_mgmt_text(n.key_mgmt);
	if (name == "eap")
		return n.eap;
	if (name == "identity")
		return shown(n.identity);
	if (name == "id_str")
		return shown(n.id_str);
	if (name == "bssid")
		return n.bssid;
	if (name == "priority")
		return std::to_string(n.priority);
	if (name == "scan_ssid")
		return std::to_string(n.scan_ssid);
	if (name == "disabled")
		return std::to_string(n.disabled);
	if (name == "ieee80211w")
		return std::to_string(n.ieee80211w);
	if (name == "owe_only")
		return std::to_string(n.owe_only);
	return std::nullopt;
}

static std::string_view
trim(std::string_view t)
{
	while (!t.empty() && (t.front() == ' ' || t.front() == '\t'))
		t.remove_prefix(1);
	while (!t.empty() && (t.back() == ' ' || t.back() == '\t' ||
	    t.back() == '\r'))
		t.remove_suffix(1);
	return t;
}

static bool
starts_with(std::string_view t, std::string_view p)
{
	return t.substr(0, p.size()) == p;
}

static bool
read_file(const char *path, std::string &out)
{
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	char buf[8192];
	ssize_t n;

	if (fd == -1)
		return false;
	out.clear();
	while ((n = read(fd, buf, sizeof(buf))) > 0)
		out.append(buf, static_cast<size_t>(n));
	int e = errno;
	close(fd);
	errno = e;
	return n == 0;
}

// Reads the global settings and the network blocks.  Lines that are not
// understood are kept as they stand and written back on save; a known field
// with a bad value is an error, as it is for the daemon.
bool
config_load(sim &s, const char *path, std::string &err)
{
	std::string data;
	sim_network *cur = nullptr;
	size_t lineno = 0;

	if (!read_file(path, data)) {
		err = strprintf("%s: %s", path, strerror(errno));
		return false;
	}
	s.networks.clear();
	s.globals.clear();
	std::string_view rest = data;
	while (!rest.empty()) {
		size_t nl = rest.find('\n');
		std::string_view raw = rest.substr(0, nl);
		rest = nl == std::string_view::npos ? std::string_view() :
		    rest.substr(nl + 1);
		lineno++;
		std::string_view line = trim(raw);
		auto fail = [&](const char *what) {
			err = strprintf("%s:%zu: %s", path, lineno, what);
			return false;
		};
		if (cur == nullptr) {
			if (line == "network={") {
				if (s.networks.size() >= SIM_NETWORKS_MAX)
					return fail("too many networks");
				s.networks.push_back(network_new(
				    static_cast<int>(s.networks.size())));
				cur = &s.networks.back();
				continue;
			}
			if (line.empty())
				continue;
			long long v;
			if (starts_with(line, "update_config=") ||
			    starts_with(line, "passive_scan=")) {
				size_t eq = line.find('=');
				if (!parse_int(line.substr(eq + 1), INT_MIN, INT_MAX, &v))
					return fail("invalid number");
				(line[0] == 'u' ? s.update_config : s.passive_scan) =
				    static_cast<int>(v);
			}
			s.globals.emplace_back(line);
			continue;
		}
		if (line == "}") {
			cur = nullptr;
			continue;
		}
		if (line.empty() || line[0] == '#')
			continue;
		size_t eq = line.find('=');
		if (eq == std::string_view::npos || eq == 0)
			return fail("expected name=value");
		std::string_view name = line.substr(0, eq);
		bool known = false;
		for (const char *f : field_names)
			known |= name == f;
		if (known) {
			if (!network_field_set(*cur, name, line.substr(eq + 1)))
				return fail("invalid value");
		} else {
			cur->extra.emplace_back(line);
		}
	}
	if (cur != nullptr) {
		lineno++;
		err = strprintf("%s:%zu: network block not closed", path, lineno);
		return false;
	}
	return true;
}

static void
network_write(const sim_network &n, std::string &out)
{
	auto line = [&](const char *name, const std::string &v) {
		out += strprintf("\t%s=", name) + v + "\n";
	};

	out += "\nnetwork={\n";
	if (n.ssid)
		line("ssid", text_value(*n.ssid));
	if (n.scan_ssid)
		line("scan_ssid", std::to_string(n.scan_ssid));
	if (n.bssid)
		line("bssid", *n.bssid);
	if (n.psk)
		line("psk", n.psk_hex ? *n.psk : "\"" + *n.psk + "\"");
	if (n.key_mgmt != KM_DEFAULT)
		line("key_mgmt", key_mgmt_text(n.key_mgmt));
	if (n.eap)
		line("eap", *n.eap);
	if (n.identity)
		line("identity", text_value(*n.identity));
	if (n.password)
		line("password", text_value(*n.password));
	if (n.sae_password)
		line("sae_password", text_value(*n.sae_password));
	if (n.ieee80211w)
		line("ieee80211w", std::to_string(n.ieee80211w));
	if (n.owe_only)
		line("owe_only", std::to_string(n.owe_only));
	if (n.id_str)
		line("id_str", text_value(*n.id_str));
	if (n.priority)
		line("priority", std::to_string(n.priority));
	if (n.disabled)
		line("disabled", std::to_string(n.disabled));
	for (const auto &e : n.extra)
		out += "\t" + e + "\n";
	out += "}\n";
}

// Writes the file the way the daemon does: the global settings, then one
// block per network, each after a blank line.  The new contents go to a
// temporary file that replaces the old one only once it is complete.
bool
config_write(sim &s, std::string &err)
{
	std::string out;
	bool have_update = false, have_passive = false;

	for (const auto &g : s.globals) {
		if (starts_with(g, "update_config=")) {
			out += strprintf("update_config=%d\n", s.update_config);
			have_update = true;
		} else if (starts_with(g, "passive_scan=")) {
			out += strprintf("passive_scan=%d\n", s.passive_scan);
			have_passive = true;
		} else {
			out += g + "\n";
		}
	}
	if (!have_update && s.update_config)
		out += strprintf("update_config=%d\n", s.update_config);
	if (!have_passive && s.passive_scan)
		out += strprintf("passive_scan=%d\n", s.passive_scan);
	for (const auto &n : s.networks)
		network_write(n, out);

	std::string tmp = std::string(s.opt.config_path) + ".tmp";
	struct stat st;
	mode_t mode = stat(s.opt.config_path, &st) == 0 ?
	    (st.st_mode & 07777) : 0600;
	int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
	    mode);
	if (fd == -1) {
		err = tmp + ": " + strerror(errno);
		return false;
	}
	size_t off = 0;
	while (off < out.size()) {
		ssize_t n = write(fd, out.data() + off, out.size() - off);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			break;
		off += static_cast<size_t>(n);
	}
	int e = errno;
	bool ok = off == out.size() && fsync(fd) == 0;
	if (!ok && off == out.size())
		e = errno;
	close(fd);
	if (ok && rename(tmp.c_str(), s.opt.config_path) == 0)
		return true;
	if (ok)
		e = errno;
	unlink(tmp.c_str());
	err = std::string(s.opt.config_path) + ": " + strerror(e);
	return false;
}
