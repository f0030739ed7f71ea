// Printable copies of untrusted text and their width on the terminal.
#include <clocale>
#include <string>

#include <gtest/gtest.h>

#include "wifi.h"

namespace {

struct utf8_locale {
	utf8_locale() { EXPECT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr); }
	~utf8_locale() { setlocale(LC_ALL, "C"); }
};

std::string
printable(const std::string &s)
{
	std::string out(s.size() + 1, 'X');
	out.resize(text_printable(s.data(), s.size(), out.data()));
	return out;
}

TEST(wifi_printable, invisible_and_control_characters_are_shown)
{
	utf8_locale utf8;
	const struct {
		const char *in, *out;
	} cases[] = {
		// Kept: ASCII, accented, CJK, emoji, a combining accent.
		{"Home-5G", "Home-5G"}, {"Caf\xc3\xa9", "Caf\xc3\xa9"},
		{"\xe5\xae\xb6", "\xe5\xae\xb6"},
		{"\xf0\x9f\x93\xb6", "\xf0\x9f\x93\xb6"},
		{"e\xcc\x81", "e\xcc\x81"},
		// C0, DEL, C1 and bytes that are not text: one "?" each.
		{"a\eb\x7f" "c\xc2\x9b", "a?b?c?"}, {"\xff\xe6x", "??x"},
		// Bidirectional controls: the embeddings and overrides
		// U+202A-U+202E, the isolates U+2066-U+2069, the marks.
		{"\xe2\x80\xaa" "a\xe2\x80\xae" "b", "?a?b"},
		{"\xe2\x81\xa6" "c\xe2\x81\xa9", "?c?"},
		{"\xe2\x80\x8e\xe2\x80\x8f\xd8\x9c", "???"},
		// Zero-width: U+200B-U+200D, the word joiner, the byte-order
		// mark; the line and paragraph separators.
		{"Ho\xe2\x80\x8bme", "Ho?me"}, {"\xe2\x80\x8c\xe2\x80\x8d", "??"},
		{"\xe2\x81\xa0\xef\xbb\xbf", "??"},
		{"a\xe2\x80\xa8" "b\xe2\x80\xa9", "a?b?"},
		// Just outside the ranges: U+2010 (hyphen), U+2030 (per mille).
		{"\xe2\x80\x90\xe2\x80\xb0", "\xe2\x80\x90\xe2\x80\xb0"},
	};
	for (const auto &c : cases)
		EXPECT_EQ(printable(c.in), c.out) << c.in;
}

TEST(wifi_printable, without_utf8_every_high_byte_is_shown)
{
	EXPECT_EQ(printable("Caf\xc3\xa9\xe2\x80\xae"), "Caf?????");
}

TEST(wifi_printable, columns_and_fit)
{
	utf8_locale utf8;
	const struct {
		const char *text;
		size_t cols;       // columns of the whole text
		size_t limit;      // a width to fit into
		size_t fit_bytes;  // bytes that fit
		size_t fit_cols;   // and their columns
	} cases[] = {
		{"", 0, 5, 0, 0},
		{"abcdef", 6, 4, 4, 4},
		// A double-width character is never cut: the one that would
		// reach past the limit is left out.
		{"\xe5\xae\xb6\xe5\xae\xb6\xe5\xae\xb6", 6, 5, 6, 4},
		{"a\xe5\xae\xb6", 3, 2, 1, 1},
		// An emoji is two columns; a combining accent none.
		{"\xf0\x9f\x93\xb6!", 3, 3, 5, 3},
		{"e\xcc\x81" "e\xcc\x81", 2, 1, 3, 1},
		// Bytes that are not text and controls count one column each.
		{"\xff\xc3x\x01", 4, 2, 2, 2},
	};
	for (const auto &c : cases) {
		std::string t = c.text;
		EXPECT_EQ(text_columns(t.data(), t.size()), c.cols) << t;
		size_t w = 99;
		EXPECT_EQ(text_fit(t.data(), t.size(), c.limit, &w), c.fit_bytes)
		    << t;
		EXPECT_EQ(w, c.fit_cols) << t;
	}
}

} // namespace
