// The in-test control socket daemon.
#include "fake_daemon.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "files.h"
#include "transcript.h"

fake_reply
fake_answer(std::string datagram)
{
	fake_reply r;
	r.datagrams.push_back(std::move(datagram));
	return r;
}

static std::string
lines_reply(const char *header, const std::vector<std::string> &lines)
{
	std::string s = header;
	for (const auto &l : lines)
		s += l + "\n";
	return s;
}

// The daemon's lists are cut after the last whole line that fits its
// reply buffer.
static std::string
lines_reply_cut(const char *header, const std::vector<std::string> &lines)
{
	std::string s = header;
	for (const auto &l : lines) {
		if (s.size() + l.size() + 1 > DAEMON_REPLY_MAX - 1)
			break;
		s += l + "\n";
	}
	return s;
}

// "LIST_NETWORKS LAST_ID=n": the lines after the one with id n.
static std::string
networks_after(const fake_world *w, const std::string &arg)
{
	int last = atoi(arg.c_str());
	std::vector<std::string> after;
	bool past = false;
	for (const auto &l : w->networks) {
		if (past)
			after.push_back(l);
		else if (atoi(l.c_str()) == last)
			past = true;
	}
	return lines_reply_cut("network id / ssid / bssid / flags\n", after);
}

// "BSS FIRST" and "BSS NEXT-n": the scan line of that index as a record,
// its index as the id; empty past the last.
static std::string
bss_record(const fake_world *w, const std::string &which)
{
	size_t i = which == "FIRST" ? 0 :
	    static_cast<size_t>(atol(which.c_str() + 5)) + 1;
	if (i >= w->scan.size())
		return "";
	std::vector<std::string> f;
	std::string line = w->scan[i];
	for (size_t at; (at = line.find('\t')) != std::string::npos;
	    line = line.substr(at + 1))
		f.push_back(line.substr(0, at));
	f.push_back(line);
	static const char *const keys[] = { "bssid", "freq", "level", "flags",
	    "ssid" };
	std::string r = "id=" + std::to_string(i) + "\n";
	for (size_t k = 0; k < f.size() && k < 5; k++)
		r += std::string(keys[k]) + "=" + f[k] + "\n";
	return r;
}

std::string
fake_world_answer(fake_world *w, const std::string &req)
{
	if (auto it = w->replies.find(req); it != w->replies.end())
		return it->second;
	if (w->fail.count(req) != 0)
		return "FAIL\n";
	if (req == "STATUS")
		return lines_reply("", w->status);
	if (req == "LIST_NETWORKS")
		return lines_reply("network id / ssid / bssid / flags\n",
		    w->networks);
	if (req.starts_with("LIST_NETWORKS LAST_ID="))
		return networks_after(w, req.substr(22));
	if (req.starts_with("BSS FIRST ") || req.starts_with("BSS NEXT-"))
		return bss_record(w, req.substr(4, req.find(' ', 4) - 4));
	if (req == "SCAN_RESULTS")
		return lines_reply(
		    "bssid / frequency / signal level / flags / ssid\n", w->scan);
	if (req == "ADD_NETWORK")
		return std::to_string(w->next_id++) + "\n";
	if (req == "PING")
		return "PONG\n";
	if (req.starts_with("GET_NETWORK ") || req.starts_with("BSS "))
		return "FAIL\n";
	return "OK\n";
}

bool
fake_world_load(fake_world *w, const std::string &name)
{
	transcript t;

	if (!transcript_read(name.starts_with("/") ? name :
	    std::string(CORVID_TEST_DATA) + "/" + name, &t))
		return false;
	for (auto &[request, reply] : t)
		w->replies[request] = reply;
	return true;
}

// Sleeps `ms`, or less when the daemon is asked to stop; false then.
static bool
pause_unless_stopped(fake_daemon *d, int ms)
{
	struct pollfd pfd = { d->stop_pipe[0], POLLIN, 0 };
	return poll(&pfd, 1, ms) == 0;
}

static void
serve(fake_daemon *d)
{
	for (;;) {
		struct pollfd pfd[2] = {
			{ d->fd, POLLIN, 0 }, { d->stop_pipe[0], POLLIN, 0 },
		};
		if (poll(pfd, 2, -1) == -1 || (pfd[1].revents & POLLIN) != 0)
			return;
		char buf[8192];
		struct sockaddr_un from {};
		socklen_t from_len = sizeof from;
		ssize_t n = recvfrom(d->fd, buf, sizeof buf, 0,
		    reinterpret_cast<sockaddr *>(&from), &from_len);
		if (n < 0)
			continue;
		std::string req(buf, static_cast<size_t>(n));
		fake_reply reply;
		{
			std::lock_guard<std::mutex> lock(d->mutex);
			d->requests.push_back(req);
			if (d->child_log != -1)
				(void)!write(d->child_log, req.c_str(), req.size() + 1);
			d->peer = from;
			d->peer_len = from_len;
			if (d->responder)
				reply = d->responder(req);
			else
				reply = fake_answer(fake_world_answer(&d->world, req));
		}
		if (reply.delay_ms > 0 && !pause_unless_stopped(d, reply.delay_ms))
			return;
		for (const auto &dg : reply.datagrams)
			(void)sendto(d->fd, dg.data(), dg.size(), 0,
			    reinterpret_cast<sockaddr *>(&from), from_len);
	}
}

