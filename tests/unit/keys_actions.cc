// The main key handler: which keys act when, the selection and scroll
// arithmetic, and the exact requests of every action with its failure.
#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core_state.h"

namespace {

using strings = std::vector<std::string>;

// Three stored networks (current, enabled, disabled, highest priority
// first) and three access points (strongest first).
struct keys_actions : core_test {
	void SetUp() override
	{
		core_test::SetUp();
		world_networks(&daemon.world, {
		    { 0, "Home", 5, "[CURRENT]" }, { 1, "Work", 3 },
		    { 2, "Old", 1, "[DISABLED]" } });
		world_scan(&daemon.world, {
		    { "Cafe", -40, 2412, "[ESS]" }, { "Home", -50 }, { "Corp", -60 } });
		connect();
	}
};

// What the handler may change, for comparing before and after.
struct view {
	section_id section;
	size_t known_sel, scan_sel, hscroll;
	bool show_help;
	strings notes;
	bool operator==(const view &) const = default;
};

view
snapshot(void)
{
	return { app.section, app.tables[SECTION_KNOWN].sel, app.tables[SECTION_SCAN].sel, app.hscroll,
	    app.show_help, notes() };
}

TEST_F(keys_actions, QuitLeavesTheScreenAndExitsWithZeroWhateverIsShown)
{
	const struct {
		const char *key;
		bool help, too_small;
	} cases[] = {
		{ "q", false, false }, { "Q", false, false },
		{ "q", true, false }, { "Q", false, true },
	};
	for (const auto &c : cases) {
		app.show_help = c.help;
		app.too_small = c.too_small;
		tty.type(c.key);
		size_t mark = tty.output().size();
		CORE_EXPECT_EXIT(handle_input(nullptr), testing::ExitedWithCode(0), "");
		EXPECT_TRUE(tty.wait_for("\e[?1049l\e[?25h", mark)) << c.key;
	}
	EXPECT_TRUE(sent().empty());
}

TEST_F(keys_actions, ATooSmallTerminalIgnoresEveryKeyButQuit)
{
	app.too_small = true;
	notify(&app.notifications, "n");
	view before = snapshot();
	for (const char *key : { "j", "\t", "h", "s", "d", "a", "/", "\x0c", "]", "\e[B" }) {
		press(key);
		EXPECT_EQ(snapshot(), before) << key;
	}
	EXPECT_TRUE(sent().empty());
}

TEST_F(keys_actions, WithHelpShownOnlyHCloseItAndTheOthersDoNothing)
{
	press("h");
	ASSERT_TRUE(app.show_help);
	view before = snapshot();
	for (const char *key : { "j", "\t", "s", "d", "\x0c", "/", "c" }) {
		press(key);
		EXPECT_EQ(snapshot(), before) << key;
	}
	EXPECT_TRUE(sent().empty());
	press("H");
	EXPECT_FALSE(app.show_help);
}

TEST_F(keys_actions, KeysWithoutAnActionChangeNothing)
{
	app.tables[SECTION_KNOWN].sel = 1;
	app.hscroll = 2;
	app.winsize.ws_col = 70;
	view before = snapshot();
	for (const char *key : { "\r", "\n", "\e", "\e[3~", "\e[2~", "\xc3", "\xa4",
	    "\x80", "\xff", "x", "c" /* Known Networks */, "\x02" }) {
		press(key);
		EXPECT_EQ(snapshot(), before) << static_cast<int>(key[0]);
	}
	EXPECT_TRUE(sent().empty());
}

TEST_F(keys_actions, SectionsHelpAndNotificationsKeys)
{
	press("\t");
	EXPECT_EQ(app.section, SECTION_SCAN);
	press("\t");
	EXPECT_EQ(app.section, SECTION_KNOWN);
	notify(&app.notifications, "a");
	notify(&app.notifications, "b");
	press("\x0c");
	EXPECT_TRUE(notes().empty());
	press("\x0c");
	EXPECT_TRUE(notes().empty());
	EXPECT_TRUE(sent().empty());
}

// Selection arithmetic on lists made up in place.
struct keys_actions_selection : testing::Test {
	core_pty tty;
	void SetUp() override
	{
		ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
		app_reset();
		ASSERT_TRUE(tty.open(34, 80));
		app.tty_fd = tty.slave;
		ASSERT_EQ(fetch_winsize(), 0);
		app.known = static_cast<known_networks *>(calloc(1, sizeof *app.known));
		app.scan = static_cast<scan_results *>(calloc(1, sizeof *app.scan));
	}
	void TearDown() override
	{
		known_networks_free(app.known);
		scan_results_free(app.scan);
		app_reset();
	}
	void fill(size_t known, size_t scan)
	{
		app.known->count = app.scan->count = 0;
		for (size_t i = 0; i < known; i++) {
			known_network k{};
			ASSERT_TRUE(known_networks_append(app.known, &k));
		}
		for (size_t i = 0; i < scan; i++) {
			scan_result r{};
			ASSERT_TRUE(scan_results_append(app.scan, &r));
		}
	}
};

TEST_F(keys_actions_selection, MovesWrapsAndPagesInTheActiveSectionOnly)
{
	const struct {
		section_id section;
		size_t n, sel, top, visible;
		const char *key;
		size_t want;
	} cases[] = {
		{ SECTION_KNOWN, 5, 1, 0, 13, "j", 2 },
		{ SECTION_KNOWN, 5, 1, 0, 13, "J", 2 },
		{ SECTION_KNOWN, 5, 4, 0, 13, "\e[B", 0 },     // last wraps to first
		{ SECTION_SCAN, 5, 3, 0, 13, "k", 2 },
		{ SECTION_SCAN, 5, 0, 0, 13, "\e[A", 4 },      // first wraps to last
		{ SECTION_KNOWN, 0, 0, 0, 13, "j", 0 },
		{ SECTION_KNOWN, 0, 0, 0, 13, "k", 0 },
		{ SECTION_SCAN, 5, 3, 0, 13, "\e[H", 0 },
		{ SECTION_SCAN, 5, 3, 0, 13, "\eOH", 0 },
		{ SECTION_SCAN, 5, 3, 0, 13, "\e[7~", 0 },
		{ SECTION_KNOWN, 5, 1, 0, 13, "\e[F", 4 },
		{ SECTION_KNOWN, 5, 1, 0, 13, "\e[4~", 4 },
		{ SECTION_KNOWN, 0, 0, 0, 13, "\e[8~", 0 },    // End on nothing
		{ SECTION_SCAN, 40, 0, 0, 13, "\e[6~", 25 },   // the next page's last row
		{ SECTION_SCAN, 20, 0, 0, 13, "\e[6~", 19 },
		{ SECTION_SCAN, 40, 30, 27, 13, "\e[6~", 39 },
		{ SECTION_KNOWN, 0, 0, 0, 13, "\e[6~", 0 },
		{ SECTION_KNOWN, 40, 10, 5, 13, "\e[5~", 0 },  // the previous page's first row
		{ SECTION_KNOWN, 40, 25, 20, 13, "\e[5~", 7 },
		{ SECTION_KNOWN, 40, 13, 13, 13, "\e[5~", 0 },
		{ SECTION_SCAN, 40, 30, 24, 7, "\e[5~", 17 },
	};
	for (const auto &c : cases) {
		fill(c.n, c.n);
		app.section = c.section;
		size_t *sel = c.section == SECTION_KNOWN ? &app.tables[SECTION_KNOWN].sel : &app.tables[SECTION_SCAN].sel;
		size_t *other = c.section == SECTION_KNOWN ? &app.tables[SECTION_SCAN].sel : &app.tables[SECTION_KNOWN].sel;
		*sel = c.sel;
		*other = 3;
		app.tables[SECTION_KNOWN].top = app.tables[SECTION_SCAN].top = c.top;
		app.tables[SECTION_KNOWN].visible = app.tables[SECTION_SCAN].visible = c.visible;
		tty.type(c.key);
		EXPECT_EQ(handle_input(nullptr), 0);
		EXPECT_EQ(*sel, c.want) << c.key + (c.key[0] == '\e') << " n=" << c.n
		    << " sel=" << c.sel << " top=" << c.top;
		EXPECT_EQ(*other, 3u) << "the other section keeps its row";
	}
}

TEST_F(keys_actions_selection, TheScrollKeysStopShortOfTheWindowLimit)
{
	const struct {
		int cols;
		size_t start;
		const char *key;
		int presses;
		size_t want;
	} cases[] = {
		{ 70, 0, "]", 20, 9 },
		{ 70, 0, "\e[C", 20, 9 },
		{ 44, 0, "]", 50, 35 },
		{ 79, 0, "]", 3, 0 },      // 79 - 79 leaves nothing to reach
		{ 80, 0, "]", 3, 0 },
		{ 120, 0, "\e[C", 3, 0 },
		{ 70, 0, "[", 2, 0 },
		{ 70, 5, "\e[D", 2, 3 },
		{ 100, 4, "[", 1, 3 },     // left works at any width
	};
	fill(1, 1);
	for (const auto &c : cases) {
		app.winsize.ws_col = static_cast<unsigned short>(c.cols);
		app.hscroll = c.start;
		for (int i = 0; i < c.presses; i++) {
			tty.type(c.key);
			EXPECT_EQ(handle_input(nullptr), 0);
		}
		EXPECT_EQ(app.hscroll, c.want) << c.cols << " cols, " << c.key + (c.key[0] == '\e');
	}
}

TEST_F(keys_actions, EveryActionSendsItsRequestsInOrder)
{
	const strings save = { "SET update_config 1", "SAVE_CONFIG" };
	auto then = [](strings a, const strings &b) {
		a.insert(a.end(), b.begin(), b.end());
		return a;
	};
	const struct {
		section_id section;
		size_t known_sel;
		const char *key;
		strings want;
	} cases[] = {
		{ SECTION_KNOWN, 0, "d", { "DISCONNECT", "STATUS", "LIST_NETWORKS" } },
		{ SECTION_SCAN, 0, "D", { "DISCONNECT", "STATUS", "LIST_NETWORKS" } },
		{ SECTION_KNOWN, 0, "r", { "RECONNECT", "STATUS" } },
		{ SECTION_SCAN, 0, "s",
		  { "SET passive_scan 1", "SCAN", "SET passive_scan 0" } },
		// Auto-connect: the current network is enabled again, so nothing
		// changes for it; the others flip.
		{ SECTION_KNOWN, 0, "a", then({ "ENABLE_NETWORK 0", "LIST_NETWORKS" }, save) },
		{ SECTION_KNOWN, 1, "a", then({ "DISABLE_NETWORK 1", "LIST_NETWORKS" }, save) },
		{ SECTION_KNOWN, 2, "A", then({ "ENABLE_NETWORK 2", "LIST_NETWORKS" }, save) },
		{ SECTION_SCAN, 1, "a", save },
		{ SECTION_KNOWN, 1, "f", then(then({ "REMOVE_NETWORK 1" }, save), { "LIST_NETWORKS" }) },
		{ SECTION_KNOWN, 1, "\x01",
		  then(then({ "SET_NETWORK 1 priority 4" }, save), { "LIST_NETWORKS" }) },
		{ SECTION_KNOWN, 2, "\x18",
		  then(then({ "SET_NETWORK 2 priority 0" }, save), { "LIST_NETWORKS" }) },
		// Only in Known Networks.
		{ SECTION_SCAN, 1, "f", {} },
		{ SECTION_SCAN, 1, "\x01", {} },
		{ SECTION_SCAN, 1, "\x18", {} },
	};
	for (const auto &c : cases) {
		app.section = c.section;
		app.tables[SECTION_KNOWN].sel = c.known_sel;
		press(c.key);
		EXPECT_EQ(sent(), c.want) << c.key << " in section " << c.section
		    << " on row " << c.known_sel;
	}
	EXPECT_EQ(notes(), strings{ "Starting scan..." });
}

TEST_F(keys_actions, OnAnEmptyListOnlyTheSaveOfTheAutoConnectKeyRemains)
{
	change_world([](fake_world *w) { world_networks(w, {}); });
	refresh_known();
	sent();
	for (const char *key : { "f", "\x01", "\x18" }) {
		press(key);
		EXPECT_TRUE(sent().empty()) << key;
	}
	press("a");
	EXPECT_EQ(sent(), (strings{ "SET update_config 1", "SAVE_CONFIG" }));
}

TEST_F(keys_actions, AFailedScanStillShowsItsNotificationAndGoesOn)
{
	change_world([](fake_world *w) {
		w->fail = { "SET passive_scan 1", "SCAN", "SET passive_scan 0" };
	});
	stderr_begin();
	press("s");
	std::string err = stderr_end();
	EXPECT_EQ(sent(), (strings{ "SET passive_scan 1", "SCAN", "SET passive_scan 0" }));
	EXPECT_EQ(notes(), strings{ "Starting scan..." });
	EXPECT_NE(err.find("failed to initiate scan"), std::string::npos) << err;
}

TEST_F(keys_actions, AFailedActionEndsTheProgramWithItsMessage)
{
	const struct {
		section_id section;
		size_t known_sel;
		const char *key;
		const char *refused;
		const char *message;
	} cases[] = {
		{ SECTION_KNOWN, 0, "d", "DISCONNECT", "failed to disconnect" },
		{ SECTION_KNOWN, 0, "r", "RECONNECT", "failed to reconnect" },
		{ SECTION_KNOWN, 1, "a", "DISABLE_NETWORK 1", "failed to set autoconnect" },
		{ SECTION_KNOWN, 1, "a", "SAVE_CONFIG", "failed to update config" },
		{ SECTION_SCAN, 0, "a", "SET update_config 1", "failed to update config" },
		{ SECTION_KNOWN, 1, "f", "REMOVE_NETWORK 1", "failed to remove network: Work" },
		{ SECTION_KNOWN, 1, "f", "SAVE_CONFIG", "failed to update config" },
		{ SECTION_KNOWN, 1, "\x01", "SET_NETWORK 1 priority 4", "failed to set priority" },
		{ SECTION_KNOWN, 1, "\x18", "SAVE_CONFIG", "failed to update config" },
	};
	for (const auto &c : cases) {
		change_world([&](fake_world *w) { w->fail = { c.refused }; });
		app.section = c.section;
		app.tables[SECTION_KNOWN].sel = c.known_sel;
		tty.type(c.key);
		CORE_EXPECT_EXIT(handle_input(nullptr), testing::ExitedWithCode(1), c.message)
		    << c.key << " with " << c.refused << " refused";
	}
}

TEST_F(keys_actions, AForgottenNetworksNameIsPrintedWithoutItsControlBytes)
{
	change_world([](fake_world *w) {
		world_networks(w, { { 7, "Bad\\e[2J\\x07", 1 } });
		w->fail = { "REMOVE_NETWORK 7" };
	});
	refresh_known();
	ASSERT_STREQ(app.known->items[0].ssid, "Bad\e[2J\a");
	tty.type("f");
	CORE_EXPECT_EXIT(handle_input(nullptr), testing::ExitedWithCode(1),
	    "failed to remove network: Bad\\?\\[2J\\?\n");
}

TEST_F(keys_actions, APriorityChangeResortsButKeepsTheRowNumber)
{
	// Two networks of equal priority: whichever is on row 1 rises above
	// the other, and the selection stays on row 1.
	change_world([](fake_world *w) {
		world_networks(w, { { 0, "Alpha", 4 }, { 1, "Beta", 4 } });
	});
	apply_priorities();
	refresh_known();
	app.tables[SECTION_KNOWN].sel = 1;
	std::string risen = app.known->items[1].ssid;
	int id = app.known->items[1].id;
	sent();
	press("\x01");
	EXPECT_EQ(sent(), (strings{ "SET_NETWORK " + std::to_string(id) + " priority 5",
	    "SET update_config 1", "SAVE_CONFIG", "LIST_NETWORKS" }));
	EXPECT_EQ(known_ssids().front(), risen);
	EXPECT_EQ(app.tables[SECTION_KNOWN].sel, 1u);
}

TEST_F(keys_actions, PrioritiesStopAtTheEndsOfTheRange)
{
	change_world([](fake_world *w) {
		world_networks(w, { { 0, "Top", INT_MAX }, { 1, "Bottom", INT_MIN } });
	});
	refresh_known();
	sent();
	const struct {
		size_t row;
		const char *key;
		const char *want;
	} cases[] = {
		{ 0, "\x01", "SET_NETWORK 0 priority 2147483647" },
		{ 1, "\x18", "SET_NETWORK 1 priority -2147483648" },
		{ 1, "\x01", "SET_NETWORK 1 priority -2147483647" },
		{ 0, "\x18", "SET_NETWORK 0 priority 2147483646" },
	};
	for (const auto &c : cases) {
		app.tables[SECTION_KNOWN].sel = c.row;
		press(c.key);
		strings req = sent();
		ASSERT_FALSE(req.empty());
		EXPECT_EQ(req.front(), c.want);
	}
}

TEST_F(keys_actions, AnArrowKeySplitAfterItsEscapeActsAsThreeKeys)
{
	app.hscroll = 3;
	app.tables[SECTION_KNOWN].sel = 1;
	press("\e");
	EXPECT_EQ(app.hscroll, 3u);
	EXPECT_TRUE(sent().empty()) << "ESC alone does nothing";
	press("[A", 2);
	EXPECT_EQ(app.hscroll, 2u) << "'[' scrolls left";
	EXPECT_EQ(sent(), (strings{ "DISABLE_NETWORK 1", "LIST_NETWORKS",
	    "SET update_config 1", "SAVE_CONFIG" })) << "'A' is the auto-connect key";
}

} // namespace

