// A crowded place: 300 access points in range and 500 stored networks,
// far more than one 4096-byte reply of the daemon holds.  Scrolled through
// page by page in the real program, every one of them shows on the screen.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "e2e_sim.h"

static constexpr int AP_COUNT = 300;
static constexpr int KNOWN_COUNT = 500;

static std::string
name(const char *prefix, int i)
{
	char buf[32];
	snprintf(buf, sizeof buf, "%s%03d", prefix, i);
	return buf;
}

static std::string
crowded_world(void)
{
	std::string s;
	char buf[160];

	for (int i = 0; i < AP_COUNT; i++) {
		snprintf(buf, sizeof buf, "bssid=02:00:00:01:%02x:%02x freq=%d "
		    "signal=%d flags=[ESS] ssid=\"%s\"\n", i / 256, i % 256,
		    i % 2 ? 2412 + 5 * (i % 13) : 5180 + 20 * (i % 8),
		    -30 - i % 60, name("AP-", i).c_str());
		s += buf;
	}
	return s;
}

static std::string
crowded_config(void)
{
	std::string s = "ctrl_interface=/var/run/wpa_supplicant\nupdate_config=1\n";

	for (int i = 0; i < KNOWN_COUNT; i++)
		s += "\nnetwork={\n\tssid=\"" + name("Net-", i) +
		    "\"\n\tkey_mgmt=NONE\n}\n";
	return s;
}

// The names of the form prefix + three digits on the screen, added to *seen.
static void
collect(const std::string &screen, const std::string &prefix,
    std::set<std::string> *seen)
{
	for (size_t at = screen.find(prefix); at != std::string::npos;
	    at = screen.find(prefix, at + 1)) {
		std::string digits = screen.substr(at + prefix.size(), 3);
		if (digits.size() == 3 && digits.find_first_not_of("0123456789") ==
		    std::string::npos)
			seen->insert(prefix + digits);
	}
}

// The screen with no notification over it (its only top-left corner is
// the status box's) once it differs from `before`; "" when it did not
// change in time.
static std::string
next_screen(tmux_session *t, const std::string &before)
{
	std::string screen;
	bool ok = wait_uncovered(t, [&] {
		screen = tmux_capture(t);
		return screen != before && screen.find("╭") == screen.rfind("╭");
	}, patience(3000));
	return ok ? screen : "";
}

// Pages through the selected list until all `count` names with `prefix`
// have shown, or a Page Down no longer changes the screen.  The names seen.
static std::set<std::string>
page_through(tmux_session *t, const std::string &prefix, int count)
{
	std::set<std::string> seen;
	std::string screen = next_screen(t, "");

	collect(screen, prefix, &seen);
	// 13 rows a page: 500 rows take 39 pages; a few more for the margin.
	for (int i = 0; i < count / 13 + 5 &&
	    static_cast<int>(seen.size()) < count; i++) {
		tmux_keys(t, {"NPage"});
		screen = next_screen(t, screen);
		if (screen.empty())
			break;
		collect(screen, prefix, &seen);
	}
	return seen;
}

static std::string
missing(const std::set<std::string> &seen, const char *prefix, int count)
{
	std::string out;
	for (int i = 0; i < count; i++)
		if (!seen.count(name(prefix, i)))
			out += " " + name(prefix, i);
	return out;
}

TEST(sim_crowded, every_network_and_access_point_on_screen)
{
	char tmpl[] = "/tmp/corvid-crowded-XXXXXX";
	ASSERT_NE(mkdtemp(tmpl), nullptr);
	std::string dir = tmpl;
	struct dir_guard {
		std::string path;
		~dir_guard() { std::error_code ec; std::filesystem::remove_all(path, ec); }
	} dir_cleanup{dir};
	std::string world = dir + "/world";
	ASSERT_TRUE(file_write(world, crowded_world()));

	sim_run r;
	sim_run_guard guard{&r};
	tmux_session *t = &r.term;

	ASSERT_TRUE(sim_daemon_start(&r, crowded_config(),
	    {"-f", world, "--start-disconnected"}));
	ASSERT_TRUE(sim_corvid_start(&r));

	// The known networks have the selection first; Tab goes to the scan.
	std::set<std::string> known = page_through(t, "Net-", KNOWN_COUNT);
	EXPECT_EQ(known.size(), static_cast<size_t>(KNOWN_COUNT)) <<
	    "never shown:" << missing(known, "Net-", KNOWN_COUNT) <<
	    "\nlast screen:\n" << tmux_capture(t);
	tmux_keys(t, {"Tab"});
	std::set<std::string> scan = page_through(t, "AP-", AP_COUNT);
	EXPECT_EQ(scan.size(), static_cast<size_t>(AP_COUNT)) <<
	    "never shown:" << missing(scan, "AP-", AP_COUNT) <<
	    "\nlast screen:\n" << tmux_capture(t);
}
