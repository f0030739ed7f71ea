// Driving a program through a real terminal: a private tmux server, one
// window of a given size, keys sent in and the screen read back.
#pragma once

#include <string>
#include <vector>

struct tmux_session {
	std::string server;    // socket of the private server (in `dir`)
	std::string dir;       // scratch: exit status, standard error, raw output
	int width = 80;
	int height = 34;
	bool started = false;
};

// Starts `command` (run by sh) in a new detached session of the given size,
// with LC_ALL=C.UTF-8 and TERM set.  Everything the program writes to the
// terminal is also kept (tmux_output), its standard error goes to a file
// (tmux_stderr) and its exit status is recorded (tmux_wait_exit), as are the
// terminal's attributes before it starts and after it ends (tmux_stty).
// False, with the reason in *why, when tmux could not start.
bool tmux_start(tmux_session *s, const std::string &command, int width,
    int height, std::string *why);
// Ends the server and everything running in it (the program is killed if
// it outlives the server's hang-up); removes the scratch files.
void tmux_stop(tmux_session *s);

// The visible screen as text lines (no attributes), trailing blanks kept,
// once tmux has taken in the frame it is receiving.
std::string tmux_capture(tmux_session *s);
// The same with capture-pane's `options` ("-e -N": with attributes).
std::string tmux_capture_with(tmux_session *s, const std::string &options);
// Polls the screen until `needle` shows (true) or the time is up (false).
bool tmux_wait_for(tmux_session *s, const std::string &needle, int timeout_ms);
// Polls until the screen no longer shows `needle`.
bool tmux_wait_gone(tmux_session *s, const std::string &needle, int timeout_ms);
// Keys by tmux name ("Down", "Tab", "C-a", "Escape", "Enter") or literal
// text with `literal` set.
void tmux_keys(tmux_session *s, const std::vector<std::string> &keys);
void tmux_type(tmux_session *s, const std::string &text);
void tmux_resize(tmux_session *s, int width, int height);

// Waits for the program to end; its exit status, or -1 on time-out.
int tmux_wait_exit(tmux_session *s, int timeout_ms);
// Whether the program still runs.
bool tmux_running(tmux_session *s);
// The bytes the program wrote to the terminal, and its standard error.
std::string tmux_output(tmux_session *s);
std::string tmux_stderr(tmux_session *s);
// Polls until the bytes written to the terminal end with `tail`.
bool tmux_wait_output_tail(tmux_session *s, const std::string &tail,
    int timeout_ms);
// The terminal's attributes ("stty -g") as they were before the program
// started, or (`after`) once it had ended; "" when not (yet) recorded.
std::string tmux_stty(tmux_session *s, bool after);
// The process id of the program (the pane's process), or -1.
int tmux_pid(tmux_session *s);

// Runs a tmux command (its arguments, already quoted for sh) on the
// session's server; its output, and its status in *status.
std::string tmux_command(tmux_session *s, const std::string &args,
    int *status = nullptr);

// Runs a shell command; its standard output, and its status in *status.
std::string shell(const std::string &command, int *status = nullptr);
// Quotes a word for sh.
std::string shell_quote(const std::string &word);
