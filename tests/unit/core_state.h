// The interface under test against an in-test daemon and a pseudo-terminal.
// `app` holds a real connection to the daemon and the records fetched
// through it, as after start-up; its terminal is the slave end of a pty in
// raw mode, which the test types into through the master end and whose
// frames a thread collects.
#pragma once

#include <sys/ioctl.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app.h"
#include "notify.h"
#include "state.h"
#include "term.h"
#include "events.h"
#include "refresh.h"
#include "fake_daemon.h"
#include "keys.h"
#include "loop.h"

// One stored network as LIST_NETWORKS and GET_NETWORK report it.
struct core_net {
	int id;
	const char *ssid;          // as the daemon escapes it
	int priority;
	const char *flags = "";    // "[CURRENT]", "[DISABLED]"
	const char *key_mgmt = "WPA-PSK";
};

// One access point of the last scan.
struct core_ap {
	const char *ssid;
	int signal;
	int freq = 2412;
	const char *flags = "[WPA2-PSK-CCMP][ESS]";
};

inline void
world_networks(fake_world *w, const std::vector<core_net> &nets)
{
	w->networks.clear();
	for (const core_net &n : nets) {
		std::string id = std::to_string(n.id);
		w->networks.push_back(id + "\t" + n.ssid + "\tany\t" + n.flags);
		w->replies["GET_NETWORK " + id + " priority"] = std::to_string(n.priority);
		w->replies["GET_NETWORK " + id + " scan_ssid"] = "0";
		w->replies["GET_NETWORK " + id + " key_mgmt"] = n.key_mgmt;
	}
}

inline void
world_scan(fake_world *w, const std::vector<core_ap> &aps)
{
	w->scan.clear();
	for (size_t i = 0; i < aps.size(); i++) {
		char bssid[24];
		snprintf(bssid, sizeof bssid, "02:00:00:00:00:%02x",
		    static_cast<unsigned>(i & 0xff));
		w->scan.push_back(std::string(bssid) + "\t" + std::to_string(aps[i].freq) +
		    "\t" + std::to_string(aps[i].signal) + "\t" + aps[i].flags + "\t" +
		    aps[i].ssid);
	}
}

inline std::vector<std::string>
known_ssids(void)
{
	std::vector<std::string> v;
	for (size_t i = 0; i < app.known->count; i++)
		v.push_back(app.known->items[i].ssid);
	return v;
}

inline std::vector<std::string>
scan_ssids(void)
{
	std::vector<std::string> v;
	for (size_t i = 0; i < app.scan->count; i++)
		v.push_back(app.scan->items[i].ssid);
	return v;
}

inline std::vector<std::string>
notes(void)
{
	std::vector<std::string> v;
	for (notification *n = app.notifications.first; n != nullptr; n = n->next)
		v.push_back(n->text);
	return v;
}

// A pty whose slave end is in raw mode, as the program sets its terminal,
// with a thread that keeps reading what is written to the slave.
struct core_pty {
	int master = -1;
	int slave = -1;
	int stop[2] = { -1, -1 };
	std::thread reader;
	std::mutex mutex;
	std::condition_variable cv;
	std::string out;
	bool hung_up = false;
	int child_log = -1;   // a death test's child copies its output here

	// Opens the pair; `raw` puts the slave into raw mode.
	bool open(int rows, int cols, bool raw = true)
	{
		if ((master = posix_openpt(O_RDWR | O_NOCTTY)) == -1 ||
		    grantpt(master) == -1 || unlockpt(master) == -1 ||
		    (slave = ::open(ptsname(master), O_RDWR | O_NOCTTY)) == -1 ||
		    pipe(stop) == -1)
			return false;
		if (raw) {
			struct termios t;
			tcgetattr(slave, &t);
			cfmakeraw(&t);
			t.c_cc[VMIN] = 0;
			t.c_cc[VTIME] = 0;
			tcsetattr(slave, TCSANOW, &t);
		}
		resize(rows, cols);
		reader = std::thread([this] { run(); });
		return true;
	}

	void resize(int rows, int cols)
	{
		struct winsize ws = {};
		ws.ws_row = static_cast<unsigned short>(rows);
		ws.ws_col = static_cast<unsigned short>(cols);
		ioctl(master, TIOCSWINSZ, &ws);
	}

	void run()
	{
		for (;;) {
			struct pollfd p[2] = {
				{ master, POLLIN, 0 }, { stop[0], POLLIN, 0 },
			};
			if (poll(p, 2, -1) == -1) {
				if (errno == EINTR)
					continue;
				return;
			}
			if (p[1].revents != 0)
				return;
			char buf[65536];
			ssize_t n = read(master, buf, sizeof buf);
			std::lock_guard<std::mutex> lock(mutex);
			if (n <= 0) {
				// Every slave descriptor is closed.
				hung_up = true;
				cv.notify_all();
				return;
			}
			out.append(buf, static_cast<size_t>(n));
			if (child_log != -1)
				(void)!write(child_log, buf, static_cast<size_t>(n));
			cv.notify_all();
		}
	}

