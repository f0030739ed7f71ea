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
	d->ed = { d->input, 0, DIALOG_INPUT_MAX, false };
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

// Takes back a network the flow added, unless a reconnection has dropped
// it: the daemon that answers now never had it, and the id may be another
// network's there.
static void
network_discard(int id)
{
	if (app.pending_network != id)
		return;
	(void)network_remove(app.ctrl, id);
	app.pending_network = -1;
}

void
connect_abandon(void)
{
	if (app.pending_network != -1)
		network_discard(app.pending_network);
}

// The methods beyond PSK and EAP that the daemon has: asked once a run.
static unsigned
daemon_akm(void)
{
	if (!app.akm_known) {
		app.akm = supplicant_akm(app.ctrl);
		app.akm_known = true;
	}
	return app.akm;
}

// What the flow takes from the scan result, before any dialog: while one
// is open the event loop may replace the scan results.
struct connect_target {
	char ssid[SSID_MAX + 1];
	int freq;
	security_type security;
	bool transition;          // PSK with SAE as well, and the daemon has SAE
	bool sae_h2e;
	bool hidden;              // the name was typed, not scanned
};

// A request of the flow failed.  When the daemon had gone and another
// answers at its socket, the connection is made anew and the flow ends
// there, as any action does that a restart cut short: true.  Otherwise the
// network the flow added (`id`, or -1) is taken back and the program ends
// with `what`, about `ssid` when given.
static bool
flow_failed(const char *what, int id, const char *ssid)
{
	if (request_recover())
		return true;
	if (id != -1)
		network_discard(id);
	if (ssid == nullptr)
		fatalx("%s", what);
	char shown[SSID_MAX + 1];
	text_printable(ssid, strlen(ssid), shown);
	fatalx("%s: %s", what, shown);
}

// A dialog of the flow; nullptr when cancelled.  A reconnection while it
// was open ends the flow as a cancel does: the ids the flow holds belong to
// the daemon that went.
static char *
flow_dialog(const char *prompt, int min_len, int max_len, bool masked)
{
	unsigned before = app.reconnections;
	char *text = read_dialog_input(prompt, min_len, max_len, masked);

	if (text != nullptr && app.reconnections != before) {
		secret_free(text);
		return nullptr;
	}
	return text;
}

// Whether a network of this security can be added here; if not, a
// notification says why.  Asks the daemon what it has where that matters.
static bool
connect_supported(connect_target *t)
{
	const char *needs = nullptr;

	switch (t->security) {
	case SECURITY_WEP:
		notifyf(&app.notifications, "%s: WEP is not supported", t->ssid);
		return false;
	case SECURITY_NA:
		notifyf(&app.notifications, "%s: unsupported security", t->ssid);
		return false;
	case SECURITY_SAE:
		if ((daemon_akm() & AKM_SAE) == 0)
			needs = "WPA3 (SAE)";
		break;
	case SECURITY_OWE:
		if ((daemon_akm() & AKM_OWE) == 0)
			needs = "OWE";
		break;
	case SECURITY_PSK:
		// Without SAE a transition network is plain WPA2.
		t->transition = t->transition && (daemon_akm() & AKM_SAE) != 0;
		break;
	default:
		break;
	}
	if (needs != nullptr) {
		notifyf(&app.notifications,
		    "%s needs %s, which wpa_supplicant here does not support",
		    t->ssid, needs);
		return false;
	}
	return true;
}

