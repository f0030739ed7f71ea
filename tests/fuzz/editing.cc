// Fuzzes the editing of the input dialog and of the search on random key
// streams.  The first byte chooses the editor (and the dialog's length
// limits), the search starts from a text taken from the input, and the
// rest are the keys, waiting in a pipe that stands for the terminal.
//
// The dialog never holds more than its buffer, its text is NUL-terminated
// with zeros after it (nothing of a deleted secret is left behind), and
// Enter accepts only a text within the limits.  The search text never
// exceeds 32 bytes and the bytes after it stay zero.
#include <cstdlib>
#include <cstring>

#include "app.h"
#include "notify.h"
#include "state.h"
#include "term.h"
#include "dialog.h"
#include "events.h"
#include "refresh.h"
#include "search.h"
#include "tty_pipe.h"

static bool
zeros(const char *p, size_t n)
{
	for (size_t i = 0; i < n; i++)
		if (p[i] != '\0')
			return false;
	return true;
}

static void
edit_dialog(int min_len, int max_len)
{
	dialog_data d;

	dialog_init(&d, min_len, max_len);
	while (tty_pipe_pending() > 0) {
		int rc = handle_dialog_input(&d);
		size_t len = d.ed.len;
		if (len > DIALOG_INPUT_MAX || !zeros(d.input + len,
		    sizeof d.input - len) || strlen(d.input) != len)
			abort();
		if (rc == 0) {
			if (app.dialog_text != d.input)
				abort();
			continue;
		}
		if (rc != 1)
			abort();
		// Ended: cancelled or rejected (emptied), or accepted.
		if (len != 0 && (len < static_cast<size_t>(min_len) ||
		    len > static_cast<size_t>(max_len)))
			abort();
		// The next dialog starts empty.
		dialog_init(&d, min_len, max_len);
	}
}

static void
edit_search(const uint8_t *text, size_t n)
{
	char *s = app.tables[SECTION_SCAN].search;
	search_data data;

	memset(s, 0, SSID_MAX + 1);
	for (size_t i = 0; i < n; i++)
		s[i] = text[i] != '\0' ? static_cast<char>(text[i]) : '.';
	search_init(&data, s);
	while (tty_pipe_pending() > 0) {
		int rc = handle_search_input(&data);
		size_t n = strnlen(s, SSID_MAX + 1);
		if (n > SSID_MAX || !zeros(s + n, SSID_MAX + 1 - n))
			abort();
		// (Which key emptied the text cannot be told from here: the
		// reader takes the bytes ahead of the keys it hands out.)
		if (rc != 0 && rc != 1)
			abort();
	}
}

extern "C" int
LLVMFuzzerInitialize(int *, char ***)
{
	app_reset();
	tty_pipe_open();
	return 0;
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 2 || size > 60000)
		return 0;
	uint8_t mode = data[0];
	size_t n = 0;
	if (mode & 1) {
		n = data[1] % (SSID_MAX + 1);
		if (n > size - 2)
			n = size - 2;
	}
	const uint8_t *keys = data + 2 + n;
	size_t len = size - 2 - n;
	tty_pipe_write(keys, len);

	if (mode & 1) {
		edit_search(data + 2, n);
	} else {
		static const int limits[][2] = {{0, 256}, {8, 63}, {1, 4}};
		const int *l = limits[(mode >> 1) % 3];
		edit_dialog(l[0], l[1]);
	}
	clear_notifications(&app.notifications);
	app.dialog_text = nullptr;
	return 0;
}
