// The routing socket: netlink (NETLINK_ROUTE), which FreeBSD and Linux
// provide with the same messages under different header names.

#include <sys/socket.h>
#include <sys/uio.h>

#ifdef __linux__
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#else
#include <netlink/netlink.h>
#include <netlink/netlink_route.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

#include "platform.h"

// The IPv4 and IPv6 address groups (RTMGRP_IPV4_IFADDR, RTMGRP_IPV6_IFADDR):
// addresses added to and removed from interfaces, nothing else.
static constexpr uint32_t ADDR_GROUPS = 0x10 | 0x100;
#ifdef __linux__
static_assert(ADDR_GROUPS == (RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR));
static_assert(RTNL_NEWADDR == RTM_NEWADDR && RTNL_DELADDR == RTM_DELADDR);
#endif
static_assert(sizeof(struct sockaddr_nl) == 12);

int
rtnl_open(struct rtnl_state *r)
{
	*r = rtnl_state{ -1, false, nullptr, 0, 0, 0 };
	r->fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
	if (r->fd == -1)
		return -1;
	r->opened = true;

	int on = 1, size = 0;
	socklen_t sizelen = sizeof(size);
	if (setsockopt(r->fd, SOL_NETLINK, NETLINK_EXT_ACK, &on,
	    sizeof(on)) == -1 ||
	    getsockopt(r->fd, SOL_SOCKET, SO_RCVBUF, &size, &sizelen) == -1)
		goto fail;
	if (size <= 0) {
		errno = ENOBUFS;
		goto fail;
	}
	r->buf = static_cast<char *>(malloc(size));
	if (r->buf == nullptr)
		goto fail;
	r->bufsize = size;
	return 0;
fail:
	int saved = errno;
	rtnl_release(r);
	errno = saved;
	return -1;
}

int
rtnl_bind(struct rtnl_state *r)
{
	struct sockaddr_nl nl = {};
#ifdef __FreeBSD__
	nl.nl_len = sizeof(nl);
#endif
	nl.nl_family = AF_NETLINK;
	nl.nl_pid = 0;             // the kernel chooses the port
	nl.nl_groups = ADDR_GROUPS;
	return bind(r->fd, reinterpret_cast<struct sockaddr *>(&nl),
	    sizeof(nl));
}

int
rtnl_take(struct rtnl_state *r)
{
	struct nlmsghdr h;

	if (r->off > r->len || r->len - r->off < sizeof(h)) {
		r->off = r->len;
		return -1;
	}
	// The buffer's bytes may sit at any alignment; copy the header out.
	memcpy(&h, r->buf + r->off, sizeof(h));
	size_t left = r->len - r->off;
	if (h.nlmsg_len < sizeof(h) || h.nlmsg_len > left) {
		r->off = r->len;
		return -1;
	}
	size_t step = (static_cast<size_t>(h.nlmsg_len) + 3) & ~static_cast<size_t>(3);
	r->off += step < left ? step : left;
	return h.nlmsg_type;
}

int
rtnl_next(struct rtnl_state *r)
{
	if (r->off >= r->len) {
		r->off = r->len = 0;
		struct sockaddr_nl from = {};
		struct iovec iov = { r->buf, r->bufsize };
		struct msghdr msg = {};
		msg.msg_name = &from;
		msg.msg_namelen = sizeof(from);
		msg.msg_iov = &iov;
		msg.msg_iovlen = 1;
		ssize_t n;
		do
			n = recvmsg(r->fd, &msg, 0);
		while (n == -1 && errno == EINTR);
		if (n <= 0)
			return -1;
		// Only the kernel speaks for the routing tables; a datagram from
		// another process's netlink socket is dropped.
		if (msg.msg_namelen < sizeof(from) || from.nl_family != AF_NETLINK ||
		    from.nl_pid != 0)
			return -1;
		r->len = n;
	}
	return rtnl_take(r);
}

void
rtnl_release(struct rtnl_state *r)
{
	if (r == nullptr)
		return;
	if (r->opened)
		close(r->fd);
	free(r->buf);
	*r = rtnl_state{ -1, false, nullptr, 0, 0, 0 };
}