// A priority that could not be read is drawn as it came (a failure reply
// reads as -1), but the priority keys send nothing for it: the change
// would save a made-up value over the real one.
TEST_F(keys_actions, AnUnknownPriorityIsNotChanged)
{
	change_world([](fake_world *w) {
		world_networks(w, { { 0, "Good", 4 }, { 1, "Unread", 0 }, { 2, "Odd", 0 } });
		w->replies.erase("GET_NETWORK 1 priority");
		w->replies["GET_NETWORK 2 priority"] = "5x";
	});
	refresh_known();
	clear_notifications(&app.notifications);
	sent();
	for (const char *name : { "Unread", "Odd" }) {
		size_t row = 0;
		while (row < app.known->count && strcmp(app.known->items[row].ssid, name) != 0)
			row++;
		ASSERT_LT(row, app.known->count);
		EXPECT_EQ(app.known->items[row].priority, -1) << "drawn as today";
		app.tables[SECTION_KNOWN].sel = row;
		press("\x01");
		press("\x18");
		EXPECT_TRUE(sent().empty()) << name;
		std::string note = std::string("Priority of ") + name + " is unknown: not changed";
		EXPECT_EQ(notes(), (std::vector<std::string>{ note, note }));
		clear_notifications(&app.notifications);
	}
	app.tables[SECTION_KNOWN].sel = 0;
	press("\x01");
	strings req = sent();
	ASSERT_FALSE(req.empty());
	EXPECT_EQ(req.front(), "SET_NETWORK 0 priority 5");
}
