// The command set: the requests each operation sends, how it judges the
// replies, and what it reports.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_daemon.h"
#include "wifi.h"

using testing::ElementsAre;
using testing::HasSubstr;
using strings = std::vector<std::string>;

using wifi_commands = fake_daemon_test;

// What the real daemon cannot show: the select variants, the order of the
// EAP settings, passive scanning.  The rest is checked against the real
// daemon in wifi_real.cc.
TEST_F(wifi_commands, requests_sent)
{
	const struct {
		std::function<int(wpa_ctrl *)> op;
		strings requests;
	} cases[] = {
		{ [](wpa_ctrl *c) { return passive_scan_set(c, 1); },
		    { "SET passive_scan 1" } },
		{ [](wpa_ctrl *c) { return network_select(c, -1, 2412); },
		    { "SELECT_NETWORK any" } },
		{ [](wpa_ctrl *c) { return network_select(c, 3, 0); },
		    { "SELECT_NETWORK 3" } },
		{ [](wpa_ctrl *c) { return network_select(c, 3, 5180); },
		    { "SELECT_NETWORK 3 freq=5180" } },
		{ [](wpa_ctrl *c) { return network_set_eap(c, 4, "bob", "pw"); },
		    { "SET_NETWORK 4 password \"pw\"", "SET_NETWORK 4 identity \"bob\"",
		    "SET_NETWORK 4 key_mgmt WPA-EAP" } },
		{ config_save, { "SET update_config 1", "SAVE_CONFIG" } },
		{ [](wpa_ctrl *c) { return network_set_autoconnect(c, 2, true); },
		    { "ENABLE_NETWORK 2" } },
		{ [](wpa_ctrl *c) { return network_set_autoconnect(c, 2, false); },
		    { "DISABLE_NETWORK 2" } },
	};
	for (const auto &c : cases) {
		fake_daemon_clear_requests(&daemon);
		stderr_begin();
		EXPECT_EQ(c.op(ctrl), 0) << c.requests[0];
		EXPECT_EQ(stderr_end(), "");
		EXPECT_EQ(fake_daemon_requests(&daemon), c.requests);
	}
}

TEST_F(wifi_commands, failure_replies)
{
	// Each operation with its first request answered "FAIL": the result,
	// the requests that went out, and the operation's own message (the
	// OK check adds "wpa_ctrl request failed: ..." except for select).
	const struct {
		std::function<int(wpa_ctrl *)> op;
		const char *fails;
		strings requests;
		const char *message;
	} cases[] = {
		{ scan_start, "SCAN", { "SCAN" }, "failed to initiate scan" },
		{ [](wpa_ctrl *c) { return passive_scan_set(c, 0); },
		    "SET passive_scan 0", { "SET passive_scan 0" },
		    "(wpa_ctrl) failed to set passive_scan=0" },
		{ config_save, "SET update_config 1", { "SET update_config 1" },
		    "(wpa_ctrl) failed to set update_config=1" },
		{ config_save, "SAVE_CONFIG", { "SET update_config 1", "SAVE_CONFIG" },
		    "(wpa_ctrl) failed to save config" },
		{ [](wpa_ctrl *c) { return network_set_eap(c, 1, "bob", "pw"); },
		    "SET_NETWORK 1 password \"pw\"", { "SET_NETWORK 1 password \"pw\"" },
		    "wpa_ctrl request failed: SET_NETWORK 1 password [REMOVED]" },
		{ [](wpa_ctrl *c) { return network_set_eap(c, 1, "bob", "pw"); },
		    "SET_NETWORK 1 identity \"bob\"", { "SET_NETWORK 1 password \"pw\"",
		    "SET_NETWORK 1 identity \"bob\"" },
		    "wpa_ctrl request failed: SET_NETWORK 1 identity \"bob\"" },
		{ [](wpa_ctrl *c) { return network_set_autoconnect(c, 9, true); },
		    "ENABLE_NETWORK 9", { "ENABLE_NETWORK 9" },
		    "wpa_ctrl request failed: ENABLE_NETWORK 9" },
		{ [](wpa_ctrl *c) { return network_remove(c, 9); },
		    "REMOVE_NETWORK 9", { "REMOVE_NETWORK 9" },
		    "wpa_ctrl request failed: REMOVE_NETWORK 9" },
	};
	for (const auto &c : cases) {
		daemon.world.fail = { c.fails };
		fake_daemon_clear_requests(&daemon);
		stderr_begin();
		EXPECT_EQ(c.op(ctrl), -1) << c.fails;
		EXPECT_THAT(stderr_end(), HasSubstr(c.message));
		EXPECT_EQ(fake_daemon_requests(&daemon), c.requests);
	}
}

