// An in-test stand-in for the supplicant's control socket: a local datagram
// socket in a private directory, served by a thread that answers every
// request with what a responder function says, records the requests in
// order, and can send unsolicited messages to its client.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "wifi.h"

// What the daemon does with one request: waits `delay_ms`, then sends each
// datagram in order (none: the request goes unanswered).
struct fake_reply {
	std::vector<std::string> datagrams;
	int delay_ms = 0;
};

// A reply of one datagram, sent at once.
fake_reply fake_answer(std::string datagram);

// Runs on the daemon's thread with its lock held: it must not call the
// fake_daemon_* functions (put an event into the reply's datagrams instead).
using fake_responder = std::function<fake_reply(const std::string &request)>;

// The state the default responder answers from, like a small supplicant.
// Change it only while no request is on its way (the client under test is
// single-threaded, so: between its calls).
struct fake_world {
	std::vector<std::string> status;    // STATUS lines, "key=value"
	std::vector<std::string> networks;  // LIST_NETWORKS lines after the header
	std::vector<std::string> scan;      // SCAN_RESULTS lines after the header
	// Answers by exact request text: "GET_NETWORK 0 priority", "BSS ...".
	// A GET_NETWORK or BSS request not found here is answered "FAIL\n".
	std::map<std::string, std::string> replies;
	std::set<std::string> fail;         // requests answered "FAIL\n"
	int next_id = 0;                    // the id the next ADD_NETWORK gets
};

// The default answer: `replies` first, then "FAIL\n" for `fail`, STATUS,
// LIST_NETWORKS and SCAN_RESULTS from the lines (whole: the client cuts
// them at its capacity), "LIST_NETWORKS LAST_ID=n" with the lines after
// network n, cut after the last whole line that fits the daemon's buffer,
// "BSS FIRST" and "BSS NEXT-n" with the scan line of that index as a
// record (its index as the id, empty past the last), ADD_NETWORK with the next
// id, "PONG\n" for PING, "FAIL\n" for unknown GET_NETWORK and BSS requests,
// and "OK\n" for everything else.
std::string fake_world_answer(fake_world *world, const std::string &request);

// Loads a transcript of the real daemon (tests/data/*.transcript, made by
// tests/data/capture.py: "> request" lines, each followed by a "< reply"
// line with \n, \t, \\ and \xHH escapes) into `world->replies`.  A name
// without a leading "/" is taken from tests/data.  False when the file
// cannot be read.
bool fake_world_load(fake_world *world, const std::string &name);

struct fake_daemon {
	std::string dir;          // private directory, removed by stop
	std::string path;         // the control socket
	fake_world world;
	fake_responder responder; // nullptr: answer from `world`
	// Everything below belongs to the implementation.
	int fd = -1;
	int stop_pipe[2] = { -1, -1 };
	std::thread thread;
	std::mutex mutex;
	std::vector<std::string> requests;
	struct sockaddr_un peer {};
	socklen_t peer_len = 0;
	int child_log = -1;       // a death test's child records here too
};

// Binds the socket and starts serving; false (with a gtest failure) when
// the socket cannot be made.
bool fake_daemon_start(fake_daemon *d);
// Stops the thread, closes and removes the socket and its directory.
void fake_daemon_stop(fake_daemon *d);
// A restart: the socket goes away and a new one is bound at the same path
// (the old one removed when `down` is false, kept stopped when it is true,
// until a later call with `down` false).  The requests recorded stay; the
// peer is forgotten.  False (with a gtest failure) when it cannot bind.
bool fake_daemon_restart(fake_daemon *d, bool down = false);
// Stops and starts the serving thread; the socket stays bound, and what is
// sent to it meanwhile waits there.
void fake_daemon_pause(fake_daemon *d);
void fake_daemon_resume(fake_daemon *d);

// A death test forks the test process, and a fork copies only the thread
// that calls it: a daemon thread caught half-way through a reply would leave
// the child holding memory that nothing refers to.  So the daemon pauses
// before the fork, and the child serves with a thread of its own, started
// by resume_in_child, that also writes each request to a file; the test
// process then adds those requests to its own record with collect_child.
void fake_daemon_resume_in_child(fake_daemon *d);
void fake_daemon_collect_child(fake_daemon *d);

// The requests received so far, in order.
std::vector<std::string> fake_daemon_requests(fake_daemon *d);
void fake_daemon_clear_requests(fake_daemon *d);
// Sends `msg` unasked to the last client that sent a request.
bool fake_daemon_send(fake_daemon *d, const std::string &msg);

// Sends an event every `period_ms` to the daemon's last client while it
// lives, as a daemon that stopped answering may still do.
struct event_ticker {
	fake_daemon *daemon;
	int period_ms;
	std::atomic<bool> stop{ false };
	std::thread thread;

	event_ticker(fake_daemon *d, int period) : daemon(d), period_ms(period)
	{
		thread = std::thread([this] {
			while (!stop) {
				(void)fake_daemon_send(daemon,
				    "<3>CTRL-EVENT-SIGNAL-CHANGE above=1");
				std::this_thread::sleep_for(
				    std::chrono::milliseconds(period_ms));
			}
		});
	}
	~event_ticker()
	{
		stop = true;
		thread.join();
	}
};

// The records of an array as lines of text, for comparing whole arrays:
// "id|ssid|priority|hidden|security|state|bssid" for known networks, with
// hidden "hidden" or "-", security as the Security column shows it, a "?"
// after each of these three when it is marked unknown, state
// "enabled", "disabled" or "current"; "bssid|freq|signal|security|ssid"
// for scan results.
std::vector<std::string> known_texts(const known_networks *known);
std::vector<std::string> scan_texts(const scan_results *scan);

// The contents of a file in tests/data.
std::string test_data(const std::string &name);

// Captures what is written to standard error between begin and end.
void stderr_begin(void);
std::string stderr_end(void);

// A test with a fake daemon and a connection to it.
struct fake_daemon_test : testing::Test {
	fake_daemon daemon;
	wpa_ctrl *ctrl = nullptr;

	void SetUp() override
	{
		ASSERT_TRUE(fake_daemon_start(&daemon));
		ctrl = ctrl_open(daemon.path.c_str());
		ASSERT_NE(ctrl, nullptr) << strerror(errno);
	}

	void TearDown() override
	{
		ctrl_close(ctrl);
		fake_daemon_stop(&daemon);
	}
};
