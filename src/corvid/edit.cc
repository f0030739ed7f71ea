// The one line editor.
#include <cctype>
#include <cstring>

#include "edit.h"
#include "platform.h"
#include "term.h"

// Cuts the text at `len`, overwriting what was beyond.
static void
edit_truncate(edit *e, size_t len)
{
	explicit_bzero(e->text + len, e->len - len);
	e->len = len;
}

edit_result
edit_key(edit *e, int key)
{
	switch (key) {
	case '\r':
		return EDIT_DONE;
	case KEY_ESC:
		return EDIT_CANCEL;
	case '\b':
	case 127:
	case KEY_DELETE:
		if (e->len > 0) {
			// The lead byte and its continuation bytes (10xxxxxx); a
			// text of continuation bytes alone goes whole.
			size_t i = e->len - 1;
			while (i > 0 && (static_cast<unsigned char>(e->text[i]) &
			    0xc0) == 0x80)
				i--;
			edit_truncate(e, i);
		}
		return EDIT_MORE;
	case 'U' - '@':
		edit_truncate(e, 0);
		return EDIT_MORE;
	}
	// Bytes of multibyte characters come one at a time, as typed.
	if ((key < 0 || (key < 128 && !iscntrl(key))) && e->len < e->max) {
		e->text[e->len++] = static_cast<char>(key);
		e->text[e->len] = '\0';
	}
	return EDIT_MORE;
}
