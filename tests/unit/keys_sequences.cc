// The decoder of terminal input: every sequence whole, whatever read
// boundary falls inside it.
#include <clocale>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keyseq.h"

namespace {

keyseq
decode(const std::string &s, bool last)
{
	return keyseq_decode(reinterpret_cast<const unsigned char *>(s.data()),
	    s.size(), last);
}

struct utf8_locale {
	utf8_locale() { setlocale(LC_ALL, "C.UTF-8"); }
	~utf8_locale() { setlocale(LC_ALL, "C"); }
};

// What keys send, each with the key it is: the keys of the table with and
// without modifiers, and sequences that are one ignored key.
const struct {
	const char *bytes;
	int key;
} sequences[] = {
	{"\e[A", KEY_UP}, {"\e[B", KEY_DOWN}, {"\e[C", KEY_RIGHT},
	{"\e[D", KEY_LEFT}, {"\e[H", KEY_HOME}, {"\e[F", KEY_END},
	{"\eOA", KEY_UP}, {"\eOB", KEY_DOWN}, {"\eOC", KEY_RIGHT},
	{"\eOD", KEY_LEFT}, {"\eOH", KEY_HOME}, {"\eOF", KEY_END},
	{"\e[1~", KEY_HOME}, {"\e[7~", KEY_HOME}, {"\e[4~", KEY_END},
	{"\e[8~", KEY_END}, {"\e[3~", KEY_DELETE}, {"\e[5~", KEY_PAGE_UP},
	{"\e[6~", KEY_PAGE_DOWN},
	// Modifiers are dropped: Ctrl-End, Ctrl-Up, Shift-Left, Ctrl-Right,
	// Ctrl-Left, Alt-Down, Ctrl-Delete, Shift-Page Up.
	{"\e[1;5F", KEY_END}, {"\e[1;5A", KEY_UP}, {"\e[1;2D", KEY_LEFT},
	{"\e[1;5C", KEY_RIGHT}, {"\e[1;5D", KEY_LEFT}, {"\e[1;3B", KEY_DOWN},
	{"\e[3;5~", KEY_DELETE}, {"\e[5;2~", KEY_PAGE_UP},
	{"\e[;5H", KEY_HOME}, {"\eO1;5F", KEY_END},
	// The marks around pasted text.
	{"\e[200~", KEY_PASTE_BEGIN}, {"\e[201~", KEY_PASTE_END},
	// One ignored key each: Insert, F1, F5, Ctrl-F5, Shift-Tab, keypad 5,
	// E and G finals, unknown numbers, a repeat count, a third
	// parameter, a modified paste mark, focus reports, a mouse report,
	// device and cursor reports, an intermediate byte, sub-parameters.
	{"\e[2~", KEY_NONE}, {"\eOP", KEY_NONE}, {"\e[15~", KEY_NONE},
	{"\e[15;5~", KEY_NONE}, {"\e[Z", KEY_NONE}, {"\e[E", KEY_NONE},
	{"\e[G", KEY_NONE}, {"\e[0~", KEY_NONE}, {"\e[9~", KEY_NONE},
	{"\e[~", KEY_NONE}, {"\e[2A", KEY_NONE}, {"\e[1;5;7A", KEY_NONE},
	{"\e[200;5~", KEY_NONE}, {"\e[I", KEY_NONE}, {"\e[O", KEY_NONE},
	{"\e[<0;12;5M", KEY_NONE}, {"\e[?1;2c", KEY_NONE},
	{"\e[40;100R", KEY_NONE}, {"\e[2 q", KEY_NONE},
	{"\e[1:5A", KEY_NONE}, {"\e[12345~", KEY_NONE}, {"\eO~", KEY_NONE},
	// Alt with a key: with a letter (Alt-f would otherwise forget a
	// network), with Backspace and Enter, with a key that sends a
	// sequence, with a character of two and of four bytes.
	{"\ef", KEY_NONE}, {"\eq", KEY_NONE}, {"\e\x7f", KEY_NONE},
	{"\e\r", KEY_NONE}, {"\e\e[A", KEY_NONE}, {"\e\e[1;5F", KEY_NONE},
	{"\e\eOH", KEY_NONE}, {"\e\xc3\xa9", KEY_NONE},
	{"\e\xf0\x9f\x98\x80", KEY_NONE},
};

TEST(keys_sequences, every_sequence_whole_at_every_split)
{
	utf8_locale utf8;

	for (const auto &s : sequences) {
		std::string bytes = s.bytes;
		// Whole, with the next key behind it.
		keyseq k = decode(bytes + "x", false);
		EXPECT_EQ(k.key, s.key) << bytes.substr(1);
		EXPECT_EQ(k.used, bytes.size()) << bytes.substr(1);
		EXPECT_EQ(decode(bytes, true).used, bytes.size())
		    << bytes.substr(1);
		// Cut after any byte, it waits for the rest, so reads that
		// split it are joined; nothing of it is taken as a key.
		for (size_t cut = 1; cut < bytes.size(); cut++)
			EXPECT_EQ(decode(bytes.substr(0, cut), false).used, 0u)
			    << bytes.substr(1) << " cut at " << cut;
	}
}

// Bytes, the key they decode to first and the bytes it takes.
struct decoded {
	const char *bytes;
	int key;
	size_t used;
};

static void
expect_decoded(const std::vector<decoded> &cases, bool last)
{
	for (const decoded &c : cases) {
		keyseq k = decode(c.bytes, last);
		EXPECT_EQ(k.key, c.key) << c.bytes + 1;
		EXPECT_EQ(k.used, c.used) << c.bytes + 1;
	}
}

TEST(keys_sequences, when_nothing_more_comes)
{
	utf8_locale utf8;
	expect_decoded({
		// A lone ESC is the Escape key; so is each of two.
		{"\e", KEY_ESC, 1}, {"\e\e", KEY_ESC, 1},
		// Any other cut sequence is dropped whole.
		{"\e[", KEY_NONE, 2}, {"\e[1;5", KEY_NONE, 5},
		{"\eO", KEY_NONE, 2}, {"\e\e[1", KEY_NONE, 4},
		{"\e\xc3", KEY_NONE, 2},
	}, true);
}

TEST(keys_sequences, a_byte_that_cannot_go_on_ends_the_sequence)
{
	utf8_locale utf8;
	expect_decoded({
		// The sequence is dropped and the byte is the next key:
		// Enter, a new sequence, a multibyte character, a parameter
		// after an intermediate.
		{"\e[1\r", KEY_NONE, 3}, {"\e[1\e[A", KEY_NONE, 3},
		{"\e[\xc3\xa9", KEY_NONE, 2}, {"\e[ 1q", KEY_NONE, 3},
		// ESC twice, then no sequence: Escape, then the rest.
		{"\e\ex", KEY_ESC, 1},
		// An Alt key whose character is not valid text takes one byte.
		{"\e\xff", KEY_NONE, 2},
		// A paste mark is not taken with Alt: ESC, then the mark.
		{"\e\e[201~", KEY_ESC, 1},
	}, false);
}

TEST(keys_sequences, an_endless_sequence_is_dropped_at_its_bound)
{
	std::string endless = "\e[" + std::string(100, '1');
	keyseq k = decode(endless, false);
	EXPECT_EQ(k.key, KEY_NONE);
	EXPECT_EQ(k.used, KEYSEQ_MAX);
}

TEST(keys_sequences, plain_bytes_are_keys_of_their_own)
{
	for (int b = 0; b < 256; b++) {
		if (b == 0x1b)
			continue;
		std::string s(1, static_cast<char>(b));
		s += "\e[A";
		keyseq k = decode(s, false);
		EXPECT_EQ(k.key, b < 128 ? b : b - 256) << "byte " << b;
		EXPECT_EQ(k.used, 1u) << "byte " << b;
	}
}

// Keys of `bytes` arriving in reads cut at `cuts`, the last read followed
// by nothing.
void
read_keys_into(std::vector<int> &keys, const std::string &bytes,
    std::vector<size_t> cuts)
{
	key_reader r{};
	size_t at = 0;

	cuts.push_back(bytes.size());
	for (size_t i = 0; i < cuts.size(); i++) {
		// A read takes what fits; the rest waits for the next.
		while (at < cuts[i]) {
			size_t n = std::min(cuts[i] - at, sizeof r.buf - r.len);
			ASSERT_GT(n, 0u) << "no room left";
			memcpy(r.buf + r.len, bytes.data() + at, n);
			r.len += n;
			at += n;
			bool last = i + 1 == cuts.size() && at == cuts[i];
			for (int k; (k = key_reader_next(&r, last)) != KEY_PENDING;)
				keys.push_back(k);
		}
	}
	EXPECT_EQ(r.len, 0u);
}

std::vector<int>
read_keys(const std::string &bytes, std::vector<size_t> cuts)
{
	std::vector<int> keys;
	read_keys_into(keys, bytes, std::move(cuts));
	return keys;
}

TEST(keys_sequences_reader, reads_cut_anywhere_give_the_same_keys)
{
	utf8_locale utf8;
	std::string all;
	for (const auto &s : sequences)
		all += std::string(s.bytes) + "k";
	all += "\e[200~pa\xc3\xa9\e\e[201~\e";
	std::vector<int> whole = read_keys(all, {});
	for (size_t cut = 1; cut < all.size(); cut++)
		ASSERT_EQ(read_keys(all, {cut}), whole) << "cut at " << cut;
	// Every byte a read of its own.
	std::vector<size_t> each;
	for (size_t i = 1; i < all.size(); i++)
		each.push_back(i);
	EXPECT_EQ(read_keys(all, each), whole);
	EXPECT_EQ(whole.back(), KEY_ESC);
}

TEST(keys_sequences_reader, pasted_text_is_text_and_no_key)
{
	utf8_locale utf8;
	constexpr int P = KEY_PASTED;
	// A paste of two lines with an arrow, a lone ESC and an Alt key in
	// it, then a key typed after it.
	std::vector<int> want = {KEY_NONE, P + 'p', P + 'w', P + '\r', P + 'f',
	    P + 0xc3, P + 0xa9, KEY_NONE, KEY_NONE, P + '\n', KEY_NONE,
	    KEY_NONE, 'q'};
	EXPECT_EQ(read_keys("\e[200~pw\rf\xc3\xa9\e[A\eq\n\e\e[201~q", {}),
	    want);
	// Pasted bytes are no key of the main screen's.
	for (int b = 0; b < 256; b++) {
		EXPECT_TRUE(key_is_pasted(P + b));
		EXPECT_FALSE(key_is_pasted(b - 128));
	}
}

} // namespace
