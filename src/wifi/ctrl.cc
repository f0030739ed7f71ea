// The control connection: finding the supplicant's socket, opening a local
// datagram socket bound in a private directory, and the request/reply
// exchange that everything else is built on.
#include <sys/socket.h>
#include <sys/stat.h>

#include <dirent.h>
#include <fcntl.h>
#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include "records.h"
#include "wifi.h"

static char default_path[128];

const char *
ctrl_default_path_in(const char *dir)
{
	DIR *d = opendir(dir);
	const char *path = nullptr;
	struct dirent *de;

	if (d == nullptr)
		return nullptr;
	while ((de = readdir(d)) != nullptr) {
		if (de->d_type != DT_SOCK)
			continue;
		// A longer path is cut; ctrl_open refuses it if it is too
		// long for a socket address.
		if (snprintf(default_path, sizeof default_path, "%s/%s", dir,
		    de->d_name) < 0)
			continue;
		path = default_path;
		break;
	}
	closedir(d);
	return path;
}

const char *
ctrl_default_path(void)
{
	return ctrl_default_path_in(CTRL_DEFAULT_DIR);
}

// Undoes whatever ctrl_open has done so far.  errno survives, so that the
// caller can report why the open failed.
static void
ctrl_release(wpa_ctrl *ctrl)
{
	int saved = errno;

	for (ctrl_kept_event &e : ctrl->kept)
		free(e.text);

	if (ctrl->fd != -1)
		close(ctrl->fd);
	if (ctrl->local_addr.sun_path[0] != '\0')
		unlink(ctrl->local_addr.sun_path);
	if (ctrl->tmp_dir != nullptr) {
		rmdir(ctrl->tmp_dir);
		free(ctrl->tmp_dir);
	}
	free(ctrl);
	errno = saved;
}

wpa_ctrl *
ctrl_open(const char *path)
{
	char local[sizeof(sockaddr_un::sun_path) + 1];
	char *dir = nullptr;
	wpa_ctrl *ctrl;
	socklen_t len;

	if (path == nullptr)
		return nullptr;
	if ((ctrl = static_cast<wpa_ctrl *>(calloc(1, sizeof *ctrl))) == nullptr)
		return nullptr;
	ctrl->wake_fd = -1;
	ctrl->fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
	if (ctrl->fd == -1)
		goto fail;

	if (asprintf(&dir, "%s/wpa_ctrl_XXXXXX", "/tmp") == -1)
		goto fail;
	if (mkdtemp(dir) == nullptr) {
		int saved = errno;
		free(dir);
		errno = saved;
		goto fail;
	}
	ctrl->tmp_dir = dir;

	if (snprintf(local, sizeof local, "%s/sock", ctrl->tmp_dir) >=
	    static_cast<int>(sizeof local) ||
	    (len = local_addr_set(&ctrl->local_addr, local)) == 0) {
		errno = ENAMETOOLONG;
		goto fail;
	}
	if (bind(ctrl->fd, reinterpret_cast<sockaddr *>(&ctrl->local_addr),
	    len) == -1) {
		// Not bound: there is no socket file to remove.
		int saved = errno;
		ctrl->local_addr.sun_path[0] = '\0';
		errno = saved;
		goto fail;
	}

	if ((len = local_addr_set(&ctrl->dest_addr, path)) == 0) {
		errno = ENAMETOOLONG;
		goto fail;
	}
	if (connect(ctrl->fd, reinterpret_cast<sockaddr *>(&ctrl->dest_addr),
	    len) == -1)
		goto fail;
	return ctrl;

fail:
	ctrl_release(ctrl);
	return nullptr;
}

void
ctrl_close(wpa_ctrl *ctrl)
{
	if (ctrl != nullptr)
		ctrl_release(ctrl);
}

int
ctrl_fd(wpa_ctrl *ctrl)
{
	return ctrl->fd;
}

// An unsolicited message: "<" and a priority, or an "IFNAME=" prefix.
static bool
is_event(const char *p, size_t n)
{
	return (n >= 1 && p[0] == '<') ||
	    (n >= 7 && memcmp(p, "IFNAME=", 7) == 0);
}

