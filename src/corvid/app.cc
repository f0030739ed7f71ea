// Start-up, the command line, the terminal's modes and the ways out.
#include <err.h>
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdarg>
#include <cstdlib>
#include <ctime>

#include "app.h"
#include "dialog.h"
#include "events.h"
#include "loop.h"

// How long the terminal may take to answer a cursor-position query.
static constexpr int CURSOR_REPLY_TIMEOUT_MS = 1000;

void
usage(FILE *stream)
{
	fputs("Usage:\tcorvid [-h | --help]\n"
	    "\tcorvid [--ctrl-interface <path> | -c <path>]\n", stream);
}

void
layout_update(void)
{
	size_t rows = app_rows();

	app.layout_rows = std::min(rows, LAYOUT_ROWS_MAX);
	app.known_visible = app.scan_visible =
	    rows < 8 ? 0 : std::min((rows - 8) / 2, TABLE_ROWS_MAX);
	app.too_small = app_cols() < MIN_COLS || app_rows() < MIN_ROWS;
}

static long
elapsed_ms(const struct timespec *since)
{
	struct timespec now;

	clock_gettime(CLOCK_MONOTONIC, &now);
	return (now.tv_sec - since->tv_sec) * 1000 +
	    (now.tv_nsec - since->tv_nsec) / 1000000;
}

// Asks the terminal where the cursor is after sending it to the far bottom
// right.  A terminal in canonical mode would hold the reply back (it has no
// line end), so canonical mode and echo are off for the query; a terminal
// that does not answer within a second fails it.
static int
query_cursor_size(void)
{
	struct termios saved, query;
	bool switched = false;

	if (tcgetattr(app.tty_fd, &saved) == 0) {
		query = saved;
		query.c_lflag &= ~(ICANON | ECHO);
		query.c_cc[VMIN] = 0;
		query.c_cc[VTIME] = 0;
		switched = tcsetattr(app.tty_fd, TCSANOW, &query) == 0;
	}
	auto restore = [&] {
		if (switched)
			tcsetattr(app.tty_fd, TCSANOW, &saved);
	};

	if (dprintf(app.tty_fd, "\e[999C\e[999B") < 0 ||
	    dprintf(app.tty_fd, "\e[6n") < 0) {
		restore();
		return -1;
	}

	char reply[32] = {};
	size_t n = 0;
	struct timespec start;
	clock_gettime(CLOCK_MONOTONIC, &start);
	while (n < sizeof reply - 1) {
		long left = CURSOR_REPLY_TIMEOUT_MS - elapsed_ms(&start);
		struct pollfd pfd = {app.tty_fd, POLLIN, 0};
		if (left <= 0 || poll(&pfd, 1, static_cast<int>(left)) <= 0)
			break;
		if (read(app.tty_fd, reply + n, 1) != 1)
			break;
		if (reply[n++] == 'R')
			break;
	}
	restore();

	unsigned short rows, cols;
	if (reply[0] != '\e' || reply[1] != '[' ||
	    sscanf(reply + 2, "%hu;%hu", &rows, &cols) != 2)
		return -1;
	app.winsize.ws_row = rows;
	app.winsize.ws_col = cols;
	return 0;
}

int
fetch_winsize(void)
{
	if (ioctl(app.tty_fd, TIOCGWINSZ, &app.winsize) == -1 ||
	    app.winsize.ws_col == 0) {
		if (query_cursor_size() == -1)
			return -1;
	}
	layout_update();
	return 0;
}

void
restore_screen(void)
{
	(void)dprintf(app.tty_fd, "\e[?1049l\e[?25h");
}

// Leaves the screen and gives the terminal its attributes back before the
// message is printed, so that the message and the shell prompt after it
// come out as usual lines.
static void
leave_terminal(void)
{
	int saved_errno = errno;

	restore_screen();
	if (app.tty_fd != -1 && app.termios_saved)
		(void)tcsetattr(app.tty_fd, TCSAFLUSH, &app.saved_termios);
	errno = saved_errno;
}

void
fatal(const char *fmt, ...)
{
	va_list ap;

	leave_terminal();
	va_start(ap, fmt);
	verr(1, fmt, ap);
}

void
fatalx(const char *fmt, ...)
{
	va_list ap;

	leave_terminal();
	va_start(ap, fmt);
	verrx(1, fmt, ap);
}

void
cleanup(void)
{
	bool tty_failed = false;

	if (app.tty_fd != -1 && app.termios_saved &&
	    tcsetattr(app.tty_fd, TCSAFLUSH, &app.saved_termios) == -1) {
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
	// exit() may not be called again from an exit handler.
	if (tty_failed) {
		fflush(nullptr);
		_exit(1);
	}
}

static void
raw_mode(struct termios *t)
{
	t->c_iflag &= ~(BRKINT | INPCK | ISTRIP | ICRNL | IXON);
	t->c_oflag &= ~OPOST;
	t->c_cflag |= CS8;
	t->c_lflag &= ~(ECHO | ISIG | ICANON | IEXTEN);
	t->c_cc[VMIN] = 0;
	t->c_cc[VTIME] = 0;
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

	app.tty_fd = app.monitor_fd = app.kq_fd = -1;
	app.pending_network = -1;
	if (atexit(cleanup) != 0)
		err(1, "atexit");
	notification_list_init(&app.notifications);

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
		err(1, "kqueue()");
	switch (register_sources()) {
	case 0:
		break;
	case 1:
		err(1, "malloc");
	default:
		err(1, "kevent register");
	}

	struct termios raw = app.saved_termios;
	raw_mode(&raw);
	if (tcsetattr(app.tty_fd, TCSAFLUSH, &raw) == -1)
		err(1, "tcsetattr()");
	if (dprintf(app.tty_fd, "\e[?1049h\e[?25l") < 0)
		fatal("dprintf");

	event_loop();
	return 0;
}
