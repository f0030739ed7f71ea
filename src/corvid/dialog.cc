// The connect flow and the input dialogs it opens for credentials.
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dialog.h"
#include "loop.h"
#include "notify.h"
#include "refresh.h"
#include "term.h"

void
secret_free(char *text)
{
	if (text == nullptr)
		return;
	explicit_bzero(text, strlen(text));
	free(text);
}

static void
dialog_clear(dialog_data *d)
{
	explicit_bzero(d->input, sizeof d->input);
	d->ed = { d->input, 0, DIALOG_INPUT_MAX };
}

void
dialog_init(dialog_data *d, int min_len, int max_len)
{
	dialog_clear(d);
	d->min_len = min_len;
	d->max_len = max_len;
}

char *
read_dialog_input(const char *prompt, int min_len, int max_len, bool masked)
{
	dialog_data data;
	char *result = nullptr;

	dialog_init(&data, min_len, max_len);
	app.dialog_prompt = prompt;
	app.dialog_masked = masked;

	event_loop_nested(handle_dialog_input, &data);

	if (data.ed.len > 0 && (result = strdup(data.input)) == nullptr) {
		dialog_clear(&data);
		fatal("strdup");
	}
	dialog_clear(&data);
	app.dialog_masked = false;
	app.dialog_prompt = nullptr;
	app.dialog_text = nullptr;
	return result;
}

int
handle_dialog_input(void *udata)
{
	assert(udata != NULL);
	auto *d = static_cast<dialog_data *>(udata);
	switch (edit_key(&d->ed, read_key())) {
	case EDIT_MORE:
		break;
	case EDIT_CANCEL:
		dialog_clear(d);
		return 1;
	case EDIT_DONE: {
		size_t n = d->ed.len;
		if (n < static_cast<size_t>(d->min_len))
			break;
		if (n <= static_cast<size_t>(d->max_len))
			return 1;
		char msg[64];
		snprintf(msg, sizeof msg, "Input must not exceed %d characters",
		    d->max_len);
		notify(&app.notifications, msg);
		dialog_clear(d);
		return 1;
	}
	}
	app.dialog_text = d->input;
	return 0;
}

// Takes back a network the flow added.
static void
network_discard(int id)
{
	(void)network_remove(app.ctrl, id);
	app.pending_network = -1;
}

void
connect_abandon(void)
{
	if (app.pending_network != -1)
		network_discard(app.pending_network);
}

// Creates the network for a scan result that is not known yet and gives it
// the credentials its security asks for.  The new id, or -1 when the user
// cancelled (the network is then removed again).  Until the flow saves, the
// network is pending: a way out of the program before then removes it.
static int
create_network(const char *ssid, security_type security)
{
	int id = network_add(app.ctrl, ssid);
	int rc;

	if (id == -1)
		fatalx("failed to create new network");
	app.pending_network = id;

	switch (security) {
	case SECURITY_EAP: {
		char *identity = read_dialog_input("Enter the EAP username", 0, 256, false);
		if (identity == nullptr) {
			network_discard(id);
			return -1;
		}
		char *password = read_dialog_input("Enter the password", 0, 256, true);
		if (password == nullptr) {
			secret_free(identity);
			network_discard(id);
			return -1;
		}
		rc = network_set_eap(app.ctrl, id, identity, password);
		secret_free(identity);
		secret_free(password);
		break;
	}
	case SECURITY_PSK: {
		char *psk = read_dialog_input("Enter the password", 8, 63, true);
		if (psk == nullptr) {
			network_discard(id);
			return -1;
		}
		rc = network_set_psk(app.ctrl, id, psk);
		secret_free(psk);
		break;
	}
	default:
		rc = network_set_open(app.ctrl, id);
		break;
	}
	if (rc != 0) {
		char shown[SSID_MAX + 1];
		network_discard(id);
		text_printable(ssid, strlen(ssid), shown);
		fatalx("failed configuring network: %s", shown);
	}
	refresh_known();
	return id;
}

void
connect_to_network(void)
{
	// The dialogs run the event loop, which may replace the scan results:
	// take what the flow needs now.
	const scan_result &sel = app.scan->items[app_table(SECTION_SCAN).sel];
	char ssid[SSID_MAX + 1];
	memcpy(ssid, sel.ssid, sizeof ssid);
	ssid[SSID_MAX] = '\0';
	int freq = sel.freq;
	security_type security = sel.security;

	int id = -1;
	for (size_t i = 0; i < app.known->count; i++) {
		if (strcmp(app.known->items[i].ssid, ssid) == 0) {
			id = app.known->items[i].id;
			break;
		}
	}
	if (id == -1 && (id = create_network(ssid, security)) == -1)
		return;

	// Selecting a network disables all the others; the loop below gives
	// auto-connect back to those that had it, except the one connected
	// until now, which would otherwise take the connection back when the
	// new one fails (a wrong passphrase).  A search hides some of them
	// from the list held, so they are all read again first, before the
	// selection changes their state: a hidden network would otherwise be
	// left disabled, and saved so.
	known_networks *all = app.known;
	if (app_table(SECTION_KNOWN).search[0] != '\0' &&
	    (all = known_networks_fetch(app.ctrl)) == nullptr)
		fatalx("failed to retrieve known networks");

	notifyf(&app.notifications, "Connecting to %s [freq=%d]", ssid, freq);
	if (network_select(app.ctrl, id, freq) != 0) {
		char shown[SSID_MAX + 1];
		text_printable(ssid, strlen(ssid), shown);
		fatalx("failed to select network: %s", shown);
	}
	for (size_t i = 0; i < all->count; i++) {
		const known_network &net = all->items[i];
		if (net.id != id)
			(void)network_set_autoconnect(app.ctrl, net.id,
			    net.state == NETWORK_ENABLED);
	}
	if (all != app.known)
		known_networks_free(all);
	if (config_save(app.ctrl) != 0)
		fatalx("failed to update config");
	app.pending_network = -1;
}
