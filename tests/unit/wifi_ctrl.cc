// The control connection and its request/reply exchange, against an
// in-test daemon.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_daemon.h"
#include "netns.h"
#include "wifi.h"

using testing::ElementsAre;
using testing::HasSubstr;

using wifi_transport = fake_daemon_test;

static bool
exists(const std::string &path)
{
	struct stat st;
	return lstat(path.c_str(), &st) == 0;
}

// A datagram socket bound at `path`; its descriptor or -1.
static int
listen_at(const std::string &path)
{
	struct sockaddr_un sa {};
	int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
	sa.sun_family = AF_UNIX;
	memcpy(sa.sun_path, path.data(), path.size());
	if (bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == -1) {
		close(fd);
		return -1;
	}
	return fd;
}

// Entries of a directory other than "." and "..".
static int
entries(const char *dir)
{
	DIR *d = opendir(dir);
	int n = 0;
	if (d == nullptr)
		return -1;
	while (struct dirent *de = readdir(d))
		n += strcmp(de->d_name, ".") != 0 && strcmp(de->d_name, "..") != 0;
	closedir(d);
	return n;
}

using wifi_ctrl_transport = wifi_transport;

TEST(wifi_ctrl_default_path, first_socket_in_the_directory)
{
	char tmpl[] = "/tmp/corvid-run-XXXXXX";
	ASSERT_NE(mkdtemp(tmpl), nullptr);
	std::string dir = tmpl;

	EXPECT_EQ(ctrl_default_path_in(dir.c_str()), nullptr);
	close(open((dir + "/regular").c_str(), O_CREAT | O_WRONLY, 0600));
	mkdir((dir + "/subdir").c_str(), 0700);
	EXPECT_EQ(ctrl_default_path_in(dir.c_str()), nullptr);

	int a = listen_at(dir + "/wlan0");
	ASSERT_NE(a, -1);
	const char *path = ctrl_default_path_in(dir.c_str());
	ASSERT_NE(path, nullptr);
	EXPECT_EQ(std::string(path), dir + "/wlan0");

	int b = listen_at(dir + "/wlan1");
	path = ctrl_default_path_in(dir.c_str());
	ASSERT_NE(path, nullptr);
	EXPECT_THAT(std::string(path), testing::AnyOf(dir + "/wlan0", dir + "/wlan1"));

	EXPECT_EQ(ctrl_default_path_in((dir + "/missing").c_str()), nullptr);
	close(a);
	close(b);
	std::filesystem::remove_all(dir);
}

TEST_F(wifi_ctrl_transport, open_makes_a_private_socket_and_close_removes_it)
{
	std::string sock = ctrl->local_addr.sun_path;
	ASSERT_NE(ctrl->tmp_dir, nullptr);
	std::string dir = ctrl->tmp_dir;
	EXPECT_TRUE(dir.starts_with("/tmp/wpa_ctrl_")) << dir;
	EXPECT_EQ(sock, dir + "/sock");
	struct stat st;
	ASSERT_EQ(stat(dir.c_str(), &st), 0);
	EXPECT_EQ(st.st_mode & 0777, 0700u);
	EXPECT_TRUE(exists(sock));
	EXPECT_EQ(ctrl_fd(ctrl), ctrl->fd);
	EXPECT_NE(fcntl(ctrl->fd, F_GETFL) & O_NONBLOCK, 0);
	EXPECT_NE(fcntl(ctrl->fd, F_GETFD) & FD_CLOEXEC, 0);

	ctrl_close(ctrl);
	ctrl = nullptr;
	EXPECT_FALSE(exists(sock));
	EXPECT_FALSE(exists(dir));
	ctrl_close(nullptr);
	EXPECT_EQ(ctrl_open(nullptr), nullptr);
}