	// Types `keys` while the program reads: no wait for the slave to
	// hold them (the program may have taken them already).
	void type_now(const std::string &keys)
	{
		ASSERT_EQ(write(master, keys.data(), keys.size()),
		    static_cast<ssize_t>(keys.size()));
	}

	// Types `keys` and waits until the slave holds them all, so that an
	// escape sequence is read whole.
	void type(const std::string &keys)
	{
		int before = 0, now = 0;
		ioctl(slave, FIONREAD, &before);
		ASSERT_EQ(write(master, keys.data(), keys.size()),
		    static_cast<ssize_t>(keys.size()));
		for (int i = 0; i < 5000; i++) {
			ioctl(slave, FIONREAD, &now);
			if (now >= before + static_cast<int>(keys.size()))
				return;
			std::this_thread::sleep_for(std::chrono::milliseconds(1));
		}
		FAIL() << "the terminal did not take the keys";
	}

	// Waits until the output from byte `from` on holds `needle`.
	bool wait_for(const std::string &needle, size_t from = 0, int timeout_ms = 10000)
	{
		std::unique_lock<std::mutex> lock(mutex);
		return cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
			return out.size() > from && out.find(needle, from) != out.npos;
		});
	}

	// Waits until the slave is closed everywhere.
	bool wait_hangup(int timeout_ms = 10000)
	{
		std::unique_lock<std::mutex> lock(mutex);
		return cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
		    [&] { return hung_up; });
	}

	std::string output()
	{
		std::lock_guard<std::mutex> lock(mutex);
		return out;
	}

	void stop_reader()
	{
		if (reader.joinable()) {
			(void)!write(stop[1], "x", 1);
			reader.join();
			char c;
			(void)!read(stop[0], &c, 1);
		}
	}

	// Starts the reader again after stop_reader; it takes up what was
	// written meanwhile.
	void start_reader()
	{
		if (!reader.joinable() && master != -1 && !hung_up)
			reader = std::thread([this] { run(); });
	}

	// In a death test's child: a reader that also copies into `path`, so
	// that the child never blocks on a full terminal; collect_child then
	// adds the copy to this process's output.
	// The reader stops at the child's exit, after the program's own exit
	// handlers, so that nothing it has read is lost.
	void start_reader_in_child(const std::string &path)
	{
		static core_pty *self;
		self = this;
		child_log = ::open(path.c_str(),
		    O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
		start_reader();
		atexit([] { self->stop_reader(); });
	}

	void collect_child(const std::string &path)
	{
		int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
		if (fd == -1)
			return;
		std::lock_guard<std::mutex> lock(mutex);
		char buf[65536];
		ssize_t n;
		while ((n = read(fd, buf, sizeof buf)) > 0)
			out.append(buf, static_cast<size_t>(n));
		::close(fd);
		unlink(path.c_str());
	}

	// Closes the master end, as a terminal emulator that goes away does.
	void hang_up()
	{
		stop_reader();
		::close(master);
		master = -1;
	}

	void close()
	{
		stop_reader();
		for (int *fd : { &master, &slave, &stop[0], &stop[1] }) {
			if (*fd != -1)
				::close(*fd);
			*fd = -1;
		}
	}

	~core_pty() { close(); }
};

// The threads of this process, or -1 where the system does not tell.
inline int
threads_running(void)
{
	DIR *d = opendir("/proc/self/task");
	if (d == nullptr)
		return -1;
	int n = 0;
	while (struct dirent *e = readdir(d))
		n += e->d_name[0] != '.';
	closedir(d);
	return n;
}

// The threads of this process once the joined ones are gone: a thread that
// has been joined may still be listed for a moment, until the kernel has
// let go of it.  Waits up to `timeout_ms` for one thread to be left.
inline int
threads_left(int timeout_ms = 2000)
{
	int n = threads_running();
	for (int waited = 0; n > 1 && waited < timeout_ms; waited++) {
		usleep(1000);
		n = threads_running();
	}
	return n;
}

// A death test forks this process, and the child must not start with the
// records of threads it does not have.  While one runs, the terminal's
// reader and the daemon are stopped here and the child runs its own; then
// the output and the requests of the child are added to this process's.
struct core_fork_guard {
	core_pty *tty;
	fake_daemon *daemon;

