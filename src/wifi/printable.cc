// Making untrusted text safe to draw on a terminal, and measuring it there.
#include <cwchar>
#include <cwctype>

#include "wifi.h"

// Characters a terminal draws as nothing or obeys as reordering
// instructions: the bidirectional embeddings, overrides, isolates and
// marks, the zero-width spaces and joiners, the line and paragraph
// separators and the byte-order mark.  Drawn, they would reorder a row or
// let one text pose as another that looks the same.
static constexpr struct {
	wchar_t first, last;
} invisible[] = {
	{0x061c, 0x061c},  // Arabic letter mark
	{0x200b, 0x200f},  // zero-width space, non-joiner, joiner; LRM, RLM
	{0x2028, 0x2029},  // line and paragraph separators
	{0x202a, 0x202e},  // embeddings, pop, overrides
	{0x2060, 0x2064},  // word joiner, invisible operators
	{0x2066, 0x2069},  // isolates
	{0xfeff, 0xfeff},  // byte-order mark, zero-width no-break space
};

// Whether `wc` may be drawn as it is.
static bool
drawable(wchar_t wc)
{
	if (!iswprint(static_cast<wint_t>(wc)) || (wc >= 0x80 && wc <= 0x9f))
		return false;
	for (const auto &r : invisible)
		if (wc >= r.first && wc <= r.last)
			return false;
	return true;
}

// The next character of `len` bytes at `s` (len > 0): its length in bytes
// (1 for a byte that is not valid multibyte text, `*wc` then -1).
static size_t
next_char(const char *s, size_t len, wchar_t *wc)
{
	mbstate_t st{};
	size_t n = mbrtowc(wc, s, len, &st);
	if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) ||
	    n == 0) {
		*wc = -1;
		return 1;
	}
	return n;
}

size_t
text_printable(const char *in, size_t len, char *out)
{
	size_t o = 0;

	for (size_t i = 0; i < len;) {
		auto c = static_cast<unsigned char>(in[i]);
		if (c < 0x80) {
			out[o++] = c >= 0x20 && c != 0x7f ? static_cast<char>(c) : '?';
			i++;
			continue;
		}
		wchar_t wc;
		size_t n = next_char(in + i, len - i, &wc);
		// Not valid multibyte text: one "?" per byte.
		if (wc == -1 || !drawable(wc)) {
			out[o++] = '?';
		} else {
			memcpy(out + o, in + i, n);
			o += n;
		}
		i += n;
	}
	out[o] = '\0';
	return o;
}

// Columns of one character of `n` bytes at `s`.
static size_t
char_columns(const char *s, size_t n, wchar_t wc)
{
	if (n == 1 && static_cast<unsigned char>(*s) < 0x80)
		return 1;
	int w = wc == -1 ? 1 : wcwidth(wc);
	return w < 0 ? 1 : static_cast<size_t>(w);
}

size_t
text_columns(const char *s, size_t len)
{
	size_t cols = 0;

	for (size_t i = 0; i < len;) {
		wchar_t wc;
		size_t n = next_char(s + i, len - i, &wc);
		cols += char_columns(s + i, n, wc);
		i += n;
	}
	return cols;
}

size_t
text_fit(const char *s, size_t len, size_t cols, size_t *width)
{
	size_t used = 0, i = 0;

	while (i < len) {
		wchar_t wc;
		size_t n = next_char(s + i, len - i, &wc);
		size_t w = char_columns(s + i, n, wc);
		if (used + w > cols)
			break;
		used += w;
		i += n;
	}
	if (width != nullptr)
		*width = used;
	return i;
}