TEST_F(wifi_commands, replies_judged_by_their_first_two_bytes)
{
	static const struct {
		const char *reply;
		int result;
	} cases[] = {
		{ "OK\n", 0 },
		{ "OK", 0 },
		{ "OKAY-THEN\n", 0 },
		{ "FAIL\n", -1 },
		{ "O", -1 },
		{ "", -1 },
		{ "ok\n", -1 },
	};
	for (const auto &c : cases) {
		daemon.world.replies["RECONNECT"] = c.reply;
		daemon.world.replies["SELECT_NETWORK 1"] = c.reply;
		stderr_begin();
		EXPECT_EQ(supplicant_reconnect(ctrl), c.result) << c.reply;
		EXPECT_EQ(network_select(ctrl, 1, 0), c.result) << c.reply;
		std::string err = stderr_end();
		// Select reports nothing; the caller gives the only message.
		EXPECT_EQ(err.find("SELECT_NETWORK"), std::string::npos);
		EXPECT_EQ(err.find("RECONNECT") != std::string::npos, c.result == -1);
	}
}

TEST_F(wifi_commands, add_network)
{
	static const struct {
		const char *reply;
		int id;
	} cases[] = {
		{ "0\n", 0 },
		{ "12\n", 12 },
		{ "2147483647\n", 2147483647 },
		{ "7", 7 },
		{ "7\nrest", 7 },
		{ "FAIL\n", -1 },
		{ "", -1 },
		{ "-1\n", -1 },
		{ "2147483648\n", -1 },
		{ "5x\n", -1 },
	};
	for (const auto &c : cases) {
		daemon.world.replies["ADD_NETWORK"] = c.reply;
		fake_daemon_clear_requests(&daemon);
		stderr_begin();
		EXPECT_EQ(network_add(ctrl, "My Net"), c.id) << c.reply;
		std::string err = stderr_end();
		if (c.id == -1) {
			EXPECT_THAT(err, HasSubstr("(wpa_ctrl) failed to add network"));
			EXPECT_THAT(fake_daemon_requests(&daemon), ElementsAre("ADD_NETWORK"));
		} else {
			EXPECT_EQ(err, "");
			EXPECT_THAT(fake_daemon_requests(&daemon), ElementsAre("ADD_NETWORK",
			    "SET_NETWORK " + std::to_string(c.id) + " ssid \"My Net\""));
		}
	}
}

TEST_F(wifi_commands, add_network_takes_back_a_network_without_ssid)
{
	daemon.world.next_id = 4;
	daemon.world.fail = { "SET_NETWORK 4 ssid \"\x1b[31mred\"" };
	stderr_begin();
	EXPECT_EQ(network_add(ctrl, "\x1b[31mred"), -1);
	std::string err = stderr_end();
	EXPECT_THAT(err, HasSubstr(
	    "(wpa_ctrl) failed to set ssid(?[31mred) on network id(4)"));
	EXPECT_EQ(err.find('\x1b'), std::string::npos);
	EXPECT_THAT(fake_daemon_requests(&daemon), ElementsAre("ADD_NETWORK",
	    "SET_NETWORK 4 ssid \"\x1b[31mred\"", "REMOVE_NETWORK 4"));
}

TEST_F(wifi_commands, texts_too_long_for_a_request)
{
	// A 120-character password makes a request of more than 127
	// characters: nothing is sent.
	std::string password(120, 'p');
	stderr_begin();
	EXPECT_EQ(network_set_eap(ctrl, 1, "bob", password.c_str()), -1);
	std::string err = stderr_end();
	EXPECT_THAT(err, HasSubstr(
	    "wpa_ctrl request too long: SET_NETWORK 1 password [REMOVED]"));
	EXPECT_EQ(err.find("ppp"), std::string::npos);
	EXPECT_TRUE(fake_daemon_requests(&daemon).empty());

	// An SSID that does not fit: the network that was added is removed.
	daemon.world.next_id = 2;
	std::string ssid(120, 's');
	stderr_begin();
	EXPECT_EQ(network_add(ctrl, ssid.c_str()), -1);
	EXPECT_THAT(stderr_end(), HasSubstr("wpa_ctrl request too long: SET_NETWORK 2 ssid \"sss"));
	EXPECT_THAT(fake_daemon_requests(&daemon),
	    ElementsAre("ADD_NETWORK", "REMOVE_NETWORK 2"));
}
