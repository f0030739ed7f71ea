// Turning the bytes a terminal sends into keys: the decoder behind
// read_key, a pure function of the bytes so far.
#pragma once

#include <cstddef>

// Key codes.  A byte that starts no escape sequence is its own key, as a
// signed 8-bit value (-128..127); the named keys lie above that.
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
	// An escape sequence that means nothing here (a function key, a
	// key with Alt, a report the terminal sends unasked): one key that
	// every handler ignores.
	KEY_NONE = 1100,
	// The terminal's marks around pasted text (bracketed paste).
	KEY_PASTE_BEGIN = 1101,
	KEY_PASTE_END = 1102,
	// A byte of pasted text: KEY_PASTED + the byte (0..255).  It is text
	// for a field and no key to anything else.
	KEY_PASTED = 1200,
	// Not a key yet: the bytes held end inside a sequence, or there are
	// none.
	KEY_PENDING = -1000,
};

inline constexpr bool
key_is_pasted(int key)
{
	return key >= KEY_PASTED && key <= KEY_PASTED + 255;
}

// The longest escape sequence taken whole; a longer one is dropped as
// KEY_NONE after this many bytes.
inline constexpr size_t KEYSEQ_MAX = 32;

struct keyseq {
	int key;       // the key decoded
	size_t used;   // bytes it took; 0 when more bytes are needed
};

// Decodes the key at the start of the `len` bytes at `buf` (len > 0).
//
// A sequence is ESC '[' (CSI) or ESC 'O' (SS3), then any parameter bytes
// (0x30-0x3f), then any intermediate bytes (0x20-0x2f), then its final byte
// (0x40-0x7e); it is taken whole, known or not.  A byte that cannot go on
// a sequence ends it there (the sequence is KEY_NONE, the byte the next
// key).  Arrows, Home, End, Page Up/Down and Delete with modifiers (Shift,
// Alt, Ctrl: "\e[1;5A") are the keys without them.  ESC followed by any
// other character is that character typed with Alt: KEY_NONE, taken whole.
//
// When the bytes end inside a sequence, `used` is 0: the caller reads
// more and decodes again from the start.  With `last` (nothing more is
// coming) the cut sequence is taken as it is: a lone ESC is KEY_ESC, any
// other start of a sequence KEY_NONE.
keyseq keyseq_decode(const unsigned char *buf, size_t len, bool last);

// The bytes read from the terminal and not yet taken as keys, and whether
// they are inside pasted text.  Bytes are read into `buf` after `len`;
// there is always room, as only the start of one sequence waits there.
inline constexpr size_t KEY_READER_SIZE = 256;

struct key_reader {
	unsigned char buf[KEY_READER_SIZE];
	size_t len;
	bool pasting;
};

// Takes the next key from the bytes held: KEY_PENDING when there are none
// or they end inside a sequence that may go on (unless `last`).  The paste
// marks are taken as KEY_NONE; between them a byte is KEY_PASTED + the
// byte, and any other key (ESC, an arrow) is KEY_NONE.
int key_reader_next(key_reader *r, bool last);
