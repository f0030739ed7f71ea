// Editing the search text key by key.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app.h"
#include "notify.h"
#include "state.h"
#include "term.h"
#include "keys.h"
#include "search.h"

namespace {

// Feeds keys to the search handler one at a time, as the loop would, and
// records what each returned.
struct search_run {
	int fds[2];
	char text[SSID_MAX + 1] = {};
	std::vector<int> results;

	search_run(const char *start = "")
	{
		EXPECT_EQ(pipe2(fds, O_NONBLOCK), 0);
		app_reset();
		app.tty_fd = fds[0];
		strncpy(text, start, SSID_MAX);
	}
	~search_run()
	{
		close(fds[0]);
		close(fds[1]);
	}
	void keys(const std::vector<std::string> &seq)
	{
		search_data data;
		search_init(&data, text);
		for (const std::string &k : seq) {
			ASSERT_EQ(write(fds[1], k.data(), k.size()), static_cast<ssize_t>(k.size()));
			results.push_back(handle_search_input(&data));
		}
	}
	// The invariant: every byte after the text is zero.
	bool tail_zero() const
	{
		for (size_t i = strlen(text); i < sizeof text; i++)
			if (text[i] != '\0')
				return false;
		return true;
	}
};

TEST(search_edit, TypingKeepsLettersAsTypedAndEndsOnEnterOrEscape)
{
	for (const char *end : {"\r", "\e"}) {
		search_run r;
		r.keys({"H", "o", "M", "e", end});
		EXPECT_STREQ(r.text, "HoMe");
		EXPECT_EQ(r.results, (std::vector<int>{0, 0, 0, 0, 1}));
	}
}

TEST(search_edit, KeysThatNeitherEditNorEndAreTextOrIgnored)
{
	search_run r;
	// 'q' and 'j' are text; Tab and the arrows are ignored while the text
	// is not empty.
	r.keys({"q", "j", "\t", "\e[A", "\e[6~"});
	EXPECT_STREQ(r.text, "qj");
	EXPECT_EQ(r.results, (std::vector<int>{0, 0, 0, 0, 0}));

	search_run empty;
	empty.keys({"\t"});
	EXPECT_EQ(empty.results, (std::vector<int>{1})) << "Tab ends an empty search";
}

TEST(search_edit, BackspaceRemovesWholeCharacters)
{
	search_run r("ab\xc3\xa4");   // "abä": ä is two bytes
	r.keys({"\x7f"});
	EXPECT_STREQ(r.text, "ab");
	EXPECT_TRUE(r.tail_zero());
	r.keys({"\b", "\e[3~"});
	EXPECT_STREQ(r.text, "");
	EXPECT_EQ(r.results, (std::vector<int>{0, 0, 1})) << "emptying the text ends the search";

	search_run lone("\x80");
	lone.keys({"\x7f"});
	EXPECT_STREQ(lone.text, "");
	EXPECT_EQ(lone.results, (std::vector<int>{1}));

	search_run cont("\x80\x80\x80");
	cont.keys({"\x7f"});
	EXPECT_STREQ(cont.text, "") << "continuation bytes alone go at once";
}

TEST(search_edit, CtrlUEmptiesButKeepsTheSearchOpenUntilTheNextKey)
{
	search_run r("abc");
	r.keys({"\x15"});
	EXPECT_STREQ(r.text, "");
	EXPECT_TRUE(r.tail_zero());
	r.keys({"\x15"});
	EXPECT_EQ(r.results, (std::vector<int>{0, 1}));
}

TEST(search_edit, TheThirtyThirdByteIsIgnored)
{
	search_run r;
	std::vector<std::string> keys;
	for (int i = 0; i < 33; i++)
		keys.push_back(std::string(1, static_cast<char>('a' + i % 26)));
	r.keys(keys);
	EXPECT_EQ(strlen(r.text), SSID_MAX);
	EXPECT_EQ(r.text[31], 'f');
	EXPECT_TRUE(r.tail_zero());
	EXPECT_EQ(r.results.back(), 0);
}

TEST(search_edit, HighBytesAreTextSoMultibyteCharactersGoInByteByByte)
{
	search_run r;
	r.keys({"\xe6", "\x97", "\xa5"});   // 日
	EXPECT_STREQ(r.text, "\xe6\x97\xa5");
}

TEST(search_edit, ACharacterThatWouldNotFitIsNotKeptInHalf)
{
	search_run r;
	std::vector<std::string> keys(30, "a");
	// 日 needs three bytes where two are left; é fits them.
	for (const char *b : {"\xe6", "\x97", "\xa5", "\xc3", "\xa9"})
		keys.push_back(b);
	r.keys(keys);
	EXPECT_EQ(std::string(r.text), std::string(30, 'a') + "\xc3\xa9");
	EXPECT_TRUE(r.tail_zero());
}

} // namespace
