// Narrowing a table to the SSIDs that contain a typed text.
#include <cassert>
#include <cctype>
#include <cstring>

#include "app.h"
#include "events.h"
#include "keys.h"
#include "loop.h"
#include "search.h"

void
search_by_ssid(void)
{
	search_data data;

	// A new search goes on editing the section's current text.
	data.search_str = app.section == SECTION_SCAN ? app.scan_search : app.known_search;
	app.searching = true;
	event_loop_nested(handle_search_input, &data);
	app.searching = false;
	if (app.section == SECTION_SCAN)
		refresh_scan();
	else
		refresh_known();
}

int
handle_search_input(void *udata)
{
	int key = read_key();

	assert(udata != NULL);
	auto *data = static_cast<search_data *>(udata);
	assert(data->search_str != NULL);
	char *text = data->search_str;
	size_t n = strlen(text);

	if ((key == '\b' || key == 127 || key == KEY_DELETE) && n > 0) {
		// Remove the last character: its lead byte and its continuation
		// bytes (10xxxxxx); a text of continuation bytes alone goes whole.
		size_t i = n - 1;
		while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xc0) == 0x80)
			i--;
		memset(text + i, 0, n - i);
		n = i;
	} else if (key == 'U' - '@') {
		// The search stays open on the emptied text until the next key.
		memset(text, 0, n);
	} else if ((key < 0 || (key < 128 && !iscntrl(key))) && n != SSID_MAX) {
		text[n++] = static_cast<char>(key);
	} else if (key == '\r' || key == KEY_ESC) {
		return 1;
	}
	return n == 0 ? 1 : 0;
}