TEST(wifi_ctrl_open, path_limit_is_the_platforms)
{
	// The longest path a socket address holds opens; one byte more is
	// refused before any connect and leaves nothing behind in /tmp.
	char tmpl[] = "/tmp/corvid-long-XXXXXX";
	ASSERT_NE(mkdtemp(tmpl), nullptr);
	std::string dir = tmpl;
	std::string longest = dir + "/" + std::string(LOCAL_PATH_MAX - dir.size() - 1, 's');
	ASSERT_EQ(longest.size(), LOCAL_PATH_MAX);
	int fd = listen_at(longest);
	ASSERT_NE(fd, -1);
	wpa_ctrl *ctrl = ctrl_open(longest.c_str());
	EXPECT_NE(ctrl, nullptr);
	ctrl_close(ctrl);
	close(fd);

	std::string why;
	std::string too_long = longest + "x";
	int rc = run_with_private_tmp([&] {
		errno = 0;
		if (ctrl_open(too_long.c_str()) != nullptr)
			return 1;
		if (errno != ENAMETOOLONG)
			return 2;
		return entries("/tmp") == 0 ? 0 : 3;
	}, &why);
	std::filesystem::remove_all(dir);
	if (rc == -1)
		GTEST_SKIP() << why;
	EXPECT_EQ(rc, 0) << "1: opened, 2: wrong errno, 3: files left in /tmp";
}

TEST(wifi_ctrl_open, failed_connect_leaves_nothing_behind)
{
	std::string why;
	int rc = run_with_private_tmp([] {
		errno = 0;
		if (ctrl_open("/nonexistent/wpa_supplicant/wlan0") != nullptr)
			return 1;
		if (errno != ENOENT)
			return 2;
		return entries("/tmp") == 0 ? 0 : 3;
	}, &why);
	if (rc == -1)
		GTEST_SKIP() << why;
	EXPECT_EQ(rc, 0) << "1: opened, 2: errno lost, 3: files left in /tmp";
}

TEST_F(wifi_ctrl_transport, reply_is_cut_to_the_capacity)
{
	daemon.world.replies["LONG"] = "FAIL-WITH-A-LONG-TEXT\n";
	char reply[8];
	size_t len = 3;
	ASSERT_EQ(ctrl_transact(ctrl, "LONG", 4, reply, &len), 0);
	EXPECT_EQ(std::string(reply, len), "FAI");

	// "OK" and its newline, read with room for two bytes, is still OK.
	len = 2;
	EXPECT_EQ(ctrl_command(ctrl, reply, &len, "SCAN"), 0);
	EXPECT_STREQ(reply, "OK");

	len = 3;
	stderr_begin();
	EXPECT_EQ(ctrl_command(ctrl, reply, &len, "LONG"), -1);
	EXPECT_THAT(stderr_end(), HasSubstr("wpa_ctrl request failed: LONG\n"));
	EXPECT_STREQ(reply, "FAI");

	// A query hands back whatever came, terminated.
	len = 3;
	EXPECT_EQ(ctrl_query(ctrl, reply, &len, "LONG"), 0);
	EXPECT_STREQ(reply, "FAI");
	EXPECT_EQ(len, 3u);
}

TEST_F(wifi_ctrl_transport, events_are_not_replies)
{
	static const char *const events[] = {
		"<3>CTRL-EVENT-SCAN-STARTED ",
		"IFNAME=wlan0 <3>CTRL-EVENT-SCAN-RESULTS ",
		"<",
	};
	for (const char *ev : events) {
		daemon.responder = [ev](const std::string &) {
			return fake_reply{ { ev, "OK\n" }, 0 };
		};
		// Read with room for two bytes: the head of an "IFNAME=" event
		// must not pass for a reply.
		char reply[3];
		size_t len = 2;
		ASSERT_EQ(ctrl_transact(ctrl, "ATTACH", 6, reply, &len), 0) << ev;
		EXPECT_EQ(std::string(reply, len), "OK") << ev;
		EXPECT_EQ(ctrl_attach(ctrl), 0) << ev;
	}
	// Nothing is left queued.
	char c;
	EXPECT_EQ(recv(ctrl_fd(ctrl), &c, 1, MSG_DONTWAIT), -1);
}

