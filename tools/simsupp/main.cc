// simsupp: the command line, the control socket and the loop that answers
// requests, sends events to attached clients and runs the timers.
//
//	simsupp -s /tmp/demo/wpa_supplicant/wlan0 -c demo.conf [-f world]
//	    [--seed n] [--scan-delay-ms n] [--connect-delay-ms n] [--log file]
//	    [--start-disconnected] [--empty-bss] [--hang-after n]
//	    [--late-replies ms] [--flood n] [--burst n] [--burst-ms ms]
//	    [--hang-events-ms ms] [--watch-fd fd] [--no-wpa3]
//
// It runs in the foreground until SIGTERM, SIGINT or SIGHUP (or TERMINATE),
// then removes its socket and exits 0.  The configuration file is rewritten
// on SAVE_CONFIG, so point -c at a copy.  For robustness tests, SIGUSR1
// stops answering requests (they are still read and logged) and the next
// SIGUSR1 answers again; while it does not answer, an event goes to the
// attached clients every --hang-events-ms milliseconds (none by default).
// SIGUSR2 sends a burst of --burst events (default 10000) spread over
// --burst-ms milliseconds (default 10000).  The request log notes when
// either took effect and when a burst has been sent.  SIGALRM restarts it
// as the daemon restarts: the socket goes away, a new one is bound at the
// same path, and the clients attached before are forgotten.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <err.h>
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <unistd.h>

#include "simsupp.h"

static int signal_pipe[2] = {-1, -1};
static bool restart_wanted;
static int hang_events_ms;

