// What each key does on the main screen.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "dialog.h"
#include "keys.h"
#include "notify.h"
#include "refresh.h"
#include "search.h"
#include "term.h"

static void
move_selection(int key)
{
	table &t = active_table();
	size_t n = table_count(app.section);
	size_t &sel = t.sel;

	switch (key) {
	case 'j':
	case KEY_DOWN:
		if (n > 0)
			sel = (sel + 1) % n;
		break;
	case 'k':
	case KEY_UP:
		if (n > 0)
			sel = (sel + n - 1) % n;
		break;
	case KEY_HOME:
		sel = 0;
		break;
	case KEY_END:
		sel = n > 0 ? n - 1 : 0;
		break;
	case KEY_PAGE_UP:
		sel = t.top >= t.visible ? t.top - t.visible : 0;
		break;
	case KEY_PAGE_DOWN:
		sel = n > 0 ? std::min(t.top + 2 * t.visible - 1, n - 1) : 0;
		break;
	}
}

// The known network at the selection, when Known Networks is active and
// not empty.
static const known_network *
selected_known(void)
{
	if (app.section != SECTION_KNOWN || app.known->count == 0)
		return nullptr;
	return &app.known->items[app_table(SECTION_KNOWN).sel];
}

static void
save_config(void)
{
	if (config_save(app.ctrl) != 0)
		fatalx("failed to update config");
}

static void
toggle_autoconnect(void)
{
	if (const known_network *net = selected_known()) {
		bool enable = net->state == NETWORK_DISABLED ||
		    net->state == NETWORK_CURRENT;
		if (network_set_autoconnect(app.ctrl, net->id, enable) != 0)
			fatalx("failed to set autoconnect");
		refresh_known();
	}
	save_config();
}

static void
forget_network(void)
{
	const known_network *net = selected_known();

	if (net == nullptr)
		return;
	if (network_remove(app.ctrl, net->id) != 0) {
		char ssid[SSID_MAX + 1];
		text_printable(net->ssid, strlen(net->ssid), ssid);
		fatalx("failed to remove network: %s", ssid);
	}
	save_config();
	refresh_known();
}

// Priorities stop at the ends of the int range instead of wrapping round
// to the other end.
static void
change_priority(int delta)
{
	const known_network *net = selected_known();
	int priority;

	if (net == nullptr)
		return;
	if (__builtin_add_overflow(net->priority, delta, &priority))
		priority = net->priority;
	if (network_set_priority(app.ctrl, net->id, priority) != 0)
		fatalx("failed to set priority");
	save_config();
	refresh_known();
}

static void
start_scan(void)
{
	notify(&app.notifications, "Starting scan...");
	(void)passive_scan_set(app.ctrl, 1);
	(void)scan_start(app.ctrl);
	(void)passive_scan_set(app.ctrl, 0);
}

int
handle_input(void *)
{
	int key = read_key();

	if (key >= 0 && key <= SCHAR_MAX && isalpha(key))
		key = tolower(key);
	if (key == 'q') {
		restore_screen();
		exit(0);
	}
	if (app.too_small)
		return 0;
	if (app.show_help) {
		if (key == 'h')
			app.show_help = false;
		return 0;
	}

	switch (key) {
	case 'h':
		app.show_help = true;
		break;
	case '\t':
		app.section = app.section == SECTION_KNOWN ? SECTION_SCAN : SECTION_KNOWN;
		break;
	case 'L' - '@':
		clear_notifications(&app.notifications);
		break;
	case '/':
		search_by_ssid();
		break;
	case '[':
	case KEY_LEFT:
		if (app.hscroll > 0)
			app.hscroll--;
		break;
	case ']':
	case KEY_RIGHT: {
		size_t cols = app_cols();
		if (cols <= 80 && app.hscroll + 1 < 80 - cols)
			app.hscroll++;
		break;
	}
	case 'j':
	case KEY_DOWN:
	case 'k':
	case KEY_UP:
	case KEY_HOME:
	case KEY_END:
	case KEY_PAGE_UP:
	case KEY_PAGE_DOWN:
		move_selection(key);
		break;
	case 'd':
		if (supplicant_disconnect(app.ctrl) != 0)
			fatalx("failed to disconnect");
		refresh_status();
		refresh_known();
		break;
	case 'r':
		if (supplicant_reconnect(app.ctrl) != 0)
			fatalx("failed to reconnect");
		refresh_status();
		break;
	case 's':
		start_scan();
		break;
	case 'a':
		toggle_autoconnect();
		break;
	case 'f':
		forget_network();
		break;
	case 'A' - '@':
		change_priority(1);
		break;
	case 'X' - '@':
		change_priority(-1);
		break;
	case 'c':
		if (app.section == SECTION_SCAN && app.scan->count > 0)
			connect_to_network();
		break;
	}
	return 0;
}