TEST_F(wifi_ctrl_transport, queued_datagrams_are_dropped_before_a_request)
{
	// Something has to have talked first, for the daemon to know where to
	// send to.
	char reply[16];
	size_t len = 15;
	ASSERT_EQ(ctrl_transact(ctrl, "PING", 4, reply, &len), 0);

	// An event and a reply that nobody waits for any longer.
	ASSERT_TRUE(fake_daemon_send(&daemon, "<3>CTRL-EVENT-BSS-ADDED 0 x"));
	ASSERT_TRUE(fake_daemon_send(&daemon, "42\n"));
	ASSERT_TRUE(fake_daemon_send(&daemon, ""));
	daemon.world.next_id = 7;
	stderr_begin();
	EXPECT_EQ(network_add(ctrl, "net"), 7);
	EXPECT_EQ(stderr_end(), "");
}

TEST_F(wifi_ctrl_transport, empty_datagram_is_a_reply)
{
	daemon.world.replies["EMPTY"] = "";
	char reply[8] = "xxxxxxx";
	size_t len = 7;
	ASSERT_EQ(ctrl_transact(ctrl, "EMPTY", 5, reply, &len), 0);
	EXPECT_EQ(len, 0u);

	len = 7;
	EXPECT_EQ(ctrl_query(ctrl, reply, &len, "EMPTY"), 0);
	EXPECT_STREQ(reply, "");
	len = 3;
	stderr_begin();
	EXPECT_EQ(ctrl_command(ctrl, reply, &len, "EMPTY"), -1);
	EXPECT_THAT(stderr_end(), HasSubstr("wpa_ctrl request failed: EMPTY"));
}

TEST_F(wifi_ctrl_transport, no_reply_within_the_time_out)
{
	daemon.responder = [](const std::string &) { return fake_reply{}; };
	char reply[8];
	size_t len = 7;
	EXPECT_EQ(ctrl_transact(ctrl, "SCAN", 4, reply, &len), -1);

	// No message of its own: the caller reports.
	stderr_begin();
	len = 3;
	EXPECT_EQ(ctrl_command(ctrl, reply, &len, "SCAN"), -1);
	len = 3;
	EXPECT_EQ(ctrl_query(ctrl, reply, &len, "SCAN"), -1);
	EXPECT_EQ(ctrl_attach(ctrl), -1);
	EXPECT_EQ(stderr_end(), "");
}

TEST_F(wifi_ctrl_transport, late_reply_is_never_taken_for_the_next_one)
{
	// The daemon answers the priority query only after the client gave
	// up; ADD_NETWORK must still get its own id, not the priority.
	static const int delays[] = {
		1500,   // the late reply comes while the next request waits
		1100,   // the late reply is already queued at the next request
	};
	for (int delay : delays) {
		daemon.world.next_id = 7;
		daemon.responder = [this, delay](const std::string &req) {
			if (req == "GET_NETWORK 0 priority")
				return fake_reply{ { "5" }, delay };
			return fake_answer(fake_world_answer(&daemon.world, req));
		};
		fake_daemon_clear_requests(&daemon);
		char reply[16];
		size_t len = 12;
		EXPECT_EQ(ctrl_query(ctrl, reply, &len, "GET_NETWORK 0 priority"), -1);
		if (delay < 1500) {
			// Until the late reply is queued on the socket.
			struct pollfd p = { ctrl_fd(ctrl), POLLIN, 0 };
			ASSERT_EQ(poll(&p, 1, 5000), 1);
		}
		EXPECT_EQ(network_add(ctrl, "net"), 7) << "delay " << delay;
		EXPECT_THAT(fake_daemon_requests(&daemon), ElementsAre(
		    "GET_NETWORK 0 priority", "PING", "ADD_NETWORK",
		    "SET_NETWORK 7 ssid \"net\"")) << "delay " << delay;
	}
}

TEST_F(wifi_ctrl_transport, stray_pong_is_not_a_reply)
{
	daemon.responder = [](const std::string &req) {
		if (req == "PING")
			return fake_answer("PONG\n");
		return fake_reply{ { "PONG\n", "OK\n" }, 0 };
	};
	char reply[4];
	size_t len = 3;
	EXPECT_EQ(ctrl_command(ctrl, reply, &len, "SCAN"), 0);
	// But PING asked by a caller gets its answer.
	char pong[8];
	len = 7;
	ASSERT_EQ(ctrl_transact(ctrl, "PING", 4, pong, &len), 0);
	EXPECT_EQ(std::string(pong, len), "PONG\n");
}

