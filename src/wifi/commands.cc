// The commands that change the supplicant.  Each begins as a fetch does:
// a daemon found unresponsive by an earlier one is asked again.  Each request under the OK check
// goes through ctrl_command, which reports a failure reply itself; the
// messages here come on top of that.

#include <cstdio>
#include <cstring>

#include <initializer_list>
#include <string_view>

#include "records.h"
#include "wifi.h"

// Replies are read with room for "OK" and its newline, an id with room for
// "2147483647" and its newline.
#define OK_CAPACITY 3
#define ID_CAPACITY 12

// Sets the in/out length of a reply buffer back to its capacity.
static size_t *
ok_len(size_t *len)
{
	*len = OK_CAPACITY;
	return len;
}

// Sets each of `settings` ("key_mgmt OWE") on network `id`, in order; the
// first failure ends it and leaves the earlier ones in place.
static int
network_set(wpa_ctrl *ctrl, int id, std::initializer_list<const char *> settings)
{
	char reply[OK_CAPACITY + 1];
	size_t len;

	for (const char *setting : settings)
		if (ctrl_command(ctrl, reply, ok_len(&len), "SET_NETWORK %d %s",
		    id, setting) != 0)
			return -1;
	return 0;
}

int
scan_start(wpa_ctrl *ctrl)
{
	char reply[OK_CAPACITY + 1];
	size_t len;

	ctrl_fetch_begin(ctrl);
	if (ctrl_command(ctrl, reply, ok_len(&len), "SCAN") == 0)
		return 0;
	wifi_warnx("failed to initiate scan");
	return -1;
}

int
passive_scan_set(wpa_ctrl *ctrl, int value)
{
	char reply[OK_CAPACITY + 1];
	size_t len;

	ctrl_fetch_begin(ctrl);
	if (ctrl_command(ctrl, reply, ok_len(&len), "SET passive_scan %d",
	    value) == 0)
		return 0;
	wifi_warnx("(wpa_ctrl) failed to set passive_scan=%d", value);
	return -1;
}

// Adds a network and sets its SSID; the new id, or -1.  A network whose SSID
// cannot be set is removed again: left behind without an SSID, it would be
// written into the configuration by the next save.
int
network_add(wpa_ctrl *ctrl, const char *ssid)
{
	char reply[ID_CAPACITY + 1];
	size_t len = ID_CAPACITY;
	const char *errstr;
	int id;

	ctrl_fetch_begin(ctrl);
	if (ctrl_transact(ctrl, "ADD_NETWORK", 11, reply, &len) == -1)
		return -1;
	reply[len] = '\0';
	reply[strcspn(reply, "\n")] = '\0';
	id = static_cast<int>(strtonum(reply, 0, 2147483647, &errstr));
	if (errstr != nullptr) {
		wifi_warnx("(wpa_ctrl) failed to add network");
		return -1;
	}
	if (ctrl_command(ctrl, reply, ok_len(&len), "SET_NETWORK %d ssid \"%s\"",
	    id, ssid) == 0)
		return id;

	char text[2 * SSID_MAX + 1];
	wifi_warnx("(wpa_ctrl) failed to set ssid(%s) on network id(%d)",
	    warn_text(ssid, text, sizeof text), id);
	(void)ctrl_command(ctrl, reply, ok_len(&len), "REMOVE_NETWORK %d", id);
	return -1;
}

int
network_select(wpa_ctrl *ctrl, int id, int freq)
{
	char reply[OK_CAPACITY + 1];
	size_t len;
	int rc;

	ctrl_fetch_begin(ctrl);
	if (id == -1)
		rc = ctrl_query(ctrl, reply, ok_len(&len), "SELECT_NETWORK any");
	else if (freq != 0)
		rc = ctrl_query(ctrl, reply, ok_len(&len),
		    "SELECT_NETWORK %d freq=%d", id, freq);
	else
		rc = ctrl_query(ctrl, reply, ok_len(&len), "SELECT_NETWORK %d", id);
	if (rc != 0)
		return -1;
	return reply[0] == 'O' && reply[1] == 'K' ? 0 : -1;
}

int
network_set_psk(wpa_ctrl *ctrl, int id, const char *psk)
{
	char reply[OK_CAPACITY + 1];
	size_t len;

	ctrl_fetch_begin(ctrl);
	return ctrl_command(ctrl, reply, ok_len(&len),
	    "SET_NETWORK %d psk \"%s\"", id, psk);
}

// Password first, identity second, key management last; the first failure
// ends it and leaves the earlier settings in place.
int
network_set_eap(wpa_ctrl *ctrl, int id, const char *identity,
    const char *password)
{
	char reply[OK_CAPACITY + 1];
	size_t len;

	ctrl_fetch_begin(ctrl);
	if (ctrl_command(ctrl, reply, ok_len(&len),
	    "SET_NETWORK %d password \"%s\"", id, password) != 0 ||
	    ctrl_command(ctrl, reply, ok_len(&len),
	    "SET_NETWORK %d identity \"%s\"", id, identity) != 0)
		return -1;
	return network_set(ctrl, id, { "key_mgmt WPA-EAP" });
}

