// The simulated supplicant's replies, byte for byte: against a transcript
// of the real daemon, and for the requests whose exact form matters to a
// client (no newline after GET_NETWORK, FAIL for what is unset or unknown).
#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <gtest/gtest.h>
#include <unistd.h>

#include "simsupp_harness.h"
#include "transcript.h"

static const char *const base_config =
    "ctrl_interface=/var/run/wpa_supplicant\n"
    "\n"
    "network={\n"
    "\tssid=\"Home\"\n"
    "\tpsk=\"correct horse\"\n"
    "\tpriority=5\n"
    "}\n";

// The per-machine values of STATUS (own address, uuid) are not compared.
static std::string
mask_status(std::string reply)
{
	std::string out;
	size_t pos = 0;

	while (pos < reply.size()) {
		size_t nl = reply.find('\n', pos);
		std::string line = reply.substr(pos, nl - pos);
		size_t eq = line.find('=');
		if (line.rfind("address=", 0) == 0 || line.rfind("uuid=", 0) == 0)
			line = line.substr(0, eq + 1) + "*";
		out += line + (nl == std::string::npos ? "" : "\n");
		pos = nl == std::string::npos ? reply.size() : nl + 1;
	}
	return out;
}

// The daemon's escaping of an SSID undone: \xNN and a backslash before
// any other character.
static std::string
ssid_decode(const std::string &t)
{
	static const std::string named = "nrte", bytes = "\n\r\t\033";
	std::string out;

	for (size_t i = 0; i < t.size(); i++) {
		if (t[i] != '\\' || i + 1 == t.size()) {
			out += t[i];
		} else if (t[i + 1] == 'x' && i + 3 < t.size()) {
			out += static_cast<char>(std::stoi(t.substr(i + 2, 2), nullptr,
			    16));
			i += 3;
		} else {
			size_t k = named.find(t[++i]);
			out += k == std::string::npos ? t[i] : bytes[k];
		}
	}
	return out;
}

// The stored networks that the transcript shows: LIST_NETWORKS gives the
// ids, SSIDs and disabled flags, GET_NETWORK the other fields.
static std::string
config_from(const std::map<std::string, std::string> &replies)
{
	auto it = replies.find("LIST_NETWORKS");
	if (it == replies.end())
		return "";
	std::string config, list = it->second;
	size_t pos = list.find('\n') + 1;
	while (pos < list.size()) {
		size_t nl = list.find('\n', pos);
		std::string line = list.substr(pos, nl - pos), f[4];
		pos = nl + 1;
		for (int i = 0, start = 0; i < 4; i++) {
			size_t tab = line.find('\t', start);
			f[i] = line.substr(start, tab - start);
			start = tab == std::string::npos ? line.size() : tab + 1;
		}
		config += "network={\n";
		if (!f[1].empty()) {
			config += "\tssid=";
			for (unsigned char c : ssid_decode(f[1])) {
				char hex[3];
				snprintf(hex, sizeof(hex), "%02x", c);
				config += hex;
			}
			config += "\n";
		}
		for (const char *key : {"priority", "scan_ssid", "key_mgmt"}) {
			auto v = replies.find("GET_NETWORK " + f[0] + " " + key);
			if (v != replies.end() && v->second.find('\n') ==
			    std::string::npos)
				config += "\t" + std::string(key) + "=" + v->second + "\n";
		}
		if (f[3].find("[DISABLED]") != std::string::npos)
			config += "\tdisabled=1\n";
		config += "}\n";
	}
	return config;
}