TEST_F(wifi_ctrl_transport, request_length_limit)
{
	char reply[4];
	size_t len = 3;
	std::string fits(CTRL_REQUEST_MAX - 1, 'a');
	EXPECT_EQ(ctrl_command(ctrl, reply, &len, "%s", fits.c_str()), 0);

	std::string too_long(CTRL_REQUEST_MAX, 'b');
	stderr_begin();
	len = 3;
	EXPECT_EQ(ctrl_command(ctrl, reply, &len, "%s", too_long.c_str()), -1);
	len = 3;
	EXPECT_EQ(ctrl_query(ctrl, reply, &len, "%s", too_long.c_str()), -1);
	std::string err = stderr_end();
	std::string msg = "wpa_ctrl request too long: " +
	    std::string(CTRL_REQUEST_MAX - 1, 'b') + "\n";
	ASSERT_NE(err.find(msg), std::string::npos) << err;
	EXPECT_NE(err.find(msg), err.rfind(msg)) << "one message for each";
	EXPECT_THAT(fake_daemon_requests(&daemon), ElementsAre(fits));
}

TEST_F(wifi_ctrl_transport, warnings_keep_secrets_and_control_bytes_out)
{
	daemon.world.fail = {
		"SET_NETWORK 3 psk \"hunter22\"",
		"SET_NETWORK 3 password \"hunter22\"",
		"SET_NETWORK 3 identity \"bob\"",
		"SET_NETWORK 3 ssid \"\x1b]0;owned\a\"",
	};
	const struct {
		const char *field;
		std::string value;
		const char *shown;
	} cases[] = {
		{ "psk", "hunter22", "wpa_ctrl request failed: SET_NETWORK 3 psk [REMOVED]\n" },
		{ "password", "hunter22",
		    "wpa_ctrl request failed: SET_NETWORK 3 password [REMOVED]\n" },
		{ "identity", "bob",
		    "wpa_ctrl request failed: SET_NETWORK 3 identity \"bob\"\n" },
		{ "ssid", "\x1b]0;owned\a",
		    "wpa_ctrl request failed: SET_NETWORK 3 ssid \"?]0;owned?\"\n" },
		{ "psk", std::string(120, 'h'),
		    "wpa_ctrl request too long: SET_NETWORK 3 psk [REMOVED]\n" },
	};
	for (const auto &c : cases) {
		char reply[4];
		size_t len = 3;
		stderr_begin();
		EXPECT_EQ(ctrl_command(ctrl, reply, &len, "SET_NETWORK %d %s \"%s\"",
		    3, c.field, c.value.c_str()), -1);
		std::string err = stderr_end();
		EXPECT_THAT(err, HasSubstr(c.shown));
		EXPECT_EQ(err.find("hunter"), std::string::npos) << err;
		EXPECT_EQ(err.find("hhhh"), std::string::npos) << err;
		EXPECT_EQ(err.find('\x1b'), std::string::npos) << err;
	}
}

TEST_F(wifi_ctrl_transport, attach_and_detach)
{
	EXPECT_EQ(ctrl_attach(ctrl), 0);
	EXPECT_EQ(ctrl_detach(ctrl), 0);
	daemon.world.fail = { "ATTACH", "DETACH" };
	EXPECT_EQ(ctrl_attach(ctrl), -1);
	EXPECT_EQ(ctrl_detach(ctrl), -1);
	daemon.world.fail.clear();
	daemon.world.replies["ATTACH"] = "O";
	EXPECT_EQ(ctrl_attach(ctrl), -1);
	EXPECT_THAT(fake_daemon_requests(&daemon), ElementsAre("ATTACH", "DETACH",
	    "ATTACH", "DETACH", "ATTACH"));
}

TEST_F(wifi_ctrl_transport, daemon_gone)
{
	fake_daemon_stop(&daemon);
	char reply[4];
	size_t len = 3;
	EXPECT_EQ(ctrl_transact(ctrl, "PING", 4, reply, &len), -1);
	EXPECT_EQ(ctrl_attach(ctrl), -1);
	stderr_begin();
	EXPECT_EQ(scan_start(ctrl), -1);
	EXPECT_EQ(stderr_end().find("wpa_ctrl request failed"), std::string::npos);
}

