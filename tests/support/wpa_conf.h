// The configuration file the supplicant saves, read as the tests compare
// it: global settings and network blocks.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

// A configuration file: its global settings, and its network blocks in
// file order, each under its "ssid" value as written (with its quotes).
using conf_settings = std::map<std::string, std::string>;
struct wpa_conf {
	conf_settings globals;
	std::vector<std::pair<std::string, conf_settings>> networks;
};

wpa_conf wpa_conf_parse(const std::string &text);
// What differs between `want` and `got`, one line per difference; "" when
// they agree.  A setting that the daemon writes into every block it saves
// (mesh_fwding=1) is no difference.
std::string wpa_conf_diff(const wpa_conf &want, const wpa_conf &got);
// The network block with that SSID (written with its quotes), or nullptr.
conf_settings *wpa_conf_network(wpa_conf *conf, const std::string &ssid);

// The network blocks of a wpa_supplicant.conf, each as its lines (trimmed,
// sorted), in file order; and its global lines.
std::vector<std::string> config_networks(const std::string &text);
std::vector<std::string> config_globals(const std::string &text);
