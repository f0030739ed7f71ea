// The keys that change the stored networks, pressed in a real terminal
// against the real supplicant: what the screen shows afterwards, and the
// configuration file the daemon saved, which must hold exactly the intended
// change and lose nothing else.
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e_real.h"

// Six kinds of network, priorities far apart so that one step up or down
// never reorders the list.
static const char networks[] = R"(network={
	ssid="HomeNet"
	psk="home passphrase"
	priority=60
}

network={
	ssid="Office"
	key_mgmt=WPA-EAP
	eap=PEAP
	identity="alice"
	password="office pw"
	priority=50
}

network={
	ssid="CafeGuest"
	key_mgmt=NONE
	priority=40
}

network={
	ssid="Library"
	key_mgmt=SAE
	sae_password="library pw"
	priority=30
}

network={
	ssid="AtticGuest"
	scan_ssid=1
	psk="attic passphrase"
	priority=20
}

network={
	ssid="Garage"
	key_mgmt=NONE
	disabled=1
	priority=10
}
)";

struct key_case {
	const char *name;
	std::vector<std::string> keys;       // tmux key names, one at a time
	std::string title;                   // of the Known Networks table
	std::vector<std::string> rows;       // "ssid|security|hidden|priority|auto"
	bool saves;                          // the configuration is written
	std::function<void(wpa_conf *)> change;  // to the original blocks
};

static void
PrintTo(const key_case &c, std::ostream *os)
{
	*os << c.name;
}

static void
forget(wpa_conf *c, const std::string &ssid)
{
	std::erase_if(c->networks, [&](const auto &n) { return n.first == ssid; });
}

static const key_case key_cases[] = {
	{ "forget_the_second_row", { "j", "f" }, "Known Networks",
	    { "HomeNet|PSK|No|60|Yes", "CafeGuest|Open|No|40|Yes",
	      "Library|SAE|No|30|Yes", "AtticGuest|PSK|Yes|20|Yes",
	      "Garage|Open|No|10|No" },
	    true, [](wpa_conf *c) { forget(c, "\"Office\""); } },
	{ "autoconnect_off", { "a" }, "Known Networks",
	    { "HomeNet|PSK|No|60|No", "Office|EAP|No|50|Yes",
	      "CafeGuest|Open|No|40|Yes", "Library|SAE|No|30|Yes",
	      "AtticGuest|PSK|Yes|20|Yes", "Garage|Open|No|10|No" },
	    true, [](wpa_conf *c) {
		    (*wpa_conf_network(c, "\"HomeNet\""))["disabled"] = "1";
	    } },
	// Up from the first row wraps to the last.
	{ "autoconnect_on", { "k", "a" }, "Known Networks",
	    { "HomeNet|PSK|No|60|Yes", "Office|EAP|No|50|Yes",
	      "CafeGuest|Open|No|40|Yes", "Library|SAE|No|30|Yes",
	      "AtticGuest|PSK|Yes|20|Yes", "Garage|Open|No|10|Yes" },
	    true, [](wpa_conf *c) {
		    wpa_conf_network(c, "\"Garage\"")->erase("disabled");
	    } },
	{ "priority_up", { "j", "j", "C-a" }, "Known Networks",
	    { "HomeNet|PSK|No|60|Yes", "Office|EAP|No|50|Yes",
	      "CafeGuest|Open|No|41|Yes", "Library|SAE|No|30|Yes",
	      "AtticGuest|PSK|Yes|20|Yes", "Garage|Open|No|10|No" },
	    true, [](wpa_conf *c) {
		    (*wpa_conf_network(c, "\"CafeGuest\""))["priority"] = "41";
	    } },
	{ "priority_down_twice", { "End", "C-x", "C-x" }, "Known Networks",
	    { "HomeNet|PSK|No|60|Yes", "Office|EAP|No|50|Yes",
	      "CafeGuest|Open|No|40|Yes", "Library|SAE|No|30|Yes",
	      "AtticGuest|PSK|Yes|20|Yes", "Garage|Open|No|8|No" },
	    true, [](wpa_conf *c) {
		    (*wpa_conf_network(c, "\"Garage\""))["priority"] = "8";
	    } },
	// The search ignores case; it changes nothing stored.
	{ "search", { "/", "G", "U", "E", "S", "T", "Enter" }, "/GUEST",
	    { "CafeGuest|Open|No|40|Yes", "AtticGuest|PSK|Yes|20|Yes" },
	    false, nullptr },
	// The selection is a row of the filtered list.
	{ "search_then_forget", { "/", "g", "u", "e", "s", "t", "Enter", "j", "f" },
	    "/guest", { "CafeGuest|Open|No|40|Yes" },
	    true, [](wpa_conf *c) { forget(c, "\"AtticGuest\""); } },
	// In the Network Scan section the key only saves.
	{ "autoconnect_in_scan_section", { "Tab", "a" }, "Known Networks",
	    { "HomeNet|PSK|No|60|Yes", "Office|EAP|No|50|Yes",
	      "CafeGuest|Open|No|40|Yes", "Library|SAE|No|30|Yes",
	      "AtticGuest|PSK|Yes|20|Yes", "Garage|Open|No|10|No" },
	    true, [](wpa_conf *) {} },
};