int64_t
now_ms(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

static std::string
vstrprintf(const char *fmt, va_list ap)
{
	va_list ap2;
	va_copy(ap2, ap);
	int n = vsnprintf(nullptr, 0, fmt, ap2);
	va_end(ap2);
	if (n <= 0)
		return std::string();
	std::string out(static_cast<size_t>(n), '\0');
	vsnprintf(out.data(), out.size() + 1, fmt, ap);
	return out;
}

std::string
strprintf(const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	std::string out = vstrprintf(fmt, ap);
	va_end(ap);
	return out;
}

// Sends to every attached client.  A client whose socket is gone is
// detached at once; one that keeps failing (a full queue) after ten tries
// in a row, as the daemon does, unless `may_detach` is false.
static void
event_broadcast(sim &s, const std::string &text, bool may_detach = true)
{
	std::string msg = "<3>" + text;

	for (size_t i = 0; i < s.clients.size();) {
		sim_client &c = s.clients[i];
		ssize_t n = sendto(s.fd, msg.data(), msg.size(),
		    MSG_DONTWAIT | MSG_NOSIGNAL,
		    reinterpret_cast<struct sockaddr *>(&c.addr), c.len);
		if (n >= 0) {
			c.errors = 0;
			i++;
			continue;
		}
		bool gone = errno == ENOENT || errno == ECONNREFUSED ||
		    errno == ENOTDIR || errno == EPERM || errno == EACCES;
		if (gone || (++c.errors > 10 && may_detach))
			s.clients.erase(s.clients.begin() +
			    static_cast<ptrdiff_t>(i));
		else
			i++;
	}
}

void
event_send(sim &s, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	std::string text = vstrprintf(fmt, ap);
	va_end(ap);
	if (s.in_request)
		s.deferred.push_back(std::move(text));
	else
		event_broadcast(s, text);
}

void
event_send_now(sim &s, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	std::string text = vstrprintf(fmt, ap);
	va_end(ap);
	event_broadcast(s, text);
}

static sim_timer &
timer_push(sim &s, int delay_ms, sim_timer_kind kind, int arg)
{
	sim_timer t{};
	t.when = now_ms() + (delay_ms > 0 ? delay_ms : 0);
	t.kind = kind;
	t.arg = arg;
	t.gen = s.gen;
	s.timers.push_back(std::move(t));
	return s.timers.back();
}

void
timer_add(sim &s, int delay_ms, sim_timer_kind kind, int arg)
{
	timer_push(s, delay_ms, kind, arg);
}

static void
reply_send(sim &s, const std::string &reply, const struct sockaddr_un *to,
    socklen_t to_len)
{
	// A client that is gone or not reading misses its reply; the daemon
	// does not wait for anyone.
	(void)sendto(s.fd, reply.data(), reply.size(),
	    MSG_DONTWAIT | MSG_NOSIGNAL,
	    reinterpret_cast<const struct sockaddr *>(to), to_len);
}

// The request log (see log_request) also holds the daemon's own lines:
// what a signal did, the end of a burst.  They begin with a backslash and
// a space, which no request's line can, and a test waits for them instead
// of guessing how long the daemon takes.
static void
log_note(sim &s, const char *what)
{
	if (s.log == nullptr)
		return;
	fprintf(s.log, "\\ %s\n", what);
	fflush(s.log);
}

// A burst sends, every BURST_TICK_MS, the events due by then, so that it
// keeps its rate and its length when this process gets little time.  A
// client that cannot take them all misses some, but is not detached for
// it: the burst is a test's device, not one of the daemon's events.
static constexpr int BURST_TICK_MS = 10;

static void
burst_step(sim &s)
{
	int64_t elapsed = now_ms() - s.burst_start + BURST_TICK_MS;
	int64_t due = elapsed < s.opt.burst_ms ?
	    s.opt.burst * elapsed / s.opt.burst_ms : s.opt.burst;

	for (; s.burst_sent < due; s.burst_sent++)
		event_broadcast(s, strprintf("CTRL-EVENT-SIGNAL-CHANGE above=1 "
		    "signal=%d noise=9999 txrate=65000", -50 - s.burst_sent % 40),
		    false);
	s.bursting = s.burst_sent < s.opt.burst;
	if (s.bursting)
		timer_add(s, BURST_TICK_MS, TIMER_BURST, 0);
	else
		log_note(s, "burst sent");
}

static void
timer_fire(sim &s, sim_timer &t)
{
	switch (t.kind) {
	case TIMER_EVENT:
		event_send(s, "%s", t.text.c_str());
		break;
	case TIMER_REPLY:
		reply_send(s, t.text, &t.to, t.to_len);
		break;
	case TIMER_SCAN_DONE:
		scan_finish(s);
		event_send(s, "CTRL-EVENT-SCAN-RESULTS ");
		link_after_scan(s);
		break;
	case TIMER_LINK:
		if (t.gen == s.gen)
			link_step(s, t.arg);
		break;
	case TIMER_BURST:
		burst_step(s);
		break;
	}
}

// Runs every timer that is due, earliest first (in the order they were
// added when equal); returns the milliseconds until the next, or -1.
static int
timers_run(sim &s)
{
	for (;;) {
		if (s.timers.empty())
			return -1;
		size_t first = 0;
		for (size_t i = 1; i < s.timers.size(); i++)
			if (s.timers[i].when < s.timers[first].when)
				first = i;
		int64_t wait = s.timers[first].when - now_ms();
		if (wait > 0)
			return wait > INT_MAX ? INT_MAX : static_cast<int>(wait);
		sim_timer t = std::move(s.timers[first]);
		s.timers.erase(s.timers.begin() + static_cast<ptrdiff_t>(first));
		timer_fire(s, t);
	}
}

// The request log: one line a request.  Printable ASCII stands as it is
// (quotes included, so that a logged request reads as it was sent); a
// backslash and every other byte are escaped, so each request stays on one
// line.  Nothing is redacted, passphrases included: this is a test tool,
// and the tests compare exact request sequences.

static void
log_request(sim &s, std::string_view req)
{
	if (s.log == nullptr)
		return;
	for (unsigned char c : req) {
		if (c == '\\')
			fputs("\\\\", s.log);
		else if (c >= 32 && c <= 126)
			fputc(c, s.log);
		else
			fprintf(s.log, "\\x%02x", c);
	}
	fputc('\n', s.log);
	fflush(s.log);
}

static void
request_receive(sim &s)
{
	char buf[SIM_REQUEST_MAX + 1];
	struct sockaddr_un from;
	struct iovec iov = {buf, sizeof(buf)};
	struct msghdr msg{};

	msg.msg_name = &from;
	msg.msg_namelen = sizeof(from);
	msg.msg_iov = &iov;
	msg.msg_iovlen = 1;
	ssize_t n = recvmsg(s.fd, &msg, MSG_DONTWAIT);
	if (n < 0) {
		if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
			warn("recvmsg");
		return;
	}
	std::string_view req(buf, static_cast<size_t>(n));
	bool truncated = (msg.msg_flags & MSG_TRUNC) ||
	    static_cast<size_t>(n) > SIM_REQUEST_MAX;
	if (truncated)
		req = req.substr(0, SIM_REQUEST_MAX);
	// The daemon reads a request as a C string.
	req = req.substr(0, req.find('\0'));

	s.requests++;
	log_request(s, req);
	if (s.opt.hang_after >= 0 && s.requests > s.opt.hang_after)
		return;

	std::string reply;
	memcpy(&s.from, &from, sizeof(from));
	s.from_len = msg.msg_namelen;
	s.in_request = true;
	if (truncated)
		reply = "FAIL\n";
	else
		request_handle(s, req, reply);
	s.in_request = false;

	for (int i = 0; i < s.opt.flood; i++)
		event_broadcast(s, strprintf("CTRL-EVENT-SIGNAL-CHANGE above=1 "
		    "signal=%d noise=9999 txrate=65000", -50 - i % 40));
	if (s.opt.late_ms > 0) {
		sim_timer &t = timer_push(s, s.opt.late_ms, TIMER_REPLY, 0);
		t.text = std::move(reply);
		memcpy(&t.to, &from, sizeof(from));
		t.to_len = msg.msg_namelen;
	} else {
		reply_send(s, reply, &from, msg.msg_namelen);
	}
	std::vector<std::string> later;
	later.swap(s.deferred);
	for (const auto &e : later)
		event_broadcast(s, e);
}

static void
on_signal(int sig)
{
	int e = errno;
	char c = static_cast<char>(sig);
	(void)!write(signal_pipe[1], &c, 1);
	errno = e;
}

// The signals that arrived: false when one of them asks to stop.
static bool
signals_take(sim &s)
{
	char sigs[16];
	ssize_t n = read(signal_pipe[0], sigs, sizeof(sigs));

	for (ssize_t i = 0; i < n; i++) {
		if (sigs[i] == SIGUSR1) {
			bool hanging = s.opt.hang_after >= 0 &&
			    s.requests >= s.opt.hang_after;
			s.opt.hang_after = hanging ? -1 : s.requests;
			log_note(s, hanging ? "answering" : "not answering");
		} else if (sigs[i] == SIGALRM) {
			restart_wanted = true;
		} else if (sigs[i] == SIGUSR2) {
			s.burst_start = now_ms();
			s.burst_sent = 0;
			if (!s.bursting && s.opt.burst > 0)
				timer_add(s, 0, TIMER_BURST, 0);
			s.bursting = s.opt.burst > 0;
		} else {
			return false;
		}
	}
	return true;
}

static socklen_t
addr_set(struct sockaddr_un *sa, const char *path)
{
	size_t len = strlen(path);

	memset(sa, 0, sizeof(*sa));
	sa->sun_family = AF_UNIX;
	if (len >= sizeof(sa->sun_path))
		return 0;
	memcpy(sa->sun_path, path, len);
	return static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) +
	    len + 1);
}

