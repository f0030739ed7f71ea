// Fuzzes read_key on arbitrary byte streams: the bytes wait in a pipe that
// stands for the terminal, kept open so that end of file is never seen,
// and keys are read for as long as bytes are left.  The same bytes are
// also handed to the key reader in reads cut at a point the input picks:
// the keys must be the same, so that no read boundary changes what a
// sequence means.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "keyseq.h"
#include "term.h"
#include "tty_pipe.h"

extern "C" int
LLVMFuzzerInitialize(int *, char ***)
{
	tty_pipe_open();
	key_wait_ms = 0;
	return 0;
}

static bool
valid_key(int key)
{
	return (key >= -128 && key <= 127) ||
	    (key >= KEY_DELETE && key <= KEY_PAGE_DOWN) || key == KEY_NONE ||
	    key_is_pasted(key);
}

// The keys of `data` fed to a reader in reads of at most `chunk` bytes
// (cut first at `cut`), nothing more coming after the last.
static std::vector<int>
reader_keys(const uint8_t *data, size_t size, size_t cut, size_t chunk)
{
	key_reader r{};
	std::vector<int> keys;
	size_t at = 0;

	while (at < size) {
		size_t room = sizeof r.buf - r.len;
		size_t n = at < cut ? cut - at : chunk;
		n = n < room ? n : room;
		n = n < size - at ? n : size - at;
		if (n == 0)
			abort();   // only the start of one sequence may wait
		memcpy(r.buf + r.len, data + at, n);
		r.len += n;
		at += n;
		for (int k; (k = key_reader_next(&r, at == size)) != KEY_PENDING;)
			keys.push_back(k);
	}
	if (r.len != 0)
		abort();
	return keys;
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// A pipe holds 64 KiB; longer inputs add nothing.
	if (size < 2 || size > 60000)
		return 0;
	size_t cut = data[0] % size, chunk = 1 + data[1] % 64;
	data += 2;
	size -= 2;

	std::vector<int> whole = reader_keys(data, size, 0, size);
	if (reader_keys(data, size, cut, chunk) != whole)
		abort();
	for (int k : whole)
		if (!valid_key(k))
			abort();

	// The terminal's reader gives the same keys when all the bytes are
	// there at once.
	app.keys = key_reader{};
	tty_pipe_write(data, size);
	std::vector<int> read;
	while (tty_pipe_pending() > 0 || key_pending())
		read.push_back(read_key());
	if (read != whole)
		abort();
	return 0;
}
