// What a network's security is, read from the flags of a scan result or from
// the key management list of a stored network, and its name on the screen.
#include <cstring>

#include <iterator>
#include <string_view>

#include "records.h"
#include "wifi.h"

static constexpr const char *security_names[] = {
	"Open", "EAP", "PSK", "N/A", "SAE", "OWE", "WEP",
};

const char *
security_text(security_type s)
{
	auto i = static_cast<size_t>(s);

	return security_names[i < std::size(security_names) ? i : 3];
}

// A WPA or RSN block whose key management part is empty, "[WPA2--CCMP]":
// the daemon prints that for a method it does not know.
static bool
flags_unknown_akm(std::string_view flags)
{
	for (std::string_view block : { "[WPA--", "[WPA2--", "[RSN--" })
		if (flags.find(block) != flags.npos)
			return true;
	return false;
}

// The tests go in this order: a transition network ("[WPA2-PSK+SAE-CCMP]")
// is PSK, and so is one that offers PSK and EAP; the open side of an OWE
// transition pair ("[OWE-TRANS-OPEN]") is OWE.
security_type
scan_flags_security(const char *flags)
{
	std::string_view f(flags);

	if (f.find("PSK") != f.npos)
		return SECURITY_PSK;
	if (f.find("EAP") != f.npos)
		return SECURITY_EAP;
	if (f.find("SAE") != f.npos)
		return SECURITY_SAE;
	if (f.find("OWE") != f.npos)
		return SECURITY_OWE;
	if (f.find("[WEP]") != f.npos)
		return SECURITY_WEP;
	if (flags_unknown_akm(f))
		return SECURITY_NA;
	return SECURITY_OPEN;
}

// A key management list naming a PSK method counts as PSK even when it also
// names an EAP method, as the supplicant's default "WPA-PSK WPA-EAP" does,
// or SAE, as a transition network's "WPA-PSK SAE" does.
security_type
key_mgmt_security(const char *key_mgmt)
{
	if (strstr(key_mgmt, "PSK") != nullptr)
		return SECURITY_PSK;
	if (strstr(key_mgmt, "EAP") != nullptr)
		return SECURITY_EAP;
	if (strstr(key_mgmt, "SAE") != nullptr)
		return SECURITY_SAE;
	if (strstr(key_mgmt, "OWE") != nullptr)
		return SECURITY_OWE;
	if (strstr(key_mgmt, "NONE") != nullptr)
		return SECURITY_OPEN;
	return SECURITY_NA;
}