TEST(simsupp_protocol, replays_real_daemon_transcript)
{
	transcript pairs;
	if (!transcript_read(CORVID_TEST_DATA "/wpa_supplicant.transcript",
	    &pairs))
		GTEST_SKIP() << "no transcript in " CORVID_TEST_DATA;
	ASSERT_GT(pairs.size(), 10u);
	std::map<std::string, std::string> first;
	for (const auto &[request, reply] : pairs)
		first.emplace(request, reply);
	std::string config = config_from(first);
	ASSERT_FALSE(config.empty());

	simsupp_proc p;
	simsupp_guard g{&p};
	// No access point in range, like the radio-less real daemon.
	ASSERT_TRUE(simsupp_start(&p, SIMSUPP_BINARY, config,
	    {"-f", "/dev/null"}));
	simsupp_client c;
	simsupp_client_guard cg{&c};
	ASSERT_TRUE(simsupp_client_open(&c, p.sock));
	for (const auto &[request, reply] : pairs) {
		std::string got = simsupp_request(&c, request);
		if (request == "STATUS")
			EXPECT_EQ(mask_status(got), mask_status(reply)) << request;
		else
			EXPECT_EQ(got, reply) << request;
	}
}

TEST(simsupp_protocol, exact_replies)
{
	static const struct {
		const char *request;
		const char *reply;
	} cases[] = {
		{"PING", "PONG\n"},
		{"GET_NETWORK 0 priority", "5"},
		{"GET_NETWORK 0 ssid", "\"Home\""},
		{"GET_NETWORK 0 psk", "*"},
		{"GET_NETWORK 0 key_mgmt", "WPA-PSK WPA-EAP"},
		{"GET_NETWORK 0 identity", "FAIL\n"},
		{"GET_NETWORK 0 bssid", "FAIL\n"},
		{"GET_NETWORK 0 nonsense", "FAIL\n"},
		{"GET_NETWORK 0", "FAIL\n"},
		{"GET_NETWORK 7 ssid", "FAIL\n"},
		{"GET_NETWORK", "UNKNOWN COMMAND\n"},
		{"BSS 02:00:00:00:01:01 MASK=4", "freq=2437\n"},
		{"BSS 02:00:00:00:01:02 MASK=4", "freq=5180\n"},
		{"BSS 02:00:00:00:01:01 MASK=6",
		    "bssid=02:00:00:00:01:01\nfreq=2437\n"},
		{"BSS 02:00:00:00:99:99 MASK=4", ""},
		{"BSS nonsense", ""},
		{"BSS", "UNKNOWN COMMAND\n"},
		{"NO_SUCH_COMMAND", "UNKNOWN COMMAND\n"},
		{"", "UNKNOWN COMMAND\n"},
		{"status", "UNKNOWN COMMAND\n"},
		{"ATTACH x", "UNKNOWN COMMAND\n"},
		{"DETACH", "FAIL\n"},
		{"SCAN_RESULTS x", "UNKNOWN COMMAND\n"},
		{"SET", "UNKNOWN COMMAND\n"},
		{"SET foo 1", "FAIL\n"},
		{"SET passive_scan", "FAIL\n"},
		{"SET update_config x", "FAIL\n"},
		{"SAVE_CONFIG", "FAIL\n"},
		{"SAVE_CONFIG now", "UNKNOWN COMMAND\n"},
		{"ENABLE_NETWORK 9", "FAIL\n"},
		{"ENABLE_NETWORK x", "FAIL\n"},
		{"DISABLE_NETWORK 9", "FAIL\n"},
		{"REMOVE_NETWORK 9", "FAIL\n"},
		{"REMOVE_NETWORK x", "FAIL\n"},
		{"REMOVE_NETWORK -1", "FAIL\n"},
		{"SELECT_NETWORK 99", "FAIL\n"},
		{"SELECT_NETWORK 0 freq=abc", "FAIL\n"},
		{"SELECT_NETWORK", "UNKNOWN COMMAND\n"},
		{"SET_NETWORK 9 priority 1", "FAIL\n"},
		{"SET_NETWORK x priority 1", "FAIL\n"},
		{"SET_NETWORK 0 priority", "FAIL\n"},
		{"SET_NETWORK 0 priority 1x", "FAIL\n"},
		{"SET_NETWORK 0 priority 2147483648", "FAIL\n"},
		{"SET_NETWORK 0 priority  -3", "OK\n"},
		{"GET_NETWORK 0 priority", "-3"},
	};
	simsupp_proc p;
	simsupp_guard g{&p};
	ASSERT_TRUE(simsupp_start(&p, SIMSUPP_BINARY, base_config));
	simsupp_client c;
	simsupp_client_guard cg{&c};
	ASSERT_TRUE(simsupp_client_open(&c, p.sock));
	for (const auto &tc : cases)
		EXPECT_EQ(simsupp_request(&c, tc.request), tc.reply) << tc.request;
	// A NUL ends the request, as the daemon reads it as a C string.
	EXPECT_EQ(simsupp_request(&c, std::string("PING\0junk", 9)), "PONG\n");
}