struct real_keys : real_e2e, testing::WithParamInterface<key_case> {
	void SetUp() override { daemon_start(networks); }
};

using real_keys_e2e = real_e2e;

TEST_P(real_keys, change_only_what_the_key_says)
{
	const key_case &c = GetParam();
	corvid_start();
	ASSERT_TRUE(wait_known({ "HomeNet", "Office", "CafeGuest", "Library",
	    "AtticGuest", "Garage" })) << tmux_capture(&term);

	for (const std::string &k : c.keys)
		tmux_keys(&term, { k });

	// The screen settles on the result.
	known_table t;
	for (int i = 0; i < patience(100); i++) {
		t = known();
		if (known_row_texts(t) == c.rows && t.title == c.title)
			break;
		usleep(50000);
	}
	EXPECT_EQ(t.title, c.title);
	EXPECT_EQ(known_row_texts(t), c.rows) << tmux_capture(&term);

	if (c.saves) {
		wpa_conf want = original();
		want.globals["update_config"] = "1";
		c.change(&want);
		EXPECT_EQ(wait_saved(want), "");
	} else {
		EXPECT_EQ(file_read(daemon.conf_path), original_text);
	}
	EXPECT_TRUE(tmux_running(&term));
	EXPECT_EQ(tmux_stderr(&term), "");
}

INSTANTIATE_TEST_SUITE_P(, real_keys, testing::ValuesIn(key_cases),
    [](const auto &info) { return std::string(info.param.name); });

// Keys that send longer sequences than the plain arrows (with Ctrl, Shift
// or Alt), and text pasted on the main screen, in both sections: none of
// them may reach the daemon as a request.  Before escape sequences were
// read whole, Ctrl-End forgot the selected network, Ctrl-Up toggled
// auto-connect, Shift-Left disconnected and Ctrl-Right in Network Scan
// added a network; a pasted "f" forgets and "q" quits.
TEST_F(real_keys_e2e, modified_keys_and_pasted_text_change_nothing_saved)
{
	daemon_start(networks);
	corvid_start();
	ASSERT_TRUE(wait_known({ "HomeNet", "Office", "CafeGuest", "Library",
	    "AtticGuest", "Garage" })) << tmux_capture(&term);

	tmux_command(&term, "set-buffer " + shell_quote(
	    "correct-horse-9\nWiFi notes: office floor\nf\nd\nq\n"));
	for (const char *section_keys : { "", "Tab" }) {
		if (*section_keys != '\0')
			tmux_keys(&term, { section_keys });
		for (const char *k : { "C-End", "C-Up", "S-Left", "C-Right",
		    "C-Left", "M-Up", "M-f", "F5", "C-Home", "S-Down" })
			tmux_keys(&term, { k });
		tmux_command(&term, "paste-buffer -p -t 0");
	}
	// Keys are taken in order: once help shows, every key before it
	// has been handled.
	tmux_keys(&term, { "h" });
	ASSERT_TRUE(tmux_wait_for(&term, "Toggle help", patience(5000)))
	    << tmux_capture(&term);
	EXPECT_TRUE(tmux_running(&term));
	EXPECT_EQ(file_read(daemon.conf_path), original_text);
	tmux_keys(&term, { "h" });
	EXPECT_TRUE(wait_known({ "HomeNet", "Office", "CafeGuest", "Library",
	    "AtticGuest", "Garage" })) << tmux_capture(&term);
	EXPECT_EQ(tmux_stderr(&term), "");
	// The terminal was asked to mark pasted text, and is told to stop.
	EXPECT_NE(tmux_output(&term).find("\e[?1049h\e[?25l\e[?2004h"),
	    std::string::npos);
	tmux_keys(&term, { "q" });
	EXPECT_EQ(tmux_wait_exit(&term, patience(5000)), 0);
	EXPECT_TRUE(tmux_wait_output_tail(&term, "\e[?2004l\e[?1049l\e[?25h",
	    patience(2000)));
	EXPECT_EQ(file_read(daemon.conf_path), original_text);
}
