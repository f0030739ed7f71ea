// The simulated supplicant driven by the real wpa_cli: the daemon's own
// client must read its replies and get its requests through.
#include <gtest/gtest.h>

#include "simsupp_harness.h"

static const char *const base_config =
    "ctrl_interface=/var/run/wpa_supplicant\n"
    "\n"
    "network={\n"
    "\tssid=\"Home\"\n"
    "\tpsk=\"correct horse\"\n"
    "\tpriority=5\n"
    "}\n"
    "\n"
    "network={\n"
    "\tssid=\"Stealth\"\n"
    "\tscan_ssid=1\n"
    "\tpsk=\"invisible\"\n"
    "\tdisabled=1\n"
    "}\n";

struct cli_session {
	simsupp_proc p;
	std::string wpa_cli;
};

static command_result
cli(cli_session *s, const std::vector<std::string> &args)
{
	std::vector<std::string> argv = {s->wpa_cli, "-p", s->p.ctrl_dir, "-i",
	    s->p.name};
	argv.insert(argv.end(), args.begin(), args.end());
	return command_run(argv);
}

static bool
cli_ready(cli_session *s)
{
	s->wpa_cli = command_find("wpa_cli");
	return !s->wpa_cli.empty();
}

TEST(simsupp_wpa_cli, reads_status_networks_and_scan_results)
{
	cli_session s;
	simsupp_guard g{&s.p};
	if (!cli_ready(&s))
		GTEST_SKIP() << "wpa_cli not installed (Debian: wpasupplicant)";
	ASSERT_TRUE(simsupp_start(&s.p, SIMSUPP_BINARY, base_config));

	command_result r = cli(&s, {"status"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out.rfind("bssid=02:00:00:00:01:01\nfreq=2437\nssid=Home\n"
	    "id=0\nmode=station\n", 0), 0u) << r.out;
	EXPECT_NE(r.out.find("\nwpa_state=COMPLETED\nip_address=192.168."),
	    std::string::npos) << r.out;

	r = cli(&s, {"list_networks"});
	EXPECT_EQ(r.out, "network id / ssid / bssid / flags\n"
	    "0\tHome\tany\t[CURRENT]\n"
	    "1\tStealth\tany\t[DISABLED]\n");

	r = cli(&s, {"scan_results"});
	EXPECT_EQ(r.out.rfind("bssid / frequency / signal level / flags / ssid\n"
	    "02:00:00:00:01:01\t2437\t-42\t[WPA2-PSK-CCMP][ESS]\tHome\n", 0), 0u)
	    << r.out;
	for (const char *line : {
	    // Double-width characters, escaped byte by byte.
	    "\t2412\t-61\t[WPA2-PSK-CCMP][ESS]\t"
	    "\\xe5\\x92\\x96\\xe5\\x95\\xa1\\xe5\\xba\\x97 Tea\n",
	    "\t[WPA2-SAE-CCMP][ESS]\tFortress\n",
	    // Hidden: an empty SSID field; NUL bytes as \x00.
	    "02:00:00:00:05:01\t2452\t-60\t[WPA2-PSK-CCMP][ESS]\t\n",
	    "\t\\x00\\x00\\x00\\x00\\x00\\x00\n",
	    "\tLab \\\"Guest\\\" \\\\ 2.4\n",
	    "\tTab\\there\\x01\n",
	    "\tCaf\\xe9 Latin-1\n",
	})
		EXPECT_NE(r.out.find(line), std::string::npos) << line;

	r = cli(&s, {"bss", "02:00:00:00:04:02"});
	EXPECT_NE(r.out.find("\nfreq=5745\n"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("\nssid=Fortress\n"), std::string::npos) << r.out;
}

TEST(simsupp_wpa_cli, configures_and_saves_a_network)
{
	static const struct {
		std::vector<std::string> args;
		const char *reply;
	} steps[] = {
		{{"add_network"}, "2\n"},
		{{"set_network", "2", "ssid", "\"Caf\xc3\xa9\""}, "OK\n"},
		{{"set_network", "2", "psk", "\"short\""}, "FAIL\n"},
		{{"set_network", "2", "psk", "noquotes"}, "FAIL\n"},
		{{"set_network", "2", "psk", std::string(64, 'g')}, "FAIL\n"},
		{{"set_network", "2", "psk", "\"" + std::string(64, 'a') + "\""},
		    "FAIL\n"},
		{{"set_network", "2", "psk", "\"" + std::string(63, 'a') + "\""},
		    "OK\n"},
		{{"set_network", "2", "psk", "\"good passphrase\""}, "OK\n"},
		{{"set_network", "2", "key_mgmt", "WPA-PSK", "SAE"}, "OK\n"},
		{{"set_network", "2", "key_mgmt", "WPA-PSK-TURBO"}, "FAIL\n"},
		{{"set_network", "2", "scan_ssid", "2"}, "FAIL\n"},
		{{"set_network", "2", "priority", "3"}, "OK\n"},
		{{"set_network", "2", "colour", "3"}, "FAIL\n"},
		{{"set_network", "7", "priority", "3"}, "FAIL\n"},
		{{"get_network", "2", "ssid"}, "436166c3a9"},
		{{"get_network", "2", "key_mgmt"}, "WPA-PSK SAE"},
		{{"get_network", "2", "psk"}, "*"},
		{{"get_network", "2", "identity"}, "FAIL\n"},
		{{"enable_network", "2"}, "OK\n"},
		{{"disable_network", "1"}, "OK\n"},
		{{"enable_network", "9"}, "FAIL\n"},
		{{"save_config"}, "FAIL\n"},
		{{"set", "update_config", "1"}, "OK\n"},
		{{"save_config"}, "OK\n"},
		{{"list_networks"}, "network id / ssid / bssid / flags\n"
		    "0\tHome\tany\t[CURRENT]\n1\tStealth\tany\t[DISABLED]\n"
		    "2\tCaf\\xc3\\xa9\tany\t\n"},
		{{"remove_network", "1"}, "OK\n"},
		{{"remove_network", "1"}, "FAIL\n"},
	};
	cli_session s;
	simsupp_guard g{&s.p};
	if (!cli_ready(&s))
		GTEST_SKIP() << "wpa_cli not installed (Debian: wpasupplicant)";
	ASSERT_TRUE(simsupp_start(&s.p, SIMSUPP_BINARY, base_config));
	for (const auto &st : steps) {
		command_result r = cli(&s, st.args);
		EXPECT_EQ(r.out, st.reply) << st.args[0] << " " <<
		    (st.args.size() > 2 ? st.args[2] : "");
	}
	std::string saved = file_read(s.p.config);
	EXPECT_NE(saved.find("\nupdate_config=1\n"), std::string::npos) << saved;
	EXPECT_NE(saved.find("\nnetwork={\n\tssid=436166c3a9\n"
	    "\tpsk=\"good passphrase\"\n\tkey_mgmt=WPA-PSK SAE\n\tpriority=3\n}\n"),
	    std::string::npos) << saved;

	// What wpa_cli sent, as the log shows it.
	std::string log = file_read(s.p.log);
	EXPECT_NE(log.find("\nSET_NETWORK 2 psk \"good passphrase\"\n"),
	    std::string::npos) << log;
	EXPECT_NE(log.find("\nSET_NETWORK 2 key_mgmt WPA-PSK SAE\n"),
	    std::string::npos) << log;
}

TEST(simsupp_wpa_cli, scan_select_and_disconnect)
{
	cli_session s;
	simsupp_guard g{&s.p};
	if (!cli_ready(&s))
		GTEST_SKIP() << "wpa_cli not installed (Debian: wpasupplicant)";
	ASSERT_TRUE(simsupp_start(&s.p, SIMSUPP_BINARY, base_config,
	    {"--connect-delay-ms", "0", "--scan-delay-ms", "0"}));
	simsupp_client c;
	simsupp_client_guard cg{&c};
	ASSERT_TRUE(simsupp_client_open(&c, s.p.sock));
	ASSERT_EQ(simsupp_request(&c, "ATTACH"), "OK\n");

	EXPECT_EQ(cli(&s, {"scan"}).out, "OK\n");
	EXPECT_NE(simsupp_wait_event(&c, "CTRL-EVENT-SCAN-RESULTS "), "");
	EXPECT_EQ(cli(&s, {"disconnect"}).out, "OK\n");
	EXPECT_NE(simsupp_wait_event(&c, "CTRL-EVENT-DISCONNECTED "), "");
	EXPECT_NE(cli(&s, {"status"}).out.find("wpa_state=DISCONNECTED\n"),
	    std::string::npos);
	EXPECT_EQ(cli(&s, {"select_network", "1"}).out, "OK\n");
	EXPECT_EQ(simsupp_wait_event(&c, "CTRL-EVENT-CONNECTED "),
	    "<3>CTRL-EVENT-CONNECTED - Connection to 02:00:00:00:05:01 "
	    "completed [id=1 id_str=]");
	simsupp_wait_event(&c, "CTRL-EVENT-SIGNAL-CHANGE ");
	command_result r = cli(&s, {"status"});
	EXPECT_NE(r.out.find("\nssid=Stealth\n"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("\nip_address="), std::string::npos) << r.out;
}
