// The top of the program: the command line, start-up, the event sources,
// and the clean-up on the way out.
#include <err.h>
#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <csignal>
#include <clocale>
#include <cstdlib>

#include "app.h"
#include "dialog.h"
#include "events.h"
#include "keys.h"
#include "loop.h"
#include "notify.h"
#include "term.h"

void
usage(FILE *stream)
{
	fputs("Usage:\tcorvid [-h | --help]\n"
	    "\tcorvid [--ctrl-interface <path> | -c <path>]\n", stream);
}

void
cleanup(void)
{
	bool tty_failed = false;

	if (restore_termios() == -1) {
		warn("tcsetattr()");
		tty_failed = true;
	}
	handlers_free();
	clear_notifications(&app.notifications);
	if (app.tty_fd != -1)
		close(app.tty_fd);
	if (app.kq_fd != -1)
		evq_close(app.kq_fd);
	app.tty_fd = app.kq_fd = -1;
	if (app.rtnl != nullptr) {
		rtnl_release(app.rtnl);
		free(app.rtnl);
		app.rtnl = nullptr;
	}
	supplicant_status_free(app.status);
	known_networks_free(app.known);
	scan_results_free(app.scan);
	app.status = nullptr;
	app.known = nullptr;
	app.scan = nullptr;
	if (app.ctrl != nullptr) {
		connect_abandon();
		(void)ctrl_detach(app.ctrl);
		ctrl_close(app.ctrl);
		app.ctrl = nullptr;
	}
	warnings_release();
	// exit() may not be called again from an exit handler.
	if (tty_failed) {
		fflush(nullptr);
		_exit(1);
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

int
corvid_main(int argc, char **argv)
{
	static const struct option longopts[] = {
		{"ctrl-interface", required_argument, nullptr, 'c'},
		{"help", no_argument, nullptr, 'h'},
		{nullptr, 0, nullptr, 0},
	};
	const char *path;
	int ch;

	if (setlocale(LC_ALL, "") == nullptr)
		err(1, "setlocale");
	path = ctrl_default_path();

	while ((ch = getopt_long(argc, argv, "+c:h", longopts, nullptr)) != -1) {
		switch (ch) {
		case 'c':
			path = optarg;
			break;
		case 'h':
			usage(stdout);
			exit(0);
		default:
			usage(stderr);
			exit(1);
		}
	}
	// The help needs no terminal; everything after it does.
	if (!isatty(STDIN_FILENO))
		errx(1, "not a TTY");
	if (argc - optind != 0) {
		warnx("wrong number of arguments");
		usage(stderr);
		exit(1);
	}
	if (path == nullptr)
		errx(1, "no wpa ctrl interface on default path, provide --ctrl-interface");

	app_reset();
	if (atexit(cleanup) != 0)
		err(1, "atexit");

	if ((app.ctrl = ctrl_open(path)) == nullptr)
		err(1, "failed to open wpa_supplicant ctrl_interface, %s", path);
	if ((app.status = supplicant_status_fetch(app.ctrl)) == nullptr)
		errx(1, "failed to retrieve wpa_supplicant status");
	if ((app.known = known_networks_fetch(app.ctrl)) == nullptr)
		errx(1, "failed to retrieve known networks");
	known_networks_sort(app.known);
	if ((app.scan = scan_results_fetch(app.ctrl)) == nullptr)
		errx(1, "failed to retrieve scan results");
	scan_results_sort(app.scan);
	if (ctrl_attach(app.ctrl) != 0)
		err(1, "failed to register to wpa_ctrl event monitor");
	if ((app.monitor_fd = ctrl_fd(app.ctrl)) == -1)
		err(1, "invalid wpa_ctrl socket");

	if ((app.tty_fd = open("/dev/tty", O_RDWR | O_CLOEXEC)) == -1)
		err(1, "open(/dev/tty)");
	if (tcgetattr(app.tty_fd, &app.saved_termios) == -1)
		err(1, "tcgetattr()");
	app.termios_saved = true;
	if (fetch_winsize() == -1)
		err(1, "failed to fetch terminal winsize");

	if ((app.rtnl = static_cast<rtnl_state *>(calloc(1, sizeof *app.rtnl))) == nullptr)
		err(1, "malloc");
	app.rtnl->fd = -1;
	if (rtnl_open(app.rtnl) == -1)
		err(1, "snl_init(NETLINK_ROUTE)");
	if (rtnl_bind(app.rtnl) == -1)
		err(1, "bind(corvid.rtnl)");

	if ((app.kq_fd = evq_open()) == -1)
		err(1, "%s", EVQ_OPEN_CALL);
	switch (register_sources()) {
	case 0:
		break;
	case 1:
		err(1, "malloc");
	default:
		err(1, "%s", EVQ_REGISTER_CALL);
	}

	struct termios raw = app.saved_termios;
	raw_mode(&raw);
	if (tcsetattr(app.tty_fd, TCSAFLUSH, &raw) == -1)
		err(1, "tcsetattr()");
	if (dprintf(app.tty_fd, "\e[?1049h\e[?25l") < 0)
		fatal("dprintf");
	warnings_hold();

	event_loop();
	return 0;
}
