// The supplicant client: the control connection, the commands that change
// the supplicant, and the records built from its replies.  The interface
// module includes nothing of this module but this header.
//
// Failures are reported by result (0 or -1 for commands and the transport,
// a record or nullptr for opens and fetches, an id or -1 for ADD_NETWORK)
// and with a one-line warning on standard error, or wherever
// wifi_warnings_to() sends them.  Nothing here exits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

// Sends each warning line (without the program's name) to `sink` instead of
// standard error; nullptr: standard error again.
void wifi_warnings_to(void (*sink)(const char *text));

// ---------------------------------------------------------------------------
// Control connection and request transport

// A request waits CTRL_REPLY_TIMEOUT_MS after the last datagram it saw,
// but never more than CTRL_REQUEST_TIMEOUT_MS in all after it was sent:
// events that keep coming do not keep it waiting.  DETACH at exit waits
// CTRL_DETACH_TIMEOUT_MS at most.
inline constexpr int CTRL_REPLY_TIMEOUT_MS = 1000;
inline constexpr int CTRL_REQUEST_TIMEOUT_MS = 3000;
inline constexpr int CTRL_DETACH_TIMEOUT_MS = 500;
inline constexpr size_t CTRL_REQUEST_MAX = 128;
inline constexpr const char *CTRL_DEFAULT_DIR = "/var/run/wpa_supplicant";

// Event messages that arrive while a request waits for its reply are kept
// for the event reader, at most this many (the oldest goes first), each cut
// to CTRL_EVENT_MAX bytes as the event reader would cut it.
inline constexpr size_t CTRL_EVENTS_KEPT = 64;
inline constexpr size_t CTRL_EVENT_MAX = 4095;

struct ctrl_kept_event {
	char *text;                     // owned, `len` bytes, not terminated
	size_t len;
};

// Why the last request failed.
enum ctrl_failure {
	CTRL_FAIL_NONE = 0,       // it did not fail, or was refused unsent
	CTRL_FAIL_TIMEOUT,        // no reply in time; the daemon may only be slow
	CTRL_FAIL_UNRESPONSIVE,   // no reply, and no answer to a PING either
	CTRL_FAIL_WOKEN,          // the wake descriptor became readable
	CTRL_FAIL_GONE,           // the daemon's socket went away
	CTRL_FAIL_IO,             // another error of send, poll or receive
};

struct wpa_ctrl {
	int fd;
	char *tmp_dir;                  // private directory of the local socket
	struct sockaddr_un local_addr;  // empty path: not formed yet
	struct sockaddr_un dest_addr;
	bool resync;                    // a request gave up: its reply may follow
	// A request timed out and the PING after it did too: every request
	// fails at once until the next fetch begins (ctrl_fetch_begin).
	bool unresponsive;
	bool attached;                  // ATTACH was answered OK (and no DETACH)
	ctrl_failure failure;           // of the last request
	int wake_fd;                    // ends any wait when readable; -1: none
	ctrl_kept_event kept[CTRL_EVENTS_KEPT];  // a ring, oldest at kept_first
	size_t kept_first;
	size_t kept_count;
};

// The first socket in CTRL_DEFAULT_DIR, in a static buffer, or nullptr.
const char *ctrl_default_path(void);
// The same search in another directory (for tests).
const char *ctrl_default_path_in(const char *dir);

wpa_ctrl *ctrl_open(const char *path);
void ctrl_close(wpa_ctrl *ctrl);
// Sends `req` as one datagram and receives its reply into `reply`, at most
// *reply_len bytes (in: capacity; out: bytes received).  Unsolicited event
// messages, queued before the request or arriving while it waits, are kept
// for ctrl_event_recv(); anything else queued before the request (a reply
// that came too late) is dropped.
// After a request that got no reply, the next one first sends "PING" and
// drops everything up to its "PONG", so that a late reply is never taken
// for the reply to a later request.  0, or -1 when no reply came.
int ctrl_transact(wpa_ctrl *ctrl, const char *req, size_t req_len,
    char *reply, size_t *reply_len);
// Formatted request; 0 when the reply begins with "OK", -1 otherwise.  The
// reply buffer needs *reply_len + 1 bytes.
int ctrl_command(wpa_ctrl *ctrl, char *reply, size_t *reply_len,
    const char *fmt, ...) __printflike(4, 5);
// Formatted request; 0 with the NUL-terminated reply, -1 on failure.
int ctrl_query(wpa_ctrl *ctrl, char *reply, size_t *reply_len,
    const char *fmt, ...) __printflike(4, 5);
