// What the event sources other than the keyboard bring: the supplicant's
// messages, the window size, the two timers, the routing socket, the
// terminating signals and stopping and continuing.
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string_view>

#include "events.h"
#include "notify.h"
#include "refresh.h"
#include "term.h"

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
	refused_keys_event(&app.refused, buf, static_cast<size_t>(n));

	refresh_status();
	std::string_view message(buf, static_cast<size_t>(n));
	if (mentions(message, scan_events))
		refresh_scan();
	else if (mentions(message, known_events))
		refresh_known();
	notify(&app.notifications, buf);
	return 0;
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

// Takes the terminal again: raw mode, the screen, the size it may have
// changed to meanwhile.  The loop redraws after the handler.
static void
screen_resume(void)
{
	struct termios raw = app.saved_termios;
	raw_mode(&raw);
	if (tcsetattr(app.tty_fd, TCSAFLUSH, &raw) == -1)
		fatal("tcsetattr()");
	if (enter_screen() == -1)
		fatal("dprintf");
	handle_winch(nullptr);
}

int
handle_stop(void *)
{
	restore_screen();
	if (restore_termios() == -1)
		fatal("tcsetattr()");
	// SIGTSTP itself goes to the queue: the stop is asked for by the one
	// signal that cannot be caught.
	kill(getpid(), SIGSTOP);
	screen_resume();
	return 0;
}

int
handle_cont(void *)
{
	screen_resume();
	return 0;
}
