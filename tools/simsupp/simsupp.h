// simsupp: a simulated wpa_supplicant for machines without a radio.  It
// binds a control socket, answers the daemon's text protocol in the daemon's
// own formats and plays a small world of access points: scans whose signals
// drift, connections that succeed or fail on the passphrase, and stored
// networks read from and saved to a wpa_supplicant.conf-style file.
//
// Nothing here is shared with the supplicant client: the simulator is
// written from the daemon's observed behaviour so that it checks the client
// instead of mirroring it.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Key management suites of a network block, in the order the daemon prints
// them.
enum : unsigned {
	KM_WPA_PSK = 1u << 0,
	KM_WPA_EAP = 1u << 1,
	KM_IEEE8021X = 1u << 2,
	KM_NONE = 1u << 3,
	KM_WPA_PSK_SHA256 = 1u << 4,
	KM_WPA_EAP_SHA256 = 1u << 5,
	KM_SAE = 1u << 6,
	KM_OWE = 1u << 7,
	// What a WEP access point offers: no network block asks for it.
	KM_WEP = 1u << 8,
};
// What a network block has when it names no key_mgmt.
inline constexpr unsigned KM_DEFAULT = KM_WPA_PSK | KM_WPA_EAP;
inline constexpr unsigned KM_PSK_ANY = KM_WPA_PSK | KM_WPA_PSK_SHA256;
inline constexpr unsigned KM_EAP_ANY = KM_WPA_EAP | KM_WPA_EAP_SHA256 |
    KM_IEEE8021X;

inline constexpr size_t SIM_SSID_MAX = 32;
// The daemon's request and reply buffers.
inline constexpr size_t SIM_REQUEST_MAX = 4095;
inline constexpr size_t SIM_REPLY_MAX = 4096;
inline constexpr size_t SIM_NETWORKS_MAX = 1000;
inline constexpr size_t SIM_CLIENTS_MAX = 64;

// One stored network.  Optional texts are unset until configured; the
// daemon answers GET_NETWORK on an unset field with FAIL.
struct sim_network {
	int id;
	std::optional<std::string> ssid;      // raw bytes, at most 32
	std::optional<std::string> psk;       // passphrase, or 64 hex digits
	bool psk_hex;
	unsigned key_mgmt;                    // KM_* bits
	std::optional<std::string> eap;       // method names, blank-separated
	std::optional<std::string> identity;
	std::optional<std::string> password;
	std::optional<std::string> sae_password;
	std::optional<std::string> id_str;
	std::optional<std::string> bssid;     // as given, lower case
	int priority;
	int scan_ssid;
	int ieee80211w;                       // 0 off, 1 optional, 2 required
	int owe_only;
	int disabled;                         // 0 enabled, 1 disabled, 2 P2P
	int auth_failures;
	int64_t disabled_until;               // monotonic ms; 0 when not
	std::vector<std::string> extra;       // lines of the file kept verbatim
};

// One access point of the world.
struct sim_ap {
	uint8_t bssid[6];
	int freq;
	int base_signal;          // signals drift around this level
	std::string flags;        // as SCAN_RESULTS shows them
	std::string ssid;         // true SSID (raw bytes)
	bool hidden;              // beacons carry an empty SSID
	int presence;             // percent chance of being heard by a scan
	std::string psk;          // passphrase of a PSK or SAE network
	std::string identity;     // credentials of an EAP network
	std::string password;

	// Simulation state.
	int signal;
	bool heard;               // heard by the last scan
	bool revealed;            // a hidden SSID learnt by a directed probe
	int missed;               // scans in a row that did not hear it
	int bss_id;               // id in the BSS table, -1 when not in it
	int64_t seen_ms;          // when last heard
};

// An attached monitor.
struct sim_client {
	struct sockaddr_un addr;
	socklen_t len;
	int errors;               // failed sends in a row
};

enum sim_timer_kind {
	TIMER_EVENT,              // send `text` as an event
	TIMER_REPLY,              // send `text` to `to` (a late reply)
	TIMER_SCAN_DONE,
	TIMER_LINK,               // the next step of a connection (`arg`)
	TIMER_BURST,              // the next batch of a burst
};

struct sim_timer {
	int64_t when;             // monotonic ms
	sim_timer_kind kind;
	int arg;
	unsigned gen;             // link generation that scheduled it
	std::string text;
	struct sockaddr_un to;
	socklen_t to_len;
};

