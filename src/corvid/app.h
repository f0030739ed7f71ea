// The application core: the global state record, start-up, the terminal's
// raw mode and alternate screen, and the ways out of the program.
#pragma once

#include <sys/ioctl.h>
#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "wifi.h"

// One text shown at the top right until it expires or is cleared.
struct notification {
	char *text;                // owned copy
	notification *next;        // the next (newer) entry; nullptr for the newest
	notification **prev;       // the forward link that points at this entry
};

// First-in, first-out: oldest first, newest at the tail.
struct notification_list {
	notification *first;
	notification **last;       // the newest entry's `next`, or &first
	size_t count;
};

inline void
notification_list_init(notification_list *list)
{
	list->first = nullptr;
	list->last = &list->first;
	list->count = 0;
}

// Pending notifications are capped; adding to a full list drops the oldest.
inline constexpr size_t NOTIFICATIONS_MAX = 64;

// One registered event source.
struct event_handler {
	uintptr_t ident;           // descriptor, signal number or timer number
	int filter;                // evq_filter; compared along with `ident`
	int (*callback)(void *udata);
	void *udata;
	event_handler *next;
};

struct app_state {
	int tty_fd;
	int monitor_fd;
	int kq_fd;
	bool show_help;
	bool too_small;
	bool dialog_masked;
	const char *dialog_prompt;
	const char *dialog_text;
	bool searching;
	char scan_search[SSID_MAX + 1];
	char known_search[SSID_MAX + 1];
	struct termios saved_termios;
	bool termios_saved;        // saved_termios holds what the terminal had
	wpa_ctrl *ctrl;
	struct winsize winsize;
	int section;
	size_t known_sel;
	size_t scan_sel;
	size_t hscroll;
	size_t known_top;
	size_t scan_top;
	supplicant_status *status;
	scan_results *scan;
	known_networks *known;
	event_handler *handlers;   // newest registration first
	notification_list notifications;
	size_t layout_rows;
	size_t known_visible;
	size_t scan_visible;
	rtnl_state *rtnl;
	int pending_network;       // added by the connect flow, not saved yet; -1
};

extern app_state app;

enum section_id { SECTION_KNOWN = 0, SECTION_SCAN = 1 };

inline constexpr size_t LAYOUT_ROWS_MAX = 34;
inline constexpr size_t TABLE_ROWS_MAX = 13;
inline constexpr int MIN_COLS = 44;
inline constexpr int MIN_ROWS = 22;

inline int app_rows() { return app.winsize.ws_row; }
inline int app_cols() { return app.winsize.ws_col; }

// The whole program; main() only calls it.
int corvid_main(int argc, char **argv);

void usage(FILE *stream);
// Measures the terminal and derives the layout numbers; 0 or -1.
int fetch_winsize(void);
// Derives layout_rows, the table rows and too_small from winsize.
void layout_update(void);
void restore_screen(void);
[[noreturn]] void fatal(const char *fmt, ...) __printflike(1, 2);
[[noreturn]] void fatalx(const char *fmt, ...) __printflike(1, 2);
void cleanup(void);
// Puts every field back to its value before start-up: descriptors -1,
// pointers null, lists empty, section 0.  Releases nothing.
void app_reset(void);