int
network_set_open(wpa_ctrl *ctrl, int id)
{
	ctrl_fetch_begin(ctrl);
	return network_set(ctrl, id, { "key_mgmt NONE" });
}

int
config_save(wpa_ctrl *ctrl)
{
	char reply[OK_CAPACITY + 1];
	size_t len;

	ctrl_fetch_begin(ctrl);
	if (ctrl_command(ctrl, reply, ok_len(&len), "SET update_config 1") != 0) {
		wifi_warnx("(wpa_ctrl) failed to set update_config=1");
		return -1;
	}
	if (ctrl_command(ctrl, reply, ok_len(&len), "SAVE_CONFIG") != 0) {
		wifi_warnx("(wpa_ctrl) failed to save config");
		return -1;
	}
	return 0;
}

int
supplicant_reconnect(wpa_ctrl *ctrl)
{
	char reply[OK_CAPACITY + 1];
	size_t len;

	ctrl_fetch_begin(ctrl);
	return ctrl_command(ctrl, reply, ok_len(&len), "RECONNECT");
}

int
supplicant_disconnect(wpa_ctrl *ctrl)
{
	char reply[OK_CAPACITY + 1];
	size_t len;

	ctrl_fetch_begin(ctrl);
	return ctrl_command(ctrl, reply, ok_len(&len), "DISCONNECT");
}

int
network_remove(wpa_ctrl *ctrl, int id)
{
	char reply[OK_CAPACITY + 1];
	size_t len;

	ctrl_fetch_begin(ctrl);
	return ctrl_command(ctrl, reply, ok_len(&len), "REMOVE_NETWORK %d", id);
}

int
network_set_autoconnect(wpa_ctrl *ctrl, int id, bool enable)
{
	char reply[OK_CAPACITY + 1];
	size_t len;

	ctrl_fetch_begin(ctrl);
	return ctrl_command(ctrl, reply, ok_len(&len), "%s_NETWORK %d",
	    enable ? "ENABLE" : "DISABLE", id);
}

int
network_set_priority(wpa_ctrl *ctrl, int id, int priority)
{
	char reply[OK_CAPACITY + 1];
	size_t len;

	ctrl_fetch_begin(ctrl);
	return ctrl_command(ctrl, reply, ok_len(&len),
	    "SET_NETWORK %d priority %d", id, priority);
}

int
network_set_sae(wpa_ctrl *ctrl, int id, const char *psk, bool transition)
{
	if (network_set_psk(ctrl, id, psk) != 0)
		return -1;
	if (transition)
		return network_set(ctrl, id, { "key_mgmt WPA-PSK SAE", "ieee80211w 1" });
	return network_set(ctrl, id, { "key_mgmt SAE", "ieee80211w 2" });
}

int
network_set_owe(wpa_ctrl *ctrl, int id)
{
	return network_set(ctrl, id, { "key_mgmt OWE", "ieee80211w 2", "owe_only 1" });
}

int
network_set_hidden(wpa_ctrl *ctrl, int id)
{
	return network_set(ctrl, id, { "scan_ssid 1" });
}

int
sae_pwe_set(wpa_ctrl *ctrl, int value)
{
	char reply[OK_CAPACITY + 1];
	size_t len;

	if (ctrl_command(ctrl, reply, ok_len(&len), "SET sae_pwe %d",
	    value) == 0)
		return 0;
	wifi_warnx("(wpa_ctrl) failed to set sae_pwe=%d", value);
	return -1;
}

int
network_text_max(int id, const char *name)
{
	int fixed = snprintf(nullptr, 0, "SET_NETWORK %d %s \"\"", id, name);

	return static_cast<int>(CTRL_REQUEST_MAX) - 1 - fixed;
}

// The reply is a list of method names separated by blanks; "FT-SAE" and
// the like are other methods and do not count.
unsigned
supplicant_akm(wpa_ctrl *ctrl)
{
	char reply[REPLY_CAPACITY + 1];
	size_t len = REPLY_CAPACITY;
	unsigned akm = 0;

	if (ctrl_query(ctrl, reply, &len, "GET_CAPABILITY key_mgmt") != 0 ||
	    strncmp(reply, "FAIL", 4) == 0)
		return 0;
	for (char *p = reply; *p != '\0';) {
		size_t n = strcspn(p, " \t\n");
		std::string_view word(p, n);
		if (word == "SAE")
			akm |= AKM_SAE;
		else if (word == "OWE")
			akm |= AKM_OWE;
		p += n;
		p += strspn(p, " \t\n");
	}
	return akm;
}