TEST(simsupp_protocol, oversized_request_fails_and_service_goes_on)
{
	simsupp_proc p;
	simsupp_guard g{&p};
	ASSERT_TRUE(simsupp_start(&p, SIMSUPP_BINARY, base_config));
	simsupp_client c;
	simsupp_client_guard cg{&c};
	ASSERT_TRUE(simsupp_client_open(&c, p.sock));

	// Cut to the daemon's buffer it would read as a valid request.
	std::string big = "SET_NETWORK 0 priority 7" + std::string(5000, ' ');
	EXPECT_EQ(simsupp_request(&c, big), "FAIL\n");
	EXPECT_EQ(simsupp_request(&c, "GET_NETWORK 0 priority"), "5");
	EXPECT_EQ(simsupp_request(&c, "PING"), "PONG\n");
}

TEST(simsupp_protocol, logs_every_request_on_one_line)
{
	simsupp_proc p;
	simsupp_guard g{&p};
	ASSERT_TRUE(simsupp_start(&p, SIMSUPP_BINARY, base_config));
	simsupp_client c;
	simsupp_client_guard cg{&c};
	ASSERT_TRUE(simsupp_client_open(&c, p.sock));
	simsupp_request(&c, "SET_NETWORK 0 psk \"pass word\"");
	simsupp_request(&c, "BAD\nLINE\\\xe5");
	simsupp_request(&c, "STATUS");

	std::string log = file_read(p.log);
	std::string tail = "SET_NETWORK 0 psk \"pass word\"\n"
	    "BAD\\x0aLINE\\\\\\xe5\n"
	    "STATUS\n";
	ASSERT_GE(log.size(), tail.size());
	EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
	EXPECT_EQ(log.rfind("PING\n", 0), 0u) << log;
}

TEST(simsupp_protocol, stops_cleanly_on_signals)
{
	for (int sig : {SIGTERM, SIGINT}) {
		simsupp_proc p;
		simsupp_guard g{&p};
		ASSERT_TRUE(simsupp_start(&p, SIMSUPP_BINARY, base_config));
		ASSERT_EQ(kill(p.pid, sig), 0);
		int status;
		ASSERT_EQ(waitpid(p.pid, &status, 0), p.pid);
		p.pid = -1;
		ASSERT_TRUE(WIFEXITED(status)) << sig;
		EXPECT_EQ(WEXITSTATUS(status), 0) << sig;
		EXPECT_NE(access(p.sock.c_str(), F_OK), 0) << "socket left behind";
		EXPECT_NE(access(p.ctrl_dir.c_str(), F_OK), 0) << "directory left";
	}
}

TEST(simsupp_protocol, replaces_stale_socket_but_not_live_one)
{
	simsupp_proc p;
	simsupp_guard g{&p};
	ASSERT_TRUE(simsupp_start(&p, SIMSUPP_BINARY, base_config));

	// A second daemon on the same live socket refuses to start.
	command_result r = command_run({SIMSUPP_BINARY, "-s", p.sock});
	EXPECT_EQ(r.status, 1) << r.out;
	EXPECT_NE(r.out.find("in use"), std::string::npos) << r.out;

	// After an unclean end (the socket file stays), a new one starts.
	kill(p.pid, SIGKILL);
	waitpid(p.pid, nullptr, 0);
	p.pid = -1;
	ASSERT_EQ(access(p.sock.c_str(), F_OK), 0);
	simsupp_proc q;
	simsupp_guard gq{&q};
	q.sock = p.sock;
	ASSERT_TRUE(simsupp_start(&q, SIMSUPP_BINARY, base_config));
	EXPECT_EQ(simsupp_stop(&q), 0);
	EXPECT_NE(access(p.sock.c_str(), F_OK), 0);
}
