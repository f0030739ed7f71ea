// The control connection: finding the supplicant's socket, opening a local
// datagram socket bound in a private directory, and the request/reply
// exchange that everything else is built on.
#include <sys/socket.h>
#include <sys/stat.h>

#include <dirent.h>
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
	if (ctrl->kept_count == 0)
		return recv(ctrl->fd, buf, cap, MSG_DONTWAIT);
	ctrl_kept_event &e = ctrl->kept[ctrl->kept_first];
	size_t n = e.len < cap ? e.len : cap;
	memcpy(buf, e.text, n);
	free(e.text);
	e = ctrl_kept_event{};
	ctrl->kept_first = (ctrl->kept_first + 1) % CTRL_EVENTS_KEPT;
	ctrl->kept_count--;
	return static_cast<ssize_t>(n);
}

// Waits up to CTRL_REPLY_TIMEOUT_MS for a datagram.  A signal that
// interrupts the wait does not end it early.  0, or -1 on time-out, error
// or hang-up.
static int
wait_readable(int fd)
{
	struct timespec start, now;

	clock_gettime(CLOCK_MONOTONIC, &start);
	for (;;) {
		clock_gettime(CLOCK_MONOTONIC, &now);
		long spent = (now.tv_sec - start.tv_sec) * 1000 +
		    (now.tv_nsec - start.tv_nsec) / 1000000;
		struct pollfd pfd = { fd, POLLIN, 0 };
		int r = poll(&pfd, 1, static_cast<int>(spent < CTRL_REPLY_TIMEOUT_MS ?
		    CTRL_REPLY_TIMEOUT_MS - spent : 0));
		if (r == -1 && errno == EINTR)
			continue;
		if (r != 1 || (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)))
			return -1;
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

// Waits for the next datagram that is a reply and receives at most `cap`
// bytes of it.  Events are kept for the event reader; a "PONG" is dropped
// unless one is awaited: no other request is answered that way, so it can
// only be the late answer to an earlier resynchronisation.  A datagram is
// received whole (up to the longest event) and classified before it is cut
// to `cap`, so that a reply buffer of a few bytes still tells an "IFNAME="
// event from a reply.  Each wait restarts the time-out.
static ssize_t
reply_wait(wpa_ctrl *ctrl, char *buf, size_t cap, bool want_pong)
{
	char dgram[CTRL_EVENT_MAX];
	// A buffer at least as large as any event takes the datagram itself.
	char *into = cap >= sizeof dgram ? buf : dgram;
	size_t room = cap >= sizeof dgram ? cap : sizeof dgram;

	for (;;) {
		if (wait_readable(ctrl->fd) == -1)
			return -1;
		ssize_t n = recv(ctrl->fd, into, room, 0);
		if (n == -1)
			return -1;
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
// owed before it has arrived too and has been dropped on the way.
static int
resync(wpa_ctrl *ctrl)
{
	char buf[8];
	ssize_t n;

	if (send(ctrl->fd, "PING", 4, 0) != 4)
		return -1;
	do {
		if ((n = reply_wait(ctrl, buf, sizeof buf, true)) == -1)
			return -1;
	} while (!is_pong(buf, static_cast<size_t>(n)));
	ctrl->resync = false;
	return 0;
}

int
ctrl_transact(wpa_ctrl *ctrl, const char *req, size_t req_len, char *reply,
    size_t *reply_len)
{
	ssize_t n;

	drain(ctrl);
	if (ctrl->resync && resync(ctrl) == -1)
		return -1;
	if (send(ctrl->fd, req, req_len, 0) != static_cast<ssize_t>(req_len))
		return -1;
	bool ping = req_len == 4 && memcmp(req, "PING", 4) == 0;
	if ((n = reply_wait(ctrl, reply, *reply_len, ping)) == -1) {
		ctrl->resync = true;
		return -1;
	}
	*reply_len = static_cast<size_t>(n);
	return 0;
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
ctrl_register(wpa_ctrl *ctrl, const char *req)
{
	char reply[2];
	size_t len = sizeof reply;

	if (ctrl_transact(ctrl, req, strlen(req), reply, &len) == -1)
		return -1;
	return len == 2 && reply[0] == 'O' && reply[1] == 'K' ? 0 : -1;
}

int
ctrl_attach(wpa_ctrl *ctrl)
{
	return ctrl_register(ctrl, "ATTACH");
}

int
ctrl_detach(wpa_ctrl *ctrl)
{
	return ctrl_register(ctrl, "DETACH");
}
