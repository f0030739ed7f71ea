// Supplicant events: which records each one refreshes, the notification it
// leaves, the selection after a refresh, and the notification list itself.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core_state.h"

namespace {

using strings = std::vector<std::string>;

struct events_wpa : core_test {
	void SetUp() override
	{
		core_test::SetUp();
		world_networks(&daemon.world, {
		    { 0, "Home", 5, "[CURRENT]" }, { 1, "Work", 3 } });
		world_scan(&daemon.world, { { "Cafe", -40 }, { "Home", -50 } });
		connect();
	}

	// Delivers one message on the monitor socket and handles it.
	void event(const std::string &msg)
	{
		ASSERT_TRUE(fake_daemon_send(&daemon, msg));
		EXPECT_EQ(handle_wpa_event(nullptr), 0);
	}
};

TEST_F(events_wpa, EachMessageRefreshesTheStatusAndAtMostTheListItConcerns)
{
	const strings status = { "STATUS" };
	const strings scan = { "STATUS", "SCAN_RESULTS" };
	const strings known = { "STATUS", "LIST_NETWORKS" };
	const struct {
		std::string msg;
		strings want;
	} cases[] = {
		{ "<3>CTRL-EVENT-SCAN-RESULTS ", scan },
		{ "<3>CTRL-EVENT-BSS-ADDED 5 02:00:00:00:00:01", scan },
		{ "<3>CTRL-EVENT-BSS-REMOVED 5 02:00:00:00:00:01", scan },
		{ "<3>CTRL-EVENT-NETWORK-NOT-FOUND ", scan },
		{ "<3>CTRL-EVENT-NETWORK-ADDED 4", known },
		{ "<3>CTRL-EVENT-NETWORK-REMOVED 4", known },
		{ "<3>CTRL-EVENT-CONNECTED - Connection to 02:00:00:00:00:01 "
		  "completed [id=0 id_str=]", known },
		{ "<3>CTRL-EVENT-DISCONNECTED bssid=02:00:00:00:00:01 reason=3", known },
		{ "<3>Associated with 02:00:00:00:00:01", known },
		{ "CTRL-EVENT-CONNECTED - no priority prefix", known },
		// The scan group is looked at first, and decides alone.
		{ "<3>CTRL-EVENT-CONNECTED - x CTRL-EVENT-BSS-ADDED 1 y", scan },
		// Names match with their trailing blank, as written, only.
		{ "<3>CTRL-EVENT-SCAN-RESULTS", status },
		{ "<3>ctrl-event-connected - lower case", status },
		{ "<3>CTRL-EVENT-SCAN-STARTED ", status },
		{ "<3>WPA: Key negotiation completed with 02:00:00:00:00:01", status },
	};
	for (const auto &c : cases) {
		event(c.msg);
		EXPECT_EQ(sent(), c.want) << c.msg;
		EXPECT_EQ(notes(), strings{ c.msg }) << "shown as received";
		clear_notifications(&app.notifications);
	}
}

TEST_F(events_wpa, ARefreshKeepsTheRowNumberWithinTheNewCount)
{
	std::vector<core_ap> ten;
	for (int i = 0; i < 10; i++)
		ten.push_back({ "ap", -30 - i });
	change_world([&](fake_world *w) { world_scan(w, ten); });
	event("<3>CTRL-EVENT-SCAN-RESULTS ");
	app.tables[SECTION_SCAN].sel = 7;
	event("<3>CTRL-EVENT-SCAN-RESULTS ");
	EXPECT_EQ(app.tables[SECTION_SCAN].sel, 7u);

	change_world([&](fake_world *w) {
		world_scan(w, { { "a", -40 }, { "b", -50 }, { "c", -60 } });
	});
	event("<3>CTRL-EVENT-SCAN-RESULTS ");
	EXPECT_EQ(app.tables[SECTION_SCAN].sel, 2u);

	// A row index, not an identity: a stronger newcomer takes row 1.
	app.tables[SECTION_SCAN].sel = 1;
	change_world([&](fake_world *w) {
		world_scan(w, { { "a", -40 }, { "new", -45 }, { "b", -50 } });
	});
	event("<3>CTRL-EVENT-BSS-ADDED 3 02:00:00:00:00:01");
	EXPECT_EQ(app.tables[SECTION_SCAN].sel, 1u);
	EXPECT_STREQ(app.scan->items[1].ssid, "new");

	change_world([&](fake_world *w) { world_scan(w, {}); });
	event("<3>CTRL-EVENT-SCAN-RESULTS ");
	EXPECT_EQ(app.tables[SECTION_SCAN].sel, 0u);
	EXPECT_EQ(app.scan->count, 0u);

	app.tables[SECTION_KNOWN].sel = 1;
	change_world([&](fake_world *w) { world_networks(w, { { 0, "Home", 5 } }); });
	event("<3>CTRL-EVENT-NETWORK-REMOVED 1");
	EXPECT_EQ(app.tables[SECTION_KNOWN].sel, 0u);
	EXPECT_EQ(known_ssids(), strings{ "Home" });
}

TEST_F(events_wpa, ARefreshedListIsSortedAndFilteredByItsSectionsText)
{
	change_world([&](fake_world *w) {
		world_scan(w, { { "Office", -30 }, { "HOME-5G", -60 },
		    { "MyHome", -40 }, { "Cafe", -20 } });
		world_networks(w, { { 0, "Home", 5 }, { 1, "Work", 3 },
		    { 2, "Homework", 9 } });
	});
	strlcpy(app.tables[SECTION_SCAN].search, "home", sizeof app.tables[SECTION_SCAN].search);
	event("<3>CTRL-EVENT-SCAN-RESULTS ");
	EXPECT_EQ(scan_ssids(), (strings{ "MyHome", "HOME-5G" }));
	EXPECT_EQ(known_ssids(), (strings{ "Home", "Work" })) << "not refreshed";

	strlcpy(app.tables[SECTION_KNOWN].search, "WORK", sizeof app.tables[SECTION_KNOWN].search);
	event("<3>CTRL-EVENT-CONNECTED - Connection to x completed");
	EXPECT_EQ(known_ssids(), (strings{ "Homework", "Work" }));
	EXPECT_EQ(scan_ssids(), (strings{ "MyHome", "HOME-5G" }));
}

TEST_F(events_wpa, ALongMessageIsCutBeforeItIsReadOrShown)
{
	std::string msg = "<3>CTRL-EVENT-SCAN-STARTED " + std::string(5000, 'x');
	event(msg);
	ASSERT_EQ(notes().size(), 1u);
	EXPECT_EQ(notes()[0], msg.substr(0, 4095));
	sent();

	// An event name past the cut is not seen.
	event(std::string(4090, 'x') + "CTRL-EVENT-CONNECTED - late");
	EXPECT_EQ(sent(), strings{ "STATUS" });
}

TEST_F(events_wpa, AReadinessWithNothingToReadChangesNothing)
{
	// A request may drain the socket between the readiness and the read.
	EXPECT_EQ(handle_wpa_event(nullptr), 0);
	EXPECT_TRUE(sent().empty());
	EXPECT_TRUE(notes().empty());
}

TEST_F(events_wpa, AZeroLengthDatagramEndsTheProgram)
{
	ASSERT_TRUE(fake_daemon_send(&daemon, ""));
	CORE_EXPECT_EXIT(handle_wpa_event(nullptr), testing::ExitedWithCode(1),
	    "wpa ctrl interface socket closed");
	// The screen is left before the message.
	EXPECT_TRUE(tty.wait_for("\e[?1049l\e[?25h"));
}

TEST_F(events_wpa, ARefreshThatGetsNoAnswerEndsTheProgram)
{
	const struct {
		const char *event;
		const char *unanswered;
		const char *message;
	} cases[] = {
		{ "<3>CTRL-EVENT-SCAN-STARTED ", "STATUS",
		  "failed to retrieve wpa_supplicant status" },
		{ "<3>CTRL-EVENT-SCAN-RESULTS ", "SCAN_RESULTS",
		  "failed to retrieve scan results" },
		{ "<3>CTRL-EVENT-CONNECTED - x", "LIST_NETWORKS",
		  "failed to retrieve known networks" },
	};
	for (const auto &c : cases) {
		change_world([&](fake_world *) {
			daemon.responder = [&](const std::string &req) {
				if (req == c.unanswered)
					return fake_reply{};
				return fake_answer(fake_world_answer(&daemon.world, req));
			};
		});
		ASSERT_TRUE(fake_daemon_send(&daemon, c.event));
		CORE_EXPECT_EXIT(handle_wpa_event(nullptr), testing::ExitedWithCode(1),
		    c.message) << c.event;
	}
	change_world([&](fake_world *) { daemon.responder = nullptr; });
}

// The notification list on its own.
struct events_wpa_notifications : testing::Test {
	void SetUp() override { app_reset(); }
	void TearDown() override { clear_notifications(&app.notifications); }
};

TEST_F(events_wpa_notifications, EntriesAreOwnCopiesOldestFirst)
{
	char text[] = "first";
	notify(&app.notifications, text);
	strcpy(text, "xxxxx");
	notifyf(&app.notifications, "Connecting to %s [freq=%d]", "Cafe", 2412);
	notify(&app.notifications, "");
	EXPECT_EQ(notes(), (strings{ "first", "Connecting to Cafe [freq=2412]", "" }));
}

TEST_F(events_wpa_notifications, AFullListDropsItsOldestEntry)
{
	for (int i = 0; i < 70; i++)
		notify(&app.notifications, std::to_string(i).c_str());
	strings v = notes();
	ASSERT_EQ(v.size(), NOTIFICATIONS_MAX);
	EXPECT_EQ(v.front(), "6");
	EXPECT_EQ(v.back(), "69");
}

TEST_F(events_wpa_notifications, ClearingAndExpiryLeaveAListThatStillWorks)
{
	clear_notifications(&app.notifications);   // empty: nothing happens
	notification_expire(&app.notifications);
	EXPECT_TRUE(notes().empty());

	for (const char *t : { "a", "b", "c" })
		notify(&app.notifications, t);
	notification_expire(&app.notifications);
	EXPECT_EQ(notes(), (strings{ "b", "c" }));
	notification_expire(&app.notifications);
	notification_expire(&app.notifications);
	notify(&app.notifications, "d");
	EXPECT_EQ(notes(), strings{ "d" }) << "the tail was reset when it emptied";

	notify(&app.notifications, "e");
	clear_notifications(&app.notifications);
	EXPECT_TRUE(notes().empty());
	EXPECT_EQ(app.notifications.count, 0u);
	notify(&app.notifications, "f");
	notify(&app.notifications, "g");
	EXPECT_EQ(notes(), (strings{ "f", "g" }));
}

} // namespace
