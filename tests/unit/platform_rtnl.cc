// The routing socket: the batch walk over crafted bytes, opening and
// releasing, and address notifications inside a network namespace of the
// test's own.

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform.h"

namespace {

// A netlink message header: length, type, flags, sequence number, port,
// all in host byte order.
constexpr ssize_t HDR = 16;
constexpr int NETLINK_ROUTE_PROTOCOL = 0;   // NETLINK_ROUTE

struct msg { uint32_t len; uint16_t type; size_t stored; };

struct take_case {
	const char *what;
	size_t lead;              // bytes before the first message
	std::vector<msg> msgs;
	size_t tail;              // bytes after the last one
	std::vector<int> types;   // what rtnl_take returns, -1 included
};

// The walk starts at `lead`, over exactly the bytes described.
const take_case take_cases[] = {
	{ "three messages, one padded", 0,
	    { { 20, 20, 20 }, { 17, 21, 20 }, { 16, 3, 16 } }, 0, { 20, 21, 3, -1 } },
	{ "unpadded last message", 0, { { 16, 16, 16 }, { 17, 20, 17 } }, 0,
	    { 16, 20, -1 } },
	{ "zero length ends the batch", 0,
	    { { 16, 20, 16 }, { 0, 20, 16 }, { 16, 21, 16 } }, 0, { 20, -1, -1 } },
	{ "shorter than a header", 0, { { 15, 20, 16 } }, 0, { -1 } },
	{ "length past the end", 0, { { 16, 20, 16 }, { 40, 21, 24 } }, 0,
	    { 20, -1 } },
	{ "huge length", 0, { { UINT32_MAX, 21, 16 } }, 0, { -1 } },
	{ "short tail", 0, { { 16, 20, 16 } }, 10, { 20, -1 } },
	{ "unaligned start", 3, { { 16, 20, 16 } }, 0, { 20, -1 } },
	{ "nothing held", 0, {}, 0, { -1, -1 } },
};

TEST(platform_rtnl, take_walks_a_batch)
{
	for (const auto &c : take_cases) {
		// An exact-size buffer, so that the sanitizers see any overread.
		std::vector<char> buf(c.lead, '\0');
		for (const msg &m : c.msgs) {
			size_t at = buf.size();
			buf.resize(at + m.stored, '\0');
			memcpy(&buf[at], &m.len, 4);
			memcpy(&buf[at + 4], &m.type, 2);
		}
		buf.resize(buf.size() + c.tail, '\x7f');
		rtnl_state r = {};
		r.buf = buf.data();
		r.bufsize = r.len = buf.size();
		r.off = c.lead;
		std::vector<int> got;
		for (size_t i = 0; i < c.types.size(); i++)
			got.push_back(rtnl_take(&r));
		EXPECT_EQ(got, c.types) << c.what;
		EXPECT_EQ(r.off, r.len) << c.what << ": the batch is used up";
	}
	// A state whose offset lies beyond the bytes held is at its end.
	char hdr[HDR] = { HDR };
	rtnl_state r = { -1, false, hdr, sizeof(hdr), sizeof(hdr) + 1, sizeof(hdr) };
	EXPECT_EQ(rtnl_take(&r), -1);
	EXPECT_EQ(r.off, r.len);
}

TEST(platform_rtnl, open_and_release)
{
	rtnl_state r;
	memset(&r, 0x55, sizeof(r));
	ASSERT_EQ(rtnl_open(&r), 0) << strerror(errno);
	EXPECT_TRUE(r.opened);
	EXPECT_GE(r.fd, 0);
	ASSERT_NE(r.buf, nullptr);
	int rcvbuf = 0;
	socklen_t len = sizeof(rcvbuf);
	ASSERT_EQ(getsockopt(r.fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, &len), 0);
	EXPECT_EQ(r.bufsize, static_cast<size_t>(rcvbuf));
	EXPECT_EQ(r.off, 0u);
	EXPECT_EQ(r.len, 0u);

	// Nothing to receive: the receive fails and nothing is taken.
	ASSERT_EQ(fcntl(r.fd, F_SETFL, O_NONBLOCK), 0);
	EXPECT_EQ(rtnl_next(&r), -1);

	int fd = r.fd;
	rtnl_release(&r);
	EXPECT_FALSE(r.opened);
	EXPECT_EQ(r.buf, nullptr);
	EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "the socket is closed";
	rtnl_release(&r);   // twice is harmless
}

// The namespace part runs in a child of its own, started through
// `unshare --net`: it joins the address groups, changes addresses on its
// loopback interface with ip(8) and expects to hear of each change.  The
// child is this test program again, told by the environment to run the part
// below instead of the tests.
constexpr const char *CHILD_ENV = "CORVID_RTNL_NETNS_CHILD";

int
child_fail(const char *what, int got)
{
	fprintf(stderr, "rtnl child: %s: got %d (%s)\n", what, got,
	    strerror(errno));
	return 1;
}

int
run(const char *cmd)
{
	int st = system(cmd);
	return st != -1 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

int
netns_child()
{
	rtnl_state r;
	int got;
	if ((got = rtnl_open(&r)) != 0)
		return child_fail("rtnl_open", got);
	if ((got = rtnl_bind(&r)) != 0)
		return child_fail("rtnl_bind", got);
	// A lost notification fails the test instead of hanging it.
	struct timeval tv = { 10, 0 };
	setsockopt(r.fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));

	// Another process's netlink socket can address ours; what it sends is
	// not taken for the kernel's word.  Our address is taken whole, with its
	// group mask (bytes 8 to 11 on every system) cleared to make a unicast.
	struct sockaddr_storage me = {};
	socklen_t melen = sizeof(me);
	if (getsockname(r.fd, reinterpret_cast<struct sockaddr *>(&me),
	    &melen) != 0 || melen != 12)
		return child_fail("getsockname", -1);
	memset(reinterpret_cast<char *>(&me) + 8, 0, 4);
	int spoof = socket(AF_NETLINK, SOCK_RAW, NETLINK_ROUTE_PROTOCOL);
	char fake[HDR] = {};
	uint32_t fake_len = sizeof(fake);
	uint16_t fake_type = RTNL_NEWADDR;
	memcpy(fake, &fake_len, 4);
	memcpy(fake + 4, &fake_type, 2);
	if (sendto(spoof, fake, sizeof(fake), 0,
	    reinterpret_cast<struct sockaddr *>(&me), melen) != HDR)
		return child_fail("sendto", -1);
	close(spoof);
	if ((got = rtnl_next(&r)) != -1)
		return child_fail("a message from a process", got);

	struct { const char *cmd; int type; } steps[] = {
		{ "ip addr add 127.10.0.1/32 dev lo", RTNL_NEWADDR },
		{ "ip -6 addr add 2001:db8::1/128 dev lo", RTNL_NEWADDR },
		{ "ip -6 addr del 2001:db8::1/128 dev lo", RTNL_DELADDR },
		{ "ip addr del 127.10.0.1/32 dev lo", RTNL_DELADDR },
	};
	// One change may be told more than once (an IPv6 address is announced
	// again when its flags settle); the expected type must come soon.
	for (const auto &s : steps) {
		if ((got = run(s.cmd)) != 0)
			return child_fail(s.cmd, got);
		for (int i = 0; (got = rtnl_next(&r)) != s.type; i++)
			if (got == -1 || i == 8)
				return child_fail(s.cmd, got);
	}
	rtnl_release(&r);
	return 0;
}

// Runs before the test framework: in the child, the namespace part replaces
// the tests.
const int child_hook = [] {
	if (getenv(CHILD_ENV) != nullptr)
		_exit(netns_child());
	return 0;
}();

TEST(platform_rtnl, address_changes_in_a_namespace)
{
	if (run("unshare --net ip -V >/dev/null 2>&1") != 0)
		GTEST_SKIP() << "needs root, unshare(1), ip(8) and network namespaces";
	char self[PATH_MAX];
	ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
	if (n <= 0)
		GTEST_SKIP() << "cannot find this program's path";
	self[n] = '\0';
	std::string cmd = std::string(CHILD_ENV) + "=1 unshare --net '" + self + "'";
	EXPECT_EQ(run(cmd.c_str()), 0) << "see the child's message above";
	(void)child_hook;
}

} // namespace