	core_fork_guard(core_pty *t, fake_daemon *d) : tty(t), daemon(d)
	{
		tty->stop_reader();
		fake_daemon_pause(daemon);
		EXPECT_LE(threads_left(), 1) << "a thread would be forked";
	}
	std::string tty_log() const { return daemon->dir + "/child-tty"; }
	void in_child()
	{
		tty->start_reader_in_child(tty_log());
		fake_daemon_resume_in_child(daemon);
	}
	~core_fork_guard()
	{
		tty->collect_child(tty_log());
		fake_daemon_collect_child(daemon);
		fake_daemon_resume(daemon);
		tty->start_reader();
	}
};

// EXPECT_EXIT for a core_test (a message may be streamed after it).
#define CORE_EXPECT_EXIT(statement, predicate, regex)                       \
	if (core_fork_guard fork_guard_(&tty, &daemon); false) {             \
	} else                                                               \
		EXPECT_EXIT({                                                \
			fork_guard_.in_child();                              \
			statement;                                           \
		}, predicate, regex)

// A test of the interface: a daemon answering from its `world`, and `app`
// on an 80x34 terminal.  Fill the world, then call connect().
struct core_test : testing::Test {
	fake_daemon daemon;
	core_pty tty;

	void SetUp() override
	{
		ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
		app_reset();
		daemon.world.status = { "wpa_state=COMPLETED", "ssid=Home",
		    "ip_address=192.0.2.7" };
		ASSERT_TRUE(fake_daemon_start(&daemon));
		ASSERT_TRUE(tty.open(34, 80)) << strerror(errno);
		app.tty_fd = tty.slave;
		ASSERT_EQ(fetch_winsize(), 0);
	}

	void TearDown() override
	{
		handlers_free();
		if (app.kq_fd != -1)
			evq_close(app.kq_fd);
		clear_notifications(&app.notifications);
		supplicant_status_free(app.status);
		known_networks_free(app.known);
		scan_results_free(app.scan);
		ctrl_close(app.ctrl);
		app_reset();
		tty.close();
		fake_daemon_stop(&daemon);
	}

	// Opens the connection and fetches the records as start-up does.
	void connect()
	{
		app.ctrl = ctrl_open(daemon.path.c_str());
		ASSERT_NE(app.ctrl, nullptr) << strerror(errno);
		app.monitor_fd = ctrl_fd(app.ctrl);
		ASSERT_NE(app.status = supplicant_status_fetch(app.ctrl), nullptr);
		ASSERT_NE(app.known = known_networks_fetch(app.ctrl), nullptr);
		known_networks_sort(app.known);
		ASSERT_NE(app.scan = scan_results_fetch(app.ctrl), nullptr);
		scan_results_sort(app.scan);
		fake_daemon_clear_requests(&daemon);
	}

	// The event queue with the terminal and the daemon's socket, for the
	// nested loops of the dialogs and the search.
	void loop_setup()
	{
		ASSERT_NE(app.kq_fd = evq_open(), -1);
		ASSERT_NE(handler_add(static_cast<uintptr_t>(app.tty_fd), EVQ_READ,
		    handle_input, nullptr), nullptr);
		ASSERT_NE(handler_add(static_cast<uintptr_t>(app.monitor_fd), EVQ_READ,
		    handle_wpa_event, nullptr), nullptr);
		const evq_change changes[] = {
			{ static_cast<uintptr_t>(app.tty_fd), EVQ_READ, 0 },
			{ static_cast<uintptr_t>(app.monitor_fd), EVQ_READ, 0 },
		};
		ASSERT_EQ(evq_register(app.kq_fd, changes, 2), 0);
	}

	// Types keys and hands them to the main key handler, one call per key
	// press, as the loop would.
	void press(const std::string &keys, int presses = 1)
	{
		tty.type(keys);
		for (int i = 0; i < presses; i++)
			EXPECT_EQ(handle_input(nullptr), 0);
	}

	// The requests since the last call, without the per-network queries
	// that follow every LIST_NETWORKS.
	std::vector<std::string> sent()
	{
		std::vector<std::string> v;
		for (const std::string &r : fake_daemon_requests(&daemon))
			if (!r.starts_with("GET_NETWORK "))
				v.push_back(r);
		fake_daemon_clear_requests(&daemon);
		return v;
	}

	// Changes the daemon's world between two requests.
	template <typename F>
	void change_world(F change)
	{
		std::lock_guard<std::mutex> lock(daemon.mutex);
		change(&daemon.world);
	}

	// The daemon takes "SET_NETWORK <id> priority <n>" into its world.
	void apply_priorities()
	{
		std::lock_guard<std::mutex> lock(daemon.mutex);
		daemon.responder = [this](const std::string &req) {
			int id, prio;
			if (sscanf(req.c_str(), "SET_NETWORK %d priority %d", &id, &prio) == 2)
				daemon.world.replies["GET_NETWORK " + std::to_string(id) +
				    " priority"] = std::to_string(prio);
			return fake_answer(fake_world_answer(&daemon.world, req));
		};
	}
};
