// The event loop and its handler list.
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "loop.h"
#include "render.h"
#include "term.h"

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
			fatal("%s", EVQ_WAIT_CALL);
		if (r == 0)
			*ev = evq_event{static_cast<uintptr_t>(app.monitor_fd), EVQ_READ, false, 0};
		return;
	}
	if (evq_wait(app.kq_fd, ev) == -1)
		fatal("%s", EVQ_WAIT_CALL);
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
