// Running the simulated supplicant in a test (see simsupp_harness.h).
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "simsupp_harness.h"

static int64_t
clock_ms(void)
{
	using namespace std::chrono;
	return duration_cast<milliseconds>(
	    steady_clock::now().time_since_epoch()).count();
}

static void
dir_remove(const std::string &dir)
{
	if (dir.empty())
		return;
	// Only the files the harness and simsupp make live here.
	for (const char *f : {"/ctrl/wlan0", "/wpa.conf", "/wpa.conf.tmp",
	    "/requests.log", "/world"})
		unlink((dir + f).c_str());
	rmdir((dir + "/ctrl").c_str());
	rmdir(dir.c_str());
}

static bool
addr_set(struct sockaddr_un *sa, socklen_t *len, const std::string &path)
{
	memset(sa, 0, sizeof(*sa));
	sa->sun_family = AF_UNIX;
	if (path.size() >= sizeof(sa->sun_path))
		return false;
	memcpy(sa->sun_path, path.c_str(), path.size());
	*len = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) +
	    path.size() + 1);
	return true;
}

bool
simsupp_client_open(simsupp_client *c, const std::string &sock)
{
	static int serial;
	struct sockaddr_un sa;
	socklen_t len;

	c->events.clear();
	c->path = "/tmp/simsupp-client-" + std::to_string(getpid()) + "-" +
	    std::to_string(++serial);
	unlink(c->path.c_str());
	c->fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	if (c->fd == -1)
		return false;
	if (!addr_set(&sa, &len, c->path) ||
	    bind(c->fd, reinterpret_cast<struct sockaddr *>(&sa), len) == -1 ||
	    !addr_set(&sa, &len, sock) ||
	    connect(c->fd, reinterpret_cast<struct sockaddr *>(&sa), len) == -1) {
		simsupp_client_close(c);
		return false;
	}
	return true;
}

void
simsupp_client_close(simsupp_client *c)
{
	if (c->fd != -1)
		close(c->fd);
	c->fd = -1;
	if (!c->path.empty())
		unlink(c->path.c_str());
	c->path.clear();
}

// One datagram within `ms`; false when none came.
static bool
client_receive(simsupp_client *c, int ms, std::string *out)
{
	struct pollfd pfd = {c->fd, POLLIN, 0};
	char buf[8192];

	if (ms < 0)
		ms = 0;
	if (poll(&pfd, 1, ms) != 1)
		return false;
	ssize_t n = recv(c->fd, buf, sizeof(buf), 0);
	if (n < 0)
		return false;
	out->assign(buf, static_cast<size_t>(n));
	return true;
}

std::string
simsupp_request(simsupp_client *c, const std::string &req, int timeout_ms)
{
	std::string msg;
	int64_t end = clock_ms() + timeout_ms;

	if (send(c->fd, req.data(), req.size(), 0) == -1)
		return "<send failed>";
	while (client_receive(c, static_cast<int>(end - clock_ms()), &msg)) {
		if (!msg.empty() && msg[0] == '<') {
			c->events.push_back(msg);
			continue;
		}
		return msg;
	}
	return "<no reply>";
}

void
simsupp_drain(simsupp_client *c, int ms)
{
	std::string msg;
	int64_t end = clock_ms() + ms;

	while (client_receive(c, static_cast<int>(end - clock_ms()), &msg))
		c->events.push_back(msg);
}

std::string
simsupp_wait_event(simsupp_client *c, const std::string &text, int timeout_ms)
{
	int64_t end = clock_ms() + timeout_ms;
	std::string msg;

	for (;;) {
		while (!c->events.empty()) {
			msg = c->events.front();
			c->events.erase(c->events.begin());
			if (msg.find(text) != std::string::npos)
				return msg;
		}
		if (!client_receive(c, static_cast<int>(end - clock_ms()), &msg))
			return "";
		c->events.push_back(msg);
	}
}

