// The terminal: its size, raw mode, the way back to how it was, the only
// reader of its keys, and the ways out of the program once the screen is up.
#pragma once

#include <termios.h>

#include <cstdio>

#include "state.h"

enum key_code {
	KEY_ESC = 27,
	KEY_DELETE = 1000,
	KEY_UP = 1001,
	KEY_DOWN = 1002,
	KEY_RIGHT = 1003,
	KEY_LEFT = 1004,
	KEY_HOME = 1005,
	KEY_END = 1006,
	KEY_PAGE_UP = 1007,
	KEY_PAGE_DOWN = 1008,
};

// Measures the terminal and derives the layout numbers; 0 or -1.
int fetch_winsize(void);
// The attributes of raw mode, applied to a copy of the saved ones.
void raw_mode(struct termios *t);
void restore_screen(void);
// Gives the terminal its saved attributes back; -1 when that failed.
int restore_termios(void);
[[noreturn]] void fatal(const char *fmt, ...) __printflike(1, 2);
[[noreturn]] void fatalx(const char *fmt, ...) __printflike(1, 2);

// A byte, or a key_code for an editing or cursor key.
int read_key(void);

// While the screen is up the supplicant client's warnings would flash into
// the frame and be gone at the next redraw: they are kept instead, the
// newest WARNINGS_KEPT of them in order, and written to standard error when
// the terminal is the user's again.
inline constexpr size_t WARNINGS_KEPT = 16;
void warnings_hold(void);
// Writes what was kept, then lets warnings through again.
void warnings_release(void);
