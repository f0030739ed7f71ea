// Narrowing a table to the SSIDs that contain a typed text.
#pragma once

struct search_data {
	char *search_str;
};

void search_by_ssid(void);
int handle_search_input(void *udata);
