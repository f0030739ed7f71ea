// The one line editor, behind the dialogs and the search: it takes keys
// into a text of at most `max` bytes.
#pragma once

#include <cstddef>

struct edit {
	char *text;       // NUL-terminated; room for max + 1 bytes
	size_t len;
	size_t max;
	bool refusing;    // the character being typed did not fit
};

enum edit_result {
	EDIT_MORE,        // the key was taken (or ignored): go on
	EDIT_DONE,        // Enter
	EDIT_CANCEL,      // Escape
};

// Printable characters are added while they fit whole; Backspace (and
// Delete) removes the whole last character, Ctrl-U all of the text.  Pasted
// text is added without its line breaks and controls.  Keys that edit
// nothing are ignored.  What is removed is overwritten: the text may be a
// secret.
edit_result edit_key(edit *e, int key);
