// The terminal's size, modes and keys, and the ways out of the program.
#include <err.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "term.h"

// How long the terminal may take to answer a cursor-position query.
static constexpr int CURSOR_REPLY_TIMEOUT_MS = 1000;

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
// What the client warned of while the screen was up comes out here too,
// before the message: it is often the cause the message summarises.
static void
leave_terminal(void)
{
	int saved_errno = errno;

	restore_screen();
	(void)restore_termios();
	warnings_release();
	errno = saved_errno;
}

int
restore_termios(void)
{
	if (app.tty_fd == -1 || !app.termios_saved)
		return 0;
	return tcsetattr(app.tty_fd, TCSAFLUSH, &app.saved_termios);
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
raw_mode(struct termios *t)
{
	t->c_iflag &= ~(BRKINT | INPCK | ISTRIP | ICRNL | IXON);
	t->c_oflag &= ~OPOST;
	t->c_cflag |= CS8;
	t->c_lflag &= ~(ECHO | ISIG | ICANON | IEXTEN);
	t->c_cc[VMIN] = 0;
	t->c_cc[VTIME] = 0;
}

// One read of one byte: 1, 0 when nothing is pending, -1 on error.
static ssize_t
read_byte(unsigned char *c)
{
	return read(app.tty_fd, c, 1);
}

int
read_key(void)
{
	unsigned char c;
	bool was_readable = false;

	// Reads return at once in raw mode.  Nothing to read while the terminal
	// reports itself readable is end of file: the terminal hung up.
	for (;;) {
		ssize_t n = read_byte(&c);
		if (n == 1)
			break;
		if (n == -1 && errno != EAGAIN && errno != EINTR)
			fatal("read");
		if (n == 0 && was_readable)
			fatalx("read: end of file on the terminal");
		struct pollfd pfd = {app.tty_fd, POLLIN, 0};
		if (poll(&pfd, 1, -1) == -1 && errno != EINTR)
			fatal("read");
		was_readable = pfd.revents != 0;
	}
	if (c != '\e')
		return static_cast<signed char>(c);

	unsigned char seq[3];
	if (read_byte(&seq[0]) != 1 || read_byte(&seq[1]) != 1)
		return KEY_ESC;
	if (seq[0] == 'O') {
		switch (seq[1]) {
		case 'H':
			return KEY_HOME;
		case 'F':
			return KEY_END;
		}
		return KEY_ESC;
	}
	if (seq[0] != '[')
		return KEY_ESC;
	if (seq[1] >= '0' && seq[1] <= '9') {
		if (read_byte(&seq[2]) != 1 || seq[2] != '~')
			return KEY_ESC;
		switch (seq[1]) {
		case '1':
		case '7':
			return KEY_HOME;
		case '3':
			return KEY_DELETE;
		case '4':
		case '8':
			return KEY_END;
		case '5':
			return KEY_PAGE_UP;
		case '6':
			return KEY_PAGE_DOWN;
		}
		return KEY_ESC;
	}
	switch (seq[1]) {
	case 'A':
		return KEY_UP;
	case 'B':
		return KEY_DOWN;
	case 'C':
		return KEY_RIGHT;
	case 'D':
		return KEY_LEFT;
	case 'H':
		return KEY_HOME;
	case 'F':
		return KEY_END;
	}
	return KEY_ESC;
}

// The kept warnings: a ring of the newest, oldest first.
static struct {
	char *text[WARNINGS_KEPT];
	size_t first, count;
	bool holding;
} warnings;

static void
warning_keep(const char *text)
{
	char *copy = strdup(text);

	if (copy == nullptr)
		return;
	if (warnings.count == WARNINGS_KEPT) {
		free(warnings.text[warnings.first]);
		warnings.first = (warnings.first + 1) % WARNINGS_KEPT;
		warnings.count--;
	}
	warnings.text[(warnings.first + warnings.count++) % WARNINGS_KEPT] = copy;
}

void
warnings_hold(void)
{
	warnings.holding = true;
	wifi_warnings_to(warning_keep);
}

void
warnings_release(void)
{
	if (!warnings.holding)
		return;
	warnings.holding = false;
	wifi_warnings_to(nullptr);
	for (; warnings.count > 0; warnings.count--) {
		char *&text = warnings.text[warnings.first];
		warnx("%s", text);
		free(text);
		text = nullptr;
		warnings.first = (warnings.first + 1) % WARNINGS_KEPT;
	}
	warnings.first = 0;
}
