// Fuzzes read_key on arbitrary byte streams: the bytes wait in a pipe that
// stands for the terminal, kept open so that end of file is never seen,
// and keys are read for as long as bytes are left.
#include <cstdlib>

#include "app.h"
#include "notify.h"
#include "state.h"
#include "term.h"
#include "keys.h"
#include "tty_pipe.h"

extern "C" int
LLVMFuzzerInitialize(int *, char ***)
{
	tty_pipe_open();
	return 0;
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// A pipe holds 64 KiB; longer inputs add nothing.
	if (size > 60000)
		return 0;
	tty_pipe_write(data, size);

	size_t at = 0;
	while (tty_pipe_pending() > 0) {
		size_t before = tty_pipe_pending();
		int key = read_key();
		size_t used = before - tty_pipe_pending();

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
