// Narrowing a table to the SSIDs that contain a typed text.
#include <cassert>
#include <cstring>

#include "loop.h"
#include "refresh.h"
#include "search.h"
#include "term.h"

void
search_init(search_data *data, char *text)
{
	data->search_str = text;
	data->ed = { text, strlen(text), SSID_MAX, false };
}

void
search_by_ssid(void)
{
	search_data data;
	section_id section = app.section;

	// A new search goes on editing the section's current text.
	search_init(&data, app_table(section).search);
	app.searching = true;
	event_loop_nested(handle_search_input, &data);
	app.searching = false;
	refresh_table(section);
}

// Enter and Escape end the search and keep the text; so does a text that
// becomes empty, except by Ctrl-U: that keeps the search open until the
// next key.
int
handle_search_input(void *udata)
{
	int key = read_key();

	assert(udata != NULL);
	auto *data = static_cast<search_data *>(udata);
	assert(data->search_str != NULL);
	size_t before = data->ed.len;

	if (edit_key(&data->ed, key) != EDIT_MORE)
		return 1;
	// Pasted text and input that is no key never end the search.
	if (key == KEY_NONE || key_is_pasted(key))
		return 0;
	if (key == 'U' - '@')
		return before == 0 ? 1 : 0;
	return data->ed.len == 0 ? 1 : 0;
}
