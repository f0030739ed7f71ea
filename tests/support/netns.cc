// The real-daemon fixture.
#include "netns.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "wifi.h"

// Starts argv with standard input from /dev/null and its output appended
// to `log` (discarded when empty).  The child's pid, or -1.
static pid_t
spawn(const std::vector<std::string> &argv, const std::string &log)
{
	std::vector<char *> args;
	for (const auto &a : argv)
		args.push_back(const_cast<char *>(a.c_str()));
	args.push_back(nullptr);

	pid_t pid = fork();
	if (pid != 0)
		return pid;
	int in = open("/dev/null", O_RDONLY);
	int out = log.empty() ? open("/dev/null", O_WRONLY) :
	    open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
	if (in == -1 || out == -1)
		_exit(126);
	dup2(in, 0);
	dup2(out, 1);
	dup2(out, 2);
	execv(args[0], args.data());
	_exit(127);
}

static int
run(const std::vector<std::string> &argv, const std::string &log = "")
{
	int status;
	pid_t pid = spawn(argv, log);

	if (pid == -1)
		return -1;
	while (waitpid(pid, &status, 0) == -1)
		if (errno != EINTR)
			return -1;
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string
real_daemon_unavailable(void)
{
	if (geteuid() != 0)
		return "network namespaces need root";
	if (command_find("ip").empty())
		return "the ip program (iproute2) is not installed";
	if (command_find("wpa_supplicant").empty())
		return "wpa_supplicant (package wpasupplicant) is not installed";
	return "";
}

int
netns_run(const real_daemon *d, const std::vector<std::string> &argv)
{
	std::vector<std::string> full = { command_find("ip"), "netns", "exec",
	    d->ns };
	full.insert(full.end(), argv.begin(), argv.end());
	return run(full);
}

static bool
fail(real_daemon *d, std::string *why, const std::string &what)
{
	*why = what;
	std::string log = file_read(d->log_path);
	if (!log.empty())
		*why += "; daemon log:\n" + log;
	real_daemon_stop(d);
	return false;
}

bool
ctrl_path_answers(const std::string &path)
{
	struct stat st;

	if (stat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode))
		return false;
	wpa_ctrl *ctrl = ctrl_open(path.c_str());
	char reply[8];
	size_t len = sizeof reply;
	bool up = ctrl != nullptr &&
	    ctrl_transact(ctrl, "PING", 4, reply, &len) == 0 &&
	    len == 5 && memcmp(reply, "PONG\n", 5) == 0;
	ctrl_close(ctrl);
	return up;
}

bool
real_daemon_start(real_daemon *d, const std::string &config_networks,
    std::string *why)
{
	d->unsupported = false;
	if (std::string no = real_daemon_unavailable(); !no.empty()) {
		*why = no;
		d->unsupported = true;
		return false;
	}
	std::string ip = command_find("ip");
	d->ns = "corvid-wpa-" + std::to_string(getpid());
	d->ifname = "cv0";
	char dir[] = "/tmp/corvid-wpa-XXXXXX";
	if (mkdtemp(dir) == nullptr)
		return fail(d, why, std::string("mkdtemp: ") + strerror(errno));
	d->dir = dir;
	d->ctrl_dir = d->dir + "/ctrl";
	d->ctrl_path = d->ctrl_dir + "/" + d->ifname;
	d->conf_path = d->dir + "/wpa_supplicant.conf";
	d->pid_file = d->dir + "/wpa_supplicant.pid";
	d->log_path = d->dir + "/wpa_supplicant.log";

	// A namespace of the same name can only be left over from a killed
	// process that had this pid.
	if (run({ ip, "netns", "add", d->ns }, d->log_path) != 0) {
		run({ ip, "netns", "del", d->ns });
		if (run({ ip, "netns", "add", d->ns }, d->log_path) != 0) {
			d->unsupported = true;
			return fail(d, why, "cannot create a network namespace "
			    "(ip netns add " + d->ns + ")");
		}
	}
	d->ns_made = true;
	if (run({ ip, "-n", d->ns, "link", "add", d->ifname, "type", "veth",
	    "peer", "name", "cv1" }, d->log_path) != 0 ||
	    run({ ip, "-n", d->ns, "link", "set", d->ifname, "up" },
	    d->log_path) != 0) {
		d->unsupported = true;
		return fail(d, why, "cannot create a veth pair in the namespace");
	}

	std::ofstream conf(d->conf_path);
	conf << "ctrl_interface=" << d->ctrl_dir << "\n\n" << config_networks;
	conf.close();
	if (!conf)
		return fail(d, why, "cannot write " + d->conf_path);

	d->pid = spawn({ ip, "netns", "exec", d->ns,
	    command_find("wpa_supplicant"), "-D", "none", "-i", d->ifname,
	    "-c", d->conf_path, "-P", d->pid_file }, d->log_path);
	if (d->pid == -1)
		return fail(d, why, "fork failed");

	// Wait (at most 10 s) until the control socket answers.
	for (int i = 0; i < 1000; i++) {
		int status;
		if (waitpid(d->pid, &status, WNOHANG) == d->pid) {
			d->pid = -1;
			return fail(d, why, "wpa_supplicant exited at start");
		}
		if (ctrl_path_answers(d->ctrl_path))
			return true;
		usleep(10000);
	}
	return fail(d, why, "wpa_supplicant did not answer within 10 s");
}

void
real_daemon_stop(real_daemon *d)
{
	if (d->pid > 0) {
		int status;
		kill(d->pid, SIGTERM);
		for (int i = 0; i < 300; i++) {
			if (waitpid(d->pid, &status, WNOHANG) == d->pid) {
				d->pid = -1;
				break;
			}
			usleep(10000);
		}
		if (d->pid > 0) {
			kill(d->pid, SIGKILL);
			waitpid(d->pid, &status, 0);
			d->pid = -1;
		}
	}
	if (d->ns_made) {
		run({ command_find("ip"), "netns", "del", d->ns });
		d->ns_made = false;
	}
	if (!d->dir.empty()) {
		std::error_code ec;
		std::filesystem::remove_all(d->dir, ec);
		d->dir.clear();
	}
}

int
run_with_private_tmp(const std::function<int()> &fn, std::string *why)
{
	int status;

	if (geteuid() != 0) {
		*why = "a private /tmp needs root";
		return -1;
	}
	pid_t pid = fork();
	if (pid == -1) {
		*why = std::string("fork: ") + strerror(errno);
		return -1;
	}
	if (pid == 0) {
		if (unshare(CLONE_NEWNS) == -1)
			_exit(100);
		if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == -1 ||
		    mount("tmpfs", "/tmp", "tmpfs", 0, nullptr) == -1)
			_exit(101);
		_exit(fn());
	}
	while (waitpid(pid, &status, 0) == -1)
		if (errno != EINTR) {
			*why = std::string("waitpid: ") + strerror(errno);
			return -1;
		}
	if (!WIFEXITED(status)) {
		*why = "the child process died";
		return 99;
	}
	switch (WEXITSTATUS(status)) {
	case 100:
		*why = "cannot make a mount namespace (unshare)";
		return -1;
	case 101:
		*why = "cannot mount a private /tmp";
		return -1;
	}
	return WEXITSTATUS(status);
}
