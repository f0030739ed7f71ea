// The link to an access point: selecting, associating, the key handshake
// that fails on a wrong passphrase, the address that comes a moment after
// the connection, and disconnecting.  Each step is a timer; abandoning a
// connection bumps `gen` so that its pending steps do nothing.
#include "simsupp.h"

enum link_step_no {
	STEP_ASSOCIATE = 1,
	STEP_ASSOCIATED,
	STEP_AUTHENTICATED,
	STEP_ADDRESS,
};

sim_network *
network_find(sim &s, int id)
{
	for (auto &n : s.networks)
		if (n.id == id)
			return &n;
	return nullptr;
}

bool
network_temp_disabled(const sim &s, const sim_network &n)
{
	(void)s;
	return n.disabled_until != 0 && n.disabled_until > now_ms();
}

static sim_wpa_state
idle_state(const sim &s)
{
	for (const auto &n : s.networks)
		if (n.disabled == 0)
			return WPA_DISCONNECTED;
	return WPA_INACTIVE;
}

// The key management a connection of `n` to `ap` uses.
static unsigned
link_akm(const sim_network &n, const sim_ap &ap)
{
	unsigned common = network_akm_usable(n, ap);

	for (unsigned k : {KM_WPA_EAP, KM_WPA_EAP_SHA256, KM_IEEE8021X, KM_SAE,
	    KM_WPA_PSK, KM_WPA_PSK_SHA256, KM_OWE})
		if (common & k)
			return k;
	return KM_NONE;
}

static bool
hex_equal(const std::string &a, const std::string &b)
{
	if (a.size() != b.size())
		return false;
	for (size_t i = 0; i < a.size(); i++)
		if ((a[i] | 0x20) != (b[i] | 0x20))
			return false;
	return true;
}

// Whether the network's secret opens the access point.  A 64-digit key is
// taken only when the world gives the same key: deriving one from a
// passphrase is beyond this simulator.
static bool
link_credentials_ok(const sim_network &n, const sim_ap &ap, unsigned akm)
{
	if (akm & KM_EAP_ANY)
		return n.identity && n.password && *n.identity == ap.identity &&
		    *n.password == ap.password;
	if ((akm & KM_SAE) && n.sae_password)
		return *n.sae_password == ap.psk;
	if (akm & (KM_PSK_ANY | KM_SAE)) {
		if (!n.psk)
			return false;
		return n.psk_hex ? hex_equal(*n.psk, ap.psk) : *n.psk == ap.psk;
	}
	return true;
}

// The highest-priority enabled network with an access point in the table,
// the strongest access point breaking ties.
static int
link_candidate(sim &s, int *ap_out)
{
	int best = -1, best_ap = -1;

	for (const auto &n : s.networks) {
		if (n.disabled != 0 || network_temp_disabled(s, n))
			continue;
		int ap = ap_find(s, n, {});
		if (ap < 0)
			continue;
		const sim_network *b = best < 0 ? nullptr : network_find(s, best);
		if (b == nullptr || n.priority > b->priority ||
		    (n.priority == b->priority &&
		    s.aps[ap].signal > s.aps[best_ap].signal)) {
			best = n.id;
			best_ap = ap;
		}
	}
	*ap_out = best_ap;
	return best;
}

static void
link_reset(sim &s)
{
	s.gen++;
	s.state = idle_state(s);
	s.cur_id = -1;
	s.cur_ap = -1;
	s.ip_ready = false;
}

// The starting point: connected already to the best network in range (as a
// daemon that has been running for a while), unless asked to start
// disconnected or the best network's secret is wrong.
void
link_start(sim &s)
{
	int ap, id;

	link_reset(s);
	if (s.opt.start_disconnected) {
		s.disconnected = true;
		return;
	}
	id = link_candidate(s, &ap);
	if (id < 0)
		return;
	const sim_network &n = *network_find(s, id);
	if (!link_credentials_ok(n, s.aps[ap], link_akm(n, s.aps[ap])))
		return;
	s.cur_id = id;
	s.cur_ap = ap;
	s.state = WPA_COMPLETED;
	s.ip_ready = true;
}

void
link_connect(sim &s, int id, int ap)
{
	s.gen++;
	s.cur_id = id;
	s.cur_ap = ap;
	s.ip_ready = false;
	timer_add(s, s.opt.connect_delay_ms, TIMER_LINK, STEP_ASSOCIATE);
}

