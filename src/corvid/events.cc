// Supplicant events, the refreshes of the supplicant records and the
// notification list.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "events.h"

// Events that change the scan results, then those that change the known
// networks; the first group that matches decides.
static constexpr std::string_view scan_events[] = {
	"CTRL-EVENT-SCAN-RESULTS ",
	"CTRL-EVENT-BSS-ADDED ",
	"CTRL-EVENT-BSS-REMOVED ",
	"CTRL-EVENT-NETWORK-NOT-FOUND ",
};
static constexpr std::string_view known_events[] = {
	"CTRL-EVENT-NETWORK-ADDED ",
	"CTRL-EVENT-NETWORK-REMOVED ",
	"CTRL-EVENT-CONNECTED ",
	"CTRL-EVENT-DISCONNECTED ",
	"Associated with",
};

template <size_t N>
static bool
mentions(std::string_view message, const std::string_view (&names)[N])
{
	return std::any_of(std::begin(names), std::end(names),
	    [&](std::string_view name) { return message.find(name) != message.npos; });
}

int
handle_wpa_event(void *)
{
	char buf[CTRL_EVENT_MAX + 1];
	// Messages kept while a request waited come first, in order.
	ssize_t n = ctrl_event_recv(app.ctrl, buf, sizeof buf - 1);

	// An empty read sets no errno: the message stands alone.
	if (n == 0)
		fatalx("wpa ctrl interface socket closed");
	if (n == -1) {
		// A request drained the socket after the queue reported it.
		if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
			return 0;
		fatal("recv(wpa_fd)");
	}
	buf[n] = '\0';

	refresh_status();
	std::string_view message(buf, static_cast<size_t>(n));
	if (mentions(message, scan_events))
		refresh_scan();
	else if (mentions(message, known_events))
		refresh_known();
	notify(&app.notifications, buf);
	return 0;
}

void
notification_expire(notification_list *list)
{
	notification *n = list->first;

	if (n == nullptr)
		return;
	list->first = n->next;
	if (n->next != nullptr)
		n->next->prev = &list->first;
	else
		list->last = &list->first;
	list->count--;
	free(n->text);
	free(n);
}

void
notify(notification_list *list, const char *text)
{
	auto *n = static_cast<notification *>(malloc(sizeof(notification)));

	if (n == nullptr)
		fatal("malloc");
	if ((n->text = strdup(text)) == nullptr) {
		free(n);
		fatal("strdup");
	}
	// A busy neighbourhood can report more per scan than expiry removes.
	if (list->count >= NOTIFICATIONS_MAX)
		notification_expire(list);
	n->next = nullptr;
	n->prev = list->last;
	*list->last = n;
	list->last = &n->next;
	list->count++;
}

void
notifyf(notification_list *list, const char *fmt, ...)
{
	struct sbuf *sb;
	va_list ap;

	if ((sb = sbuf_new_auto()) == nullptr)
		fatal("sbuf_new_auto()");
	va_start(ap, fmt);
	sbuf_vprintf(sb, fmt, ap);
	va_end(ap);
	if (sbuf_finish(sb) == -1)
		fatal("sbuf failed");
	notify(list, sbuf_data(sb));
	sbuf_delete(sb);
}

void
clear_notifications(notification_list *list)
{
	while (list->first != nullptr)
		notification_expire(list);
}

void
refresh_status(void)
{
	supplicant_status_free(app.status);
	if ((app.status = supplicant_status_fetch(app.ctrl)) == nullptr)
		fatalx("failed to retrieve wpa_supplicant status");
}

// Replaces one list: fetch, sort, filter by the section's search text, and
// keep the selection as a row number within the new count.
template <typename A>
static void
refresh_list(A *&list, A *(*fetch)(wpa_ctrl *), void (*release)(A *),
    void (*sort)(A *), void (*filter)(A *, const char *), const char *search,
    size_t *sel, const char *failure)
{
	release(list);
	if ((list = fetch(app.ctrl)) == nullptr)
		fatalx("%s", failure);
	sort(list);
	if (search[0] != '\0')
		filter(list, search);
	*sel = list->count == 0 ? 0 : std::min(*sel, list->count - 1);
}

void
refresh_known(void)
{
	refresh_list(app.known, known_networks_fetch, known_networks_free,
	    known_networks_sort, known_networks_filter, app.known_search,
	    &app.known_sel, "failed to retrieve known networks");
}

void
refresh_scan(void)
{
	refresh_list(app.scan, scan_results_fetch, scan_results_free,
	    scan_results_sort, scan_results_filter, app.scan_search,
	    &app.scan_sel, "failed to retrieve scan results");
}
