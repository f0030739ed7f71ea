// strtonum, strlcpy, explicit_bzero and local socket addresses.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <string>

#include "platform.h"

namespace {

struct strtonum_case {
	const char *in;
	long long min, max;
	long long want;
	const char *errstr;   // nullptr: accepted
	int err;              // errno after a refusal
};

TEST(platform_compat_strtonum, cases)
{
	static const strtonum_case cases[] = {
		{ "0", 0, 10, 0, nullptr, 0 },
		{ "10", 0, 10, 10, nullptr, 0 },
		{ "-5", -5, 5, -5, nullptr, 0 },
		{ "  7", 0, 10, 7, nullptr, 0 },            // strtoll skips blanks
		{ "+3", 0, 10, 3, nullptr, 0 },
		{ "9223372036854775807", 0, LLONG_MAX, LLONG_MAX, nullptr, 0 },
		{ "-9223372036854775808", LLONG_MIN, 0, LLONG_MIN, nullptr, 0 },
		{ "11", 0, 10, 0, "too large", ERANGE },
		{ "-6", -5, 5, 0, "too small", ERANGE },
		{ "9223372036854775808", 0, LLONG_MAX, 0, "too large", ERANGE },
		{ "-9223372036854775809", LLONG_MIN, 0, 0, "too small", ERANGE },
		{ "", 0, 10, 0, "invalid", EINVAL },
		{ "x", 0, 10, 0, "invalid", EINVAL },
		{ "5x", 0, 10, 0, "invalid", EINVAL },
		{ "5 ", 0, 10, 0, "invalid", EINVAL },
		{ "5", 10, 0, 0, "invalid", EINVAL },       // minval > maxval
	};
	for (const auto &c : cases) {
		const char *errstr = "unset";
		errno = 1234;
		long long v = strtonum(c.in, c.min, c.max, &errstr);
		EXPECT_EQ(v, c.want) << '"' << c.in << '"';
		if (c.errstr == nullptr) {
			EXPECT_EQ(errstr, nullptr) << '"' << c.in << '"';
			EXPECT_EQ(errno, 1234) << "errno kept on success";
		} else {
			ASSERT_NE(errstr, nullptr) << '"' << c.in << '"';
			EXPECT_STREQ(errstr, c.errstr) << '"' << c.in << '"';
			EXPECT_EQ(errno, c.err) << '"' << c.in << '"';
		}
	}
	// The error text is optional.
	EXPECT_EQ(strtonum("42", 0, 100, nullptr), 42);
}

TEST(platform_compat_strlcpy, truncates_and_reports_source_length)
{
	struct { const char *src; size_t size; const char *want; } cases[] = {
		{ "hello", 10, "hello" },
		{ "hello", 6, "hello" },
		{ "hello", 5, "hell" },
		{ "hello", 1, "" },
		{ "", 4, "" },
	};
	for (const auto &c : cases) {
		char dst[16];
		memset(dst, 'Z', sizeof(dst));
		EXPECT_EQ(strlcpy(dst, c.src, c.size), strlen(c.src));
		EXPECT_STREQ(dst, c.want);
		// Nothing is written past the given size.
		EXPECT_EQ(dst[c.size], 'Z') << c.src << " into " << c.size;
	}
	char untouched = 'Z';
	EXPECT_EQ(strlcpy(&untouched, "abc", 0), 3u);
	EXPECT_EQ(untouched, 'Z');
}

TEST(platform_compat_explicit_bzero, clears)
{
	char buf[32];
	memset(buf, 0x5a, sizeof(buf));
	explicit_bzero(buf + 1, 30);
	EXPECT_EQ(buf[0], 0x5a);
	for (int i = 1; i <= 30; i++)
		EXPECT_EQ(buf[i], 0) << i;
	EXPECT_EQ(buf[31], 0x5a);
}

// The longest path fits and the kernel takes the length given for it; one
// byte more is refused with nothing copied.
TEST(platform_compat_local_addr, longest_path)
{
	std::string path = "/tmp/corvid-platform-" + std::to_string(getpid()) + "-";
	path.resize(LOCAL_PATH_MAX, 'p');
	struct sockaddr_un sa;
	memset(&sa, 0xff, sizeof(sa));
	socklen_t salen = local_addr_set(&sa, path.c_str());
	ASSERT_EQ(salen, offsetof(struct sockaddr_un, sun_path) + path.size());
	EXPECT_EQ(sa.sun_family, AF_UNIX);
	EXPECT_STREQ(sa.sun_path, path.c_str());
	int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
	ASSERT_GE(fd, 0);
	EXPECT_EQ(bind(fd, reinterpret_cast<struct sockaddr *>(&sa), salen), 0)
	    << strerror(errno);
	close(fd);
	unlink(path.c_str());

	path += 'p';
	errno = 0;
	EXPECT_EQ(local_addr_set(&sa, path.c_str()), 0u);
	EXPECT_EQ(errno, ENAMETOOLONG);
	EXPECT_EQ(sa.sun_path[0], '\0');
}

} // namespace
