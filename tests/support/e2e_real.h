// Helpers for the end-to-end tests against the real supplicant: the real
// daemon and the program in a terminal as one fixture, the configuration
// file the daemon saves, the Known Networks table read off the screen, a
// private network namespace, and the local sockets a process has bound.
// corvid runs behind CORVID_TEST_WRAPPER when that is set (test_wrapper),
// and every time-out here is stretched for it (patience); tests stretch
// their own the same way.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_sim.h"
#include "fake_daemon.h"
#include "netns.h"
#include "tmux.h"

// One row of the Known Networks table as a person reads it.
struct known_row {
	bool current = false;   // marked ">"
	std::string ssid;
	std::string security;
	std::string hidden;
	int priority = 0;
	std::string autoconnect;
};
struct known_table {
	bool found = false;     // the table was on the screen
	std::string title;      // "Known Networks", or "/" and a search text
	std::vector<known_row> rows;
};

// The Known Networks table of a captured screen (tmux_capture).  The rows
// are read between the block's left border and the next "│", so an overlay
// must not cover them: give the terminal room beside the block (160
// columns keep the notifications clear of it).
known_table screen_known(const std::string &screen);
// Its rows as "ssid|security|hidden|priority|auto connect".
std::vector<std::string> known_row_texts(const known_table &t);
// The SSIDs of its rows, in order.
std::vector<std::string> screen_known_ssids(const std::string &screen);

// A private network namespace with a unique name.
struct e2e_netns {
	std::string name;
	bool made = false;
};
// False, with the reason, when none can be made here.
bool e2e_netns_make(e2e_netns *ns, std::string *why);
void e2e_netns_remove(e2e_netns *ns);
// Runs "ip -n <name>" with `args`; its exit status, or -1.
int e2e_netns_ip(const e2e_netns *ns, const std::vector<std::string> &args);
// The prefix that runs a shell command inside the namespace.
std::string e2e_netns_exec(const std::string &ns);

// The shell command that runs corvid on `socket`, behind `prefix`
// (e2e_netns_exec) and the wrapper.
std::string corvid_command(const std::string &socket,
    const std::string &prefix = "");

// Expects that the program, now ended, left its screen ("\e[?1049l\e[?25h"
// is the last thing it wrote) and gave the terminal its attributes back.
void expect_terminal_restored(tmux_session *term);

// The real daemon, with corvid in a terminal talking to it.  Tests skip
// when the daemon cannot be run here.  Everything started is stopped when
// the test ends, whatever its outcome.
struct real_e2e : testing::Test {
	real_daemon daemon;
	tmux_session term;

	// Starts the daemon with `networks` as the configuration's network
	// blocks; skips or fails the test when it cannot.
	void daemon_start(const std::string &networks);
	// Starts corvid on the daemon's socket in a terminal of the given
	// size and waits for its first screen.
	void corvid_start(int width = 160, int height = 40);
	// The Known Networks table as it is now.
	known_table known(void) { return screen_known(tmux_capture(&term)); }
	// Polls until the Known Networks SSIDs are `want`.  (Time-outs of
	// these helpers are stretched by patience.)
	bool wait_known(const std::vector<std::string> &want,
	    int timeout_ms = 5000);
	// Polls until the saved configuration agrees with `want`; the last
	// difference seen otherwise.
	std::string wait_saved(const wpa_conf &want, int timeout_ms = 5000);
	// The configuration as the daemon was started with it.
	wpa_conf original(void) { return wpa_conf_parse(original_text); }
	// Runs wpa_cli on the daemon's interface; its output.
	std::string wpa_cli(const std::vector<std::string> &args,
	    int *status = nullptr);

	void TearDown() override;

	std::string original_text;
};

// The in-test daemon, which can do what the real one never does, with
// corvid in a terminal talking to it, and a namespace for tests that need
// one.
struct fake_e2e : testing::Test {
	fake_daemon daemon;
	tmux_session term;
	e2e_netns ns;

	void SetUp() override;
	void TearDown() override;
	// Starts corvid on the daemon's socket in a 160x40 terminal, behind
	// `prefix` (e2e_netns_exec), and waits for its first screen.
	void corvid_start(const std::string &prefix = "");
	// Replaces the daemon's STATUS lines.
	void set_status(const std::vector<std::string> &lines);
};
