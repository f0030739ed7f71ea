// The event loop, the handler list and the handlers of the window size,
// the timers, the terminating signals and the routing socket.
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "events.h"
#include "keys.h"
#include "loop.h"
#include "render.h"

event_handler *
handler_add(uintptr_t ident, int filter, int (*callback)(void *), void *udata)
{
	auto *eh = static_cast<event_handler *>(calloc(1, sizeof(event_handler)));

	if (eh == nullptr)
		return nullptr;
	eh->ident = ident;
	eh->filter = filter;
	eh->callback = callback;
	eh->udata = udata;
	eh->next = app.handlers;
	app.handlers = eh;
	return eh;
}

// The filter is compared as well as the identifier: signal numbers, timer
// numbers and descriptors share one number space (SIGHUP is 1, as is the
// scan timer).
event_handler *
handler_find(uintptr_t ident, int filter)
{
	for (event_handler *eh = app.handlers; eh != nullptr; eh = eh->next)
		if (eh->ident == ident && eh->filter == filter)
			return eh;
	return nullptr;
}

void
handlers_free(void)
{
	while (app.handlers != nullptr) {
		event_handler *eh = app.handlers;
		app.handlers = eh->next;
		free(eh);
	}
}

int
register_sources(void)
{
	struct source {
		uintptr_t ident;
		int filter;
		unsigned seconds;
		int (*callback)(void *);
		void *udata;
	};
	const source sources[] = {
		{static_cast<uintptr_t>(app.tty_fd), EVQ_READ, 0, handle_input, nullptr},
		{static_cast<uintptr_t>(app.monitor_fd), EVQ_READ, 0, handle_wpa_event, nullptr},
		{SIGWINCH, EVQ_SIGNAL, 0, handle_winch, nullptr},
		{TIMER_NOTIFICATIONS, EVQ_TIMER, NOTIFICATION_PERIOD, handle_notification_timer, nullptr},
		{TIMER_SCAN, EVQ_TIMER, SCAN_PERIOD, handle_scan_timer, nullptr},
		{static_cast<uintptr_t>(app.rtnl->fd), EVQ_READ, 0, handle_rtnl, nullptr},
		// The signals that end the program through the normal exit path.
		{SIGTERM, EVQ_SIGNAL, 0, handle_signal, const_cast<char *>("SIGTERM")},
		{SIGHUP, EVQ_SIGNAL, 0, handle_signal, const_cast<char *>("SIGHUP")},
		{SIGINT, EVQ_SIGNAL, 0, handle_signal, const_cast<char *>("SIGINT")},
	};
	constexpr size_t n = sizeof sources / sizeof sources[0];
	evq_change changes[n];

	for (size_t i = 0; i < n; i++) {
		const source &s = sources[i];
		if (handler_add(s.ident, s.filter, s.callback, s.udata) == nullptr)
			return 1;
		changes[i] = {s.ident, s.filter, s.seconds};
	}
	return evq_register(app.kq_fd, changes, n) == -1 ? -1 : 0;
}

void
redraw(void)
{
	struct sbuf *sb;

	if ((sb = sbuf_new_auto()) == nullptr)
		fatal("sbuf_new_auto()");
	render_frame(sb);
	if (sbuf_finish(sb) == -1)
		fatal("sbuf failed");
	ssize_t len = sbuf_len(sb);
	if (write(app.tty_fd, sbuf_data(sb), static_cast<size_t>(len)) != len)
		fatal("write");
	sbuf_delete(sb);
}

// The next event.  Event messages the supplicant sent while a request
// waited for its reply are kept by the connection, where the queue cannot
// see them: while there are such, whatever the queue has ready comes first
// and a kept message is handled when it has nothing.
static void
next_event(evq_event *ev)
{
	if (app.ctrl != nullptr && ctrl_event_pending(app.ctrl)) {
		int r = evq_poll(app.kq_fd, ev);
		if (r == -1)
			fatal("kevent wait");
		if (r == 0)
			*ev = evq_event{static_cast<uintptr_t>(app.monitor_fd), EVQ_READ, false, 0};
		return;
	}
	if (evq_wait(app.kq_fd, ev) == -1)
		fatal("kevent wait");
}

void
event_loop(void)
{
	for (;;) {
		evq_event ev;

		redraw();
		next_event(&ev);
		if (ev.error)
			fatalx("event error: %s", strerror(static_cast<int>(ev.data)));
		event_handler *eh = handler_find(ev.ident, ev.filter);
		if (eh != nullptr && eh->callback(eh->udata) == 1)
			return;
	}
}

void
event_loop_nested(int (*callback)(void *), void *udata)
{
	event_handler *eh = handler_find(static_cast<uintptr_t>(app.tty_fd), EVQ_READ);

	assert(eh != NULL);
	int (*saved_callback)(void *) = eh->callback;
	void *saved_udata = eh->udata;
	eh->callback = callback;
	eh->udata = udata;
	event_loop();
	eh->callback = saved_callback;
	eh->udata = saved_udata;
}

int
handle_winch(void *)
{
	if (fetch_winsize() == -1)
		fatal("failed to fetch terminal winsize");
	size_t cols = app_cols();
	size_t limit = cols <= 80 ? 80 - cols : 0;
	app.hscroll = std::min(app.hscroll, limit);
	return 0;
}

int
handle_notification_timer(void *)
{
	notification_expire(&app.notifications);
	return 0;
}

// The periodic scan.  Its failure is no reason to stop, unless the daemon
// is gone: a failed request is followed by a status fetch, which ends the
// program when the daemon no longer answers, instead of leaving a screen
// that silently stopped changing.
int
handle_scan_timer(void *)
{
	if (scan_start(app.ctrl) != 0)
		refresh_status();
	return 0;
}

int
handle_rtnl(void *)
{
	int type = rtnl_next(app.rtnl);

	if (type == RTNL_NEWADDR || type == RTNL_DELADDR)
		refresh_status();
	return 0;
}

int
handle_signal(void *udata)
{
	fatalx("terminated by %s", static_cast<const char *>(udata));
}
