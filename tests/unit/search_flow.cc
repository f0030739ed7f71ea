// A search from the '/' key to the filtered list: the text each section
// keeps, the refresh at the end, and the selection after it.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core_state.h"

namespace {

using strings = std::vector<std::string>;

const strings all_known = { "MyHome", "Office", "HOME-5G", "Cafe", "home-guest",
	"Lab", "Garage", "Homestead", "Attic", "Barn", "Shed", "Loft" };

// Twelve stored networks, four of them with "home" in some case, and four
// access points.
struct search_flow : core_test {
	void SetUp() override
	{
		core_test::SetUp();
		std::vector<core_net> nets;
		for (size_t i = 0; i < all_known.size(); i++)
			nets.push_back({ static_cast<int>(i), all_known[i].c_str(),
			    static_cast<int>(100 - i) });
		world_networks(&daemon.world, nets);
		world_scan(&daemon.world, { { "Cafe", -40 }, { "cafe-2", -50 },
		    { "Office", -60 }, { "MyHome", -70 } });
		connect();
		loop_setup();
	}

	// '/' and the keys of one search, typed in advance.
	void search(const std::string &keys)
	{
		press("/" + keys);
		EXPECT_FALSE(app.searching);
		event_handler *eh = handler_find(static_cast<uintptr_t>(app.tty_fd), EVQ_READ);
		EXPECT_EQ(eh->callback, handle_input) << "the main key handler is back";
	}
};

TEST_F(search_flow, TheTypedTextFiltersTheActiveSectionWhenTheSearchEnds)
{
	search("home\r");
	EXPECT_STREQ(app.tables[SECTION_KNOWN].search, "home");
	EXPECT_EQ(known_ssids(), (strings{ "MyHome", "HOME-5G", "home-guest", "Homestead" }));
	EXPECT_EQ(sent(), strings{ "LIST_NETWORKS" }) << "only the section's list";
	EXPECT_EQ(app.tables[SECTION_SCAN].search[0], '\0');
	EXPECT_EQ(scan_ssids().size(), 4u);

	// The text stays, and so does the filter at the next refresh.
	refresh_known();
	EXPECT_EQ(known_ssids().size(), 4u);
}

TEST_F(search_flow, EscapeKeepsTheTextAndASecondSearchGoesOnEditingIt)
{
	search("off\e");
	EXPECT_STREQ(app.tables[SECTION_KNOWN].search, "off");
	EXPECT_EQ(known_ssids(), strings{ "Office" });
	search("i\r");
	EXPECT_STREQ(app.tables[SECTION_KNOWN].search, "offi");
	EXPECT_EQ(known_ssids(), strings{ "Office" });
}

TEST_F(search_flow, EmptyingTheTextEndsTheSearchAndShowsTheWholeList)
{
	search("la\r");
	ASSERT_EQ(known_ssids(), strings{ "Lab" });
	// The first Backspace leaves "l"; the second empties it and ends the
	// search.
	search("\x7f\x7f");
	EXPECT_STREQ(app.tables[SECTION_KNOWN].search, "");
	EXPECT_EQ(known_ssids().size(), all_known.size());

	// C-u empties but keeps the search open until the next key.
	search("ab\x15\x15");
	EXPECT_STREQ(app.tables[SECTION_KNOWN].search, "");
	EXPECT_EQ(known_ssids().size(), all_known.size());
}

TEST_F(search_flow, KeysDuringASearchAreTextNotCommands)
{
	app.tables[SECTION_KNOWN].sel = 2;
	search("qj\t\e[B\r");
	EXPECT_STREQ(app.tables[SECTION_KNOWN].search, "qj");
	EXPECT_EQ(app.section, SECTION_KNOWN) << "Tab did not switch";
	EXPECT_TRUE(known_ssids().empty());
	EXPECT_EQ(app.tables[SECTION_KNOWN].sel, 0u);
	EXPECT_EQ(sent(), strings{ "LIST_NETWORKS" });
}

TEST_F(search_flow, EachSectionKeepsItsOwnText)
{
	search("home\r");
	press("\t");
	search("CAFE\r");
	EXPECT_STREQ(app.tables[SECTION_SCAN].search, "CAFE");
	EXPECT_EQ(scan_ssids(), (strings{ "Cafe", "cafe-2" }));
	EXPECT_EQ(sent(), (strings{ "LIST_NETWORKS", "SCAN_RESULTS" }));
	EXPECT_STREQ(app.tables[SECTION_KNOWN].search, "home");
	EXPECT_EQ(known_ssids().size(), 4u);

	// Emptying one leaves the other's filter alone.
	press("\t");
	search("\x15\x15");
	EXPECT_EQ(known_ssids().size(), all_known.size());
	EXPECT_STREQ(app.tables[SECTION_SCAN].search, "CAFE");
	EXPECT_EQ(scan_ssids().size(), 2u);
}

TEST_F(search_flow, TheSelectionEndsOnTheLastRowThatIsLeft)
{
	app.tables[SECTION_KNOWN].sel = 10;
	search("home\r");
	EXPECT_EQ(app.tables[SECTION_KNOWN].sel, 3u);
}

} // namespace
