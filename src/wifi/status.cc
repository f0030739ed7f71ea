// The link status: STATUS, and the frequency of the access point from BSS.

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "records.h"
#include "wifi.h"

// The reply to "BSS <bssid> MASK=4": "freq=" and a number, and a newline.
#define BSS_CAPACITY 18

void
supplicant_status_free(supplicant_status *status)
{
	if (status == nullptr)
		return;
	free(status->wpa_state);
	free(status->bssid);
	free(status->ssid);
	free(status->ip_address);
	free(status);
}

// The field that a STATUS key fills, or nullptr for a key not kept.
static char **
status_field(supplicant_status *status, std::string_view key)
{
	if (key == "bssid")
		return &status->bssid;
	if (key == "ssid")
		return &status->ssid;
	if (key == "ip_address")
		return &status->ip_address;
	if (key == "wpa_state")
		return &status->wpa_state;
	return nullptr;
}

// The frequency of the access point `bssid`, or 0 when the supplicant does
// not name one.
static int
bss_freq(wpa_ctrl *ctrl, const char *bssid)
{
	char reply[BSS_CAPACITY + 1];
	size_t len = BSS_CAPACITY;

	if (ctrl_query(ctrl, reply, &len, "BSS %s MASK=%x", bssid, 4) != 0) {
		char text[64];
		wifi_warnx("failed to fetch frequency for %s",
		    warn_text(bssid, text, sizeof text));
		return 0;
	}
	std::string_view v(reply, len);
	int freq = 0;
	if (!v.starts_with("freq="))
		return 0;
	auto digits = v.substr(5);
	if (std::from_chars(digits.data(), digits.data() + digits.size(),
	    freq).ec != std::errc())
		return 0;
	return freq;
}

supplicant_status *
supplicant_status_fetch(wpa_ctrl *ctrl)
{
	char buf[REPLY_CAPACITY + 1];
	size_t len = REPLY_CAPACITY;
	supplicant_status *status;
	char *line;

	if (ctrl_transact(ctrl, "STATUS", 6, buf, &len) == -1) {
		wifi_warnx("failed to request wpa_supplicant status");
		return nullptr;
	}
	buf[len] = '\0';
	status = static_cast<supplicant_status *>(calloc(1, sizeof *status));
	if (status == nullptr)
		return nullptr;

	// The key is the text before the first "=", the value all of the rest:
	// an SSID may hold "=" itself.  A line with an empty key or value
	// leaves the field as it was.
	reply_reader rd = reply_begin(buf, len, REPLY_CAPACITY);
	while ((line = reply_line(&rd)) != nullptr) {
		char *eq = strchr(line, '=');
		if (eq == nullptr || eq == line || eq[1] == '\0')
			continue;
		char **field = status_field(status,
		    std::string_view(line, static_cast<size_t>(eq - line)));
		if (field == nullptr)
			continue;
		char *value = strdup(eq + 1);
		if (value == nullptr) {
			supplicant_status_free(status);
			return nullptr;
		}
		free(*field);
		*field = value;
	}

	status->freq = 0;
	if (status->bssid != nullptr)
		status->freq = bss_freq(ctrl, status->bssid);
	if (status->ssid != nullptr)
		ssid_unescape(status->ssid, strlen(status->ssid));
	return status;
}
