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

// Where the last character of the text begins: at its lead byte, before
// the continuation bytes (10xxxxxx) after it.  A text of continuation
// bytes alone goes whole.
static size_t
last_char_start(const edit *e)
{
	size_t i = e->len - 1;
	while (i > 0 && (static_cast<unsigned char>(e->text[i]) & 0xc0) == 0x80)
		i--;
	return i;
}

// The bytes of the UTF-8 character that `lead` starts; 1 for a byte that
// starts none.
static size_t
char_len(unsigned char lead)
{
	if (lead >= 0xc0 && lead < 0xe0)
		return 2;
	if (lead >= 0xe0 && lead < 0xf0)
		return 3;
	if (lead >= 0xf0 && lead < 0xf8)
		return 4;
	return 1;
}

// A character goes in whole or not at all: one that would not fit is
// refused with the continuation bytes that follow it, so the text never
// ends in half a character.
static void
edit_add(edit *e, char c)
{
	auto b = static_cast<unsigned char>(c);
	if ((b & 0xc0) == 0x80) {
		if (e->refusing)
			return;
	} else {
		e->refusing = e->len + char_len(b) > e->max;
		if (e->refusing)
			return;
	}
	if (e->len < e->max) {
		e->text[e->len++] = c;
		e->text[e->len] = '\0';
	}
}

edit_result
edit_key(edit *e, int key)
{
	// Pasted text is text: its line breaks and other controls are
	// dropped, and it never presses Enter or Escape.
	if (key_is_pasted(key)) {
		auto c = static_cast<unsigned char>(key - KEY_PASTED);
		if (c >= 0x20 && c != 0x7f)
			edit_add(e, static_cast<char>(c));
		return EDIT_MORE;
	}
	switch (key) {
	case '\r':
		return EDIT_DONE;
	case KEY_ESC:
		return EDIT_CANCEL;
	case '\b':
	case 127:
	case KEY_DELETE:
		if (e->len > 0)
			edit_truncate(e, last_char_start(e));
		return EDIT_MORE;
	case 'U' - '@':
		edit_truncate(e, 0);
		return EDIT_MORE;
	}
	// Bytes of multibyte characters come one at a time, as typed.
	if (key < 0 || (key < 128 && !iscntrl(key)))
		edit_add(e, static_cast<char>(key));
	return EDIT_MORE;
}