static bool
is_pong(const char *p, size_t n)
{
	return n == 5 && memcmp(p, "PONG\n", 5) == 0;
}

// Keeps an event message for the event reader.  A full store drops its
// oldest message; one that cannot be copied is lost.
static void
event_keep(wpa_ctrl *ctrl, const char *msg, size_t len)
{
	if (ctrl->kept_count == CTRL_EVENTS_KEPT) {
		free(ctrl->kept[ctrl->kept_first].text);
		ctrl->kept[ctrl->kept_first].text = nullptr;
		ctrl->kept_first = (ctrl->kept_first + 1) % CTRL_EVENTS_KEPT;
		ctrl->kept_count--;
	}
	if (len > CTRL_EVENT_MAX)
		len = CTRL_EVENT_MAX;
	auto *text = static_cast<char *>(malloc(len > 0 ? len : 1));
	if (text == nullptr)
		return;
	memcpy(text, msg, len);
	size_t slot = (ctrl->kept_first + ctrl->kept_count) % CTRL_EVENTS_KEPT;
	ctrl->kept[slot] = ctrl_kept_event{ text, len };
	ctrl->kept_count++;
}

bool
ctrl_event_pending(const wpa_ctrl *ctrl)
{
	return ctrl->kept_count > 0;
}

ssize_t
ctrl_event_recv(wpa_ctrl *ctrl, char *buf, size_t cap)
{
	// A "PONG" is the late answer to a PING that was not waited for (or
	// gave up), never an event.
	while (ctrl->kept_count == 0) {
		char dgram[8];
		ssize_t n = recv(ctrl->fd, dgram, sizeof dgram, MSG_DONTWAIT |
		    MSG_PEEK);
		if (n == -1 || !is_pong(dgram, static_cast<size_t>(n)))
			return recv(ctrl->fd, buf, cap, MSG_DONTWAIT);
		(void)recv(ctrl->fd, dgram, sizeof dgram, MSG_DONTWAIT);
	}
	ctrl_kept_event &e = ctrl->kept[ctrl->kept_first];
	size_t n = e.len < cap ? e.len : cap;
	memcpy(buf, e.text, n);
	free(e.text);
	e = ctrl_kept_event{};
	ctrl->kept_first = (ctrl->kept_first + 1) % CTRL_EVENTS_KEPT;
	ctrl->kept_count--;
	return static_cast<ssize_t>(n);
}

