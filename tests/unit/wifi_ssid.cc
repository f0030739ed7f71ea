// Decoding the supplicant's SSID escapes.
#include <string>

#include <gtest/gtest.h>

#include "wifi.h"

static std::string
unescape(std::string s)
{
	s.push_back('\0');      // the decoder writes its NUL at most here
	size_t len = s.size() - 1;
	ssid_unescape(s.data(), len);
	return std::string(s.c_str());
}

TEST(wifi_ssid, decodes)
{
	static const struct {
		const char *in, *out;
	} cases[] = {
		{ "plain", "plain" },
		{ "", "" },
		// Every simple escape.
		{ "\\\"\\'\\?\\\\", "\"'?\\" },
		{ "\\a\\b\\f\\n\\r\\t\\v", "\a\b\f\n\r\t\v" },
		// Hex: at most two digits, as the supplicant writes them.
		{ "M\\xc3\\xa4dchen", "M\xc3\xa4" "dchen" },
		{ "\\xc3a", "\xc3" "a" },
		{ "\\xC3", "\xc3" },
		{ "\\x4", "\x04" },
		{ "\\x41BC", "ABC" },
		{ "\\xg", "\\xg" },     // no digit: backslash and x stay
		{ "a\\x", "a\\x" },     // x at the very end
		// Octal: up to three digits, at most 255.
		{ "\\101", "A" },
		{ "\\1012", "A2" },
		{ "\\7a", "\x07" "a" },
		{ "\\377", "\xff" },
		{ "\\777", "\\777" },
		{ "\\400", "\\400" },
		// "\e" is how the supplicant prints ESC.
		{ "\\e[1m", "\x1b[1m" },
		// Unknown escapes and a trailing backslash stand for themselves.
		{ "\\z", "\\z" },
		{ "end\\", "end\\" },
		{ "\\\\x41", "\\x41" },
		// A decoded NUL ends the text.
		{ "\\x00ABC", "" },
		{ "a\\0b", "a" },
	};
	for (const auto &c : cases)
		EXPECT_EQ(unescape(c.in), c.out) << "input: " << c.in;
}

TEST(wifi_ssid, length_bounds_the_walk)
{
	// Only the first `len` bytes are decoded; an escape cut by the
	// length is not completed from the bytes behind it.
	char text[] = "ab\\x41";
	ssid_unescape(text, 4);
	EXPECT_STREQ(text, "ab\\x");

	char untouched[] = "\\n";
	EXPECT_EQ(ssid_unescape(untouched, 0), untouched);
	EXPECT_STREQ(untouched, "\\n");
}
