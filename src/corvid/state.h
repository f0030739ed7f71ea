// The program's single state record, the types of its fields, and the
// layout numbers derived from the terminal's size.  Everything else of the
// interface builds on this file; it includes nothing of it.
#pragma once

#include <sys/ioctl.h>
#include <termios.h>

#include <cstddef>
#include <cstdint>

#include "keyseq.h"
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

enum section_id { SECTION_KNOWN = 0, SECTION_SCAN = 1 };
inline constexpr size_t SECTIONS = 2;

// What the screen keeps of one of the two tables.
struct table {
	size_t sel;                // selected row
	size_t top;                // first row shown
	size_t visible;            // rows the layout gives it
	char search[SSID_MAX + 1]; // the search text; empty: every row
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
	struct termios saved_termios;
	bool termios_saved;        // saved_termios holds what the terminal had
	wpa_ctrl *ctrl;
	struct winsize winsize;
	section_id section;
	table tables[SECTIONS];
	size_t hscroll;
	supplicant_status *status;
	scan_results *scan;
	known_networks *known;
	event_handler *handlers;   // newest registration first
	notification_list notifications;
	size_t layout_rows;
	rtnl_state *rtnl;
	int pending_network;       // added by the connect flow, not saved yet; -1
	unsigned reconnections;    // to a daemon that restarted, this run
	key_reader keys;           // bytes read from the terminal, not yet keys
	bool screen_up;            // the program's screen is on the terminal
	refused_keys refused;      // passphrases the daemon refused this session
	unsigned akm;              // GET_CAPABILITY key_mgmt, once asked
	bool akm_known;
};

extern app_state app;

// The table of a section, and the number of rows its record holds.
inline table &app_table(section_id s) { return app.tables[s]; }
inline table &active_table() { return app.tables[app.section]; }
inline size_t
table_count(section_id s)
{
	if (s == SECTION_SCAN)
		return app.scan != nullptr ? app.scan->count : 0;
	return app.known != nullptr ? app.known->count : 0;
}

inline constexpr size_t LAYOUT_ROWS_MAX = 34;
inline constexpr size_t TABLE_ROWS_MAX = 13;
inline constexpr int MIN_COLS = 44;
inline constexpr int MIN_ROWS = 22;

inline int app_rows() { return app.winsize.ws_row; }
inline int app_cols() { return app.winsize.ws_col; }

// Puts every field back to its value before start-up: descriptors -1,
// pointers null, lists empty, section 0.  Releases nothing.
void app_reset(void);
// Derives layout_rows, the table rows and too_small from winsize.
void layout_update(void);
