// The simulated supplicant's files: stored networks saved in the daemon's
// layout and read back, lines it does not know kept, bad files refused;
// and the world file.
#include <gtest/gtest.h>
#include <unistd.h>

#include "simsupp_harness.h"

static const char *const base_config =
    "ctrl_interface=/var/run/wpa_supplicant\n"
    "# kept as it stands\n"
    "country=DE\n"
    "\n"
    "network={\n"
    "\tssid=\"Home\"\n"
    "\tpsk=\"correct horse\"\n"
    "\tpriority=5\n"
    "\tproto=RSN\n"
    "}\n"
    "\n"
    "network={\n"
    "   ssid=\"CorpNet\"\n"
    "   key_mgmt=WPA-EAP\n"
    "   eap=PEAP\n"
    "   identity=\"alice\"\n"
    "   password=\"wonderland\"\n"
    "}\n"
    "network={\n"
    "\tssid=\"Gone\"\n"
    "\tkey_mgmt=NONE\n"
    "}\n";

struct file_session {
	simsupp_proc p;
	simsupp_client c;
};

struct file_guard {
	file_session *s;
	~file_guard()
	{
		simsupp_client_close(&s->c);
		EXPECT_EQ(simsupp_stop(&s->p), 0);
	}
};

static bool
open_session(file_session *s, const std::string &config)
{
	return simsupp_start(&s->p, SIMSUPP_BINARY, config,
	    {"--start-disconnected"}) && simsupp_client_open(&s->c, s->p.sock);
}

TEST(simsupp_config, saves_in_daemon_layout_and_reads_back)
{
	file_session s;
	file_guard g{&s};
	ASSERT_TRUE(open_session(&s, base_config));

	// Saving is refused until update_config allows it.
	EXPECT_EQ(simsupp_request(&s.c, "SAVE_CONFIG"), "FAIL\n");
	EXPECT_EQ(file_read(s.p.config), base_config);

	for (const char *r : {"SET update_config 1", "SET_NETWORK 0 priority 7",
	    "DISABLE_NETWORK 1", "REMOVE_NETWORK 2"})
		ASSERT_EQ(simsupp_request(&s.c, r), "OK\n") << r;
	// The new id is one above the highest in use, as the daemon counts.
	ASSERT_EQ(simsupp_request(&s.c, "ADD_NETWORK"), "2\n");
	for (const char *r : {
	    "SET_NETWORK 2 ssid \"\xe5\x92\x96\xe5\x95\xa1\xe5\xba\x97 Tea\"",
	    "SET_NETWORK 2 psk \"kafeidian\"", "SET_NETWORK 2 scan_ssid 1",
	    "SET_NETWORK 2 priority -2", "ENABLE_NETWORK 2"})
		ASSERT_EQ(simsupp_request(&s.c, r), "OK\n") << r;
	std::string list = simsupp_request(&s.c, "LIST_NETWORKS");
	ASSERT_EQ(simsupp_request(&s.c, "SAVE_CONFIG"), "OK\n");

	EXPECT_EQ(file_read(s.p.config),
	    "ctrl_interface=/var/run/wpa_supplicant\n"
	    "# kept as it stands\n"
	    "country=DE\n"
	    "update_config=1\n"
	    "\n"
	    "network={\n"
	    "\tssid=\"Home\"\n"
	    "\tpsk=\"correct horse\"\n"
	    "\tpriority=7\n"
	    "\tproto=RSN\n"
	    "}\n"
	    "\n"
	    "network={\n"
	    "\tssid=\"CorpNet\"\n"
	    "\tkey_mgmt=WPA-EAP\n"
	    "\teap=PEAP\n"
	    "\tidentity=\"alice\"\n"
	    "\tpassword=\"wonderland\"\n"
	    "\tdisabled=1\n"
	    "}\n"
	    "\n"
	    "network={\n"
	    "\tssid=e59296e595a1e5ba9720546561\n"
	    "\tscan_ssid=1\n"
	    "\tpsk=\"kafeidian\"\n"
	    "\tpriority=-2\n"
	    "}\n");
	std::string saved = file_read(s.p.config);

	// A new daemon on the saved file holds the same networks and saves the
	// same file.
	file_session t;
	file_guard gt{&t};
	ASSERT_TRUE(open_session(&t, saved));
	std::string relist = simsupp_request(&t.c, "LIST_NETWORKS");
	EXPECT_EQ(relist, "network id / ssid / bssid / flags\n"
	    "0\tHome\tany\t\n"
	    "1\tCorpNet\tany\t[DISABLED]\n"
	    "2\t\\xe5\\x92\\x96\\xe5\\x95\\xa1\\xe5\\xba\\x97 Tea\tany\t\n");
	EXPECT_EQ(list, relist);
	EXPECT_EQ(simsupp_request(&t.c, "GET_NETWORK 2 scan_ssid"), "1");
	EXPECT_EQ(simsupp_request(&t.c, "GET_NETWORK 0 priority"), "7");
	ASSERT_EQ(simsupp_request(&t.c, "SAVE_CONFIG"), "OK\n");
	EXPECT_EQ(file_read(t.p.config), saved);
}

