// Reading keys from the terminal and the main key handler.
#pragma once

enum key_code {
	KEY_ESC = 27,
	KEY_DELETE = 1000,
	KEY_UP = 1001,
	KEY_DOWN = 1002,
	KEY_RIGHT = 1003,
	KEY_LEFT = 1004,
	KEY_HOME = 1005,
	KEY_END = 1006,
	KEY_PAGE_UP = 1007,
	KEY_PAGE_DOWN = 1008,
};

int read_key(void);
int handle_input(void *udata);
