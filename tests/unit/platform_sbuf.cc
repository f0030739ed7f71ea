// The automatically growing string buffers.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform.h"

// The replacement's growth-failure hook (see sbuf.cc); absent where the
// system provides sbuf, and the test that needs it skips there.
extern ssize_t sbuf_test_size_limit __attribute__((weak));

namespace {

std::string
contents(struct sbuf *s)
{
	return std::string(sbuf_data(s), sbuf_len(s));
}

// Every append grows the buffer as needed: text, single bytes, bytes with
// NULs among them, and formatted text far larger than the free space.
TEST(platform_sbuf, appends_grow_the_buffer)
{
	struct sbuf *s = sbuf_new_auto();
	ASSERT_NE(s, nullptr);
	std::string want;
	for (int i = 0; i < 2000; i++) {
		ASSERT_EQ(sbuf_cat(s, "ab"), 0);
		ASSERT_EQ(sbuf_putc(s, i % 2 ? 'c' : '\0'), 0);
		ASSERT_EQ(sbuf_printf(s, "%d;", i), 0);
		want += "ab" + std::string(1, i % 2 ? 'c' : '\0') +
		    std::to_string(i) + ";";
	}
	std::string big(100000, 'x');
	ASSERT_EQ(sbuf_printf(s, "%s|%5d|%-3s|", big.c_str(), 42, "a"), 0);
	ASSERT_EQ(sbuf_bcat(s, "a\0b", 3), 0);
	want += big + "|   42|a  |" + std::string("a\0b", 3);
	ASSERT_EQ(sbuf_finish(s), 0);
	EXPECT_EQ(sbuf_error(s), 0);
	EXPECT_EQ(contents(s), want);
	EXPECT_EQ(sbuf_data(s)[want.size()], '\0');

	sbuf_clear(s);
	ASSERT_EQ(sbuf_cat(s, "2nd"), 0);
	ASSERT_EQ(sbuf_finish(s), 0);
	EXPECT_EQ(contents(s), "2nd");
	sbuf_delete(s);
}

// Storage of the caller's that is full: the error sticks and is reported.
TEST(platform_sbuf, fixed_length_overflow)
{
	char storage[8];
	struct sbuf sb;
	ASSERT_EQ(sbuf_new(&sb, storage, sizeof(storage), SBUF_FIXEDLEN), &sb);
	ASSERT_EQ(sbuf_cat(&sb, "1234567"), 0);   // 7 bytes and the NUL
	EXPECT_EQ(sbuf_putc(&sb, '8'), -1);
	EXPECT_EQ(sbuf_error(&sb), ENOMEM);
	errno = 0;
	EXPECT_EQ(sbuf_finish(&sb), -1);
	EXPECT_EQ(errno, ENOMEM);
	EXPECT_STREQ(storage, "1234567");
	sbuf_delete(&sb);
}

// A growth failure sticks: the failing append and every later one change
// nothing, sbuf_finish() reports it, and sbuf_clear() forgets it.
TEST(platform_sbuf, growth_failure_sticks_until_clear)
{
	if (&sbuf_test_size_limit == nullptr)
		GTEST_SKIP() << "the system's sbuf has no growth-failure hook";
	sbuf_test_size_limit = 1;
	errno = 0;
	EXPECT_EQ(sbuf_new_auto(), nullptr);
	EXPECT_EQ(errno, ENOMEM);
	sbuf_test_size_limit = 0;

	struct sbuf *s = sbuf_new_auto();
	ASSERT_NE(s, nullptr);
	ASSERT_EQ(sbuf_cat(s, "kept"), 0);
	sbuf_test_size_limit = 4096;
	std::string big(5000, 'y');
	EXPECT_EQ(sbuf_printf(s, "%s", big.c_str()), -1);
	EXPECT_EQ(sbuf_error(s), ENOMEM);
	EXPECT_EQ(sbuf_cat(s, big.c_str()), -1);
	EXPECT_EQ(sbuf_bcat(s, big.data(), big.size()), -1);
	sbuf_test_size_limit = 0;
	EXPECT_EQ(sbuf_putc(s, 'z'), -1);
	errno = 0;
	EXPECT_EQ(sbuf_finish(s), -1);
	EXPECT_EQ(errno, ENOMEM);
	EXPECT_EQ(sbuf_len(s), -1);
	EXPECT_STREQ(sbuf_data(s), "kept");

	sbuf_clear(s);
	ASSERT_EQ(sbuf_cat(s, big.c_str()), 0);
	ASSERT_EQ(sbuf_finish(s), 0);
	EXPECT_EQ(contents(s), big);
	sbuf_delete(s);
}

} // namespace