// Leaves the access point (if the link got that far) and forgets the
// current network.
void
link_drop(sim &s, int reason, bool local)
{
	if (s.state >= WPA_ASSOCIATING && s.cur_ap >= 0)
		event_send(s, "CTRL-EVENT-DISCONNECTED bssid=%s reason=%d%s",
		    mac_text(s.aps[s.cur_ap].bssid).c_str(), reason,
		    local ? " locally_generated=1" : "");
	link_reset(s);
}

static int
temp_disable_duration(int failures)
{
	if (failures > 50)
		return 300;
	if (failures > 10)
		return 120;
	if (failures > 5)
		return 90;
	if (failures > 3)
		return 60;
	return failures == 3 ? 30 : failures == 2 ? 20 : 10;
}

static void
link_auth_failed(sim &s, sim_network &n, const char *reason)
{
	n.auth_failures++;
	int dur = temp_disable_duration(n.auth_failures);
	n.disabled_until = now_ms() + dur * 1000LL;
	event_send(s, "CTRL-EVENT-SSID-TEMP-DISABLED id=%d ssid=\"%s\" "
	    "auth_failures=%d duration=%d reason=%s", n.id,
	    text_encode(n.ssid ? *n.ssid : "").c_str(), n.auth_failures, dur,
	    reason);
	link_reset(s);
}

void
link_step(sim &s, int step)
{
	sim_network *n = network_find(s, s.cur_id);

	if (n == nullptr || s.cur_ap < 0) {
		link_reset(s);
		return;
	}
	const sim_ap &ap = s.aps[s.cur_ap];
	std::string bssid = mac_text(ap.bssid);
	unsigned akm = link_akm(*n, ap);

	switch (step) {
	case STEP_ASSOCIATE:
		s.state = WPA_ASSOCIATING;
		event_send(s, "Trying to associate with %s (SSID='%s' freq=%d MHz)",
		    bssid.c_str(), text_encode(ap.ssid).c_str(), ap.freq);
		break;
	case STEP_ASSOCIATED:
		if (akm == KM_SAE && !link_credentials_ok(*n, ap, akm)) {
			// SAE authenticates before associating: the access point
			// rejects the confirm, and the daemon gives up on the
			// network without naming the key.
			event_send(s, "CTRL-EVENT-AUTH-REJECT %s auth_type=3 "
			    "auth_transaction=2 status_code=1", bssid.c_str());
			link_auth_failed(s, *n, "CONN_FAILED");
			return;
		}
		s.state = akm & (KM_PSK_ANY | KM_SAE) ? WPA_4WAY_HANDSHAKE :
		    WPA_ASSOCIATED;
		event_send(s, "Associated with %s", bssid.c_str());
		if (akm & KM_EAP_ANY)
			event_send(s, "CTRL-EVENT-EAP-STARTED EAP authentication "
			    "started");
		break;
	case STEP_AUTHENTICATED:
		if (!link_credentials_ok(*n, ap, akm)) {
			if (akm & KM_EAP_ANY) {
				event_send(s, "CTRL-EVENT-EAP-FAILURE EAP authentication "
				    "failed");
				event_send(s, "CTRL-EVENT-DISCONNECTED bssid=%s reason=23",
				    bssid.c_str());
				link_auth_failed(s, *n, "AUTH_FAILED");
			} else {
				event_send(s, "CTRL-EVENT-DISCONNECTED bssid=%s reason=15",
				    bssid.c_str());
				event_send(s, "WPA: 4-Way Handshake failed - pre-shared key "
				    "may be incorrect");
				link_auth_failed(s, *n, "WRONG_KEY");
			}
			return;
		}
		if (akm & KM_EAP_ANY)
			event_send(s, "CTRL-EVENT-EAP-SUCCESS EAP authentication "
			    "completed successfully");
		if (akm != KM_NONE)
			event_send(s, "WPA: Key negotiation completed with %s "
			    "[PTK=CCMP GTK=CCMP]", bssid.c_str());
		s.state = WPA_COMPLETED;
		n->auth_failures = 0;
		n->disabled_until = 0;
		event_send(s, "CTRL-EVENT-CONNECTED - Connection to %s completed "
		    "[id=%d id_str=%s]", bssid.c_str(), n->id,
		    n->id_str ? text_encode(*n->id_str).c_str() : "");
		break;
	case STEP_ADDRESS:
		// No routing-socket message announces the address here, so an
		// event follows it for clients that refresh on every event.
		s.ip_ready = true;
		event_send(s, "CTRL-EVENT-SIGNAL-CHANGE above=1 signal=%d "
		    "noise=9999 txrate=%d", ap.signal,
		    ap.freq >= 5000 ? 433300 : 65000);
		return;
	default:
		return;
	}
	timer_add(s, s.opt.connect_delay_ms, TIMER_LINK, step + 1);
}