// Events that come while a request waits, or that were queued before it,
// are kept for the event reader, in order, and never taken for a reply.
TEST_F(wifi_ctrl_transport, events_during_a_request_are_kept_in_order)
{
	char reply[16];
	size_t len = 15;
	ASSERT_EQ(ctrl_transact(ctrl, "PING", 4, reply, &len), 0);

	ASSERT_TRUE(fake_daemon_send(&daemon, "<3>CTRL-EVENT-DISCONNECTED bssid=x"));
	daemon.responder = [](const std::string &) {
		return fake_reply{ { "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=1 reason=WRONG_KEY",
		    "IFNAME=wlan0 <3>CTRL-EVENT-SCAN-STARTED ", "OK\n" }, 0 };
	};
	len = 15;
	ASSERT_EQ(ctrl_transact(ctrl, "STATUS", 6, reply, &len), 0);
	EXPECT_EQ(std::string(reply, len), "OK\n");

	// The socket itself holds nothing more; the connection does.
	char buf[CTRL_EVENT_MAX];
	EXPECT_EQ(recv(ctrl_fd(ctrl), buf, sizeof buf, MSG_DONTWAIT), -1);
	std::vector<std::string> got;
	while (ctrl_event_pending(ctrl)) {
		ssize_t n = ctrl_event_recv(ctrl, buf, sizeof buf);
		ASSERT_GT(n, 0);
		got.emplace_back(buf, static_cast<size_t>(n));
	}
	EXPECT_THAT(got, ElementsAre("<3>CTRL-EVENT-DISCONNECTED bssid=x",
	    "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=1 reason=WRONG_KEY",
	    "IFNAME=wlan0 <3>CTRL-EVENT-SCAN-STARTED "));

	// With nothing kept, the next event comes from the socket.
	ASSERT_TRUE(fake_daemon_send(&daemon, "<3>CTRL-EVENT-CONNECTED "));
	struct pollfd pfd = { ctrl_fd(ctrl), POLLIN, 0 };
	ASSERT_EQ(poll(&pfd, 1, 1000), 1);
	ssize_t n = ctrl_event_recv(ctrl, buf, 8);
	EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "<3>CTRL-");
}

// A burst larger than the store keeps the newest messages.
TEST_F(wifi_ctrl_transport, kept_events_are_bounded)
{
	daemon.responder = [](const std::string &) {
		fake_reply r;
		for (size_t i = 0; i < CTRL_EVENTS_KEPT + 6; i++)
			r.datagrams.push_back("<3>event " + std::to_string(i));
		r.datagrams.push_back("OK\n");
		return r;
	};
	char reply[16];
	size_t len = 15;
	ASSERT_EQ(ctrl_transact(ctrl, "SCAN", 4, reply, &len), 0);
	EXPECT_EQ(ctrl->kept_count, CTRL_EVENTS_KEPT);
	char buf[64];
	ssize_t n = ctrl_event_recv(ctrl, buf, sizeof buf);
	EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "<3>event 6");
}

static int64_t
ms_since(std::chrono::steady_clock::time_point t0)
{
	return std::chrono::duration_cast<std::chrono::milliseconds>(
	    std::chrono::steady_clock::now() - t0).count();
}

