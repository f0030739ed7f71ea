// Faults on the terminal's side, end to end: the real corvid in tmux
// against the simulated supplicant.  Window-size changes in a burst; the
// terminal hanging up under the main screen, a dialog and a search.  After
// each, the daemon's saved configuration is what it was.
#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_sim.h"
#include "vt.h"

// The screen's line `y`.
static std::string
screen_line(tmux_session *t, int y)
{
	std::string screen = tmux_capture(t);
	size_t at = 0;
	for (int i = 0; i < y && at != std::string::npos; i++) {
		at = screen.find('\n', at);
		if (at != std::string::npos)
			at++;
	}
	if (at == std::string::npos)
		return "";
	return screen.substr(at, screen.find('\n', at) - at);
}

// Many resizes sent at once, as one tmux command: the SIGWINCHs arrive
// while frames for the sizes before are still being drawn.
static void
resize_burst(tmux_session *t, const std::vector<std::pair<int, int>> &sizes)
{
	std::string cmd;
	for (const auto &[w, h] : sizes) {
		if (!cmd.empty())
			cmd += " \\; ";
		cmd += "resize-window -x " + std::to_string(w) + " -y " +
		    std::to_string(h);
	}
	tmux_command(t, cmd);
	t->width = sizes.back().first;
	t->height = sizes.back().second;
}

static std::vector<std::pair<int, int>>
burst_ending(int width, int height)
{
	std::vector<std::pair<int, int>> sizes;
	const std::pair<int, int> cycle[] = {
		{44, 22}, {120, 50}, {43, 21}, {100, 40}, {70, 30}, {200, 60},
		{44, 21}, {81, 34}, {60, 24}, {80, 34},
	};
	for (int round = 0; round < 5; round++)
		for (const auto &s : cycle)
			sizes.push_back(s);
	sizes.emplace_back(width, height);
	return sizes;
}

// Window-size changes in a burst: every change is measured again, the
// horizontal scroll is limited to the width reached, and the last frame is
// laid out for the last size.  Nothing is written that a terminal would
// not understand.
TEST(sim_terminal_faults, window_size_burst)
{
	sim_run r;
	sim_run_guard guard{&r};
	tmux_session *t = &r.term;

	ASSERT_TRUE(sim_daemon_start(&r, demo_config()));
	ASSERT_TRUE(sim_corvid_start(&r));
	corvid_seen seen = sim_corvid_seen(&r);
	ASSERT_TRUE(tmux_wait_for(t, "SSID     : Home", patience(3000)));

	// Scrolled right on a narrow terminal: the labels leave the screen.
	tmux_resize(t, 60, 30);
	ASSERT_TRUE(wait_until([&] { return status_box_width(t) == 60; },
	    patience(3000)));
	for (int i = 0; i < 15; i++)
		tmux_keys(t, {"]"});
	ASSERT_TRUE(tmux_wait_gone(t, "SSID     :", patience(3000))) <<
	    tmux_capture(t);

	{
		SCOPED_TRACE("a burst ending wide: centred, scroll back to 0");
		resize_burst(t, burst_ending(100, 40));
		// 80 columns centred in 100, 34 rows centred in 40.
		EXPECT_TRUE(wait_until([&] {
			return screen_line(t, 3).rfind(std::string(10, ' ') +
			    "╭─┐WiFi Info", 0) == 0 &&
			    screen_line(t, 4).find("│  SSID     : Home") == 10;
		}, patience(5000))) << tmux_capture(t);
	}
	{
		SCOPED_TRACE("a burst ending too small");
		resize_burst(t, burst_ending(40, 20));
		EXPECT_TRUE(tmux_wait_for(t, "Terminal size too small",
		    patience(5000))) << tmux_capture(t);
		EXPECT_FALSE(tmux_capture(t).find("WiFi Info") !=
		    std::string::npos);
	}
	{
		SCOPED_TRACE("a burst ending at the usual size");
		resize_burst(t, burst_ending(80, 34));
		EXPECT_TRUE(wait_until([&] {
			return screen_line(t, 0).rfind("╭─┐WiFi Info", 0) == 0 &&
			    screen_line(t, 1).rfind("│  SSID     : Home", 0) == 0 &&
			    screen_line(t, 33).rfind("╰", 0) == 0;
		}, patience(5000))) << tmux_capture(t);
	}
	ASSERT_TRUE(tmux_running(t));
	tmux_keys(t, {"q"});
	expect_ended(&r, seen, 0, {}, patience(5000));

	vt_screen vt;
	vt_init(&vt, 60, 200);
	vt_feed(&vt, tmux_output(t));
	EXPECT_EQ(vt.stray, 0);
	EXPECT_EQ(vt.invalid, 0);
	expect_config_kept(&r);
}

// The terminal hangs up (its tmux server is killed, which closes the pty
// and hangs up its session) while corvid shows the main screen, a dialog or
// a search: corvid ends at once with status 1, leaves nothing behind, and
// detaches from the daemon; nothing half-done is saved.
struct hangup_case {
	const char *name;
	std::vector<std::string> keys;   // sent before the hang-up
	const char *text;                // then typed
	const char *shown;               // and what they show
};

static void
PrintTo(const hangup_case &c, std::ostream *os)
{
	*os << c.name;
}

static const hangup_case hangup_cases[] = {
	{"main_screen", {}, "", "WiFi Info"},
	{"password_dialog", {"Tab", "j", "c"}, "secret-typed", "************"},
	{"search", {"/"}, "hom", "/hom"},
};

struct sim_terminal_faults_hangup : testing::TestWithParam<hangup_case> {};

TEST_P(sim_terminal_faults_hangup, corvid_ends_and_cleans_up)
{
	const hangup_case &c = GetParam();
	sim_run r;
	sim_run_guard guard{&r};
	tmux_session *t = &r.term;

	ASSERT_TRUE(sim_daemon_start(&r, demo_config()));
	ASSERT_TRUE(sim_corvid_start(&r));
	corvid_seen seen = sim_corvid_seen(&r);
	for (const auto &k : c.keys) {
		tmux_keys(t, {k});
		if (k == "c") {
			ASSERT_TRUE(tmux_wait_for(t, "Enter the password",
			    patience(3000)));
		}
	}
	if (*c.text != '\0')
		tmux_type(t, c.text);
	ASSERT_TRUE(tmux_wait_for(t, c.shown, patience(3000))) <<
	    tmux_capture(t);

	tmux_command(t, "kill-server");
	expect_ended(&r, seen, 1, {"terminated by SIGHUP",
	    "read: end of file on the terminal", "read: "}, patience(3000),
	    false);
	std::vector<std::string> log = file_lines(r.daemon.log);
	ASSERT_FALSE(log.empty());
	EXPECT_EQ(log.back(), "DETACH");
	expect_config_kept(&r);
}

INSTANTIATE_TEST_SUITE_P(cases, sim_terminal_faults_hangup, testing::ValuesIn(hangup_cases),
    [](const testing::TestParamInfo<hangup_case> &i) {
	return std::string(i.param.name);
});