bool
simsupp_start(simsupp_proc *p, const char *binary, const std::string &config,
    const std::vector<std::string> &args)
{
	std::string tmpl = "/tmp/simsupp-" + std::to_string(getpid()) +
	    "-XXXXXX";
	int watch[2];

	if (mkdtemp(tmpl.data()) == nullptr)
		return false;
	p->dir = tmpl;
	p->ctrl_dir = p->dir + "/ctrl";
	p->name = "wlan0";
	if (p->sock.empty())
		p->sock = p->ctrl_dir + "/" + p->name;
	p->config = p->dir + "/wpa.conf";
	p->log = p->dir + "/requests.log";
	if (!config.empty() && !file_write(p->config, config))
		return false;
	if (pipe(watch) == -1)
		return false;

	std::vector<std::string> argv = {binary, "-s", p->sock,
	    "--log", p->log, "--watch-fd", std::to_string(watch[0])};
	if (!config.empty()) {
		argv.push_back("-c");
		argv.push_back(p->config);
	}
	argv.insert(argv.end(), args.begin(), args.end());
	std::vector<char *> cargv;
	for (auto &a : argv)
		cargv.push_back(a.data());
	cargv.push_back(nullptr);

	p->pid = fork();
	if (p->pid == 0) {
		close(watch[1]);
		int null = open("/dev/null", O_RDONLY);
		if (null != -1)
			dup2(null, 0);
		execv(binary, cargv.data());
		_exit(127);
	}
	close(watch[0]);
	if (p->pid == -1) {
		close(watch[1]);
		return false;
	}
	fcntl(watch[1], F_SETFD, FD_CLOEXEC);
	p->watch_fd = watch[1];

	// Ready when it answers.
	simsupp_client c;
	simsupp_client_guard g{&c};
	for (int i = 0; i < 500; i++) {
		int status;
		if (waitpid(p->pid, &status, WNOHANG) == p->pid) {
			p->pid = -1;
			return false;
		}
		if (simsupp_client_open(&c, p->sock)) {
			if (simsupp_request(&c, "PING", 1000) == "PONG\n")
				return true;
			simsupp_client_close(&c);
		}
		usleep(10000);
	}
	simsupp_stop(p);
	return false;
}

int
simsupp_stop(simsupp_proc *p)
{
	int status = 0, result = 0;

	if (p->pid > 0) {
		result = -1;
		kill(p->pid, SIGTERM);
		int64_t end = clock_ms() + 10000;
		pid_t r = 0;
		while ((r = waitpid(p->pid, &status, WNOHANG)) == 0 &&
		    clock_ms() < end)
			usleep(5000);
		if (r == 0) {
			kill(p->pid, SIGKILL);
			waitpid(p->pid, &status, 0);
		} else if (r == p->pid && WIFEXITED(status)) {
			result = WEXITSTATUS(status);
		}
		p->pid = -1;
	}
	if (p->watch_fd != -1)
		close(p->watch_fd);
	p->watch_fd = -1;
	dir_remove(p->dir);
	p->dir.clear();
	return result;
}

// How often the request log holds the daemon's note `note`.
static size_t
note_count(const simsupp_proc *p, const std::string &note)
{
	std::string log = "\n" + file_read(p->log);
	std::string line = "\n\\ " + note + "\n";
	size_t n = 0;

	for (size_t at = log.find(line); at != std::string::npos;
	    at = log.find(line, at + 1))
		n++;
	return n;
}

bool
simsupp_wait_note(const simsupp_proc *p, const std::string &note,
    int timeout_ms, size_t count)
{
	int64_t end = clock_ms() + timeout_ms;

	while (note_count(p, note) < count) {
		if (clock_ms() > end)
			return false;
		usleep(5000);
	}
	return true;
}

bool
simsupp_toggle_answers(simsupp_proc *p, int timeout_ms)
{
	size_t on = note_count(p, "answering"), off = note_count(p, "not answering");

	if (p->pid <= 0 || kill(p->pid, SIGUSR1) == -1)
		return false;
	int64_t end = clock_ms() + timeout_ms;
	while (note_count(p, "answering") == on &&
	    note_count(p, "not answering") == off) {
		if (clock_ms() > end)
			return false;
		usleep(5000);
	}
	return true;
}

command_result
command_run(const std::vector<std::string> &argv)
{
	command_result r;
	int out[2];

	if (argv.empty() || pipe(out) == -1)
		return r;
	std::vector<std::string> args = argv;
	std::vector<char *> cargv;
	for (auto &a : args)
		cargv.push_back(a.data());
	cargv.push_back(nullptr);
	pid_t pid = fork();
	if (pid == 0) {
		int null = open("/dev/null", O_RDONLY);
		if (null != -1)
			dup2(null, 0);
		dup2(out[1], 1);
		dup2(out[1], 2);
		close(out[0]);
		close(out[1]);
		execv(cargv[0], cargv.data());
		_exit(127);
	}
	close(out[1]);
	if (pid == -1) {
		close(out[0]);
		return r;
	}
	char buf[4096];
	ssize_t n;
	while ((n = read(out[0], buf, sizeof(buf))) > 0 ||
	    (n == -1 && errno == EINTR))
		if (n > 0)
			r.out.append(buf, static_cast<size_t>(n));
	close(out[0]);
	int status;
	while (waitpid(pid, &status, 0) == -1 && errno == EINTR)
		;
	if (WIFEXITED(status))
		r.status = WEXITSTATUS(status);
	return r;
}