// A daemon that stops answering but keeps sending events: the wait for a
// reply still ends, three seconds after the request at the latest.  Then
// the PING that resynchronises goes unanswered too, and every request
// fails at once, unsent, until the next fetch begins with a PING.
TEST_F(wifi_ctrl_transport, wait_is_bounded_and_a_dead_daemon_fails_fast)
{
	char reply[16];
	size_t len = 15;
	ASSERT_EQ(ctrl_transact(ctrl, "PING", 4, reply, &len), 0);
	daemon.responder = [](const std::string &) { return fake_reply{}; };
	event_ticker ticker(&daemon, 200);

	auto t0 = std::chrono::steady_clock::now();
	len = 15;
	EXPECT_EQ(ctrl_transact(ctrl, "STATUS", 6, reply, &len), -1);
	int64_t took = ms_since(t0);
	EXPECT_GE(took, CTRL_REQUEST_TIMEOUT_MS - 50);
	EXPECT_LT(took, CTRL_REQUEST_TIMEOUT_MS + 1000) << "the events kept it waiting";
	EXPECT_EQ(ctrl_last_failure(ctrl), CTRL_FAIL_TIMEOUT);
	EXPECT_TRUE(ctrl_event_pending(ctrl));

	len = 15;
	EXPECT_EQ(ctrl_transact(ctrl, "LIST_NETWORKS", 13, reply, &len), -1);
	EXPECT_EQ(ctrl_last_failure(ctrl), CTRL_FAIL_UNRESPONSIVE);
	t0 = std::chrono::steady_clock::now();
	len = 3;
	EXPECT_EQ(ctrl_command(ctrl, reply, &len, "SCAN"), -1);
	EXPECT_LT(ms_since(t0), 100);
	EXPECT_EQ(ctrl_last_failure(ctrl), CTRL_FAIL_UNRESPONSIVE);
	EXPECT_THAT(fake_daemon_requests(&daemon), ElementsAre("PING", "STATUS",
	    "PING"));

	// The next fetch gives the daemon another chance.
	daemon.responder = nullptr;
	fake_daemon_clear_requests(&daemon);
	ctrl_fetch_begin(ctrl);
	len = 3;
	EXPECT_EQ(ctrl_command(ctrl, reply, &len, "SCAN"), 0);
	EXPECT_THAT(fake_daemon_requests(&daemon), ElementsAre("PING", "SCAN"));
}

// A daemon that answers the list and then hangs: the fetch ends after one
// unanswered query and one unanswered PING, not after one second for every
// query of every network; start-up then fails with its message.
TEST_F(wifi_ctrl_transport, fetch_from_a_daemon_that_hangs_midway)
{
	for (int i = 0; i < 10; i++)
		daemon.world.networks.push_back(std::to_string(i) + "\tnet" +
		    std::to_string(i) + "\tany\t");
	daemon.responder = [this](const std::string &req) {
		if (req != "LIST_NETWORKS")
			return fake_reply{};
		return fake_answer(fake_world_answer(&daemon.world, req));
	};
	auto t0 = std::chrono::steady_clock::now();
	EXPECT_EQ(known_networks_fetch(ctrl), nullptr);
	EXPECT_LT(ms_since(t0), 2 * CTRL_REQUEST_TIMEOUT_MS);
	EXPECT_EQ(ctrl_last_failure(ctrl), CTRL_FAIL_UNRESPONSIVE);
	EXPECT_THAT(fake_daemon_requests(&daemon), ElementsAre("LIST_NETWORKS",
	    "GET_NETWORK 0 priority", "PING"));

	// The next fetch begins with a PING; answered, it goes on.
	daemon.responder = nullptr;
	fake_daemon_clear_requests(&daemon);
	supplicant_status *st = supplicant_status_fetch(ctrl);
	ASSERT_NE(st, nullptr);
	supplicant_status_free(st);
	EXPECT_THAT(fake_daemon_requests(&daemon), ElementsAre("PING", "STATUS"));
}

// Once the wake descriptor is readable, a request waiting for its reply
// stops waiting, and no further request is sent while it stays readable.
TEST_F(wifi_ctrl_transport, wake_descriptor_ends_the_wait)
{
	int wake[2];
	ASSERT_EQ(pipe(wake), 0);
	ctrl_set_wake(ctrl, wake[0]);
	char reply[16];
	size_t len = 15;
	ASSERT_EQ(ctrl_transact(ctrl, "PING", 4, reply, &len), 0) << "not readable yet";

	daemon.responder = [](const std::string &) { return fake_reply{}; };
	std::thread waker([&] {
		std::this_thread::sleep_for(std::chrono::milliseconds(100));
		(void)!write(wake[1], "x", 1);
	});
	auto t0 = std::chrono::steady_clock::now();
	len = 15;
	EXPECT_EQ(ctrl_transact(ctrl, "STATUS", 6, reply, &len), -1);
	EXPECT_LT(ms_since(t0), CTRL_REPLY_TIMEOUT_MS - 300);
	waker.join();
	EXPECT_EQ(ctrl_last_failure(ctrl), CTRL_FAIL_WOKEN);
	len = 3;
	EXPECT_EQ(ctrl_command(ctrl, reply, &len, "REMOVE_NETWORK 1"), -1);
	EXPECT_EQ(ctrl_last_failure(ctrl), CTRL_FAIL_WOKEN);
	EXPECT_THAT(fake_daemon_requests(&daemon), ElementsAre("PING", "STATUS"));

	// Read again, the descriptor lets requests through.
	char c;
	ASSERT_EQ(read(wake[0], &c, 1), 1);
	daemon.responder = nullptr;
	len = 3;
	EXPECT_EQ(ctrl_command(ctrl, reply, &len, "SCAN"), 0);
	EXPECT_EQ(ctrl_last_failure(ctrl), CTRL_FAIL_NONE);
	close(wake[0]);
	close(wake[1]);
}

