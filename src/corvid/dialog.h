// The connect flow and its input dialogs.
#pragma once

#include "platform.h"

struct dialog_data {
	struct sbuf *input;
	int min_len;
	int max_len;
};

// A new text (the caller wipes and frees it), or nullptr when cancelled,
// rejected as too long or accepted empty.
char *read_dialog_input(const char *prompt, int min_len, int max_len,
    bool masked);
int handle_dialog_input(void *udata);
void connect_to_network(void);
