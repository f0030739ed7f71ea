// Running the simulated supplicant in a test: a private directory holding
// its control socket, configuration and request log; a datagram client
// that collects the events it receives; and a runner for the real wpa_cli.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "files.h"

struct simsupp_proc {
	pid_t pid = -1;
	int watch_fd = -1;      // its end closes when the test process is gone
	std::string dir;        // private directory, removed by simsupp_stop
	std::string ctrl_dir;   // dir + "/ctrl"
	std::string name;       // the interface name: "wlan0"
	std::string sock;       // ctrl_dir + "/" + name, unless set beforehand
	std::string config;     // dir + "/wpa.conf"
	std::string log;        // dir + "/requests.log"
};

// Writes `config` (when not empty) to p->config and starts `binary` with the
// socket, the configuration, the log and `args`; waits until it answers
// PING.  False, with the process stopped again, when it does not.
bool simsupp_start(simsupp_proc *p, const char *binary,
    const std::string &config, const std::vector<std::string> &args = {});
// Sends SIGTERM and reaps the process: its exit status (0 when none was
// running), or -1 when it did not exit by itself (it is then killed).
// Removes the directory.
int simsupp_stop(simsupp_proc *p);

// Waits until the request log holds the daemon's note `note` ("burst
// sent", "answering", "not answering") `count` times; false after
// `timeout_ms`.
bool simsupp_wait_note(const simsupp_proc *p, const std::string &note,
    int timeout_ms, size_t count = 1);
// Sends SIGUSR1, which stops the daemon answering or makes it answer again,
// and waits until it has taken effect: a request sent from then on is
// answered or not as the daemon has noted.  False after `timeout_ms`.
bool simsupp_toggle_answers(simsupp_proc *p, int timeout_ms = 5000);

// Stops the process when the test leaves its scope, failed or not, and
// expects a clean exit (under the sanitizers that means no report either).
struct simsupp_guard {
	simsupp_proc *p;
	~simsupp_guard();
};

struct simsupp_client {
	int fd = -1;
	std::string path;
	std::vector<std::string> events;   // received, not yet taken
};

bool simsupp_client_open(simsupp_client *c, const std::string &sock);
void simsupp_client_close(simsupp_client *c);
struct simsupp_client_guard {
	simsupp_client *c;
	~simsupp_client_guard() { simsupp_client_close(c); }
};
// Sends one request and returns its reply; events that come first are
// kept in c->events.  "<no reply>" when none came within five seconds.
std::string simsupp_request(simsupp_client *c, const std::string &req,
    int timeout_ms = 5000);
// Takes events until one contains `text` (those before it are dropped);
// the event, or "" when none came within `timeout_ms`.
std::string simsupp_wait_event(simsupp_client *c, const std::string &text,
    int timeout_ms = 5000);
// Receives whatever arrives within `ms` into c->events.
void simsupp_drain(simsupp_client *c, int ms);

struct command_result {
	int status = -1;        // exit status, -1 when it did not exit normally
	std::string out;        // standard output and error together
};
// Runs a program with standard input from /dev/null.
command_result command_run(const std::vector<std::string> &argv);
