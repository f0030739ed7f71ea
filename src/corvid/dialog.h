// The connect flow and its input dialogs.
#pragma once

#include <cstddef>

#include "edit.h"

// The most bytes a dialog holds while typing.  It is far above what Enter
// accepts (256), so it changes nothing for the user; it keeps the typed
// secret in one fixed place that is wiped when the dialog ends, instead of
// in buffers that growing would copy and free unwiped.
inline constexpr size_t DIALOG_INPUT_MAX = 1024;

struct dialog_data {
	char input[DIALOG_INPUT_MAX + 1];  // the typed text, NUL-terminated
	edit ed;                            // edits `input`
	int min_len;                        // fewest bytes Enter accepts
	int max_len;                        // most bytes Enter accepts
};

// Empties the dialog's text and sets the lengths Enter accepts.
void dialog_init(dialog_data *d, int min_len, int max_len);
// A new text (the caller wipes it with secret_free), or nullptr when the
// dialog was cancelled, the text rejected as too long or accepted empty.
char *read_dialog_input(const char *prompt, int min_len, int max_len,
    bool masked);
int handle_dialog_input(void *udata);
void connect_to_network(void);
// Removes a network the connect flow added and did not get to save, which
// the next save, whoever asks for it, would write (on the way out).
void connect_abandon(void);
// Overwrites a text typed into a dialog, then frees it.
void secret_free(char *text);
