// The live measurements: corvid itself in a pseudo-terminal of 80x34,
// against the simulated supplicant, and the supplicant client against the
// real daemon in a private network namespace.
//
//	live_bench keys              key latency: 'j' to the whole new frame
//	live_bench fetch             known-networks fetch against the floor,
//	                             and the start-up time to the first frame
//	live_bench idle [seconds]    wake-ups and CPU time with no input
//	live_bench memory [minutes]  peak and per-minute resident size while
//	                             the daemon scans every second
//	live_bench frames            bytes per frame, frames of a scan cycle
//	live_bench crowded [starts]  start-up, scan-results fetch and peak
//	                             memory with 60 and with 300 access points
//	live_bench table             the figures on standard input as a table
//
// Each figure is printed as one line, "@figure<TAB>value<TAB>budget<TAB>
// verdict" with the verdict "pass", "FAIL", "info" or "skip"; tools/bench.sh
// gathers them into its table.  The exit status is 1 when a figure failed
// and 2 when the measurement could not be made.
//
// corvid runs in a network namespace of its own where it can have one, so
// that address changes made by other programs on this machine do not wake
// it.  Every process started here is stopped before the program ends.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "files.h"
#include "netns.h"
#include "proc.h"
#include "simsupp_harness.h"
#include "wifi.h"

static constexpr int ROWS = 34;
static constexpr int COLS = 80;
static constexpr int KNOWN_COUNT = 64;
static constexpr int SCAN_COUNT = 100;

static constexpr std::string_view FRAME_START = "\e[2J\e[1;1H";
// An overlay draws in colour; a frame without one ends at the bottom border.
static constexpr std::string_view NOTIFICATION_COLOUR = "\e[33m";

static bool failed;

// What is to be undone however the program ends: the processes started
// and not yet reaped, the real daemon while it runs, the directories made.
struct leftover_list {
	std::vector<pid_t> pids;
	real_daemon *daemon;
	std::vector<std::string> dirs;
};

static leftover_list leftovers;

// ---------------------------------------------------------------------------
// Reporting and small helpers

// A figure the machine was too noisy to judge: the run ends with status 2.
static bool noisy;

static void
figure(const std::string &name, const std::string &value,
    const std::string &budget, const char *verdict)
{
	printf("@%s\t%s\t%s\t%s\n", name.c_str(), value.c_str(), budget.c_str(),
	    verdict);
	fflush(stdout);
	if (strcmp(verdict, "FAIL") == 0)
		failed = true;
}

static const char *
verdict(bool ok)
{
	return ok ? "pass" : "FAIL";
}

static std::string
format(const char *fmt, ...)
{
	char buf[256];
	va_list ap;

	va_start(ap, fmt);
	vsnprintf(buf, sizeof buf, fmt, ap);
	va_end(ap);
	return buf;
}

[[noreturn]] static void
die(const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	fputs("live_bench: ", stderr);
	vfprintf(stderr, fmt, ap);
	fputc('\n', stderr);
	va_end(ap);
	exit(2);
}