// Binds the control socket.  Like the daemon: the directory is made when it
// is missing (rwx for owner and group); a socket left behind by a daemon
// that is gone is replaced, one that still answers is not.  *made_dir says
// whether the directory was made here.
static int
ctrl_bind(const char *path, bool *made_dir)
{
	struct sockaddr_un sa;
	socklen_t len = addr_set(&sa, path);

	*made_dir = false;
	if (len == 0)
		errx(1, "%s: path too long for a local socket", path);
	std::string dir(path);
	size_t slash = dir.rfind('/');
	dir = slash == std::string::npos ? "." : slash == 0 ? "/" :
	    dir.substr(0, slash);
	if (mkdir(dir.c_str(), 0770) == 0)
		*made_dir = true;
	else if (errno != EEXIST)
		err(1, "mkdir %s", dir.c_str());

	int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
	if (fd == -1)
		err(1, "socket");
	if (fcntl(fd, F_SETFD, FD_CLOEXEC) == -1 ||
	    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == -1)
		err(1, "fcntl");
	struct stat st;
	if (lstat(path, &st) == 0) {
		if (!S_ISSOCK(st.st_mode))
			errx(1, "%s exists and is not a socket", path);
		int probe = socket(AF_UNIX, SOCK_DGRAM, 0);
		if (probe != -1 && connect(probe,
		    reinterpret_cast<struct sockaddr *>(&sa), len) == 0)
			errx(1, "%s is in use by another daemon", path);
		if (probe != -1)
			close(probe);
		if (unlink(path) == -1)
			err(1, "unlink %s", path);
	}
	if (bind(fd, reinterpret_cast<struct sockaddr *>(&sa), len) == -1)
		err(1, "bind %s", path);
	if (chmod(path, 0770) == -1)
		warn("chmod %s", path);
	return fd;
}

static void
usage(void)
{
	fprintf(stderr, "usage: simsupp -s socket [-c config] [-f world] "
	    "[--seed n]\n"
	    "               [--scan-delay-ms n] [--connect-delay-ms n] "
	    "[--log file]\n"
	    "               [--start-disconnected] [--empty-bss] "
	    "[--hang-after n]\n"
	    "               [--late-replies ms] [--flood n] [--burst n] "
	    "[--burst-ms ms]\n"
	    "               [--hang-events-ms ms] [--watch-fd fd] [--no-wpa3]\n");
	exit(1);
}

