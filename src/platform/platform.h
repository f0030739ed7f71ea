// The platform layer: what corvid needs from the operating system that
// FreeBSD and Linux provide differently.  The only home of operating-system
// conditionals; the rest of the program includes this header and nothing of
// what it hides.
#pragma once

#include <sys/types.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <net/ethernet.h>
#ifdef HAVE_NETINET_ETHER_H
#include <netinet/ether.h>
#endif

#ifdef HAVE_SYS_SBUF_H
#include <sys/sbuf.h>
#endif

#ifndef __printflike
#define __printflike(fmtarg, firstvararg) \
	__attribute__((__format__(__printf__, fmtarg, firstvararg)))
#endif

// ---------------------------------------------------------------------------
// Functions one system has and the other lacks.  CMake adds the replacement
// source only where the system lacks the function.

#ifndef HAVE_STRTONUM
long long strtonum(const char *nptr, long long minval, long long maxval,
    const char **errstr);
#endif

#ifndef HAVE_STRLCPY
size_t strlcpy(char *dst, const char *src, size_t dsize);
#endif

#ifndef HAVE_EXPLICIT_BZERO
void explicit_bzero(void *buf, size_t len);
#endif

// ---------------------------------------------------------------------------
// Automatically growing string buffers, with the names and semantics of
// FreeBSD's sbuf(9) for the subset corvid uses.  A growth failure sticks:
// later appends do nothing and sbuf_finish() reports it (-1, errno ENOMEM).

#ifndef HAVE_SYS_SBUF_H
struct sbuf {
	char *s_buf;       // storage; NUL-terminated after sbuf_finish()
	ssize_t s_size;    // bytes allocated
	ssize_t s_len;     // bytes in use, the NUL not counted
	int s_error;       // first error (ENOMEM), 0 if none
	int s_flags;
};

#define SBUF_FIXEDLEN 0x00000000
#define SBUF_AUTOEXTEND 0x00000001
#define SBUF_DYNAMIC 0x00010000  // storage was allocated by sbuf
#define SBUF_DYNSTRUCT 0x00080000  // the record was allocated by sbuf
#define SBUF_FINISHED 0x00020000

struct sbuf *sbuf_new(struct sbuf *s, char *buf, int length, int flags);
#define sbuf_new_auto() sbuf_new(NULL, NULL, 0, SBUF_AUTOEXTEND)
void sbuf_clear(struct sbuf *s);
int sbuf_bcat(struct sbuf *s, const void *buf, size_t len);
int sbuf_cat(struct sbuf *s, const char *str);
int sbuf_printf(struct sbuf *s, const char *fmt, ...) __printflike(2, 3);
int sbuf_vprintf(struct sbuf *s, const char *fmt, va_list ap)
    __printflike(2, 0);
int sbuf_putc(struct sbuf *s, int c);
int sbuf_error(const struct sbuf *s);
int sbuf_finish(struct sbuf *s);
char *sbuf_data(struct sbuf *s);
ssize_t sbuf_len(struct sbuf *s);
void sbuf_delete(struct sbuf *s);
#endif

// ---------------------------------------------------------------------------
// Local (Unix-domain) socket addresses.

// Longest path a local socket address holds: sizeof(sun_path) - 1 (103 on
// FreeBSD, 107 on Linux).
inline constexpr size_t LOCAL_PATH_MAX = sizeof(((struct sockaddr_un *)nullptr)->sun_path) - 1;

// Fills `sa` (zeroed first) with the local family and `path`.  Returns the
// address length to hand to bind() and connect(), or 0 when the path is
// longer than LOCAL_PATH_MAX (nothing is cut).
socklen_t local_addr_set(struct sockaddr_un *sa, const char *path);

// ---------------------------------------------------------------------------
// The event queue: the part of kqueue(2) that corvid uses, over kevent on
// FreeBSD and over epoll, signalfd and timerfd on Linux.  Events come back
// one at a time with kqueue-style identifiers: the descriptor of a read
// source, the signal number of a signal, the number of a timer.

enum evq_filter {
	EVQ_READ = 1,    // a descriptor is readable (or at end of file)
	EVQ_SIGNAL = 2,  // a signal was delivered
	EVQ_TIMER = 3,   // a periodic timer expired
};

struct evq_change {
	uintptr_t ident;   // descriptor, signal number or timer number
	int filter;        // evq_filter
	unsigned seconds;  // period of a timer; unused otherwise
};

struct evq_event {
	uintptr_t ident;
	int filter;
	bool error;        // the kernel reported an error for this source
	intptr_t data;     // errno value when `error` is set
};

// The system calls behind the queue, as failure messages name them: the
// creation, the registration and the wait.
extern const char *const EVQ_OPEN_CALL;
extern const char *const EVQ_REGISTER_CALL;
extern const char *const EVQ_WAIT_CALL;

// Creates a queue; its descriptor, or -1 with errno set.
int evq_open(void);
// Registers every change in one submission.  A signal keeps its disposition
// as far as the program can see (a signal that is ignored by default, such
// as SIGWINCH, stays ignored), but every delivery reaches the queue and
// none runs a handler or ends the program.  Timers are periodic and first
// fire one period after registration.  0, or -1 with errno set.
int evq_register(int evq, const struct evq_change *changes, size_t n);
// Waits without time-out until one event is ready and stores it.  Returns 1,
// or -1 with errno set.  An interrupted wait is resumed, not reported.
int evq_wait(int evq, struct evq_event *ev);
// The same without waiting: 1 with an event that is ready now, 0 when none
// is, -1 with errno set.
int evq_poll(int evq, struct evq_event *ev);
// Closes the queue and everything it created for its sources.
void evq_close(int evq);

// ---------------------------------------------------------------------------
// The routing socket: a netlink socket (NETLINK_ROUTE) that hears about IPv4
// and IPv6 addresses being added and removed.

inline constexpr int RTNL_NEWADDR = 20;  // RTM_NEWADDR
inline constexpr int RTNL_DELADDR = 21;  // RTM_DELADDR

struct rtnl_state {
	int fd;
	bool opened;       // the socket was created (and is closed at release)
	char *buf;         // receive buffer of `bufsize` bytes (SO_RCVBUF)
	size_t bufsize;
	size_t off;        // next unread message in `buf`
	size_t len;        // bytes the last receive stored in `buf`
};

// Creates the socket, asks for extended acknowledgements and allocates the
// receive buffer.  0, or -1 with errno set and everything released again.
int rtnl_open(struct rtnl_state *r);
// Joins the IPv4 and IPv6 address groups.  0, or -1 with errno set.
int rtnl_bind(struct rtnl_state *r);
// Takes the next message: receives one datagram when every buffered message
// has been consumed, then returns the type of the message at the offset and
// moves past it.  Returns -1 when nothing could be received, and when the
// message at the offset is shorter than a header or runs past the bytes
// held, which ends the buffered batch.
int rtnl_next(struct rtnl_state *r);
// The batch walk of rtnl_next() alone, over bytes already in `buf`
// (`len` of them, from `off`): the message type, or -1 at the end.
int rtnl_take(struct rtnl_state *r);
// Closes the socket if it was opened and frees the buffer.
void rtnl_release(struct rtnl_state *r);