// Creates the network for a scan result that is not known yet and gives it
// the credentials its security asks for.  The new id, or -1 when the user
// cancelled (the network is then removed again).  Until the flow saves, the
// network is pending: a way out of the program before then removes it.
static int
create_network(const connect_target *t)
{
	int id = network_add(app.ctrl, t->ssid);
	int rc;

	if (id == -1) {
		(void)flow_failed("failed to create new network", -1, nullptr);
		return -1;
	}
	app.pending_network = id;
	if (t->hidden && network_set_hidden(app.ctrl, id) != 0 &&
	    flow_failed("failed configuring network", id, t->ssid))
		return -1;

	switch (t->security) {
	case SECURITY_EAP: {
		// As long as the request that carries it allows.
		char *identity = flow_dialog("Enter the EAP username", 0,
		    network_text_max(id, "identity"), false);
		if (identity == nullptr) {
			network_discard(id);
			return -1;
		}
		char *password = flow_dialog("Enter the password", 0,
		    network_text_max(id, "password"), true);
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
	case SECURITY_PSK:
	case SECURITY_SAE: {
		char *psk = flow_dialog("Enter the password", 8, 63, true);
		if (psk == nullptr) {
			network_discard(id);
			return -1;
		}
		if (t->security == SECURITY_SAE)
			rc = network_set_sae(app.ctrl, id, psk, false);
		else if (t->transition)
			rc = network_set_sae(app.ctrl, id, psk, true);
		else
			rc = network_set_psk(app.ctrl, id, psk);
		secret_free(psk);
		// 6 GHz needs hash-to-element; 2 allows both methods.
		if (rc == 0 && t->security == SECURITY_SAE && t->sae_h2e)
			rc = sae_pwe_set(app.ctrl, 2);
		break;
	}
	case SECURITY_OWE:
		rc = network_set_owe(app.ctrl, id);
		break;
	default:
		rc = network_set_open(app.ctrl, id);
		break;
	}
	if (rc != 0 && flow_failed("failed configuring network", id, t->ssid))
		return -1;
	refresh_known();
	return id;
}

// A stored network whose passphrase the daemon refused: the passphrase is
// asked again.  False when the user cancelled.
static bool
replace_refused_key(int id, const connect_target *t)
{
	if ((t->security != SECURITY_PSK && t->security != SECURITY_SAE) ||
	    !refused_keys_has(&app.refused, id))
		return true;
	char *psk = flow_dialog("Enter the password", 8, 63, true);
	if (psk == nullptr)
		return false;
	int rc = network_set_psk(app.ctrl, id, psk);
	secret_free(psk);
	return rc == 0 || !flow_failed("failed configuring network", -1, t->ssid);
}

void
connect_to_network(void)
{
	const scan_result &sel = app.scan->items[app_table(SECTION_SCAN).sel];
	connect_target t{};
	memcpy(t.ssid, sel.ssid, sizeof t.ssid);
	t.ssid[SSID_MAX] = '\0';
	t.freq = sel.freq;
	t.security = sel.security;
	t.transition = sel.security == SECURITY_PSK && sel.offers_sae;
	t.sae_h2e = sel.sae_h2e;

	// A hidden network: its name stands for the SSID the row lacks.
	if (t.ssid[0] == '\0') {
		char *name = read_dialog_input("Enter the network name", 1,
		    static_cast<int>(SSID_MAX), false);
		if (name == nullptr)
			return;
		strlcpy(t.ssid, name, sizeof t.ssid);
		free(name);
		t.hidden = true;
	}

	unsigned before = app.reconnections;
	int id = -1;
	for (size_t i = 0; i < app.known->count; i++) {
		if (strcmp(app.known->items[i].ssid, t.ssid) == 0) {
			id = app.known->items[i].id;
			break;
		}
	}
	if (id != -1) {
		if (!replace_refused_key(id, &t))
			return;
	} else if (!connect_supported(&t) || (id = create_network(&t)) == -1) {
		return;
	}
	// Reconnected on the way (a refresh found the daemon restarted): the id
	// is the one before's.
	if (app.reconnections != before)
		return;
	const char *ssid = t.ssid;
	int freq = t.freq;

	// Selecting a network disables all the others; the loop below gives
	// auto-connect back to those that had it, except the one connected
	// until now, which would otherwise take the connection back when the
	// new one fails (a wrong passphrase).  A search hides some of them
	// from the list held, so they are all read again first, before the
	// selection changes their state: a hidden network would otherwise be
	// left disabled, and saved so.
	known_networks *all = app.known;
	if (app_table(SECTION_KNOWN).search[0] != '\0' &&
	    (all = known_networks_fetch(app.ctrl)) == nullptr) {
		(void)flow_failed("failed to retrieve known networks", -1, nullptr);
		return;
	}

	notifyf(&app.notifications, "Connecting to %s [freq=%d]", ssid, freq);
	if (network_select(app.ctrl, id, freq) != 0) {
		(void)flow_failed("failed to select network", -1, ssid);
		if (all != app.known)
			known_networks_free(all);
		return;
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
		(void)flow_failed("failed to update config", -1, nullptr);
	app.pending_network = -1;
}
