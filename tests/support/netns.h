// The real wpa_supplicant for tests: a private network namespace with a veth
// pair, and the daemon running there with the "none" driver on one end of
// it and a temporary configuration.  Its control socket lies in a private
// directory of the file system, reachable from outside the namespace.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "files.h"

struct real_daemon {
	std::string ns;           // namespace, unique per process
	std::string ifname;       // the interface the daemon drives
	std::string dir;          // private directory holding everything below
	std::string ctrl_dir;     // ctrl_interface directory
	std::string ctrl_path;    // the control socket
	std::string conf_path;    // the configuration the daemon reads and saves
	std::string pid_file;
	std::string log_path;     // the daemon's standard output and error
	pid_t pid = -1;
	bool ns_made = false;
	bool unsupported = false;  // the start failed for want of namespaces
};

// Writes the configuration (a "ctrl_interface=" line, then
// `config_networks`; saving stays off until a client allows it), starts
// the daemon and waits until its control socket answers PING.  On failure
// everything made so far is undone and `why` says what failed; when that
// is the lack of namespaces here, `unsupported` is set (tests skip then).
bool real_daemon_start(real_daemon *d, const std::string &config_networks,
    std::string *why);
// Whether a control socket is at `path` and answers PING.
bool ctrl_path_answers(const std::string &path);

// Stops the daemon, deletes the namespace and removes the directory.  Safe
// to call more than once and after a failed start.
void real_daemon_stop(real_daemon *d);

// Runs `argv[0]` with its arguments inside the namespace (through
// "ip netns exec"), output discarded.  Its exit status, or -1.
int netns_run(const real_daemon *d, const std::vector<std::string> &argv);

// Why a namespace cannot be made here, or "" when it can (root, and the ip
// and wpa_supplicant programs present).  Tests skip with this reason.
std::string real_daemon_unavailable(void);

// Runs `fn` in a child process with a private, empty /tmp (a mount
// namespace of its own), so that a test can see every file a call leaves
// there.  The child's result (0 to 99), or -1 with `why` set when no such
// child can be made here.
int run_with_private_tmp(const std::function<int()> &fn, std::string *why);