int ctrl_attach(wpa_ctrl *ctrl);
// Waits CTRL_DETACH_TIMEOUT_MS at most, and sends no PING first.
int ctrl_detach(wpa_ctrl *ctrl);
int ctrl_fd(wpa_ctrl *ctrl);
// Why the last request failed (CTRL_FAIL_NONE after one that did not).
ctrl_failure ctrl_last_failure(const wpa_ctrl *ctrl);
// Watches `fd` (-1: nothing) in every wait for a reply: once it is
// readable, requests fail at once with CTRL_FAIL_WOKEN and nothing more is
// sent, until it is no longer readable.  For a caller that must not miss a
// signal while a request waits: its pending-signal descriptor.
void ctrl_set_wake(wpa_ctrl *ctrl, int fd);
// Sends a PING without waiting for its answer: whether the daemon's socket
// is still there, after a request that timed out.  0, or -1 with the
// failure set (CTRL_FAIL_GONE when it went away).
int ctrl_probe(wpa_ctrl *ctrl);
// A fetch of several requests (or a command) begins: a daemon counted
// unresponsive gets another chance, and the next request starts with a
// PING.  The fetches and commands below call it themselves.
void ctrl_fetch_begin(wpa_ctrl *ctrl);
// After the daemon's socket went away (a restart): a new socket at the
// same local path is connected to the same control path, and the daemon
// must answer PING; a connection that was attached is attached again.  The
// descriptor keeps its number (an event queue must watch it again: the old
// socket it watched is closed).  Kept events stay.  0, or -1 with the old
// connection left as it was, dead.
int ctrl_reconnect(wpa_ctrl *ctrl);
// Whether event messages were kept while requests waited.
bool ctrl_event_pending(const wpa_ctrl *ctrl);
// The next event message: the oldest kept one, else one datagram received
// from the socket (without waiting).  At most `cap` bytes of it; the
// length, or -1 with errno set as recv() sets it.
ssize_t ctrl_event_recv(wpa_ctrl *ctrl, char *buf, size_t cap);

// ---------------------------------------------------------------------------
// Commands (0 success, -1 failure)

int scan_start(wpa_ctrl *ctrl);
int passive_scan_set(wpa_ctrl *ctrl, int value);
// The new network's id, or -1.
int network_add(wpa_ctrl *ctrl, const char *ssid);
int network_select(wpa_ctrl *ctrl, int id, int freq);
int network_set_psk(wpa_ctrl *ctrl, int id, const char *psk);
int network_set_eap(wpa_ctrl *ctrl, int id, const char *identity,
    const char *password);
int network_set_open(wpa_ctrl *ctrl, int id);
int config_save(wpa_ctrl *ctrl);
int supplicant_reconnect(wpa_ctrl *ctrl);
int supplicant_disconnect(wpa_ctrl *ctrl);
int network_remove(wpa_ctrl *ctrl, int id);
int network_set_autoconnect(wpa_ctrl *ctrl, int id, bool enable);
int network_set_priority(wpa_ctrl *ctrl, int id, int priority);
// WPA3 Personal: the passphrase, key_mgmt SAE and management frame
// protection required; with `transition`, key_mgmt "WPA-PSK SAE" and
// protection optional.  The first failure ends it.
int network_set_sae(wpa_ctrl *ctrl, int id, const char *psk, bool transition);
// Opportunistic wireless encryption: key_mgmt OWE, protection required,
// never the open side.
int network_set_owe(wpa_ctrl *ctrl, int id);
// A network that does not beacon its name: scans probe for it.
int network_set_hidden(wpa_ctrl *ctrl, int id);
int sae_pwe_set(wpa_ctrl *ctrl, int value);
// The longest text SET_NETWORK can carry for the setting `name` of
// network `id` between its quotes, so that the request stays under
// CTRL_REQUEST_MAX.
int network_text_max(int id, const char *name);

// Key management methods beyond PSK and EAP that the daemon was built with.
enum : unsigned {
	AKM_SAE = 1u << 0,
	AKM_OWE = 1u << 1,
};
// The AKM_* methods that "GET_CAPABILITY key_mgmt" names; 0 when the query
// fails.
unsigned supplicant_akm(wpa_ctrl *ctrl);

// ---------------------------------------------------------------------------
// Records

enum security_type {
	SECURITY_OPEN = 0,
	SECURITY_EAP = 1,
	SECURITY_PSK = 2,
	SECURITY_NA = 3,
	SECURITY_SAE = 4,
	SECURITY_OWE = 5,
	SECURITY_WEP = 6,
};

enum network_state {
	NETWORK_ENABLED = 0,
	NETWORK_DISABLED = 1,
	NETWORK_CURRENT = 2,
};

inline constexpr size_t SSID_MAX = 32;

struct supplicant_status {
	int freq;           // MHz of the access point in `bssid`, or 0
	char *wpa_state;    // texts are nullptr when STATUS did not have them
	char *bssid;
	char *ssid;         // unescaped
	char *ip_address;
};

// Fields of a known network that could not be read: they hold the value
// they are drawn with (priority 3, or -1 for a reply that is no number;
// not hidden; N/A), which is no value to build a change on.
enum : unsigned {
	KNOWN_PRIORITY_UNKNOWN = 1u << 0,
	KNOWN_HIDDEN_UNKNOWN = 1u << 1,
	KNOWN_SECURITY_UNKNOWN = 1u << 2,
};

struct known_network {
	int id;
	int priority;
	bool scan_ssid;
	security_type security;
	network_state state;
	unsigned unknown;       // KNOWN_*_UNKNOWN
	char ssid[SSID_MAX + 1];
	struct ether_addr bssid;
};

