// The in-process supplicant of the fuzz targets.
#include <sys/socket.h>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>

#include "responder.h"

// Whether the client passes over this datagram while it waits for the
// reply to a request other than "PING": an event message, or a "PONG".
static bool
dropped(std::string_view reply)
{
	return reply.starts_with("<") || reply.starts_with("IFNAME=") ||
	    reply == "PONG\n";
}

static void
serve(responder *r)
{
	char req[512];

	for (;;) {
		ssize_t n = recv(r->fd, req, sizeof req, 0);
		if (n <= 0)
			return;
		std::string_view request(req, static_cast<size_t>(n));
		r->requests.emplace_back(request);
		// The client pings only to resynchronise after a request that
		// gave up waiting (on a loaded machine); answer as the daemon
		// does, so that one slow reply does not fail all that follow.
		if (request == "PING") {
			(void)send(r->fd, "PONG\n", 5, 0);
			continue;
		}
		for (;;) {
			if (r->next == r->chunks.size()) {
				(void)send(r->fd, "FAIL\n", 5, 0);
				break;
			}
			const std::string &c = r->chunks[r->next++];
			// A chunk too big for one datagram is answered as a
			// failure, so that the request is still answered.
			if (send(r->fd, c.data(), c.size(), 0) == -1) {
				(void)send(r->fd, "FAIL\n", 5, 0);
				break;
			}
			if (!dropped(c))
				break;
		}
	}
}

wpa_ctrl *
responder_start(responder *r, std::string_view data)
{
	static bool quiet;
	int sv[2];

	// The client warns about every failed request on standard error; at
	// thousands of inputs a second that is noise.  The fuzzer's own
	// output and the sanitizers' reports do not go through this stream.
	if (!quiet) {
		FILE *null = fopen("/dev/null", "w");
		if (null != nullptr)
			stderr = null;
		quiet = true;
	}

	r->chunks.clear();
	r->requests.clear();
	r->next = 0;
	for (;;) {
		size_t at = data.find(RESPONDER_SEPARATOR);
		r->chunks.emplace_back(data.substr(0, at));
		if (at == data.npos)
			break;
		data.remove_prefix(at + RESPONDER_SEPARATOR.size());
	}
	if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sv) == -1)
		return nullptr;
	// The fuzzer's per-input timer (SIGALRM) would interrupt the client's
	// wait for a reply, which then fails as if the daemon had not answered.
	// Both threads block it while the connection is up; the fuzzer's own
	// threads still take it.
	sigset_t alarm;
	sigemptyset(&alarm);
	sigaddset(&alarm, SIGALRM);
	pthread_sigmask(SIG_BLOCK, &alarm, &r->saved_mask);
	// The client's end is non-blocking, as ctrl_open makes it; it has no
	// private directory and no bound path, so ctrl_close only closes it.
	auto *ctrl = static_cast<wpa_ctrl *>(calloc(1, sizeof(wpa_ctrl)));
	if (ctrl == nullptr) {
		close(sv[0]);
		close(sv[1]);
		pthread_sigmask(SIG_SETMASK, &r->saved_mask, nullptr);
		return nullptr;
	}
	ctrl->fd = sv[0];
	ctrl->wake_fd = -1;
	(void)fcntl(sv[0], F_SETFL, fcntl(sv[0], F_GETFL) | O_NONBLOCK);
	r->fd = sv[1];
	r->thread = std::thread(serve, r);
	return ctrl;
}

int64_t
responder_clock_ms(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void
responder_stop(responder *r, wpa_ctrl *ctrl)
{
	ctrl_close(ctrl);
	// A datagram socket hears nothing of its peer's close: shut it down
	// to end the thread's receive.
	shutdown(r->fd, SHUT_RDWR);
	r->thread.join();
	close(r->fd);
	pthread_sigmask(SIG_SETMASK, &r->saved_mask, nullptr);
}