// Starts a scan unless one is running; false when one is.
bool
link_scan(sim &s)
{
	if (s.scanning)
		return false;
	s.scanning = true;
	if (s.state == WPA_DISCONNECTED || s.state == WPA_INACTIVE)
		s.state = WPA_SCANNING;
	event_send(s, "CTRL-EVENT-SCAN-STARTED ");
	timer_add(s, s.opt.scan_delay_ms, TIMER_SCAN_DONE, 0);
	return true;
}


// After a scan: connect where a selection or an auto-connect waits for one.
void
link_after_scan(sim &s)
{
	s.scanning = false;
	if (s.state == WPA_SCANNING)
		s.state = idle_state(s);
	if (!s.connect_after_scan || s.disconnected)
		return;
	s.connect_after_scan = false;
	if (s.state >= WPA_ASSOCIATING)
		return;
	int id, ap;
	if (s.select_id >= 0) {
		sim_network *n = network_find(s, s.select_id);
		id = s.select_id;
		ap = n != nullptr ? ap_find(s, *n, s.select_freqs) : -1;
	} else {
		id = link_candidate(s, &ap);
	}
	if (ap >= 0) {
		link_connect(s, id, ap);
		return;
	}
	for (const auto &n : s.networks)
		if (n.disabled == 0 && n.ssid) {
			event_send(s, "CTRL-EVENT-NETWORK-NOT-FOUND ");
			break;
		}
}

void
status_text(sim &s, std::string &out)
{
	static constexpr const char *names[] = {
		"DISCONNECTED", "INACTIVE", "SCANNING", "ASSOCIATING",
		"ASSOCIATED", "4WAY_HANDSHAKE", "COMPLETED",
	};
	sim_network *n = network_find(s, s.cur_id);
	bool linked = s.state >= WPA_ASSOCIATED && n != nullptr && s.cur_ap >= 0;
	unsigned akm = 0;

	out.clear();
	if (linked) {
		const sim_ap &ap = s.aps[s.cur_ap];
		akm = link_akm(*n, ap);
		out += "bssid=" + mac_text(ap.bssid) + "\n";
		out += strprintf("freq=%d\n", ap.freq);
		out += "ssid=" + text_encode(ap.ssid) + "\n";
		out += strprintf("id=%d\n", n->id);
		if (n->id_str)
			out += "id_str=" + text_encode(*n->id_str) + "\n";
		out += "mode=station\n";
		out += strprintf("wifi_generation=%d\n", ap.freq >= 5000 ? 5 : 4);
		const char *cipher = akm == KM_NONE ? "NONE" : "CCMP";
		out += strprintf("pairwise_cipher=%s\ngroup_cipher=%s\n", cipher,
		    cipher);
		out += "key_mgmt=";
		out += akm & KM_EAP_ANY ? "WPA2/IEEE 802.1X/EAP" :
		    akm == KM_SAE ? "SAE" : akm & KM_PSK_ANY ? "WPA2-PSK" :
		    akm == KM_OWE ? "OWE" : "NONE";
		out += "\n";
		if (akm == KM_SAE && s.state == WPA_COMPLETED)
			out += "sae_group=19\nsae_h2e=0\nsae_pk=0\n";
	}
	out += strprintf("wpa_state=%s\n", names[s.state]);
	if (linked && s.ip_ready && s.state == WPA_COMPLETED)
		out += strprintf("ip_address=192.168.%d.%d\n", s.cur_ap + 1,
		    100 + n->id % 100);
	out += "address=" + mac_text(s.own_addr) + "\n";
	out += strprintf("uuid=5c1f0a3e-7d26-5b8e-9f41-%02x%02x%02x%02x%02x%02x\n",
	    s.own_addr[0], s.own_addr[1], s.own_addr[2], s.own_addr[3],
	    s.own_addr[4], s.own_addr[5]);
	if (linked && (akm & KM_EAP_ANY) && s.state == WPA_COMPLETED)
		out += "Supplicant PAE state=AUTHENTICATED\n"
		    "suppPortStatus=Authorized\nEAP state=SUCCESS\n"
		    "selectedMethod=25 (EAP-PEAP)\n";
}
