// Narrowing a table to the SSIDs that contain a typed text.
#pragma once

#include "edit.h"

struct search_data {
	char *search_str;          // the table's search text
	edit ed;                   // edits it
};

// Starts editing `text` (a table's search text) where it ends.
void search_init(search_data *data, char *text);
void search_by_ssid(void);
int handle_search_input(void *udata);