enum sim_wpa_state {
	WPA_DISCONNECTED,
	WPA_INACTIVE,
	WPA_SCANNING,
	WPA_ASSOCIATING,
	WPA_ASSOCIATED,
	WPA_4WAY_HANDSHAKE,
	WPA_COMPLETED,
};

struct sim_options {
	const char *ctrl_path;
	const char *config_path;
	const char *world_path;
	const char *log_path;
	uint64_t seed;
	int scan_delay_ms;
	int connect_delay_ms;     // per step of a connection
	bool start_disconnected;
	bool empty_bss;           // nothing scanned yet: the table starts empty
	int watch_fd;             // stop when this descriptor reaches its end (-1)
	// Fault modes for robustness tests.
	long hang_after;          // stop answering after this many requests (-1)
	int late_ms;              // delay every reply by this much
	int flood;                // events sent ahead of every reply
	int burst;                // events a SIGUSR2 sends, spread over
	int burst_ms;             // this many milliseconds
	bool no_wpa3;             // a build without SAE and OWE
};

struct sim {
	sim_options opt;
	int fd;
	FILE *log;
	uint64_t rng;
	uint8_t own_addr[6];

	std::vector<sim_network> networks;
	std::vector<sim_ap> aps;
	std::vector<sim_client> clients;
	std::vector<sim_timer> timers;

	// Global lines of the configuration file, kept in order.
	std::vector<std::string> globals;
	int update_config;
	int passive_scan;

	long requests;            // received so far
	struct sockaddr_un from;  // sender of the request being handled
	socklen_t from_len;
	int next_bss_id;
	bool scanning;
	bool stop;                // TERMINATE was requested

	// The link.
	sim_wpa_state state;
	int cur_id;               // the current network, or -1
	int cur_ap;               // the access point in `aps`, or -1
	bool ip_ready;
	bool disconnected;        // DISCONNECT was requested: no auto-connect
	unsigned gen;             // bumped whenever a connection is abandoned
	int select_id;            // connect to this after the scan (-1: any)
	bool connect_after_scan;
	std::vector<int> select_freqs;  // only access points on these (all if empty)

	// A burst of events (SIGUSR2): when it began, how many have gone.
	bool bursting;
	int64_t burst_start;      // monotonic ms
	int burst_sent;

	// Events raised while a request is handled go out after its reply.
	bool in_request;
	std::vector<std::string> deferred;
};

// main.cc
int64_t now_ms(void);
// Sends "<3>" and the formatted text to every attached client; while a
// request is handled, after its reply.
void event_send(sim &s, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));
// The same, at once: for the events the daemon sends ahead of the reply.
void event_send_now(sim &s, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));
void timer_add(sim &s, int delay_ms, sim_timer_kind kind, int arg);
std::string strprintf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// text.cc
std::string text_encode(std::string_view data);
bool text_decode_value(std::string_view value, std::string &out, size_t max);
std::string text_value(std::string_view data);
bool text_printable(std::string_view data);
bool parse_int(std::string_view text, long long min, long long max,
    long long *out);
bool parse_mac(std::string_view text, uint8_t mac[6]);
std::string mac_text(const uint8_t mac[6]);
std::string_view next_word(std::string_view &text);

// config.cc
sim_network network_new(int id);
bool network_field_set(sim_network &n, std::string_view name,
    std::string_view value);
std::optional<std::string> network_field_get(const sim_network &n,
    std::string_view name);
bool config_load(sim &s, const char *path, std::string &err);
bool config_write(sim &s, std::string &err);

// world.cc
void world_default(sim &s);
bool world_load(sim &s, const char *path, std::string &err);
void world_start(sim &s);
void scan_finish(sim &s);
int ap_find(sim &s, const sim_network &n, const std::vector<int> &freqs);
unsigned ap_key_mgmt(const sim_ap &ap);
unsigned network_akm_usable(const sim_network &n, const sim_ap &ap);
bool ap_listed(const sim_ap &ap);
std::string ap_ssid(const sim_ap &ap);

// link.cc
void link_start(sim &s);
void link_connect(sim &s, int id, int ap);
void link_drop(sim &s, int reason, bool local);
void link_step(sim &s, int step);
void link_after_scan(sim &s);
bool link_scan(sim &s);
sim_network *network_find(sim &s, int id);
bool network_temp_disabled(const sim &s, const sim_network &n);
void status_text(sim &s, std::string &out);

// requests.cc
bool request_handle(sim &s, std::string_view req, std::string &reply);
