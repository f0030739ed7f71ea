// The refreshes of the supplicant records.
#include <algorithm>

#include "notify.h"
#include "refresh.h"
#include "term.h"

// The signal that ended a wait for a reply ends the program as its handler
// in the event loop does.
static void
serve_pending_signal(void)
{
	if (const char *name = ending_signal_name(evq_signal_take(app.kq_fd)))
		fatalx("terminated by %s", name);
}

// A reconnection fetches every record; one of those fetches failing for
// the same reason again ends the program.
static bool reconnecting;

static bool
reconnect(void)
{
	if (reconnecting || ctrl_reconnect(app.ctrl) == -1)
		return false;
	// The descriptor is the same number, but the socket that the queue
	// watched is closed.
	evq_change watch = {static_cast<uintptr_t>(app.monitor_fd), EVQ_READ, 0};
	if (app.kq_fd != -1 && evq_register(app.kq_fd, &watch, 1) == -1)
		fatal("%s", EVQ_REGISTER_CALL);
	// The daemon read its configuration anew: what the connect flow had
	// added without saving went with the one before.
	app.reconnections++;
	app.pending_network = -1;
	reconnecting = true;
	refresh_status();
	refresh_known();
	refresh_scan();
	reconnecting = false;
	notify(&app.notifications, "Reconnected to wpa_supplicant");
	return true;
}

bool
request_recover(void)
{
	switch (ctrl_last_failure(app.ctrl)) {
	case CTRL_FAIL_WOKEN:
		serve_pending_signal();
		return false;
	case CTRL_FAIL_GONE:
		return reconnect();
	case CTRL_FAIL_TIMEOUT:
		// A daemon that went away while the request waited shows as
		// gone to the next datagram sent.
		if (ctrl_probe(app.ctrl) == 0 ||
		    ctrl_last_failure(app.ctrl) != CTRL_FAIL_GONE)
			return false;
		return reconnect();
	default:
		return false;
	}
}

void
refresh_status(void)
{
	supplicant_status_free(app.status);
	if ((app.status = supplicant_status_fetch(app.ctrl)) == nullptr &&
	    !request_recover())
		fatalx("failed to retrieve wpa_supplicant status");
}

// Replaces one list: fetch, sort, filter by the section's search text, and
// keep the selection as a row number within the new count.
template <typename A>
static void
refresh_list(A *&list, A *(*fetch)(wpa_ctrl *), void (*release)(A *),
    void (*sort)(A *), void (*filter)(A *, const char *), table *t,
    const char *failure)
{
	release(list);
	if ((list = fetch(app.ctrl)) == nullptr) {
		// A reconnection has fetched this list (and the others) anew.
		if (request_recover())
			return;
		fatalx("%s", failure);
	}
	sort(list);
	if (t->search[0] != '\0')
		filter(list, t->search);
	t->sel = list->count == 0 ? 0 : std::min(t->sel, list->count - 1);
}

void
refresh_known(void)
{
	refresh_list(app.known, known_networks_fetch, known_networks_free,
	    known_networks_sort, known_networks_filter, &app_table(SECTION_KNOWN),
	    "failed to retrieve known networks");
}

void
refresh_scan(void)
{
	refresh_list(app.scan, scan_results_fetch, scan_results_free,
	    scan_results_sort, scan_results_filter, &app_table(SECTION_SCAN),
	    "failed to retrieve scan results");
}

void
refresh_table(section_id s)
{
	if (s == SECTION_SCAN)
		refresh_scan();
	else
		refresh_known();
}
