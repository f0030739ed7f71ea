// Undoing the backslash escapes with which the supplicant prints an SSID.
#include "wifi.h"

static int
hex_value(unsigned char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

// The byte a simple escape character stands for, or -1.  Besides the C
// escapes the supplicant writes ESC as "\e": an SSID holding it must decode
// to the same bytes, or connecting would store another SSID.
static int
simple_escape(unsigned char c)
{
	switch (c) {
	case '"': return '"';
	case '\'': return '\'';
	case '?': return '?';
	case '\\': return '\\';
	case 'a': return 0x07;
	case 'b': return 0x08;
	case 'e': return 0x1b;  // how the supplicant writes ESC
	case 'f': return 0x0c;
	case 'n': return 0x0a;
	case 'r': return 0x0d;
	case 't': return 0x09;
	case 'v': return 0x0b;
	default: return -1;
	}
}

// Decodes in place; the result never grows, so the write position stays at
// or behind the read position.  "\x" takes at most two hex digits, as the
// supplicant writes every byte it escapes that way: "\xc3\xa4" is two bytes
// and "\xc3a" the byte 0xc3 followed by "a".  The caller's text has room
// for the NUL after `len` bytes.
char *
ssid_unescape(char *text, size_t len)
{
	if (len == 0)
		return text;

	auto *s = reinterpret_cast<unsigned char *>(text);
	size_t r = 0, w = 0;

	while (r < len) {
		unsigned char c = s[r];
		if (c != '\\' || r + 1 == len) {
			s[w++] = c;
			r++;
			continue;
		}
		unsigned char next = s[r + 1];
		if (int v = simple_escape(next); v != -1) {
			s[w++] = static_cast<unsigned char>(v);
			r += 2;
			continue;
		}
		if (next >= '0' && next <= '7') {
			size_t i = r + 1;
			int v = 0;
			while (i < len && i < r + 4 && s[i] >= '0' && s[i] <= '7')
				v = v * 8 + (s[i++] - '0');
			if (v <= 0xff) {
				s[w++] = static_cast<unsigned char>(v);
				r = i;
				continue;
			}
		} else if (next == 'x' && r + 2 < len) {
			size_t i = r + 2;
			int v = 0;
			while (i < len && i < r + 4 && hex_value(s[i]) != -1)
				v = v * 16 + hex_value(s[i++]);
			if (i > r + 2) {
				s[w++] = static_cast<unsigned char>(v);
				r = i;
				continue;
			}
		}
		// Not an escape this decoder knows: the backslash stands for
		// itself and the next byte is read as any other.
		s[w++] = c;
		r++;
	}
	s[w] = '\0';
	return text;
}