struct scan_result {
	int freq;
	int signal;
	struct ether_addr bssid;
	char ssid[SSID_MAX + 1];
	security_type security;
	bool offers_sae;    // SAE among its methods (with PSK: transition mode)
	bool sae_h2e;       // "[SAE-H2E]": SAE with hash-to-element
};

// A growable array of records stored by value.
template <typename T>
struct record_array {
	T *items;
	size_t count;
	size_t capacity;
};

using known_networks = record_array<known_network>;
using scan_results = record_array<scan_result>;

// The daemon builds every reply in a buffer of this size (the text and a
// NUL): a list that fills it was cut after its last whole line.
inline constexpr size_t DAEMON_REPLY_MAX = 4096;
// The fields of a BSS record that a scan result needs, as a BSS request's
// MASK: id, bssid, freq, level, flags and ssid.
inline constexpr unsigned BSS_MASK_SCAN = 0x1887;
// The most records a fetch gathers from pages or a BSS walk; the rest of a
// longer list (no daemon keeps one) is left out.
inline constexpr size_t KNOWN_MAX = 16384;
inline constexpr size_t SCAN_MAX = 4096;

supplicant_status *supplicant_status_fetch(wpa_ctrl *ctrl);
void supplicant_status_free(supplicant_status *status);

// LIST_NETWORKS, then "LIST_NETWORKS LAST_ID=%d" after the last id listed
// while a reply came back full; three GET_NETWORK queries per network.  A
// line whose id is no int is left out.  nullptr when a request failed for
// another reason than a time-out of one query.
known_networks *known_networks_fetch(wpa_ctrl *ctrl);
void known_networks_free(known_networks *known);
bool known_networks_append(known_networks *known, const known_network *net);
void known_networks_sort(known_networks *known);
void known_networks_filter(known_networks *known, const char *text);

// SCAN_RESULTS; when it came back full, the whole table again one BSS at
// a time ("BSS FIRST", then "BSS NEXT-%u", with BSS_MASK_SCAN), which
// replaces the lines when the walk reaches its end.
scan_results *scan_results_fetch(wpa_ctrl *ctrl);
void scan_results_free(scan_results *scan);
bool scan_results_append(scan_results *scan, const scan_result *res);
void scan_results_sort(scan_results *scan);
void scan_results_filter(scan_results *scan, const char *text);

// Reads one reply to a BSS request (`len` bytes at `reply` and a NUL after
// them; the text is modified) into *res and its "id=" into *id.  1 for a record, 0 for a
// record to leave out (its SSID decodes to nothing), -1 for a reply that
// is no record (it has no id: the end of the table, or a failure).
int bss_record_parse(char *reply, size_t len, scan_result *res,
    unsigned *id);

// The security a scan result's flags column shows: PSK, EAP, SAE, OWE (the
// open side of an OWE transition pair included), WEP, N/A for a WPA or RSN
// block whose key management the daemon did not name, otherwise Open.
security_type scan_flags_security(const char *flags);
// The security of a stored network from its key_mgmt list: PSK, EAP, SAE,
// OWE, Open for NONE, otherwise N/A.
security_type key_mgmt_security(const char *key_mgmt);
// The Security column's text of each type.
const char *security_text(security_type s);

// The stored networks whose passphrase the daemon refused in this session:
// "CTRL-EVENT-SSID-TEMP-DISABLED id=N ... reason=WRONG_KEY", or for SAE,
// which names no key, a rejected confirm ("CTRL-EVENT-AUTH-REJECT <bssid>
// auth_type=3 auth_transaction=2 status_code=1", or 15) followed by
// "... reason=CONN_FAILED".  A connection of the network, or its removal,
// clears its mark.  Zero-initialised: nothing marked.
inline constexpr size_t REFUSED_MAX = 16;
struct refused_keys {
	int ids[REFUSED_MAX];       // the oldest first; it goes when full
	size_t count;
	bool sae_rejected;          // a confirm rejected since the last pause
};
// Takes note of one event message of `len` bytes.
void refused_keys_event(refused_keys *r, const char *msg, size_t len);
bool refused_keys_has(const refused_keys *r, int id);

// Decodes the supplicant's escapes in place; returns `text`.
char *ssid_unescape(char *text, size_t len);

// Copies `len` bytes of untrusted text (an SSID, a daemon message) into
// `out`, which has room for len + 1 bytes, drawing every character that the
// locale does not call printable (C0 and C1 controls, DEL), every
// bidirectional control and zero-width character, and every byte that is
// not valid multibyte text as one "?".  The copy is NUL-terminated and
// never longer than the original; returns its length.
size_t text_printable(const char *in, size_t len, char *out);

// Terminal columns of `len` bytes of text, a byte that is not valid
// multibyte text and a character without a width counting one column each
// (as their "?" does once the text is printable).
size_t text_columns(const char *s, size_t len);
// Bytes of the longest run of whole characters at the start of `s` (`len`
// bytes) that takes at most `cols` columns; its columns go to `*width`
// unless that is null.
size_t text_fit(const char *s, size_t len, size_t cols, size_t *width);
