// The connect flow: which networks need a dialog, the requests that create,
// configure and select a network, the cancellations, and the failures.
#include <poll.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core_state.h"
#include "dialog.h"

namespace {

using strings = std::vector<std::string>;

strings
operator+(strings a, const strings &b)
{
	a.insert(a.end(), b.begin(), b.end());
	return a;
}

// Three stored networks (current, enabled, disabled) and one access point
// of each kind, strongest first: an open network, a stored one, an EAP
// network, a PSK network and an open one heard at no known frequency.
struct dialog_connect : core_test {
	void SetUp() override
	{
		core_test::SetUp();
		world_networks(&daemon.world, {
		    { 0, "Home", 5, "[CURRENT]" }, { 1, "Work", 3 },
		    { 2, "Old", 1, "[DISABLED]" } });
		world_scan(&daemon.world, {
		    { "Cafe", -40, 2412, "[ESS]" },
		    { "Home", -50, 5180 },
		    { "Corp", -60, 2437, "[WPA2-EAP-CCMP][ESS]" },
		    { "Flat", -70, 2462 },
		    { "Zero", -80, 0, "[ESS]" } });
		daemon.world.next_id = 3;
		connect();
		loop_setup();
		app.section = SECTION_SCAN;
	}

	// Connects to the access point on `row`, with the keys for its
	// dialogs typed in advance.
	void connect_row(size_t row, const std::string &keys = "")
	{
		change_world([](fake_world *w) { w->next_id = 3; });
		app.tables[SECTION_SCAN].sel = row;
		press("c" + keys);
	}
};

// After a connect to id 3: the other networks get back the auto-connect
// state they had, the current one loses it, and the configuration is saved.
const strings others = { "DISABLE_NETWORK 0", "ENABLE_NETWORK 1",
	"DISABLE_NETWORK 2", "SET update_config 1", "SAVE_CONFIG" };

TEST_F(dialog_connect, EachKindOfNetworkIsCreatedConfiguredAndSelected)
{
	const struct {
		size_t row;
		std::string keys;
		strings want;
		const char *note;
	} cases[] = {
		{ 0, "", strings{ "ADD_NETWORK", "SET_NETWORK 3 ssid \"Cafe\"",
		  "SET_NETWORK 3 key_mgmt NONE", "LIST_NETWORKS",
		  "SELECT_NETWORK 3 freq=2412" } + others,
		  "Connecting to Cafe [freq=2412]" },
		// Password first, identity second, key management last.
		{ 2, "alice\rs3cr3t\r", strings{ "ADD_NETWORK", "SET_NETWORK 3 ssid \"Corp\"",
		  "SET_NETWORK 3 password \"s3cr3t\"", "SET_NETWORK 3 identity \"alice\"",
		  "SET_NETWORK 3 key_mgmt WPA-EAP", "LIST_NETWORKS",
		  "SELECT_NETWORK 3 freq=2437" } + others,
		  "Connecting to Corp [freq=2437]" },
		// Enter at once, and after 7 bytes, keeps the dialog open.
		{ 3, "\r1234567\r8\r", strings{ "ADD_NETWORK", "SET_NETWORK 3 ssid \"Flat\"",
		  "SET_NETWORK 3 psk \"12345678\"", "LIST_NETWORKS",
		  "SELECT_NETWORK 3 freq=2462" } + others,
		  "Connecting to Flat [freq=2462]" },
		{ 3, std::string(63, 'p') + "\r", strings{ "ADD_NETWORK",
		  "SET_NETWORK 3 ssid \"Flat\"", "SET_NETWORK 3 psk \"" +
		  std::string(63, 'p') + "\"", "LIST_NETWORKS",
		  "SELECT_NETWORK 3 freq=2462" } + others,
		  "Connecting to Flat [freq=2462]" },
		// No frequency: no "freq=".
		{ 4, "", strings{ "ADD_NETWORK", "SET_NETWORK 3 ssid \"Zero\"",
		  "SET_NETWORK 3 key_mgmt NONE", "LIST_NETWORKS", "SELECT_NETWORK 3" } +
		  others, "Connecting to Zero [freq=0]" },
	};
	for (const auto &c : cases) {
		connect_row(c.row, c.keys);
		EXPECT_EQ(sent(), c.want) << "row " << c.row;
		EXPECT_EQ(notes(), strings{ c.note });
		clear_notifications(&app.notifications);
		EXPECT_EQ(app.dialog_prompt, nullptr);
		EXPECT_EQ(app.dialog_text, nullptr);
		EXPECT_FALSE(app.dialog_masked);
		event_handler *eh = handler_find(static_cast<uintptr_t>(app.tty_fd), EVQ_READ);
		EXPECT_EQ(eh->callback, handle_input) << "the main key handler is back";
	}
}

TEST_F(dialog_connect, AStoredNetworkIsSelectedWithoutADialog)
{
	connect_row(1);
	// No network is created; the scan result's frequency is used.
	EXPECT_EQ(sent(), (strings{ "SELECT_NETWORK 0 freq=5180", "ENABLE_NETWORK 1",
	    "DISABLE_NETWORK 2", "SET update_config 1", "SAVE_CONFIG" }));
	EXPECT_EQ(notes(), strings{ "Connecting to Home [freq=5180]" });
	EXPECT_EQ(tty.output().find("Enter the"), std::string::npos);
}

TEST_F(dialog_connect, AStoredNetworkHiddenByTheSearchIsNotFound)
{
	change_world([](fake_world *w) {
		world_networks(w, { { 0, "Home", 5, "[CURRENT]" }, { 1, "Work", 3 },
		    { 2, "Old", 1, "[DISABLED]" }, { 4, "Mine", 0 } });
	});
	strlcpy(app.tables[SECTION_KNOWN].search, "Wo", sizeof app.tables[SECTION_KNOWN].search);
	refresh_known();
	ASSERT_EQ(known_ssids(), strings{ "Work" });
	sent();

	connect_row(1, "password\r");
	// Every other stored network gets back what it had, the hidden ones
	// too: selecting a network disables all the others in the daemon, and
	// the save would keep them so.  They are read before the selection.
	EXPECT_EQ(sent(), (strings{ "ADD_NETWORK", "SET_NETWORK 3 ssid \"Home\"",
	    "SET_NETWORK 3 psk \"password\"", "LIST_NETWORKS", "LIST_NETWORKS",
	    "SELECT_NETWORK 3 freq=5180", "DISABLE_NETWORK 0", "ENABLE_NETWORK 1",
	    "DISABLE_NETWORK 2", "ENABLE_NETWORK 4", "SET update_config 1",
	    "SAVE_CONFIG" }));
	EXPECT_EQ(known_ssids(), strings{ "Work" }) << "the list held stays filtered";

	// A stored network found through the search is selected at once.
	app.tables[SECTION_SCAN].sel = 1;
	strlcpy(app.tables[SECTION_KNOWN].search, "Ho", sizeof app.tables[SECTION_KNOWN].search);
	refresh_known();
	sent();
	press("c");
	EXPECT_EQ(sent(), (strings{ "LIST_NETWORKS", "SELECT_NETWORK 0 freq=5180",
	    "ENABLE_NETWORK 1", "DISABLE_NETWORK 2", "ENABLE_NETWORK 4",
	    "SET update_config 1", "SAVE_CONFIG" }));
}

TEST_F(dialog_connect, ACancelledDialogRemovesTheNewNetworkAndStopsQuietly)
{
	const strings created = { "ADD_NETWORK" };
	const struct {
		size_t row;
		std::string keys;
		const char *ssid;
		strings notes;
	} cases[] = {
		{ 3, "secret\e", "Flat", {} },
		{ 3, std::string(64, 'p') + "\r", "Flat",
		  { "Input must not exceed 63 characters" } },
		{ 2, "\e", "Corp", {} },
		{ 2, "\r", "Corp", {} },           // an empty user name
		{ 2, "alice\r\e", "Corp", {} },
		{ 2, "alice\r\r", "Corp", {} },    // an empty password
		{ 2, std::string(257, 'u') + "\r", "Corp",
		  { "Input must not exceed 102 characters" } },
	};
	for (const auto &c : cases) {
		connect_row(c.row, c.keys);
		EXPECT_EQ(sent(), (strings{ "ADD_NETWORK",
		    "SET_NETWORK 3 ssid \"" + std::string(c.ssid) + "\"",
		    "REMOVE_NETWORK 3" })) << c.keys;
		EXPECT_EQ(notes(), c.notes) << c.keys;
		clear_notifications(&app.notifications);
		EXPECT_EQ(app.dialog_prompt, nullptr);
	}
}

TEST_F(dialog_connect, TheDialogsAreDrawnWithTheirPromptsAndMasks)
{
	// Keys already read are taken before a frame is drawn, so each is
	// typed once the frame before it shows.
	bool shown = true;
	std::thread typist([&] {
		const std::pair<const char *, const char *> steps[] = {
			{"Enter the EAP username", "alice"},
			{"\e[100malice  ", "\r"},
			{"Enter the password", "s3cr3t"},
			{"\e[100m******  ", "\r"},
		};
		for (const auto &[wait, keys] : steps) {
			if (!tty.wait_for(wait)) {
				shown = false;
				tty.type_now("\e");
				return;
			}
			tty.type_now(keys);
		}
	});
	connect_row(2);
	typist.join();
	// The last frame of the password dialog shows one star per byte.
	ASSERT_TRUE(shown);
	std::string out = tty.output();
	size_t user = out.find("Enter the EAP username");
	size_t pass = out.find("Enter the password");
	ASSERT_NE(user, std::string::npos);
	ASSERT_NE(pass, std::string::npos);
	EXPECT_LT(user, pass);
	EXPECT_NE(out.find("alice", user), std::string::npos);
	EXPECT_LT(out.find("alice", user), pass);
	EXPECT_EQ(out.find("s3cr3t"), std::string::npos) << "the password is masked";
	EXPECT_GT(out.find("\e[100m******  "), pass);
}

TEST_F(dialog_connect, AScanEventDuringADialogDoesNotChangeTheNetworkUsed)
{
	app.tables[SECTION_SCAN].sel = 3;   // Flat, 2462
	tty.type("c");
	std::thread user([this] {
		// With the dialog open, the scan list changes under it; the
		// password is typed once the new list has been fetched.
		bool refreshed = false;
		if (tty.wait_for("Enter the password")) {
			change_world([](fake_world *w) {
				world_scan(w, { { "Other", -10, 5500 }, { "Cafe", -40 },
				    { "Home", -50 }, { "Corp", -60 } });
			});
			EXPECT_TRUE(fake_daemon_send(&daemon, "<3>CTRL-EVENT-SCAN-RESULTS "));
			for (int i = 0; i < 1000 && !refreshed; i++) {
				strings r = fake_daemon_requests(&daemon);
				refreshed = std::find(r.begin(), r.end(), "SCAN_RESULTS") != r.end();
				usleep(10000);
			}
		}
		EXPECT_TRUE(refreshed);
		// Without the refresh, ESC at least ends the dialog.
		const char *keys = refreshed ? "password\r" : "\e";
		EXPECT_GT(write(tty.master, keys, strlen(keys)), 0);
	});
	EXPECT_EQ(handle_input(nullptr), 0);
	user.join();

	EXPECT_EQ(scan_ssids()[0], "Other") << "the list was replaced";
	EXPECT_EQ(sent(), (strings{ "ADD_NETWORK", "SET_NETWORK 3 ssid \"Flat\"",
	    "STATUS", "SCAN_RESULTS", "SET_NETWORK 3 psk \"password\"",
	    "LIST_NETWORKS", "SELECT_NETWORK 3 freq=2462" } + others));
	EXPECT_EQ(notes(), (strings{ "<3>CTRL-EVENT-SCAN-RESULTS ",
	    "Connecting to Flat [freq=2462]" }));
}

TEST_F(dialog_connect, AFailedStepEndsTheProgramWithItsMessage)
{
	const struct {
		size_t row;
		std::string keys;
		const char *refused;
		const char *message;
		const char *removed;   // the new network is removed first
	} cases[] = {
		{ 0, "", "ADD_NETWORK", "failed to create new network", nullptr },
		{ 0, "", "SET_NETWORK 3 key_mgmt NONE", "failed configuring network: Cafe",
		  "REMOVE_NETWORK 3" },
		{ 3, "password\r", "SET_NETWORK 3 psk \"password\"",
		  "failed configuring network: Flat", "REMOVE_NETWORK 3" },
		{ 2, "u\rp\r", "SET_NETWORK 3 key_mgmt WPA-EAP",
		  "failed configuring network: Corp", "REMOVE_NETWORK 3" },
		{ 0, "", "SELECT_NETWORK 3 freq=2412", "failed to select network: Cafe",
		  nullptr },
		{ 1, "", "SAVE_CONFIG", "failed to update config", nullptr },
	};
	for (const auto &c : cases) {
		// The child's requests are added to this process's record.
		change_world([&](fake_world *w) {
			w->fail = { c.refused };
			w->next_id = 3;
		});
		app.tables[SECTION_SCAN].sel = c.row;
		tty.type("c" + c.keys);
		sent();
		CORE_EXPECT_EXIT(handle_input(nullptr), testing::ExitedWithCode(1), c.message)
		    << c.refused;
		strings req = sent();
		if (c.removed != nullptr) {
			ASSERT_FALSE(req.empty());
			EXPECT_EQ(req.back(), c.removed) << c.refused;
		}
	}
}

TEST_F(dialog_connect, ACredentialTooLongForTheRequestIsRefusedByItsDialog)
{
	// The dialogs take what the request for network 3 carries, 102 bytes:
	// 103 are refused with that limit, and the program goes on.
	for (const std::string &keys : { std::string(103, 'u') + "\r",
	    "alice\r" + std::string(103, 'p') + "\r" }) {
		connect_row(2, keys);
		EXPECT_EQ(sent(), (strings{ "ADD_NETWORK", "SET_NETWORK 3 ssid \"Corp\"",
		    "REMOVE_NETWORK 3" }));
		EXPECT_EQ(notes(), strings{ "Input must not exceed 102 characters" });
		clear_notifications(&app.notifications);
	}
	connect_row(2, "alice\r" + std::string(102, 'p') + "\r");
	strings req = sent();
	ASSERT_GE(req.size(), 3u);
	EXPECT_EQ(req[2], "SET_NETWORK 3 password \"" + std::string(102, 'p') + "\"");
}

// What the flow sends for the networks beyond open, PSK and EAP, and what
// it refuses to add.
TEST_F(dialog_connect, NewerKindsOfNetwork)
{
	change_world([](fake_world *w) {
		world_networks(w, { { 0, "Home", 5, "[CURRENT]" }, { 1, "Work", 3 },
		    { 2, "Old", 1, "[DISABLED]" } });
		world_scan(w, {
		    { "Six", -40, 5975, "[WPA2-SAE-CCMP][SAE-H2E][ESS]" },
		    { "Both", -45, 2412, "[WPA2-PSK+SAE-CCMP][ESS]" },
		    { "", -50, 2437, "[WPA2-PSK-CCMP][ESS]" },
		    { "Wep", -55, 2462, "[WEP][ESS]" },
		    { "Odd", -60, 2462, "[WPA2--CCMP][ESS]" },
		    { "Enh", -65, 2462, "[WPA2-OWE-CCMP][ESS]" } });
		w->replies["GET_CAPABILITY key_mgmt"] = "NONE WPA-PSK WPA-EAP OWE SAE";
	});
	refresh_scan();
	sent();
	const struct {
		size_t row;
		std::string keys;
		strings want;
		strings notes;
	} cases[] = {
		// The capability is asked once a run, before the first network
		// that needs it; hash-to-element needs sae_pwe.
		{ 0, "password\r", strings{ "GET_CAPABILITY key_mgmt", "ADD_NETWORK",
		  "SET_NETWORK 3 ssid \"Six\"", "SET_NETWORK 3 psk \"password\"",
		  "SET_NETWORK 3 key_mgmt SAE", "SET_NETWORK 3 ieee80211w 2", "SET sae_pwe 2",
		  "LIST_NETWORKS", "SELECT_NETWORK 3 freq=5975" } + others,
		  { "Connecting to Six [freq=5975]" } },
		{ 1, "password\r", strings{ "ADD_NETWORK", "SET_NETWORK 3 ssid \"Both\"",
		  "SET_NETWORK 3 psk \"password\"", "SET_NETWORK 3 key_mgmt WPA-PSK SAE",
		  "SET_NETWORK 3 ieee80211w 1", "LIST_NETWORKS",
		  "SELECT_NETWORK 3 freq=2412" } + others, { "Connecting to Both [freq=2412]" } },
		// A hidden network: its name, then scan_ssid right after the SSID.
		{ 2, "Attic\rpassword\r", strings{ "ADD_NETWORK", "SET_NETWORK 3 ssid \"Attic\"",
		  "SET_NETWORK 3 scan_ssid 1", "SET_NETWORK 3 psk \"password\"",
		  "LIST_NETWORKS", "SELECT_NETWORK 3 freq=2437" } + others,
		  { "Connecting to Attic [freq=2437]" } },
		// A hidden network whose name is stored is selected as it is.
		{ 2, "Work\r", strings{ "SELECT_NETWORK 1 freq=2437", "DISABLE_NETWORK 0",
		  "DISABLE_NETWORK 2", "SET update_config 1", "SAVE_CONFIG" },
		  { "Connecting to Work [freq=2437]" } },
		{ 2, "\x1b", {}, {} },
		{ 3, "", {}, { "Wep: WEP is not supported" } },
		{ 4, "", {}, { "Odd: unsupported security" } },
		{ 5, "", strings{ "ADD_NETWORK", "SET_NETWORK 3 ssid \"Enh\"",
		  "SET_NETWORK 3 key_mgmt OWE", "SET_NETWORK 3 ieee80211w 2",
		  "SET_NETWORK 3 owe_only 1", "LIST_NETWORKS",
		  "SELECT_NETWORK 3 freq=2462" } + others, { "Connecting to Enh [freq=2462]" } },
	};
	for (const auto &c : cases) {
		connect_row(c.row, c.keys);
		EXPECT_EQ(sent(), c.want) << "row " << c.row << " " << c.keys;
		EXPECT_EQ(notes(), c.notes) << "row " << c.row;
		clear_notifications(&app.notifications);
	}
}

TEST_F(dialog_connect, WithoutSaeOrOweInTheDaemon)
{
	change_world([](fake_world *w) {
		world_scan(w, { { "Wpa3", -40, 2412, "[WPA2-SAE-CCMP][ESS]" },
		    { "Enh", -45, 2437, "[WPA2-OWE-CCMP][ESS]" },
		    { "Both", -50, 2462, "[WPA2-PSK+SAE-CCMP][ESS]" } });
		// The daemon with -D none; a failed query counts the same.
		w->replies["GET_CAPABILITY key_mgmt"] = "WPA-PSK WPA-EAP IEEE8021X WPA-NONE NONE";
	});
	refresh_scan();
	sent();
	connect_row(0);
	connect_row(1);
	EXPECT_EQ(sent(), strings{ "GET_CAPABILITY key_mgmt" });
	EXPECT_EQ(notes(), (strings{
	    "Wpa3 needs WPA3 (SAE), which wpa_supplicant here does not support",
	    "Enh needs OWE, which wpa_supplicant here does not support" }));
	clear_notifications(&app.notifications);
	// A transition network is plain WPA2 then.
	connect_row(2, "password\r");
	EXPECT_EQ(sent(), (strings{ "ADD_NETWORK", "SET_NETWORK 3 ssid \"Both\"",
	    "SET_NETWORK 3 psk \"password\"", "LIST_NETWORKS",
	    "SELECT_NETWORK 3 freq=2462" } + others));
}

TEST_F(dialog_connect, ARefusedPassphraseIsAskedAgain)
{
	// Home (id 0) is stored; the daemon refused its passphrase.
	const std::string wrong = "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=0 ssid=\"Home\" "
	    "auth_failures=1 duration=10 reason=WRONG_KEY";
	refused_keys_event(&app.refused, wrong.data(), wrong.size());
	// Escape sends nothing.
	connect_row(1, "\x1b");
	EXPECT_EQ(sent(), strings{});
	EXPECT_EQ(notes(), strings{});
	connect_row(1, "new-passphrase\r");
	EXPECT_EQ(sent(), (strings{ "SET_NETWORK 0 psk \"new-passphrase\"",
	    "SELECT_NETWORK 0 freq=5180", "ENABLE_NETWORK 1", "DISABLE_NETWORK 2",
	    "SET update_config 1", "SAVE_CONFIG" }));
	EXPECT_EQ(notes(), strings{ "Connecting to Home [freq=5180]" });
	// Connected: the mark is gone, the next connect asks nothing.
	const std::string connected = "<3>CTRL-EVENT-CONNECTED - Connection to "
	    "02:00:00:00:00:01 completed [id=0 id_str=]";
	refused_keys_event(&app.refused, connected.data(), connected.size());
	clear_notifications(&app.notifications);
	connect_row(1);
	EXPECT_EQ(sent().front(), "SELECT_NETWORK 0 freq=5180");
}

// A network the flow added but did not save is removed on the way out,
// whatever ends the program: the next save, by anyone, would write it.
TEST_F(dialog_connect, ANetworkAddedButNotSavedIsRemovedOnTheWayOut)
{
	const struct {
		const char *refused;
		const char *message;
	} cases[] = {
		{ "SELECT_NETWORK 3 freq=2412", "failed to select network: Cafe" },
		{ "SAVE_CONFIG", "failed to update config" },
	};
	for (const auto &c : cases) {
		change_world([&](fake_world *w) {
			w->fail = { c.refused };
			w->next_id = 3;
		});
		app.tables[SECTION_SCAN].sel = 0;
		tty.type("c");
		sent();
		// (The whole clean-up would also close this process's socket.)
		CORE_EXPECT_EXIT({
			atexit(connect_abandon);
			handle_input(nullptr);
		}, testing::ExitedWithCode(1), c.message) << c.refused;
		strings req = sent();
		EXPECT_NE(std::find(req.begin(), req.end(), "REMOVE_NETWORK 3"),
		    req.end()) << c.refused;
	}

	// Once saved, it is the user's.
	change_world([](fake_world *w) { w->fail = {}; w->next_id = 3; });
	app.tables[SECTION_SCAN].sel = 0;
	press("c");
	EXPECT_EQ(app.pending_network, -1);
}

// The daemon restarts while the password dialog is open.  Corvid finds out
// at the passphrase's request, or already in the dialog, from the event the
// daemon sends as it ends.  Either way it connects anew and the flow ends
// there: the new daemon never had the network added, so nothing is sent
// for its id (it may be another network's there), and nothing is saved.
TEST_F(dialog_connect, ADaemonRestartDuringTheDialogEndsTheFlowAndIsSurvived)
{
	for (bool told : { false, true }) {
		app.tables[SECTION_SCAN].sel = 3;   // Flat, new
		change_world([](fake_world *w) { w->next_id = 3; });
		sent();
		clear_notifications(&app.notifications);
		size_t from = tty.output().size();
		tty.type("c");
		std::thread user([&] {
			bool ok = tty.wait_for("Enter the password", from);
			if (ok && told) {
				// The event reaches corvid, its STATUS the old socket,
				// which then goes away unanswered.
				fake_daemon_pause(&daemon);
				struct pollfd pfd = { daemon.fd, POLLIN, 0 };
				ok = fake_daemon_send(&daemon, "<3>CTRL-EVENT-TERMINATING ") &&
				    poll(&pfd, 1, 10000) == 1;
			}
			ok = fake_daemon_restart(&daemon) && ok;
			if (ok && told)
				ok = tty.wait_for("Reconnected", from);
			EXPECT_TRUE(ok) << told;
			// Escape at least ends the dialog when a step failed.
			tty.type_now(ok ? "password\r" : "\e");
		});
		EXPECT_EQ(handle_input(nullptr), 0) << told;
		user.join();

		strings req = sent();
		// The new connection begins with a PING.
		auto anew = std::find(req.begin(), req.end(), "PING");
		ASSERT_NE(anew, req.end()) << told;
		for (auto r = anew; r != req.end(); ++r)
			EXPECT_TRUE(r->find(" 3") == std::string::npos &&
			    r->find("SELECT") == std::string::npos &&
			    r->find("SAVE") == std::string::npos) << told << ": " << *r;
		strings n = notes();
		EXPECT_NE(std::find(n.begin(), n.end(), "Reconnected to wpa_supplicant"),
		    n.end()) << told;
		EXPECT_EQ(app.pending_network, -1) << told;
	}
}

} // namespace

