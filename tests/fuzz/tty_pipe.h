// The terminal of the key-reading fuzz targets: a pipe whose read end the
// program takes as its terminal, kept open so that end of file is never
// seen.  Each input's bytes are written to it and read back as keys.
#pragma once

#include <sys/ioctl.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "app.h"
#include "notify.h"
#include "state.h"
#include "term.h"

inline int tty_pipe[2] = {-1, -1};

// Opens the pipe and hands its read end to the program.
inline void
tty_pipe_open(void)
{
	if (pipe2(tty_pipe, O_CLOEXEC | O_NONBLOCK) == -1)
		abort();
	app.tty_fd = tty_pipe[0];
}

// Bytes written and not yet read.
inline size_t
tty_pipe_pending(void)
{
	int n = 0;

	if (ioctl(tty_pipe[0], FIONREAD, &n) == -1)
		abort();
	return static_cast<size_t>(n);
}

// Queues bytes for the program to read; a pipe holds 64 KiB, so inputs
// are kept below that.
inline void
tty_pipe_write(const uint8_t *data, size_t size)
{
	if (size > 0 && write(tty_pipe[1], data, size) !=
	    static_cast<ssize_t>(size))
		abort();
}