static long long
number_arg(const char *name, const char *text, long long min, long long max)
{
	long long v;

	if (!parse_int(text, min, max, &v))
		errx(1, "%s: invalid number: %s", name, text);
	return v;
}

static void
options_parse(sim &s, int argc, char **argv)
{
	enum {
		OPT_SEED = 256, OPT_SCAN_DELAY, OPT_CONNECT_DELAY, OPT_LOG,
		OPT_START_DISCONNECTED, OPT_HANG_AFTER, OPT_LATE, OPT_FLOOD,
		OPT_WATCH_FD, OPT_EMPTY_BSS, OPT_BURST, OPT_BURST_MS,
		OPT_HANG_EVENTS, OPT_NO_WPA3,
	};
	static const struct option longopts[] = {
		{"socket", required_argument, nullptr, 's'},
		{"config", required_argument, nullptr, 'c'},
		{"world", required_argument, nullptr, 'f'},
		{"seed", required_argument, nullptr, OPT_SEED},
		{"scan-delay-ms", required_argument, nullptr, OPT_SCAN_DELAY},
		{"connect-delay-ms", required_argument, nullptr, OPT_CONNECT_DELAY},
		{"log", required_argument, nullptr, OPT_LOG},
		{"start-disconnected", no_argument, nullptr, OPT_START_DISCONNECTED},
		{"hang-after", required_argument, nullptr, OPT_HANG_AFTER},
		{"late-replies", required_argument, nullptr, OPT_LATE},
		{"flood", required_argument, nullptr, OPT_FLOOD},
		{"watch-fd", required_argument, nullptr, OPT_WATCH_FD},
		{"empty-bss", no_argument, nullptr, OPT_EMPTY_BSS},
		{"burst", required_argument, nullptr, OPT_BURST},
		{"burst-ms", required_argument, nullptr, OPT_BURST_MS},
		{"hang-events-ms", required_argument, nullptr, OPT_HANG_EVENTS},
		{"no-wpa3", no_argument, nullptr, OPT_NO_WPA3},
		{"help", no_argument, nullptr, 'h'},
		{nullptr, 0, nullptr, 0},
	};
	int ch;

	s.opt.seed = 1;
	s.opt.scan_delay_ms = 300;
	s.opt.connect_delay_ms = 120;
	s.opt.hang_after = -1;
	s.opt.watch_fd = -1;
	s.opt.burst = 10000;
	s.opt.burst_ms = 10000;
	while ((ch = getopt_long(argc, argv, "s:c:f:h", longopts, nullptr)) !=
	    -1) {
		switch (ch) {
		case 's': s.opt.ctrl_path = optarg; break;
		case 'c': s.opt.config_path = optarg; break;
		case 'f': s.opt.world_path = optarg; break;
		case OPT_LOG: s.opt.log_path = optarg; break;
		case OPT_SEED:
			s.opt.seed = static_cast<uint64_t>(number_arg("seed", optarg,
			    0, LLONG_MAX));
			break;
		case OPT_SCAN_DELAY:
			s.opt.scan_delay_ms = static_cast<int>(number_arg(
			    "scan-delay-ms", optarg, 0, 60000));
			break;
		case OPT_CONNECT_DELAY:
			s.opt.connect_delay_ms = static_cast<int>(number_arg(
			    "connect-delay-ms", optarg, 0, 60000));
			break;
		case OPT_START_DISCONNECTED: s.opt.start_disconnected = true; break;
		case OPT_EMPTY_BSS: s.opt.empty_bss = true; break;
		case OPT_NO_WPA3: s.opt.no_wpa3 = true; break;
		case OPT_BURST:
			s.opt.burst = static_cast<int>(number_arg("burst", optarg, 0,
			    1000000));
			break;
		case OPT_BURST_MS:
			s.opt.burst_ms = static_cast<int>(number_arg("burst-ms", optarg,
			    0, 600000));
			break;
		case OPT_HANG_EVENTS:
			hang_events_ms = static_cast<int>(number_arg("hang-events-ms",
			    optarg, 1, 600000));
			break;
		case OPT_HANG_AFTER:
			s.opt.hang_after = static_cast<long>(number_arg("hang-after",
			    optarg, 0, LONG_MAX));
			break;
		case OPT_LATE:
			s.opt.late_ms = static_cast<int>(number_arg("late-replies",
			    optarg, 0, 60000));
			break;
		case OPT_FLOOD:
			s.opt.flood = static_cast<int>(number_arg("flood", optarg, 0,
			    10000));
			break;
		case OPT_WATCH_FD:
			s.opt.watch_fd = static_cast<int>(number_arg("watch-fd", optarg,
			    0, INT_MAX));
			break;
		default:
			usage();
		}
	}
	if (optind != argc || s.opt.ctrl_path == nullptr)
		usage();
}

