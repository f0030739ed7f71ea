// The terminal: its size, raw mode, the way back to how it was, the only
// reader of its keys, and the ways out of the program once the screen is up.
#pragma once

#include <termios.h>

#include <csignal>
#include <cstdio>

#include "keyseq.h"
#include "state.h"

// Measures the terminal and derives the layout numbers; 0 or -1.
int fetch_winsize(void);
// The attributes of raw mode, applied to a copy of the saved ones.
void raw_mode(struct termios *t);
// Enters the program's screen: the alternate screen, the cursor hidden,
// pasted text marked (bracketed paste).  -1 when the write failed.
int enter_screen(void);
// Leaves it again, in the reverse order.
void restore_screen(void);
// Gives the terminal its saved attributes back; -1 when that failed.
int restore_termios(void);
[[noreturn]] void fatal(const char *fmt, ...) __printflike(1, 2);

// The signals whose default action ends the program: each ends it through
// the normal way out instead, which leaves the screen, gives the terminal
// back and removes what start-up made.
struct ending_signal {
	int sig;
	const char *name;
};
inline constexpr ending_signal ending_signals[] = {
	{SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}, {SIGINT, "SIGINT"},
	{SIGQUIT, "SIGQUIT"}, {SIGABRT, "SIGABRT"}, {SIGUSR1, "SIGUSR1"},
	{SIGUSR2, "SIGUSR2"}, {SIGPIPE, "SIGPIPE"}, {SIGALRM, "SIGALRM"},
};
// The name of an ending signal, or nullptr for any other number.
const char *ending_signal_name(int sig);
[[noreturn]] void fatalx(const char *fmt, ...) __printflike(1, 2);

// The next key (keyseq.h): a byte, a key_code for an editing or cursor
// key, KEY_PASTED and a byte of pasted text, or KEY_NONE for input that is
// no key (an unknown sequence, the paste marks).  An escape sequence is
// read whole; the rest of one that is cut is waited for up to
// key_wait_ms.
int read_key(void);
// Bytes from the terminal are held that read_key has not yet returned as
// keys, or pasted text has begun and not yet ended: the loop draws no
// frame before it has taken them.
bool key_pending(void);
bool key_pasting(void);
// How long the rest of an escape sequence is waited for (50 ms).
extern int key_wait_ms;

// While the screen is up the supplicant client's warnings would flash into
// the frame and be gone at the next redraw: they are kept instead, the
// newest WARNINGS_KEPT of them in order, and written to standard error when
// the terminal is the user's again.
inline constexpr size_t WARNINGS_KEPT = 16;
void warnings_hold(void);
// Writes what was kept, then lets warnings through again.
void warnings_release(void);