static int64_t
now_ms(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The failure that a system error of the socket means: the daemon's
// socket is gone when nothing is bound at its path any more, or when the
// socket bound there now is another one (a restarted daemon).
static ctrl_failure
failure_of(int err)
{
	return err == ECONNREFUSED || err == ENOENT || err == ENOTCONN ?
	    CTRL_FAIL_GONE : CTRL_FAIL_IO;
}

static int
fail(wpa_ctrl *ctrl, ctrl_failure why)
{
	ctrl->failure = why;
	return -1;
}

// Waits until a datagram is there, or until `deadline` (monotonic
// milliseconds) has passed.  A signal that interrupts the wait does not end
// it; the wake descriptor, once readable, does.  0, or -1 with the failure
// set.
static int
wait_readable(wpa_ctrl *ctrl, int64_t deadline)
{
	for (;;) {
		int64_t left = deadline - now_ms();
		struct pollfd pfd[2] = {
			{ ctrl->fd, POLLIN, 0 }, { ctrl->wake_fd, POLLIN, 0 },
		};
		int r = poll(pfd, ctrl->wake_fd >= 0 ? 2 : 1, static_cast<int>(
		    left > 0 ? left : 0));
		if (r == -1 && errno == EINTR)
			continue;
		if (r == -1)
			return fail(ctrl, CTRL_FAIL_IO);
		if (ctrl->wake_fd >= 0 && pfd[1].revents != 0)
			return fail(ctrl, CTRL_FAIL_WOKEN);
		if (r == 0)
			return fail(ctrl, CTRL_FAIL_TIMEOUT);
		if (pfd[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
			int err = 0;
			socklen_t len = sizeof err;
			if (getsockopt(ctrl->fd, SOL_SOCKET, SO_ERROR, &err,
			    &len) == -1)
				err = errno;
			return fail(ctrl, failure_of(err));
		}
		return 0;
	}
}

// Empties the socket's queue before a request: events are kept for the
// event reader, anything else is a reply to a request that gave up waiting
// and is dropped.
static void
drain(wpa_ctrl *ctrl)
{
	char dgram[CTRL_EVENT_MAX];
	ssize_t n;

	while ((n = recv(ctrl->fd, dgram, sizeof dgram, MSG_DONTWAIT)) != -1)
		if (is_event(dgram, static_cast<size_t>(n)))
			event_keep(ctrl, dgram, static_cast<size_t>(n));
}

static int
send_request(wpa_ctrl *ctrl, const char *req, size_t len)
{
	ssize_t n = send(ctrl->fd, req, len, 0);

	if (n == static_cast<ssize_t>(len))
		return 0;
	return fail(ctrl, n == -1 ? failure_of(errno) : CTRL_FAIL_IO);
}

// Waits for the next datagram that is a reply to the request sent at
// `sent` and receives at most `cap` bytes of it.  Events are kept for the
// event reader; a "PONG" is dropped unless one is awaited: no other request
// is answered that way, so it can only be the late answer to an earlier
// resynchronisation.  A datagram is received whole (up to the longest
// event) and classified before it is cut to `cap`, so that a reply buffer
// of a few bytes still tells an "IFNAME=" event from a reply.  The wait
// ends CTRL_REPLY_TIMEOUT_MS after the last datagram, and `total_ms` after
// the request was sent at the latest.
static ssize_t
reply_wait(wpa_ctrl *ctrl, char *buf, size_t cap, bool want_pong,
    int64_t sent, int total_ms)
{
	char dgram[CTRL_EVENT_MAX];
	// A buffer at least as large as any event takes the datagram itself.
	char *into = cap >= sizeof dgram ? buf : dgram;
	size_t room = cap >= sizeof dgram ? cap : sizeof dgram;
	int64_t last = sent;

	for (;;) {
		int64_t deadline = last + CTRL_REPLY_TIMEOUT_MS;
		if (deadline > sent + total_ms)
			deadline = sent + total_ms;
		if (wait_readable(ctrl, deadline) == -1)
			return -1;
		ssize_t n = recv(ctrl->fd, into, room, 0);
		if (n == -1 && (errno == EAGAIN || errno == EINTR))
			continue;
		if (n == -1)
			return fail(ctrl, failure_of(errno));
		last = now_ms();
		auto len = static_cast<size_t>(n);
		if (is_event(into, len)) {
			event_keep(ctrl, into, len);
			continue;
		}
		if (!want_pong && is_pong(into, len))
			continue;
		if (into != buf) {
			len = len < cap ? len : cap;
			memcpy(buf, into, len);
		}
		return static_cast<ssize_t>(len);
	}
}

// After a request gave up waiting, its reply may still come, and would be
// taken for the reply to the next request.  The supplicant answers in
// order, so once the answer to a "PING" sent now has arrived, every reply
// owed before it has arrived too and has been dropped on the way.  A PING
// that is not answered either makes the daemon unresponsive.
static int
resync(wpa_ctrl *ctrl)
{
	char buf[8];
	ssize_t n;

	if (send_request(ctrl, "PING", 4) == -1)
		return -1;
	int64_t sent = now_ms();
	do {
		n = reply_wait(ctrl, buf, sizeof buf, true, sent,
		    CTRL_REQUEST_TIMEOUT_MS);
		if (n == -1) {
			if (ctrl->failure == CTRL_FAIL_TIMEOUT) {
				ctrl->unresponsive = true;
				ctrl->failure = CTRL_FAIL_UNRESPONSIVE;
			}
			return -1;
		}
	} while (!is_pong(buf, static_cast<size_t>(n)));
	ctrl->resync = false;
	return 0;
}

// One request and its reply, waiting `total_ms` at most (and, when a
// resynchronisation is owed and `may_resync` is set, as long again for it).
static int
transact(wpa_ctrl *ctrl, const char *req, size_t req_len, char *reply,
    size_t *reply_len, int total_ms, bool may_resync)
{
	ssize_t n;

	ctrl->failure = CTRL_FAIL_NONE;
	if (ctrl->unresponsive)
		return fail(ctrl, CTRL_FAIL_UNRESPONSIVE);
	if (ctrl->wake_fd >= 0) {
		struct pollfd pfd = { ctrl->wake_fd, POLLIN, 0 };
		if (poll(&pfd, 1, 0) > 0)
			return fail(ctrl, CTRL_FAIL_WOKEN);
	}
	drain(ctrl);
	if (may_resync && ctrl->resync && resync(ctrl) == -1)
		return -1;
	if (send_request(ctrl, req, req_len) == -1)
		return -1;
	int64_t sent = now_ms();
	bool ping = req_len == 4 && memcmp(req, "PING", 4) == 0;
	if ((n = reply_wait(ctrl, reply, *reply_len, ping, sent,
	    total_ms)) == -1) {
		if (ctrl->failure == CTRL_FAIL_TIMEOUT ||
		    ctrl->failure == CTRL_FAIL_WOKEN)
			ctrl->resync = true;
		return -1;
	}
	*reply_len = static_cast<size_t>(n);
	return 0;
}

int
ctrl_transact(wpa_ctrl *ctrl, const char *req, size_t req_len, char *reply,
    size_t *reply_len)
{
	return transact(ctrl, req, req_len, reply, reply_len,
	    CTRL_REQUEST_TIMEOUT_MS, true);
}

ctrl_failure
ctrl_last_failure(const wpa_ctrl *ctrl)
{
	return ctrl->failure;
}

void
ctrl_set_wake(wpa_ctrl *ctrl, int fd)
{
	ctrl->wake_fd = fd;
}

int
ctrl_probe(wpa_ctrl *ctrl)
{
	ctrl->failure = CTRL_FAIL_NONE;
	if (send_request(ctrl, "PING", 4) == -1)
		return -1;
	// Its PONG is owed now: the next request waits for one first.
	ctrl->resync = true;
	return 0;
}

void
ctrl_fetch_begin(wpa_ctrl *ctrl)
{
	ctrl->unresponsive = false;
}

// The request as a warning shows it: the value of a psk or password setting
// is replaced by "[REMOVED]", and the text is made printable.
static const char *
request_text(const char *req, char *out, size_t size)
{
	char redacted[CTRL_REQUEST_MAX + sizeof "[REMOVED]"];
	std::string_view v(req);
	constexpr std::string_view set = "SET_NETWORK ";

	if (v.starts_with(set)) {
		size_t id_end = v.find(' ', set.size());
		size_t name_end = id_end == v.npos ? v.npos : v.find(' ', id_end + 1);
		if (name_end != v.npos) {
			auto name = v.substr(id_end + 1, name_end - id_end - 1);
			if (name == "psk" || name == "password") {
				snprintf(redacted, sizeof redacted, "%.*s[REMOVED]",
				    static_cast<int>(name_end + 1), req);
				req = redacted;
			}
		}
	}
	return warn_text(req, out, size);
}

// Formats a request, sends it and NUL-terminates the reply.  0 with a
// reply (with `want_ok`, a reply starting "OK"), -1 otherwise.  Requests
// carry passphrases: no copy of the text is left on the stack.
static int __printflike(5, 0)
request_v(wpa_ctrl *ctrl, char *reply, size_t *reply_len, bool want_ok,
    const char *fmt, va_list ap)
{
	char req[CTRL_REQUEST_MAX];
	char text[CTRL_REQUEST_MAX + 16];
	int rc = -1;
	int n = vsnprintf(req, sizeof req, fmt, ap);

	if (n < 0 || static_cast<size_t>(n) >= sizeof req) {
		if (n < 0)
			req[0] = '\0';
		wifi_warnx("wpa_ctrl request too long: %s",
		    request_text(req, text, sizeof text));
	} else if (ctrl_transact(ctrl, req, static_cast<size_t>(n), reply,
	    reply_len) == 0) {
		reply[*reply_len] = '\0';
		rc = 0;
		if (want_ok && (reply[0] != 'O' || reply[1] != 'K')) {
			wifi_warnx("wpa_ctrl request failed: %s", request_text(req,
			    text, sizeof text));
			rc = -1;
		}
	}
	explicit_bzero(req, sizeof req);
	explicit_bzero(text, sizeof text);
	return rc;
}

int
ctrl_command(wpa_ctrl *ctrl, char *reply, size_t *reply_len,
    const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	int rc = request_v(ctrl, reply, reply_len, true, fmt, ap);
	va_end(ap);
	return rc;
}

int
ctrl_query(wpa_ctrl *ctrl, char *reply, size_t *reply_len,
    const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	int rc = request_v(ctrl, reply, reply_len, false, fmt, ap);
	va_end(ap);
	return rc;
}

static int
ctrl_register(wpa_ctrl *ctrl, const char *req, int total_ms, bool may_resync)
{
	char reply[2];
	size_t len = sizeof reply;

	if (transact(ctrl, req, strlen(req), reply, &len, total_ms,
	    may_resync) == -1)
		return -1;
	return len == 2 && reply[0] == 'O' && reply[1] == 'K' ? 0 : -1;
}

int
ctrl_attach(wpa_ctrl *ctrl)
{
	if (ctrl_register(ctrl, "ATTACH", CTRL_REQUEST_TIMEOUT_MS, true) == -1)
		return -1;
	ctrl->attached = true;
	return 0;
}

// At exit: a reply owed to an earlier request may be taken for DETACH's,
// which does no harm then, and is not worth a PING's wait.
int
ctrl_detach(wpa_ctrl *ctrl)
{
	ctrl->attached = false;
	return ctrl_register(ctrl, "DETACH", CTRL_DETACH_TIMEOUT_MS, false);
}

int
ctrl_reconnect(wpa_ctrl *ctrl)
{
	struct sockaddr_un local, dest;
	socklen_t local_len, dest_len;
	char pong[8];
	size_t len = sizeof pong;

	ctrl->failure = CTRL_FAIL_NONE;
	// A connection that ctrl_open did not make has no path to use again.
	if (ctrl->local_addr.sun_path[0] == '\0' ||
	    (local_len = local_addr_set(&local, ctrl->local_addr.sun_path)) == 0 ||
	    (dest_len = local_addr_set(&dest, ctrl->dest_addr.sun_path)) == 0) {
		errno = EINVAL;
		return fail(ctrl, CTRL_FAIL_IO);
	}
	int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
	if (fd == -1)
		return fail(ctrl, CTRL_FAIL_IO);
	// The old socket keeps its descriptor until the new one answers, but
	// no daemon can reach it any more: its path goes to the new one.
	(void)unlink(ctrl->local_addr.sun_path);
	if (bind(fd, reinterpret_cast<sockaddr *>(&local), local_len) == -1 ||
	    connect(fd, reinterpret_cast<sockaddr *>(&dest), dest_len) == -1) {
		int saved = errno;
		close(fd);
		errno = saved;
		return fail(ctrl, failure_of(saved));
	}

	// The requests go over the new socket while the old descriptor waits.
	int old = ctrl->fd;
	bool attached = ctrl->attached;
	ctrl->fd = fd;
	ctrl->resync = ctrl->unresponsive = false;
	bool up = transact(ctrl, "PING", 4, pong, &len,
	    CTRL_REQUEST_TIMEOUT_MS, false) == 0 && is_pong(pong, len) &&
	    (!attached || ctrl_attach(ctrl) == 0);
	ctrl->fd = old;
	if (!up) {
		int saved = errno;
		close(fd);
		errno = saved;
		if (ctrl->failure == CTRL_FAIL_NONE)
			ctrl->failure = CTRL_FAIL_IO;
		return -1;
	}
	if (dup2(fd, old) == -1 || fcntl(old, F_SETFD, FD_CLOEXEC) == -1) {
		int saved = errno;
		close(fd);
		errno = saved;
		return fail(ctrl, CTRL_FAIL_IO);
	}
	close(fd);
	ctrl->attached = attached;
	return 0;
}