int
main(int argc, char **argv)
{
	static sim s{};
	std::string why;

	options_parse(s, argc, argv);
	s.fd = -1;
	s.rng = s.opt.seed;
	s.cur_id = s.cur_ap = s.select_id = -1;
	static constexpr uint8_t own[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x10};
	memcpy(s.own_addr, own, sizeof(own));

	if (s.opt.world_path != nullptr) {
		if (!world_load(s, s.opt.world_path, why))
			errx(1, "%s", why.c_str());
	} else {
		world_default(s);
	}
	if (s.opt.config_path != nullptr && !config_load(s, s.opt.config_path,
	    why))
		errx(1, "%s", why.c_str());
	world_start(s);
	link_start(s);
	if (s.opt.log_path != nullptr &&
	    (s.log = fopen(s.opt.log_path, "we")) == nullptr)
		err(1, "%s", s.opt.log_path);

	if (pipe(signal_pipe) == -1)
		err(1, "pipe");
	for (int fd : signal_pipe)
		if (fcntl(fd, F_SETFD, FD_CLOEXEC) == -1 ||
		    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == -1)
			err(1, "fcntl");
	struct sigaction sa{};
	sa.sa_handler = on_signal;
	sigemptyset(&sa.sa_mask);
	// A hang-up (the demo's terminal closing) ends it as cleanly as TERM.
	if (sigaction(SIGTERM, &sa, nullptr) == -1 ||
	    sigaction(SIGINT, &sa, nullptr) == -1 ||
	    sigaction(SIGHUP, &sa, nullptr) == -1 ||
	    sigaction(SIGUSR1, &sa, nullptr) == -1 ||
	    sigaction(SIGUSR2, &sa, nullptr) == -1 ||
	    sigaction(SIGALRM, &sa, nullptr) == -1)
		err(1, "sigaction");
	signal(SIGPIPE, SIG_IGN);

	bool made_dir;
	s.fd = ctrl_bind(s.opt.ctrl_path, &made_dir);

	int64_t hang_tick = now_ms() + hang_events_ms;
	while (!s.stop) {
		int wait = timers_run(s);
		// A daemon that hangs may still send events.
		if (hang_events_ms > 0) {
			int64_t now = now_ms();
			if (now >= hang_tick) {
				if (s.opt.hang_after >= 0 && s.requests >= s.opt.hang_after)
					event_broadcast(s, "CTRL-EVENT-SIGNAL-CHANGE above=1 "
					    "signal=-60 noise=9999 txrate=65000");
				hang_tick = now + hang_events_ms;
			}
			int left = static_cast<int>(hang_tick - now);
			if (wait < 0 || left < wait)
				wait = left;
		}
		struct pollfd pfd[3] = {
			{s.fd, POLLIN, 0},
			{signal_pipe[0], POLLIN, 0},
			{s.opt.watch_fd, POLLIN, 0},
		};
		if (poll(pfd, s.opt.watch_fd >= 0 ? 3 : 2, wait) == -1) {
			if (errno == EINTR)
				continue;
			err(1, "poll");
		}
		if ((pfd[1].revents & POLLIN) && !signals_take(s))
			break;
		if (restart_wanted) {
			restart_wanted = false;
			close(s.fd);
			unlink(s.opt.ctrl_path);
			s.clients.clear();
			bool made;
			s.fd = ctrl_bind(s.opt.ctrl_path, &made);
			continue;
		}
		// The watched descriptor (a pipe from a test that started this
		// process) ends when its holder is gone, crashed or not.
		if (s.opt.watch_fd >= 0 && pfd[2].revents != 0) {
			char c;
			if (read(s.opt.watch_fd, &c, 1) <= 0)
				break;
		}
		// A bounded batch per wake-up keeps timers running under a flood.
		for (int i = 0; i < 64 && (pfd[0].revents & POLLIN) && !s.stop; i++) {
			struct pollfd one = {s.fd, POLLIN, 0};
			if (i > 0 && poll(&one, 1, 0) != 1)
				break;
			request_receive(s);
		}
	}

	close(s.fd);
	unlink(s.opt.ctrl_path);
	if (made_dir) {
		std::string dir(s.opt.ctrl_path);
		size_t slash = dir.rfind('/');
		if (slash != std::string::npos && slash > 0)
			rmdir(dir.substr(0, slash).c_str());
	}
	if (s.log != nullptr)
		fclose(s.log);
	return 0;
}
