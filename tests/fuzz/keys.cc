// Fuzzes read_key on arbitrary byte streams: the bytes wait in a pipe that
// stands for the terminal, kept open so that end of file is never seen,
// and keys are read for as long as bytes are left.
#include <sys/ioctl.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "app.h"
#include "keys.h"

static int tty[2] = {-1, -1};

static size_t
pending(void)
{
	int n = 0;

	if (ioctl(tty[0], FIONREAD, &n) == -1)
		abort();
	return static_cast<size_t>(n);
}

extern "C" int
LLVMFuzzerInitialize(int *, char ***)
{
	if (pipe2(tty, O_CLOEXEC | O_NONBLOCK) == -1)
		abort();
	app.tty_fd = tty[0];
	return 0;
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// A pipe holds 64 KiB; longer inputs add nothing.
	if (size > 60000)
		return 0;
	if (size > 0 && write(tty[1], data, size) != static_cast<ssize_t>(size))
		abort();

	size_t at = 0;
	while (pending() > 0) {
		size_t before = pending();
		int key = read_key();
		size_t used = before - pending();

		// One key takes one byte, or an escape sequence of at most four.
		if (used < 1 || used > 4 || at + used > size)
			abort();
		if ((key < -128 || key > 127) && (key < KEY_DELETE ||
		    key > KEY_PAGE_DOWN))
			abort();
		// Any byte but ESC is a key of its own.
		if (data[at] != 0x1b && (used != 1 ||
		    key != static_cast<signed char>(data[at])))
			abort();
		if (data[at] == 0x1b && key >= KEY_DELETE && used < 3)
			abort();
		at += used;
	}
	if (at != size)
		abort();
	return 0;
}
