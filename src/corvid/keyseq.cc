// Decoding the bytes a terminal sends into keys.
#include <cstring>
#include <cwchar>
#include <string_view>

#include "keyseq.h"

namespace {

constexpr unsigned char ESC = 0x1b;

constexpr bool
is_param(unsigned char c)
{
	return c >= 0x30 && c <= 0x3f;
}

constexpr bool
is_intermediate(unsigned char c)
{
	return c >= 0x20 && c <= 0x2f;
}

constexpr bool
is_final(unsigned char c)
{
	return c >= 0x40 && c <= 0x7e;
}

// Keys named by the final byte, with no parameter or a first parameter of
// 1 (a modifier in the second): "\e[A", "\eOA", "\e[1;5A".
constexpr struct {
	unsigned char final;
	int key;
} letter_keys[] = {
	{'A', KEY_UP}, {'B', KEY_DOWN}, {'C', KEY_RIGHT}, {'D', KEY_LEFT},
	{'H', KEY_HOME}, {'F', KEY_END},
};

// Keys named by the first parameter of a CSI sequence ending in '~'.
constexpr struct {
	int number;
	int key;
} tilde_keys[] = {
	{1, KEY_HOME}, {7, KEY_HOME}, {4, KEY_END}, {8, KEY_END},
	{3, KEY_DELETE}, {5, KEY_PAGE_UP}, {6, KEY_PAGE_DOWN},
	{200, KEY_PASTE_BEGIN}, {201, KEY_PASTE_END},
};

// The parameters of a key sequence: at most two numbers of at most four
// digits, separated by ';'.  `first` is -1 when the first is left empty.
struct key_params {
	bool ok;
	int count;
	int first;
};

key_params
parse_params(std::string_view p)
{
	key_params r{true, 0, -1};

	if (p.empty())
		return r;
	for (;;) {
		size_t end = p.find(';');
		std::string_view num = p.substr(0, end);
		if (num.size() > 4 || ++r.count > 2)
			return {false, 0, -1};
		int v = num.empty() ? -1 : 0;
		for (char c : num) {
			if (c < '0' || c > '9')
				return {false, 0, -1};
			v = v * 10 + (c - '0');
		}
		if (r.count == 1)
			r.first = v;
		if (end == std::string_view::npos)
			return r;
		p.remove_prefix(end + 1);
	}
}

// The key of a complete sequence without intermediate bytes: ESC, then
// `intro` ('[' or 'O'), then the parameters, then `final`.
int
sequence_key(unsigned char intro, std::string_view params,
    unsigned char final)
{
	key_params p = parse_params(params);
	if (!p.ok)
		return KEY_NONE;
	if (final == '~') {
		if (intro != '[')
			return KEY_NONE;
		for (const auto &k : tilde_keys) {
			if (k.number != p.first)
				continue;
			// The paste marks carry no modifier.
			if (k.key >= KEY_PASTE_BEGIN && p.count != 1)
				return KEY_NONE;
			return k.key;
		}
		return KEY_NONE;
	}
	if (p.first != -1 && p.first != 1)
		return KEY_NONE;
	for (const auto &k : letter_keys)
		if (k.final == final)
			return k.key;
	return KEY_NONE;
}

// A CSI or SS3 sequence at `buf`, which starts with ESC and its
// introducer.
keyseq
decode_sequence(const unsigned char *buf, size_t len, bool last)
{
	size_t i = 2;
	while (i < len && i < KEYSEQ_MAX && is_param(buf[i]))
		i++;
	size_t params_end = i;
	while (i < len && i < KEYSEQ_MAX && is_intermediate(buf[i]))
		i++;
	if (i == KEYSEQ_MAX)
		return {KEY_NONE, KEYSEQ_MAX};
	if (i == len)
		return {KEY_NONE, last ? len : 0};
	if (!is_final(buf[i]))
		return {KEY_NONE, i};
	if (i != params_end)
		return {KEY_NONE, i + 1};
	std::string_view params(reinterpret_cast<const char *>(buf) + 2,
	    params_end - 2);
	return {sequence_key(buf[1], params, buf[i]), i + 1};
}

} // namespace

keyseq
keyseq_decode(const unsigned char *buf, size_t len, bool last)
{
	if (buf[0] != ESC)
		return {static_cast<signed char>(buf[0]), 1};
	if (len == 1)
		return last ? keyseq{KEY_ESC, 1} : keyseq{KEY_NONE, 0};

	unsigned char c = buf[1];
	if (c == '[' || c == 'O')
		return decode_sequence(buf, len, last);
	if (c == ESC) {
		// Alt with a key that sends a sequence ("\e\e[A"), or Escape
		// pressed twice.
		if (len == 2)
			return last ? keyseq{KEY_ESC, 1} : keyseq{KEY_NONE, 0};
		if (buf[2] != '[' && buf[2] != 'O')
			return {KEY_ESC, 1};
		keyseq k = decode_sequence(buf + 1, len - 1, last);
		// A paste mark is never taken with Alt: pasted text that ends
		// in ESC must not hide the mark behind it.
		if (k.key == KEY_PASTE_BEGIN || k.key == KEY_PASTE_END)
			return {KEY_ESC, 1};
		return {KEY_NONE, k.used == 0 ? 0 : k.used + 1};
	}
	// Alt with a character, taken whole: its bytes are not keys.
	if (c < 0x80)
		return {KEY_NONE, 2};
	mbstate_t st{};
	size_t k = mbrlen(reinterpret_cast<const char *>(buf) + 1, len - 1, &st);
	if (k == static_cast<size_t>(-2))
		return {KEY_NONE, last ? len : 0};
	if (k == static_cast<size_t>(-1) || k == 0)
		return {KEY_NONE, 2};
	return {KEY_NONE, 1 + k};
}

int
key_reader_next(key_reader *r, bool last)
{
	if (r->len == 0)
		return KEY_PENDING;
	keyseq k = keyseq_decode(r->buf, r->len, last);
	if (k.used == 0)
		return KEY_PENDING;
	r->len -= k.used;
	memmove(r->buf, r->buf + k.used, r->len);

	switch (k.key) {
	case KEY_PASTE_BEGIN:
		r->pasting = true;
		return KEY_NONE;
	case KEY_PASTE_END:
		r->pasting = false;
		return KEY_NONE;
	}
	if (!r->pasting)
		return k.key;
	if (k.key >= -128 && k.key <= 127 && k.key != KEY_ESC)
		return KEY_PASTED + (k.key & 0xff);
	return KEY_NONE;
}