// DETACH at exit waits half a second at most, and sends no PING first.
TEST_F(wifi_ctrl_transport, detach_at_exit_is_short)
{
	EXPECT_EQ(ctrl_attach(ctrl), 0);
	daemon.responder = [](const std::string &) { return fake_reply{}; };
	char reply[4];
	size_t len = 3;
	EXPECT_EQ(ctrl_query(ctrl, reply, &len, "STATUS"), -1);
	fake_daemon_clear_requests(&daemon);
	auto t0 = std::chrono::steady_clock::now();
	EXPECT_EQ(ctrl_detach(ctrl), -1);
	EXPECT_LT(ms_since(t0), CTRL_DETACH_TIMEOUT_MS + 300);
	EXPECT_THAT(fake_daemon_requests(&daemon), ElementsAre("DETACH"));
}

// A daemon that restarts at the same path: requests on the old connection
// fail as "gone"; the reconnection binds a new socket, checks the daemon
// with PING and attaches again, on the same descriptor number.
TEST_F(wifi_ctrl_transport, reconnect_after_a_restart)
{
	ASSERT_EQ(ctrl_attach(ctrl), 0);
	int fd = ctrl_fd(ctrl);
	ASSERT_TRUE(fake_daemon_restart(&daemon, true));
	char reply[16];
	size_t len = 3;
	stderr_begin();
	EXPECT_EQ(scan_start(ctrl), -1);
	stderr_end();
	EXPECT_EQ(ctrl_last_failure(ctrl), CTRL_FAIL_GONE);
	// Nobody at the path yet.
	EXPECT_EQ(ctrl_reconnect(ctrl), -1);
	EXPECT_EQ(ctrl_last_failure(ctrl), CTRL_FAIL_GONE);

	ASSERT_TRUE(fake_daemon_restart(&daemon));
	fake_daemon_clear_requests(&daemon);
	len = 3;
	EXPECT_EQ(ctrl_command(ctrl, reply, &len, "SCAN"), -1) << "still the old socket";
	EXPECT_EQ(ctrl_last_failure(ctrl), CTRL_FAIL_GONE);
	ASSERT_EQ(ctrl_reconnect(ctrl), 0) << strerror(errno);
	EXPECT_EQ(ctrl_fd(ctrl), fd);
	EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
	EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
	len = 3;
	EXPECT_EQ(ctrl_command(ctrl, reply, &len, "SCAN"), 0);
	EXPECT_THAT(fake_daemon_requests(&daemon), ElementsAre("PING", "ATTACH", "SCAN"));
	// Events reach the new socket.
	ASSERT_TRUE(fake_daemon_send(&daemon, "<3>CTRL-EVENT-SCAN-STARTED "));
	struct pollfd pfd = { fd, POLLIN, 0 };
	EXPECT_EQ(poll(&pfd, 1, 2000), 1);

	// A daemon that does not answer at the path is no reconnection.
	daemon.responder = [](const std::string &) { return fake_reply{}; };
	ASSERT_TRUE(fake_daemon_restart(&daemon));
	EXPECT_EQ(ctrl_reconnect(ctrl), -1);
	EXPECT_EQ(ctrl_last_failure(ctrl), CTRL_FAIL_TIMEOUT);
}