static int64_t
now_ns(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static double
median(std::vector<double> v)
{
	if (v.empty())
		return NAN;
	std::sort(v.begin(), v.end());
	size_t n = v.size();
	return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The nearest-rank percentile.
static double
percentile(std::vector<double> v, double p)
{
	if (v.empty())
		return NAN;
	std::sort(v.begin(), v.end());
	auto rank = static_cast<size_t>(std::ceil(p / 100 * v.size()));
	return v[rank == 0 ? 0 : rank - 1];
}

static size_t
count_of(std::string_view s, std::string_view what)
{
	size_t n = 0;
	for (size_t at = s.find(what); at != s.npos; at = s.find(what, at + 1))
		n++;
	return n;
}

static std::string
bottom_border(void)
{
	std::string s = "╰";
	for (int i = 0; i < COLS - 2; i++)
		s += "─";
	return s + "╯";
}

// ---------------------------------------------------------------------------
// The world: 64 stored networks and 100 access points

// Network blocks that both the real daemon and simsupp read: open, EAP and
// PSK networks, some hidden, some disabled, SSIDs with double-width text.
static std::string
networks_config(int count = KNOWN_COUNT)
{
	std::string s;

	for (int i = 0; i < count; i++) {
		s += "network={\n";
		s += i % 8 == 5 ? format("\tssid=\"東京-%02d\"\n", i) :
		    format("\tssid=\"Net-%02d\"\n", i);
		switch (i % 4) {
		case 0:
			s += "\tkey_mgmt=NONE\n";
			break;
		case 1:
			s += "\tkey_mgmt=WPA-EAP\n\teap=PEAP\n"
			    "\tidentity=\"user\"\n\tpassword=\"secret\"\n";
			break;
		default:
			s += format("\tpsk=\"passphrase-%02d\"\n", i);
		}
		if (i % 7 == 0)
			s += "\tscan_ssid=1\n";
		if (i % 9 == 4)
			s += "\tdisabled=1\n";
		s += format("\tpriority=%d\n}\n\n", i % 10);
	}
	return s;
}

// A hundred access points whose SCAN_RESULTS reply still fits the client's
// 4095-byte reply buffer: short SSIDs, a few of them double-width, a few
// protected.
static std::string
world_file(int count = SCAN_COUNT)
{
	std::string s;

	for (int i = 0; i < count; i++) {
		int freq = i % 2 ? 2412 + 5 * (i % 13) : 5180 + 20 * (i % 8);
		s += format("bssid=02:00:00:00:%02x:%02x freq=%d signal=%d "
		    "flags=%s ssid=\"%s%02d\"\n", i / 256, i % 256, freq,
		    -40 - i / 2 % 50, i % 17 == 0 ? "[WPA2-PSK-CCMP][ESS]" : "[ESS]",
		    i % 20 == 3 ? "東" : "AP-", i);
	}
	return s;
}

// A private directory for the sockets and files of one measurement.
struct workdir {
	std::string path;
};

static workdir
workdir_make(void)
{
	char tmpl[] = "/tmp/corvid-bench-XXXXXX";

	if (mkdtemp(tmpl) == nullptr)
		die("mkdtemp: %s", strerror(errno));
	leftovers.dirs.push_back(tmpl);
	return {tmpl};
}

static void
workdir_remove(workdir *w)
{
	std::error_code ec;
	std::filesystem::remove_all(w->path, ec);
	std::erase(leftovers.dirs, w->path);
}

// The file written whole, or the run ends.
static void
file_put(const std::string &path, const std::string &text)
{
	if (!file_write(path, text))
		die("cannot write %s", path.c_str());
}

// ---------------------------------------------------------------------------
// Processes

static void
process_started(pid_t pid)
{
	leftovers.pids.push_back(pid);
}

static void
process_reaped(pid_t pid)
{
	std::erase(leftovers.pids, pid);
}

static void
process_stop(pid_t pid)
{
	int status;

	if (pid <= 0)
		return;
	kill(pid, SIGTERM);
	for (int i = 0; i < 300; i++) {
		if (waitpid(pid, &status, WNOHANG) == pid) {
			process_reaped(pid);
			return;
		}
		usleep(10000);
	}
	kill(pid, SIGKILL);
	waitpid(pid, &status, 0);
	process_reaped(pid);
}

static void
leftovers_release(void)
{
	while (!leftovers.pids.empty())
		process_stop(leftovers.pids.back());
	if (leftovers.daemon != nullptr)
		real_daemon_stop(leftovers.daemon);
	leftovers.daemon = nullptr;
	for (const auto &dir : leftovers.dirs) {
		std::error_code ec;
		std::filesystem::remove_all(dir, ec);
	}
	leftovers.dirs.clear();
}

// Interrupted: undo what was made, then end as the signal would have.
static void
on_signal(int sig)
{
	leftovers_release();
	signal(sig, SIG_DFL);
	raise(sig);
}

// The simulated supplicant (simsupp_harness.h) with the stored networks
// and the access points of this world; it also ends should this program
// die.
static simsupp_proc
simsupp_run(const workdir &w, int aps = SCAN_COUNT, int known = KNOWN_COUNT,
    const std::vector<std::string> &extra = {})
{
	simsupp_proc s;
	std::string world = w.path + "/world";
	std::vector<std::string> args = {"-f", world, "--start-disconnected"};

	args.insert(args.end(), extra.begin(), extra.end());
	file_put(world, world_file(aps));
	if (!simsupp_start(&s, SIMSUPP_BINARY, "ctrl_interface=/var/run/"
	    "wpa_supplicant\nupdate_config=1\n\n" + networks_config(known),
	    args))
		die("simsupp did not start");
	process_started(s.pid);
	leftovers.dirs.push_back(s.dir);
	return s;
}

static void
simsupp_end(simsupp_proc *s)
{
	pid_t pid = s->pid;
	std::string dir = s->dir;

	simsupp_stop(s);
	process_reaped(pid);
	std::erase(leftovers.dirs, dir);
}

// corvid on the controlling side of a pseudo-terminal of 80x34.
struct corvid_proc {
	pid_t pid = -1;
	int master = -1;
	std::string out;          // what it wrote and has not been consumed
};

static corvid_proc
corvid_start(const std::string &ctrl_path, bool private_net)
{
	corvid_proc c;
	struct winsize ws = {};

	ws.ws_row = ROWS;
	ws.ws_col = COLS;
	c.pid = forkpty(&c.master, nullptr, nullptr, &ws);
	if (c.pid == -1)
		die("forkpty: %s", strerror(errno));
	if (c.pid == 0) {
		// Without root there is no private namespace: corvid then
		// listens to this machine's address changes.
		if (private_net)
			(void)unshare(CLONE_NEWNET);
		setenv("LANG", "C.UTF-8", 1);
		setenv("LC_ALL", "C.UTF-8", 1);
		setenv("TERM", "xterm-256color", 1);
		execl(CORVID_BINARY, "corvid", "-c", ctrl_path.c_str(),
		    static_cast<char *>(nullptr));
		_exit(127);
	}
	process_started(c.pid);
	fcntl(c.master, F_SETFL, fcntl(c.master, F_GETFL) | O_NONBLOCK);
	fcntl(c.master, F_SETFD, FD_CLOEXEC);
	return c;
}

// Reads what corvid wrote within `timeout_ms`; false when it has gone.
static bool
corvid_read(corvid_proc *c, int timeout_ms)
{
	struct pollfd pfd = {c->master, POLLIN, 0};
	char buf[65536];

	if (poll(&pfd, 1, timeout_ms) <= 0)
		return true;
	ssize_t n = read(c->master, buf, sizeof buf);
	if (n <= 0)
		return n == -1 && errno == EAGAIN;
	c->out.append(buf, static_cast<size_t>(n));
	return true;
}

// Reads until nothing more comes for `quiet_ms`.
static void
corvid_settle(corvid_proc *c, int quiet_ms)
{
	for (;;) {
		size_t before = c->out.size();
		if (!corvid_read(c, quiet_ms))
			die("corvid ended; it wrote:\n%s", c->out.c_str());
		if (c->out.size() == before)
			return;
	}
}

// Waits (at most 10 s) until a whole frame without overlays has arrived.
static void
corvid_wait_frame(corvid_proc *c)
{
	std::string border = bottom_border();
	int64_t end = now_ns() + 10000000000LL;

	while (c->out.find(border) == std::string::npos) {
		if (now_ns() > end || !corvid_read(c, 100))
			die("no frame from corvid; it wrote:\n%s", c->out.c_str());
	}
}

static void
corvid_stop(corvid_proc *c)
{
	if (c->pid > 0) {
		kill(c->pid, SIGTERM);
		// Keep reading, so that its last writes never block.
		for (int i = 0; i < 300; i++) {
			int status;
			if (waitpid(c->pid, &status, WNOHANG) == c->pid) {
				process_reaped(c->pid);
				c->pid = -1;
				break;
			}
			corvid_read(c, 10);
		}
		if (c->pid > 0) {
			kill(c->pid, SIGKILL);
			waitpid(c->pid, nullptr, 0);
			process_reaped(c->pid);
			c->pid = -1;
		}
	}
	if (c->master != -1)
		close(c->master);
	c->master = -1;
}

static void
corvid_key(corvid_proc *c, char key)
{
	if (write(c->master, &key, 1) != 1)
		die("write to the terminal: %s", strerror(errno));
}

// Frames in a stretch of output, each from its "clear screen" on.
static std::vector<std::string_view>
frames_split(std::string_view s)
{
	std::vector<std::string_view> frames;
	size_t at = s.find(FRAME_START);

	while (at != s.npos) {
		size_t next = s.find(FRAME_START, at + 1);
		frames.push_back(s.substr(at, next == s.npos ? s.npos : next - at));
		at = next;
	}
	return frames;
}

// Time on the CPU, user and system, in nanoseconds.
static int64_t
cpu_ns(pid_t pid)
{
	std::ifstream sched("/proc/" + std::to_string(pid) + "/schedstat");
	long long run;

	if (sched >> run)
		return run;
	// Without scheduler statistics: clock ticks from stat.
	std::string stat = file_read("/proc/" + std::to_string(pid) + "/stat");
	size_t paren = stat.rfind(')');
	if (paren == stat.npos)
		return -1;
	std::istringstream in(stat.substr(paren + 2));
	std::string field;
	long long utime = 0, stime = 0;
	for (int i = 3; i <= 15 && in >> field; i++) {
		if (i == 14)
			utime = atoll(field.c_str());
		if (i == 15)
			stime = atoll(field.c_str());
	}
	return (utime + stime) * (1000000000LL / sysconf(_SC_CLK_TCK));
}

// The shared libraries a process has mapped, by file name.
static std::string
libraries(pid_t pid)
{
	std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
	std::vector<std::string> names;
	std::string line;

	while (std::getline(in, line)) {
		size_t slash = line.rfind('/');
		if (slash == line.npos || line.find(".so", slash) == line.npos)
			continue;
		std::string name = line.substr(slash + 1);
		if (std::find(names.begin(), names.end(), name) == names.end())
			names.push_back(name);
	}
	std::string all;
	for (const auto &n : names)
		all += (all.empty() ? "" : " ") + n;
	return all;
}

static bool
is_root(void)
{
	return geteuid() == 0;
}

// ---------------------------------------------------------------------------
// Key latency

// A stand-in for corvid on a terminal of its own: it answers every byte it
// reads with one write of the same frame.  Its latency is what the terminal
// and the scheduler cost: the floor under corvid's.
static corvid_proc
echo_start(const std::string &frame)
{
	corvid_proc e;
	struct winsize ws = {};

	ws.ws_row = ROWS;
	ws.ws_col = COLS;
	e.pid = forkpty(&e.master, nullptr, nullptr, &ws);
	if (e.pid == -1)
		die("forkpty: %s", strerror(errno));
	if (e.pid == 0) {
		struct termios t;
		char c;
		closefrom(3);
		if (tcgetattr(0, &t) == 0) {
			cfmakeraw(&t);
			tcsetattr(0, TCSANOW, &t);
		}
		while (read(0, &c, 1) == 1)
			if (write(1, frame.data(), frame.size()) !=
			    static_cast<ssize_t>(frame.size()))
				break;
		_exit(0);
	}
	process_started(e.pid);
	fcntl(e.master, F_SETFL, fcntl(e.master, F_GETFL) | O_NONBLOCK);
	fcntl(e.master, F_SETFD, FD_CLOEXEC);
	return e;
}

// Whether `out` ends with a whole frame: the block's last row `end`, or the
// overlays after it, which end in "\e[39m".
static bool
frame_complete(const std::string &out, const std::string &end)
{
	constexpr std::string_view overlay_end = "\e[39m";

	if (out.size() >= end.size() &&
	    out.compare(out.size() - end.size(), end.size(), end) == 0)
		return true;
	return out.find(end) != out.npos && out.size() >= overlay_end.size() &&
	    out.compare(out.size() - overlay_end.size(), overlay_end.size(),
	    overlay_end) == 0;
}

// Writes a key and reads until the output ends with `end`: the time from
// the write to the last byte, in microseconds.  What was pending before
// belonged to an earlier event and is dropped; what the key brought is
// left in `out`.
static double
round_trip(corvid_proc *c, char key, const std::string &end)
{
	corvid_read(c, 0);
	if (!c->out.empty())
		corvid_settle(c, 5);
	c->out.clear();

	int64_t t0 = now_ns();
	corvid_key(c, key);
	int64_t deadline = t0 + 2000000000LL;
	while (!frame_complete(c->out, end)) {
		if (now_ns() > deadline || !corvid_read(c, 100))
			die("no frame after a key; the terminal got:\n%s",
			    c->out.c_str());
	}
	return (now_ns() - t0) / 1000.0;
}

// Whether the output of one 'j' is exactly one frame and a new one: not an
// unrelated timer frame, not one with an overlay.
static bool
key_frame_clean(const std::string &out, const std::string &border,
    const std::string &last)
{
	return out.compare(0, FRAME_START.size(), FRAME_START) == 0 &&
	    count_of(out, FRAME_START) == 1 && count_of(out, border) == 1 &&
	    out.find(NOTIFICATION_COLOUR) == std::string::npos && out != last;
}

// One round of key latencies: corvid's and the floor's, taken in turns so
// that both see the same load.
struct key_round {
	std::vector<double> us, floor_us;
	int spoilt = 0;
	double cpu_us = 0;
};

static key_round
key_round_run(corvid_proc *c, corvid_proc *e, const std::string &border,
    std::string *last, int warmup, int samples)
{
	key_round r;
	int64_t cpu0 = 0;

	for (int i = 0; i < warmup + samples && r.spoilt < samples; i++) {
		if (i == warmup && cpu0 == 0)
			cpu0 = cpu_ns(c->pid);
		double t = round_trip(c, 'j', border);
		bool clean = key_frame_clean(c->out, border, *last);
		*last = c->out;
		if (!clean) {
			// Notifications from a periodic scan would spoil every
			// frame until they expire: clear them (Ctrl-L).
			if (c->out.find(NOTIFICATION_COLOUR) != std::string::npos)
				round_trip(c, '\x0c', border);
			r.spoilt++;
			i--;
			continue;
		}
		double f = round_trip(e, 'j', border);
		if (i < warmup)
			continue;
		r.us.push_back(t);
		r.floor_us.push_back(f);
	}
	if (static_cast<int>(r.us.size()) < samples)
		die("too many spoilt samples (%d)", r.spoilt);
	// corvid's own time on the CPU for a key (spoilt samples included,
	// a few timer frames too): what the latency is made of besides
	// waiting for the terminal and for a CPU.
	r.cpu_us = (cpu_ns(c->pid) - cpu0) / 1e3 / (samples + r.spoilt);
	return r;
}

static int
bench_keys(void)
{
	constexpr int WARMUP = 50, SAMPLES = 1000, ROUNDS = 5;
	// A virtual machine stalls now and then for milliseconds, whatever
	// runs; the floor shows it.  Rounds are taken until one is quiet
	// enough to resolve the budget, and the quietest is judged.
	constexpr double QUIET_US = 500, BUDGET_US = 1000;
	workdir w = workdir_make();
	simsupp_proc s = simsupp_run(w);
	corvid_proc c = corvid_start(s.sock, is_root());
	std::string border = bottom_border(), last;

	corvid_wait_frame(&c);
	corvid_settle(&c, 200);
	std::vector<std::string_view> first = frames_split(c.out);
	if (first.empty())
		die("no frame from corvid");
	corvid_proc e = echo_start(std::string(first.back()));

	key_round best;
	double best_floor = 0;
	int rounds = 0;
	while (rounds < ROUNDS) {
		key_round r = key_round_run(&c, &e, border, &last,
		    rounds == 0 ? WARMUP : 0, SAMPLES);
		double floor_p99 = percentile(r.floor_us, 99);
		rounds++;
		if (rounds == 1 || floor_p99 < best_floor) {
			best = r;
			best_floor = floor_p99;
		}
		if (best_floor <= QUIET_US)
			break;
	}
	corvid_stop(&e);
	corvid_stop(&c);
	simsupp_end(&s);
	workdir_remove(&w);

	double p99 = percentile(best.us, 99);
	const char *judged = best_floor > BUDGET_US ? "noisy" : verdict(p99 <= BUDGET_US);
	figure("key latency, median of 1000 'j'",
	    format("%.0f µs", median(best.us)), "-", "info");
	figure("key latency, 99th percentile", format("%.0f µs", p99),
	    "≤ 1000 µs", judged);
	figure("  slowest", format("%.0f µs (%d samples spoilt by timer "
	    "frames, retaken)", percentile(best.us, 100), best.spoilt), "-",
	    "info");
	figure("  corvid's CPU time per key", format("%.0f µs", best.cpu_us),
	    "-", "info");
	figure("  terminal floor: median, 99th percentile",
	    format("%.0f µs, %.0f µs (quietest of %d rounds)",
	    median(best.floor_us), best_floor, rounds), "-", "info");
	if (strcmp(judged, "noisy") == 0)
		noisy = true;
	return 0;
}

// ---------------------------------------------------------------------------
// Fetch cost against the real daemon, and the start-up time

// The smallest client: a bound datagram socket, each request sent and its
// reply received, nothing else.
struct floor_client {
	int fd = -1;
	std::string path;
	std::vector<std::string> requests;
};

static floor_client
floor_open(const std::string &dir, const std::string &ctrl_path)
{
	floor_client f;
	struct sockaddr_un local = {}, dest = {};

	f.path = dir + "/floor.sock";
	local.sun_family = dest.sun_family = AF_UNIX;
	snprintf(local.sun_path, sizeof local.sun_path, "%s", f.path.c_str());
	snprintf(dest.sun_path, sizeof dest.sun_path, "%s", ctrl_path.c_str());
	f.fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	if (f.fd == -1 ||
	    bind(f.fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == -1 ||
	    connect(f.fd, reinterpret_cast<sockaddr *>(&dest), sizeof dest) == -1)
		die("floor client: %s", strerror(errno));
	return f;
}

// One request and its reply; the reply's length.
static ssize_t
floor_request(floor_client *f, const std::string &req, char *buf, size_t cap)
{
	if (send(f->fd, req.data(), req.size(), 0) !=
	    static_cast<ssize_t>(req.size()))
		die("floor send: %s", strerror(errno));
	ssize_t n = recv(f->fd, buf, cap, 0);
	if (n < 0)
		die("floor recv: %s", strerror(errno));
	return n;
}

// The 1 + 3n requests of a known-networks fetch, in the client's order.
static void
floor_prepare(floor_client *f)
{
	char buf[4096];
	ssize_t n = floor_request(f, "LIST_NETWORKS", buf, sizeof buf - 1);
	buf[n] = '\0';

	f->requests = {"LIST_NETWORKS"};
	std::istringstream in(buf);
	std::string line;
	std::getline(in, line);     // the column header
	while (std::getline(in, line)) {
		if (line.empty())
			continue;
		int id = atoi(line.c_str());
		for (const char *field : {"priority", "scan_ssid", "key_mgmt"})
			f->requests.push_back(format("GET_NETWORK %d %s", id, field));
	}
}

static double
floor_fetch_us(floor_client *f)
{
	char buf[4096];
	int64_t t0 = now_ns();

	for (const auto &req : f->requests)
		floor_request(f, req, buf, sizeof buf);
	return (now_ns() - t0) / 1000.0;
}

static double
client_fetch_us(wpa_ctrl *ctrl, size_t *count)
{
	int64_t t0 = now_ns();
	known_networks *known = known_networks_fetch(ctrl);
	double us = (now_ns() - t0) / 1000.0;

	if (known == nullptr)
		die("known_networks_fetch failed");
	*count = known->count;
	known_networks_free(known);
	return us;
}

// From the fork to the first "clear screen" read from the terminal.
static double
startup_ms(const std::string &ctrl_path)
{
	int64_t t0 = now_ns();
	corvid_proc c = corvid_start(ctrl_path, false);

	while (c.out.find(FRAME_START) == std::string::npos) {
		if (now_ns() - t0 > 10000000000LL || !corvid_read(&c, 100))
			die("corvid did not start; it wrote:\n%s", c.out.c_str());
	}
	double ms = (now_ns() - t0) / 1e6;
	corvid_stop(&c);
	return ms;
}

static void
fetch_skipped(const std::string &why)
{
	figure("known-networks fetch (real daemon)", "not measured: " + why,
	    "≤ 1.25 × floor", "skip");
	figure("start-up to the first frame", "not measured", "-", "skip");
}

static int
bench_fetch(void)
{
	constexpr int WARMUP = 20, ROUNDS = 300, STARTS = 30;
	std::string why = real_daemon_unavailable();
	real_daemon d;

	if (!why.empty()) {
		fetch_skipped(why);
		return 0;
	}
	if (!real_daemon_start(&d, networks_config(), &why)) {
		if (!d.unsupported)
			die("the real daemon did not start: %s", why.c_str());
		fetch_skipped(why);
		return 0;
	}
	leftovers.daemon = &d;
	wpa_ctrl *ctrl = ctrl_open(d.ctrl_path.c_str());
	if (ctrl == nullptr)
		die("ctrl_open %s: %s", d.ctrl_path.c_str(), strerror(errno));
	floor_client f = floor_open(d.dir, d.ctrl_path);
	floor_prepare(&f);

	// Interleaved, the order swapped every round, so that drift in the
	// machine's load touches both alike.
	std::vector<double> mine, base, ratio;
	size_t count = 0;
	for (int r = 0; r < WARMUP + ROUNDS; r++) {
		double a, b;
		if (r % 2) {
			a = client_fetch_us(ctrl, &count);
			b = floor_fetch_us(&f);
		} else {
			b = floor_fetch_us(&f);
			a = client_fetch_us(ctrl, &count);
		}
		if (r < WARMUP)
			continue;
		mine.push_back(a);
		base.push_back(b);
		ratio.push_back(a / b);
	}
	ctrl_close(ctrl);
	close(f.fd);

	std::vector<double> starts;
	for (int i = 0; i < STARTS; i++)
		starts.push_back(startup_ms(d.ctrl_path));
	real_daemon_stop(&d);
	leftovers.daemon = nullptr;

	if (count != KNOWN_COUNT)
		die("the fetch found %zu networks, not %d", count, KNOWN_COUNT);
	double m = median(mine), fl = median(base), k = m / fl;
	figure(format("known-networks fetch, %d networks (%zu requests)",
	    KNOWN_COUNT, f.requests.size()), format("%.0f µs (median of %d)",
	    m, ROUNDS), "-", "info");
	figure("  floor: the same requests, plain socket",
	    format("%.0f µs", fl), "-", "info");
	figure("  fetch / floor", format("%.3f (paired rounds: %.3f)", k,
	    median(ratio)), "≤ 1.25", verdict(k <= 1.25));
	figure("start-up to the first frame (64 known, real daemon)",
	    format("%.1f ms (median of %d, slowest %.1f)", median(starts),
	    STARTS, percentile(starts, 100)), "-", "info");
	return 0;
}

// ---------------------------------------------------------------------------
// Idle cost

// An attached client of our own: it receives every event the daemon sends
// to corvid.
struct monitor {
	wpa_ctrl *ctrl = nullptr;
	int events = 0;
};

static monitor
monitor_open(const std::string &ctrl_path)
{
	monitor m;

	if ((m.ctrl = ctrl_open(ctrl_path.c_str())) == nullptr ||
	    ctrl_attach(m.ctrl) != 0)
		die("cannot attach a monitor to %s", ctrl_path.c_str());
	return m;
}

static void
monitor_count(monitor *m)
{
	char buf[4096];

	while (recv(ctrl_fd(m->ctrl), buf, sizeof buf, MSG_DONTWAIT) > 0)
		m->events++;
}

static void
monitor_close(monitor *m)
{
	if (m->ctrl != nullptr) {
		(void)ctrl_detach(m->ctrl);
		ctrl_close(m->ctrl);
	}
	m->ctrl = nullptr;
}

static int
bench_idle(int seconds)
{
	workdir w = workdir_make();
	simsupp_proc s = simsupp_run(w);
	monitor m = monitor_open(s.sock);
	corvid_proc c = corvid_start(s.sock, is_root());

	corvid_wait_frame(&c);
	// The window starts at the first frame and ends a second after the
	// last timer tick it covers, so that the events of that tick's scan
	// are in it too.
	int64_t t0 = now_ns(), end = t0 + (seconds + 1) * 1000000000LL;
	monitor_count(&m);
	m.events = 0;
	size_t frames0 = count_of(c.out, FRAME_START);
	int64_t cpu0 = cpu_ns(c.pid);
	while (now_ns() < end) {
		struct pollfd pfd[2] = {
			{c.master, POLLIN, 0},
			{ctrl_fd(m.ctrl), POLLIN, 0},
		};
		poll(pfd, 2, static_cast<int>((end - now_ns()) / 1000000) + 1);
		if (!corvid_read(&c, 0))
			die("corvid ended");
		monitor_count(&m);
	}
	int64_t cpu1 = cpu_ns(c.pid);
	// The loop draws one frame a pass, so the frames after the first
	// count its wake-ups.
	size_t wakeups = count_of(c.out, FRAME_START) - frames0;
	corvid_stop(&c);
	monitor_close(&m);
	simsupp_end(&s);
	workdir_remove(&w);

	int ticks = seconds / 5 + seconds / 30;
	size_t allowed = static_cast<size_t>(ticks + m.events);
	double cpu_ms = (cpu1 - cpu0) / 1e6;
	figure(format("idle %d s: wake-ups", seconds), format("%zu (timer "
	    "ticks %d, daemon events %d)", wakeups, ticks, m.events),
	    format("≤ %zu", allowed), verdict(wakeups <= allowed));
	figure(format("idle %d s: CPU time", seconds), format("%.2f ms",
	    cpu_ms), "< 20 ms", verdict(cpu0 >= 0 && cpu_ms < 20));
	return 0;
}

// ---------------------------------------------------------------------------
// Memory

// The daemon's scan results as the client receives them.
static size_t
scan_count(const std::string &ctrl_path)
{
	wpa_ctrl *ctrl = ctrl_open(ctrl_path.c_str());
	scan_results *scan = ctrl != nullptr ? scan_results_fetch(ctrl) : nullptr;
	size_t n = scan != nullptr ? scan->count : 0;

	scan_results_free(scan);
	ctrl_close(ctrl);
	return n;
}

static int
bench_memory(int minutes)
{
	constexpr int64_t SCAN_PERIOD_NS = 1000000000LL;
	workdir w = workdir_make();
	simsupp_proc s = simsupp_run(w);
	size_t results = scan_count(s.sock);
	wpa_ctrl *driver = ctrl_open(s.sock.c_str());
	corvid_proc c = corvid_start(s.sock, is_root());
	std::vector<long> rss;
	long frames = 0;

	if (driver == nullptr)
		die("cannot open a driver connection");
	corvid_wait_frame(&c);
	int64_t t0 = now_ns(), next_scan = t0;
	for (int minute = 1; minute <= minutes; minute++) {
		int64_t mark = t0 + minute * 60 * 1000000000LL;
		while (now_ns() < mark) {
			if (now_ns() >= next_scan) {
				char reply[64];
				size_t len = sizeof reply;
				(void)ctrl_transact(driver, "SCAN", 4, reply, &len);
				next_scan += SCAN_PERIOD_NS;
			}
			int64_t wake = std::min(mark, next_scan);
			if (!corvid_read(&c, static_cast<int>((wake - now_ns()) /
			    1000000) + 1))
				die("corvid ended during the memory run");
			// Count and drop what was drawn, keeping a possibly cut
			// marker at the end.
			frames += count_of(c.out, FRAME_START);
			size_t keep = std::min(c.out.size(), FRAME_START.size() - 1);
			c.out.erase(0, c.out.size() - keep);
		}
		rss.push_back(proc_status_kb(c.pid, "VmRSS"));
		fprintf(stderr, "memory: minute %d: VmRSS %ld KiB, VmHWM %ld KiB\n",
		    minute, rss.back(), proc_status_kb(c.pid, "VmHWM"));
	}
	long hwm = proc_status_kb(c.pid, "VmHWM");
	long anon = proc_status_kb(c.pid, "RssAnon");
	long file = proc_status_kb(c.pid, "RssFile");
	std::string libs = libraries(c.pid);
	corvid_stop(&c);
	ctrl_close(driver);
	simsupp_end(&s);
	workdir_remove(&w);

	long after = *std::max_element(rss.begin(), rss.end());
	std::string series;
	for (long k : rss)
		series += (series.empty() ? "" : " ") + std::to_string(k);
	figure(format("peak resident size, %d min of scans (%zu results, "
	    "%d known)", minutes, results, KNOWN_COUNT), format("%.2f MiB",
	    hwm / 1024.0), "≤ 4 MiB", verdict(hwm > 0 && hwm <= 4096));
	figure("resident size each minute (KiB)", series,
	    "no growth after minute 1", verdict(after <= rss[0]));
	figure("  of which its own memory (RssAnon), mapped files (RssFile)",
	    format("%ld KiB, %ld KiB", anon, file), "-", "info");
	figure("  shared libraries mapped", libs, "-", "info");
	figure("  frames drawn in the run", format("%ld", frames), "-", "info");
	return 0;
}

// ---------------------------------------------------------------------------
// Crowded places

// One world: start-up to the whole first frame (its bottom border) over
// `starts` starts, one scan-results fetch by the client over 50 fetches,
// and corvid's peak resident size after its start-up and `scans` scans.
static void
crowded_world(int aps, int known, int starts, int scans)
{
	workdir w = workdir_make();
	simsupp_proc s = simsupp_run(w, aps, known, {"--scan-delay-ms", "50"});
	std::string label = format("%d APs, %d known", aps, known);
	std::vector<double> start_ms, fetch_us;
	size_t listed = 0, stored = 0;

	for (int i = 0; i < starts; i++) {
		int64_t t0 = now_ns();
		corvid_proc c = corvid_start(s.sock, false);
		corvid_wait_frame(&c);
		start_ms.push_back((now_ns() - t0) / 1e6);
		corvid_stop(&c);
	}

	wpa_ctrl *ctrl = ctrl_open(s.sock.c_str());
	if (ctrl == nullptr)
		die("cannot open a connection to simsupp");
	for (int i = 0; i < 55; i++) {
		int64_t t0 = now_ns();
		scan_results *scan = scan_results_fetch(ctrl);
		double us = (now_ns() - t0) / 1e3;
		if (scan == nullptr)
			die("scan results fetch failed");
		listed = scan->count;
		scan_results_free(scan);
		if (i >= 5)
			fetch_us.push_back(us);
	}
	known_networks *kn = known_networks_fetch(ctrl);
	stored = kn != nullptr ? kn->count : 0;
	known_networks_free(kn);

	// The peak: corvid's start-up, then scans that each refresh its
	// scan results (the frames they bring read until quiet).
	corvid_proc c = corvid_start(s.sock, is_root());
	corvid_wait_frame(&c);
	for (int i = 0; i < scans; i++) {
		char reply[64];
		size_t len = sizeof reply;
		(void)ctrl_transact(ctrl, "SCAN", 4, reply, &len);
		corvid_settle(&c, 300);
		c.out.clear();
	}
	long hwm = proc_status_kb(c.pid, "VmHWM");
	corvid_stop(&c);
	ctrl_close(ctrl);
	simsupp_end(&s);
	workdir_remove(&w);

	std::sort(start_ms.begin(), start_ms.end());
	figure("start-up to the whole first frame (" + label + ")",
	    format("%.1f ms median of %d, fastest %.1f, slowest %.1f",
	    median(start_ms), starts, start_ms.front(), start_ms.back()), "-",
	    "info");
	figure("scan-results fetch (" + label + ")",
	    format("%.0f µs median of 50, p90 %.0f; %zu of %d listed",
	    median(fetch_us), percentile(fetch_us, 90), listed, aps), "-",
	    verdict(listed == static_cast<size_t>(aps)));
	figure("known networks listed (" + label + ")",
	    format("%zu of %d", stored, known), "-",
	    verdict(stored == static_cast<size_t>(known)));
	figure(format("peak resident size after start-up and %d scans (%s)",
	    scans, label.c_str()), format("%.2f MiB", hwm / 1024.0), "≤ 4 MiB",
	    verdict(hwm > 0 && hwm <= 4096));
}

// Today's world (60 access points: one SCAN_RESULTS reply) beside a crowded
// one that takes the paged requests: 300 access points, 500 stored networks.
static int
bench_crowded(int starts)
{
	crowded_world(60, KNOWN_COUNT, starts, 10);
	crowded_world(300, 500, starts, 10);
	return 0;
}

// ---------------------------------------------------------------------------
// Bytes per frame

static int
bench_frames(void)
{
	workdir w = workdir_make();
	simsupp_proc s = simsupp_run(w);
	corvid_proc c = corvid_start(s.sock, is_root());

	corvid_wait_frame(&c);
	corvid_settle(&c, 300);
	std::vector<std::string_view> first = frames_split(c.out);
	size_t steady = first.back().size();

	// A scan from the key: the frames from the key's own to the first
	// one that is clear of notifications again.
	c.out.clear();
	corvid_key(&c, 's');
	int64_t t0 = now_ns();
	for (;;) {
		if (now_ns() - t0 > 60000000000LL || !corvid_read(&c, 100))
			die("the scan cycle did not end");
		std::vector<std::string_view> f = frames_split(c.out);
		if (f.size() >= 2 && f.back().find(NOTIFICATION_COLOUR) ==
		    std::string_view::npos && f.back().find(bottom_border()) !=
		    std::string_view::npos) {
			corvid_settle(&c, 300);
			break;
		}
	}
	double seconds = (now_ns() - t0) / 1e9;
	std::vector<std::string_view> cycle = frames_split(c.out);
	size_t total = 0, largest = 0;
	for (auto f : cycle) {
		total += f.size();
		largest = std::max(largest, f.size());
	}
	corvid_stop(&c);
	simsupp_end(&s);
	workdir_remove(&w);

	figure("bytes per frame, 80x34, 13 rows a table, no overlay",
	    format("%zu", steady), "-", "info");
	figure("one scan cycle ('s' until its notifications expired)",
	    format("%zu frames, %zu bytes, largest %zu, %.1f s", cycle.size(),
	    total, largest, seconds), "-", "info");
	return 0;
}

// ---------------------------------------------------------------------------
// The table

// Terminal columns of a UTF-8 text.
static size_t
columns(const std::string &s)
{
	std::vector<wchar_t> w(s.size() + 1);
	size_t n = mbstowcs(w.data(), s.c_str(), w.size());
	int c = n == static_cast<size_t>(-1) ? -1 : wcswidth(w.data(), n);
	return c < 0 ? s.size() : static_cast<size_t>(c);
}

// Reads "@figure<TAB>value<TAB>budget<TAB>verdict" lines from standard
// input and prints them as an aligned table; other lines are passed on.
// The status is 1 when a verdict is FAIL.
static int
table(void)
{
	std::vector<std::vector<std::string>> rows = {
	    {"figure", "value", "budget", "verdict"}};
	std::string line;
	size_t width[4] = {};

	setlocale(LC_ALL, "C.UTF-8");
	while (std::getline(std::cin, line)) {
		if (line.empty() || line[0] != '@') {
			puts(line.c_str());
			continue;
		}
		std::vector<std::string> cells;
		std::istringstream in(line.substr(1));
		std::string cell;
		while (cells.size() < 4 && std::getline(in, cell, '\t'))
			cells.push_back(cell);
		cells.resize(4);
		if (cells[3] == "FAIL")
			failed = true;
		if (cells[3] == "noisy")
			noisy = true;
		rows.push_back(cells);
	}
	for (const auto &r : rows)
		for (size_t i = 0; i < 4; i++)
			width[i] = std::max(width[i], columns(r[i]));
	for (const auto &r : rows) {
		std::string out;
		for (size_t i = 0; i < 4; i++) {
			out += r[i];
			if (i < 3)
				out += std::string(width[i] - columns(r[i]) + 2, ' ');
		}
		puts(out.c_str());
	}
	return failed ? 1 : noisy ? 2 : 0;
}

int
main(int argc, char **argv)
{
	signal(SIGPIPE, SIG_IGN);
	atexit(leftovers_release);
	for (int sig : {SIGINT, SIGTERM, SIGHUP})
		signal(sig, on_signal);
	if (argc < 2)
		die("usage: live_bench keys | fetch | idle [s] | memory [min] | "
		    "frames | crowded [starts] | table");
	std::string what = argv[1];
	int arg = argc > 2 ? atoi(argv[2]) : 0;

	if (what == "table")
		return table();
	if (what == "keys")
		bench_keys();
	else if (what == "fetch")
		bench_fetch();
	else if (what == "idle")
		bench_idle(arg > 0 ? arg : 60);
	else if (what == "memory")
		bench_memory(arg > 0 ? arg : 10);
	else if (what == "frames")
		bench_frames();
	else if (what == "crowded")
		bench_crowded(arg > 0 ? arg : 30);
	else
		die("unknown measurement: %s", what.c_str());
	return failed ? 1 : noisy ? 2 : 0;
}