size_t
frames_in(const std::string &out)
{
	size_t n = 0;
	for (size_t at = out.find("\e[2J\e[1;1H"); at != std::string::npos;
	    at = out.find("\e[2J\e[1;1H", at + 1))
		n++;
	return n;
}

// Text pasted into the password dialog is text: its line breaks and the
// lines after them never press Enter or reach the main screen, and the
// whole paste is drawn once, not once a byte.
TEST_F(dialog_connect, APasteIsTextForTheDialogAndDrawnOnce)
{
	std::string big;
	while (big.size() < 10240)
		big += "correct-horse-9\r\nWiFi notes: office floor\r\n";
	const std::string joined = "correct-horse-9WiFi notes: office floor";
	const strings psk_sent = { "ADD_NETWORK", "SET_NETWORK 3 ssid \"Flat\"" };
	const struct {
		std::string paste;
		size_t field;        // bytes the field holds after it
		strings want;        // sent once Enter is pressed after it
		strings notes;
	} cases[] = {
		{"correct-horse-9\rWiFi notes: office floor\r", joined.size(),
		 psk_sent + strings{ "SET_NETWORK 3 psk \"" + joined + "\"",
		 "LIST_NETWORKS", "SELECT_NETWORK 3 freq=2462" } + others,
		 { "Connecting to Flat [freq=2462]" }},
		// Controls, an arrow, Escape and an Alt key are left out.
		{"tab\there\x7f\e[A\e" "f\x01" "end", 10,
		 psk_sent + strings{ "SET_NETWORK 3 psk \"tabhereend\"",
		 "LIST_NETWORKS", "SELECT_NETWORK 3 freq=2462" } + others,
		 { "Connecting to Flat [freq=2462]" }},
		// More than Enter takes: refused, as typed text would be.
		{big, 36, psk_sent + strings{ "REMOVE_NETWORK 3" },
		 { "Input must not exceed 63 characters" }},
	};
	for (const auto &c : cases) {
		size_t frames = 0, out_before = 0, written = 0;
		size_t start = tty.output().size();
		std::thread typist([&] {
			if (!tty.wait_for("Enter the password", start)) {
				tty.type_now("\e");
				return;
			}
			out_before = tty.output().size();
			tty.type_now("\e[200~" + c.paste + "\e[201~");
			// The paste is taken whole before the next frame.
			std::string field = "\e[100m" + std::string(std::min<size_t>(
			    c.field, 36), '*');
			EXPECT_TRUE(tty.wait_for(field, out_before));
			std::string out = tty.output().substr(out_before);
			frames = frames_in(out);
			written = out.size();
			tty.type_now("\r");
		});
		connect_row(3);
		typist.join();
		EXPECT_GE(frames, 1u);
		EXPECT_LT(frames, 50u) << c.paste.size();
		printf("paste of %zu bytes into the dialog: %zu frame(s), "
		    "%zu bytes written\n", c.paste.size(), frames, written);
		EXPECT_EQ(sent(), c.want) << c.paste.substr(0, 40);
		EXPECT_EQ(notes(), c.notes);
		clear_notifications(&app.notifications);
	}
}

// Pasted on the main screen, text is no keys: nothing is sent, nothing
// moves.
TEST_F(dialog_connect, APasteOnTheMainScreenDoesNothing)
{
	app.section = SECTION_KNOWN;
	press("\e[200~fsacq\r\x01\x18jd\e[201~", 12);
	EXPECT_EQ(sent(), strings{});
	EXPECT_EQ(app.tables[SECTION_KNOWN].sel, 0u);
	EXPECT_EQ(app.section, SECTION_KNOWN);
}