TEST(simsupp_config, update_config_zero_refuses_save)
{
	file_session s;
	file_guard g{&s};
	std::string config = std::string("update_config=1\n") + base_config;
	ASSERT_TRUE(open_session(&s, config));
	ASSERT_EQ(simsupp_request(&s.c, "SET update_config 0"), "OK\n");
	ASSERT_EQ(simsupp_request(&s.c, "REMOVE_NETWORK all"), "OK\n");
	EXPECT_EQ(simsupp_request(&s.c, "SAVE_CONFIG"), "FAIL\n");
	EXPECT_EQ(file_read(s.p.config), config);
}

TEST(simsupp_config, refuses_bad_files)
{
	static const struct {
		const char *name;
		const char *text;
		const char *message;
	} cases[] = {
		{"unclosed", "network={\n\tssid=\"x\"\n", "wpa.conf:3: network "
		    "block not closed"},
		{"short psk", "network={\n\tssid=\"x\"\n\tpsk=\"short\"\n}\n",
		    "wpa.conf:3: invalid value"},
		{"bad priority", "network={\n\tpriority=high\n}\n",
		    "wpa.conf:2: invalid value"},
		{"long ssid", "network={\n\tssid=\"123456789012345678901234567890"
		    "123\"\n}\n", "wpa.conf:2: invalid value"},
		{"no equals", "network={\n\tssid\n}\n",
		    "wpa.conf:2: expected name=value"},
		{"bad global", "update_config=yes\n", "wpa.conf:1: invalid number"},
	};
	for (const auto &tc : cases) {
		SCOPED_TRACE(tc.name);
		std::string dir = "/tmp/simsupp-conf-" + std::to_string(getpid()) +
		    "-XXXXXX";
		ASSERT_NE(mkdtemp(dir.data()), nullptr);
		std::string conf = dir + "/wpa.conf";
		ASSERT_TRUE(file_write(conf, tc.text));
		command_result r = command_run({SIMSUPP_BINARY, "-s", dir + "/s",
		    "-c", conf});
		unlink(conf.c_str());
		rmdir(dir.c_str());
		EXPECT_EQ(r.status, 1) << r.out;
		EXPECT_NE(r.out.find(tc.message), std::string::npos) << r.out;
	}
	command_result r = command_run({SIMSUPP_BINARY, "-s", "/tmp/x",
	    "-c", "/nonexistent/wpa.conf"});
	EXPECT_EQ(r.status, 1) << r.out;
	r = command_run({SIMSUPP_BINARY, "-c", "/nonexistent/wpa.conf"});
	EXPECT_EQ(r.status, 1) << r.out;
	EXPECT_NE(r.out.find("usage:"), std::string::npos) << r.out;
}

TEST(simsupp_config, world_file)
{
	static const char *const world =
	    "# two access points\n"
	    "bssid=02:00:00:00:aa:01 freq=5180 signal=-50 "
	    "flags=[WPA2-PSK-CCMP][ESS] ssid=\"Say \\\"hi\\\"\\t\\x01\" "
	    "psk=\"12345678\"\n"
	    "\n"
	    "bssid=02:00:00:00:aa:02 freq=2412 ssid=\"Secret\" hidden\n";
	simsupp_proc p;
	simsupp_guard g{&p};
	std::string wpath = "/tmp/simsupp-world-" + std::to_string(getpid());
	ASSERT_TRUE(file_write(wpath, world));
	bool started = simsupp_start(&p, SIMSUPP_BINARY, "", {"-f", wpath});
	unlink(wpath.c_str());
	ASSERT_TRUE(started);
	simsupp_client c;
	simsupp_client_guard cg{&c};
	ASSERT_TRUE(simsupp_client_open(&c, p.sock));
	EXPECT_EQ(simsupp_request(&c, "SCAN_RESULTS"),
	    "bssid / frequency / signal level / flags / ssid\n"
	    "02:00:00:00:aa:01\t5180\t-50\t[WPA2-PSK-CCMP][ESS]\t"
	    "Say \\\"hi\\\"\\t\\x01\n"
	    "02:00:00:00:aa:02\t2412\t-60\t[ESS]\t\n");
	// Without a configuration file there is nothing to save to.
	EXPECT_EQ(simsupp_request(&c, "SET update_config 1"), "OK\n");
	EXPECT_EQ(simsupp_request(&c, "SAVE_CONFIG"), "FAIL\n");

	static const char *const bad[] = {
		"bssid=02:00:00:00:aa:01 ssid=\"x\"\n",                // no freq
		"bssid=02:00:00:00:aa freq=2412 ssid=\"x\"\n",
		"bssid=02:00:00:00:aa:01 freq=2412 ssid=\"x\" color=red\n",
		"bssid=02:00:00:00:aa:01 freq=2412 ssid=\"unterminated\n",
		"bssid=02:00:00:00:aa:01 freq=2412 flags=\"[ESS]\\t\" ssid=\"x\"\n",
	};
	for (const char *w : bad) {
		ASSERT_TRUE(file_write(wpath, w));
		command_result r = command_run({SIMSUPP_BINARY, "-s",
		    wpath + ".sock", "-f", wpath});
		unlink(wpath.c_str());
		EXPECT_EQ(r.status, 1) << w << r.out;
		EXPECT_NE(r.out.find(":1: "), std::string::npos) << r.out;
	}
}