// Binds the socket at d->path and starts the thread.
static bool
daemon_bind(fake_daemon *d)
{
	struct sockaddr_un sa {};
	sa.sun_family = AF_UNIX;
	snprintf(sa.sun_path, sizeof sa.sun_path, "%s", d->path.c_str());
	d->fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	if (d->fd == -1 || pipe(d->stop_pipe) == -1 ||
	    bind(d->fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == -1) {
		ADD_FAILURE() << "fake daemon socket: " << strerror(errno);
		fake_daemon_stop(d);
		return false;
	}
	fake_daemon_resume(d);
	return true;
}

bool
fake_daemon_start(fake_daemon *d)
{
	char dir[] = "/tmp/corvid-fake-XXXXXX";
	if (mkdtemp(dir) == nullptr) {
		ADD_FAILURE() << "mkdtemp: " << strerror(errno);
		return false;
	}
	d->dir = dir;
	d->path = d->dir + "/wlan0";
	return daemon_bind(d);
}

bool
fake_daemon_restart(fake_daemon *d, bool down)
{
	fake_daemon_pause(d);
	for (int *fd : { &d->fd, &d->stop_pipe[0], &d->stop_pipe[1] }) {
		if (*fd != -1)
			close(*fd);
		*fd = -1;
	}
	unlink(d->path.c_str());
	d->peer_len = 0;
	return down || daemon_bind(d);
}

void
fake_daemon_pause(fake_daemon *d)
{
	if (!d->thread.joinable())
		return;
	(void)!write(d->stop_pipe[1], "x", 1);
	d->thread.join();
	char c;
	(void)!read(d->stop_pipe[0], &c, 1);
}

void
fake_daemon_resume(fake_daemon *d)
{
	if (!d->thread.joinable() && d->fd != -1)
		d->thread = std::thread(serve, d);
}

static std::string
child_log_path(const fake_daemon *d)
{
	return d->dir + "/child-requests";
}

void
fake_daemon_resume_in_child(fake_daemon *d)
{
	if (d->fd == -1)
		return;
	d->child_log = open(child_log_path(d).c_str(),
	    O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
	fake_daemon_resume(d);
}

void
fake_daemon_collect_child(fake_daemon *d)
{
	if (d->dir.empty())
		return;
	std::string path = child_log_path(d);
	std::ifstream in(path, std::ios::binary);
	std::string req;
	std::lock_guard<std::mutex> lock(d->mutex);
	while (std::getline(in, req, '\0'))
		d->requests.push_back(req);
	unlink(path.c_str());
}

void
fake_daemon_stop(fake_daemon *d)
{
	fake_daemon_pause(d);
	for (int *fd : { &d->fd, &d->stop_pipe[0], &d->stop_pipe[1] }) {
		if (*fd != -1)
			close(*fd);
		*fd = -1;
	}
	if (!d->path.empty())
		unlink(d->path.c_str());
	if (!d->dir.empty())
		rmdir(d->dir.c_str());
	d->path.clear();
	d->dir.clear();
}

std::vector<std::string>
fake_daemon_requests(fake_daemon *d)
{
	std::lock_guard<std::mutex> lock(d->mutex);
	return d->requests;
}

void
fake_daemon_clear_requests(fake_daemon *d)
{
	std::lock_guard<std::mutex> lock(d->mutex);
	d->requests.clear();
}

bool
fake_daemon_send(fake_daemon *d, const std::string &msg)
{
	std::lock_guard<std::mutex> lock(d->mutex);
	if (d->peer_len == 0)
		return false;
	return sendto(d->fd, msg.data(), msg.size(), 0,
	    reinterpret_cast<sockaddr *>(&d->peer), d->peer_len) ==
	    static_cast<ssize_t>(msg.size());
}

static std::string
mac_text(const ether_addr &a)
{
	char buf[18];
	const uint8_t *o = a.ether_addr_octet;
	snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", o[0], o[1],
	    o[2], o[3], o[4], o[5]);
	return buf;
}

static const char *const state_names[] = { "enabled", "disabled", "current" };

std::vector<std::string>
known_texts(const known_networks *known)
{
	std::vector<std::string> v;
	for (size_t i = 0; i < known->count; i++) {
		const known_network &k = known->items[i];
		auto mark = [&k](unsigned bit) { return k.unknown & bit ? "?" : ""; };
		v.push_back(std::to_string(k.id) + "|" + k.ssid + "|" +
		    std::to_string(k.priority) + mark(KNOWN_PRIORITY_UNKNOWN) + "|" +
		    (k.scan_ssid ? "hidden" : "-") + mark(KNOWN_HIDDEN_UNKNOWN) +
		    "|" + security_text(k.security) + mark(KNOWN_SECURITY_UNKNOWN) +
		    "|" + state_names[k.state] + "|" + mac_text(k.bssid));
	}
	return v;
}

std::vector<std::string>
scan_texts(const scan_results *scan)
{
	std::vector<std::string> v;
	for (size_t i = 0; i < scan->count; i++) {
		const scan_result &r = scan->items[i];
		v.push_back(mac_text(r.bssid) + "|" + std::to_string(r.freq) + "|" +
		    std::to_string(r.signal) + "|" + security_text(r.security) +
		    "|" + r.ssid);
	}
	return v;
}

std::string
test_data(const std::string &name)
{
	return file_read(std::string(CORVID_TEST_DATA) + "/" + name);
}

static int saved_stderr = -1;
static FILE *captured;

void
stderr_begin(void)
{
	fflush(stderr);
	captured = tmpfile();
	saved_stderr = dup(2);
	dup2(fileno(captured), 2);
}

std::string
stderr_end(void)
{
	std::string s;
	char buf[4096];
	size_t n;

	fflush(stderr);
	dup2(saved_stderr, 2);
	close(saved_stderr);
	saved_stderr = -1;
	rewind(captured);
	while ((n = fread(buf, 1, sizeof buf, captured)) > 0)
		s.append(buf, n);
	fclose(captured);
	captured = nullptr;
	return s;
}
