#include "wpa_conf.h"

#include <algorithm>
#include <sstream>

#include "files.h"

// Settings the daemon adds to every network block it saves.
static const conf_settings daemon_block_defaults = {
	{ "mesh_fwding", "1" },
};

wpa_conf
wpa_conf_parse(const std::string &text)
{
	wpa_conf conf;
	conf_settings block;
	bool in_block = false;

	for (const std::string &raw : text_lines(text)) {
		std::string line = text_trim(raw);
		if (line.empty() || line[0] == '#')
			continue;
		if (line == "network={") {
			in_block = true;
			block.clear();
		} else if (line == "}" && in_block) {
			in_block = false;
			conf.networks.emplace_back(block["ssid"], block);
		} else if (size_t eq = line.find('='); eq != std::string::npos) {
			(in_block ? block : conf.globals)[line.substr(0, eq)] =
			    line.substr(eq + 1);
		}
	}
	return conf;
}

conf_settings *
wpa_conf_network(wpa_conf *conf, const std::string &ssid)
{
	for (auto &[name, block] : conf->networks)
		if (name == ssid)
			return &block;
	return nullptr;
}

static void
settings_diff(std::ostringstream &out, const std::string &where,
    const conf_settings &want, const conf_settings &got,
    const conf_settings &tolerated)
{
	for (const auto &[key, value] : want) {
		auto it = got.find(key);
		if (it == got.end())
			out << where << ": " << key << "=" << value << " lost\n";
		else if (it->second != value)
			out << where << ": " << key << "=" << it->second
			    << ", want " << value << "\n";
	}
	for (const auto &[key, value] : got) {
		if (want.count(key) != 0)
			continue;
		auto t = tolerated.find(key);
		if (t == tolerated.end() || t->second != value)
			out << where << ": " << key << "=" << value << " added\n";
	}
}

std::string
wpa_conf_diff(const wpa_conf &want, const wpa_conf &got)
{
	std::ostringstream out;

	settings_diff(out, "globals", want.globals, got.globals, {});
	std::string want_order, got_order;
	for (const auto &n : want.networks)
		want_order += n.first + " ";
	for (const auto &n : got.networks)
		got_order += n.first + " ";
	if (want_order != got_order)
		out << "networks: " << got_order << "want " << want_order << "\n";
	for (const auto &[ssid, block] : want.networks)
		for (const auto &[got_ssid, got_block] : got.networks)
			if (got_ssid == ssid) {
				settings_diff(out, ssid, block, got_block,
				    daemon_block_defaults);
				break;
			}
	return out.str();
}

std::vector<std::string>
config_networks(const std::string &text)
{
	std::vector<std::string> out, block;
	std::istringstream in(text);
	std::string line;
	bool inside = false;

	while (std::getline(in, line)) {
		line = text_trim(line);
		if (!inside) {
			inside = line == "network={";
			block.clear();
			continue;
		}
		if (line != "}") {
			block.push_back(line);
			continue;
		}
		inside = false;
		std::sort(block.begin(), block.end());
		std::string joined;
		for (const auto &l : block)
			joined += l + "\n";
		out.push_back(joined);
	}
	return out;
}

std::vector<std::string>
config_globals(const std::string &text)
{
	std::vector<std::string> out;
	std::istringstream in(text);
	std::string line;
	bool inside = false;

	while (std::getline(in, line)) {
		line = text_trim(line);
		if (line == "network={")
			inside = true;
		else if (inside && line == "}")
			inside = false;
		else if (!inside && !line.empty() && line[0] != '#')
			out.push_back(line);
	}
	return out;
}
