// End-to-end runs of the real corvid against the simulated supplicant: the
// daemon in a private directory, corvid in a private tmux server through a
// shell that records corvid's exit status and the terminal's attributes
// before and after (also when the terminal hangs up), and everything
// stopped when the test leaves its scope, failed or not.  Plus what such
// tests read back: frames from the terminal output, the selected row, the
// saved configuration, a process's memory, and corvid's private socket.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "files.h"
#include "proc.h"
#include "simsupp_harness.h"
#include "wpa_conf.h"
#include "tmux.h"

// The command prefix in CORVID_TEST_WRAPPER (a memory checker, say), or ""
// when it is not set.
std::string test_wrapper(void);
// `ms`, stretched when a wrapper slows corvid down.
int patience(int ms);
// Whether corvid's memory use is its own: no wrapper, no address sanitizer
// (whose quarantine keeps freed memory).
bool memory_measurable(void);

struct sim_run {
	simsupp_proc daemon;
	tmux_session term;
	std::string dir;          // private: corvid's exit status, stty dumps
	std::string rc_path;      // dir + "/rc"
	std::string config_before;  // the daemon's configuration at its start
};

// Starts the simulated supplicant with `config` (a wpa_supplicant.conf) and
// `args`; false (with a test failure) when it does not come up.
bool sim_daemon_start(sim_run *r, const std::string &config,
    const std::vector<std::string> &args = {});
// Stops the daemon (SIGTERM) and returns its exit status; the saved
// configuration is read into *config first, when asked for.
int sim_daemon_stop(sim_run *r, std::string *config = nullptr);
// Kills the daemon with `sig` and reaps it; its socket directory is left
// for sim_stop.  False when it was not running.
bool sim_daemon_kill(sim_run *r, int sig);
// The daemon's configuration file as it is now.
std::string sim_config(sim_run *r);

// Starts corvid on the daemon's socket in a terminal of the given size and
// waits for its first frame ("WiFi Info").  `extra` goes before the
// wrapper: variables for corvid's environment ("LC_ALL=C ").
bool sim_corvid_start(sim_run *r, int width = 80, int height = 34,
    const std::string &extra = "");
// corvid's process id (under a wrapper: the wrapper's), or -1.
int sim_corvid_pid(sim_run *r);
// Waits for corvid to end: its exit status, or -1 on time-out.  Works after
// the terminal hung up as well.
int sim_corvid_exit(sim_run *r, int timeout_ms);
// Whether the terminal's attributes after corvid are those it found.
bool sim_terminal_restored(sim_run *r);
// The demo's stored networks (tools/simsupp/simsupp.conf).
std::string demo_config(void);

// What a test notes of a running corvid, to check after it ended.
struct corvid_seen {
	int pid = -1;
	std::string private_dir;  // the directory of its control socket
};
corvid_seen sim_corvid_seen(sim_run *r);

// How corvid ended: its exit status within `timeout_ms`, one of `messages`
// on its standard error (none expected when empty), nothing of it left
// behind (process, private socket directory), and, while the terminal
// still exists, the alternate screen left and the attributes restored.
void expect_ended(sim_run *r, const corvid_seen &seen, int status,
    const std::vector<std::string> &messages, int timeout_ms,
    bool terminal_alive = true);
// The daemon's saved networks and global lines are what they were at its
// start.
void expect_config_kept(sim_run *r);

// Ends the terminal, the daemon and the private directory.
void sim_stop(sim_run *r);

struct sim_run_guard {
	sim_run *r;
	~sim_run_guard() { sim_stop(r); }
};

// Polls `pred` every 20 ms until it holds (true) or `timeout_ms` passed.
bool wait_until(const std::function<bool()> &pred, int timeout_ms);

// The screen text of the row shown in reverse video (the selection), or "".
std::string selected_row(tmux_session *s);
// Sends `key` until the selected row contains `text`; false after `max`.
bool select_row(tmux_session *s, const std::string &text,
    const std::string &key = "j", int max = 20);
// The width in columns of the status box when the screen begins with its
// top border, else 0.
int status_box_width(tmux_session *s);
// Sends Ctrl-L (clearing the notifications that may cover it) until the
// screen shows `needle`.
bool wait_for_uncovered(tmux_session *s, const std::string &needle,
    int timeout_ms);
// The same for a condition on the screen.
bool wait_uncovered(tmux_session *s, const std::function<bool()> &pred,
    int timeout_ms);

// The frames of a terminal output, each as the bytes written for it.
std::vector<std::string> frames(const std::string &output);
// A frame as a terminal of that size shows it: rows joined by newlines.
std::string frame_screen(const std::string &frame, int rows, int cols);
// The index of the first frame from `from` whose bytes contain every one of
// `needles`, or -1.
int frame_find(const std::vector<std::string> &frames,
    const std::vector<std::string> &needles, size_t from = 0);

// How many lines of `lines`, from `from` on, begin with `prefix`.
size_t count_prefix(const std::vector<std::string> &lines,
    const std::string &prefix, size_t from = 0);

// Reading the 80x34 screen of corvid.
// Whether the screen shows `text` now.
bool shows(tmux_session *t, const std::string &text);
// Parts of the screen: all of it, or the rows of one table.
enum region { SCREEN, KNOWN, SCAN };
// The lines of `where` that contain all of `parts`.
int lines_with(tmux_session *t, const std::vector<std::string> &parts,
    region where = SCREEN);
// Whether, within a few seconds, `n` lines of `where` contain all of
// `parts` once the notifications that may cover them are cleared.
bool rows_shown(tmux_session *t, const std::vector<std::string> &parts, int n,
    region where = SCREEN);
// Rows of the Network Scan table, once no notification covers them.
int scan_rows(tmux_session *t);
// Opens the password dialog for the selected scan result, types `secret`
// (checking that it shows masked) and sends it.
void connect_with(tmux_session *t, const std::string &secret);
// The same in a password dialog that is opening already.
void type_password(tmux_session *t, const std::string &secret);
