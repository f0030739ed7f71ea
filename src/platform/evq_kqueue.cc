// The event queue over kqueue (FreeBSD), where it is the system's own
// interface: read, signal and timer filters, one event per wait.

#include <sys/event.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <unistd.h>

#include "platform.h"

const char *const EVQ_OPEN_CALL = "kqueue()";
const char *const EVQ_REGISTER_CALL = "kevent register";
const char *const EVQ_WAIT_CALL = "kevent wait";

int
evq_open(void)
{
	return kqueue();
}

// Signals whose default action is to do nothing; every other one would end
// (or stop) the process before the signal filter could report it.
static bool
ignored_by_default(int sig)
{
	switch (sig) {
	case SIGCHLD: case SIGURG: case SIGWINCH: case SIGIO: case SIGINFO:
	case SIGCONT:
		return true;
	default:
		return false;
	}
}

static bool
evq_change_valid(const struct evq_change *c)
{
	switch (c->filter) {
	case EVQ_READ:
		return c->ident <= INT_MAX;
	case EVQ_SIGNAL: {
		// sigaddset() refuses numbers out of range; SIGKILL and SIGSTOP
		// cannot be caught.
		sigset_t set;
		sigemptyset(&set);
		return c->ident <= INT_MAX &&
		    sigaddset(&set, static_cast<int>(c->ident)) == 0 &&
		    c->ident != SIGKILL && c->ident != SIGSTOP;
	}
	case EVQ_TIMER:
		return c->seconds != 0;
	default:
		return false;
	}
}

// All changes go to the kernel in one submission.  A signal that would end
// the process by default is set to be ignored, which the signal filter still
// records, and no handler runs.  Should the submission fail, the changes
// made so far are taken back as far as can be: the dispositions restored and
// the batch's registrations deleted.
int
evq_register(int evq, const struct evq_change *changes, size_t n)
{
	if (n == 0)
		return 0;
	for (size_t i = 0; i < n; i++) {
		if (!evq_change_valid(&changes[i])) {
			errno = EINVAL;
			return -1;
		}
	}
	struct kevent *kev = static_cast<struct kevent *>(calloc(n, sizeof(*kev)));
	struct sigaction *old = static_cast<struct sigaction *>(calloc(n,
	    sizeof(*old)));
	bool *changed = static_cast<bool *>(calloc(n, sizeof(bool)));
	auto done = [&](int r) {
		int saved = errno;
		free(kev);
		free(old);
		free(changed);
		errno = saved;
		return r;
	};
	if (kev == nullptr || old == nullptr || changed == nullptr) {
		errno = ENOMEM;
		return done(-1);
	}

	static constexpr short filters[] = { 0, EVFILT_READ, EVFILT_SIGNAL,
	    EVFILT_TIMER };
	// Filled field by field (the rest stays zero from calloc) rather than
	// with EV_SET, whose definition is C.
	for (size_t i = 0; i < n; i++) {
		const struct evq_change *c = &changes[i];
		kev[i].ident = c->ident;
		kev[i].filter = filters[c->filter];
		kev[i].flags = EV_ADD;
		if (c->filter == EVQ_TIMER) {
			kev[i].fflags = NOTE_SECONDS;
			kev[i].data = c->seconds;
		}
	}
	int err = 0;
	for (size_t i = 0; i < n; i++) {
		if (changes[i].filter != EVQ_SIGNAL)
			continue;
		int sig = static_cast<int>(changes[i].ident);
		if (sigaction(sig, nullptr, &old[i]) == -1) {
			err = errno;
			break;
		}
		if (old[i].sa_handler == SIG_IGN ||
		    (old[i].sa_handler == SIG_DFL && ignored_by_default(sig)))
			continue;
		struct sigaction ign = {};
		ign.sa_handler = SIG_IGN;
		sigemptyset(&ign.sa_mask);
		if (sigaction(sig, &ign, nullptr) == -1) {
			err = errno;
			break;
		}
		changed[i] = true;
	}
	if (err == 0) {
		if (kevent(evq, kev, static_cast<int>(n), nullptr, 0,
		    nullptr) == 0)
			return done(0);
		// The changes before the failing one were made.
		err = errno;
		for (size_t i = 0; i < n; i++) {
			kev[i].flags = EV_DELETE;
			kevent(evq, &kev[i], 1, nullptr, 0, nullptr);
		}
	}
	// Restored in reverse, so that a signal listed twice ends as it was.
	for (size_t i = n; i-- > 0;)
		if (changed[i])
			sigaction(static_cast<int>(changes[i].ident), &old[i], nullptr);
	errno = err;
	return done(-1);
}

static int
evq_next(int evq, struct evq_event *ev, bool block)
{
	static constexpr int filters[][2] = { { EVFILT_READ, EVQ_READ },
	    { EVFILT_SIGNAL, EVQ_SIGNAL }, { EVFILT_TIMER, EVQ_TIMER } };
	static const struct timespec zero = { 0, 0 };
	struct kevent kev;
	int r;

	// A stop and continue interrupts the wait even without a handler; it
	// is resumed.
	for (;;) {
		r = kevent(evq, nullptr, 0, &kev, 1, block ? nullptr : &zero);
		if (r == 1 || (r == -1 && errno != EINTR))
			break;
		if (!block)
			return 0;
	}
	if (r == -1)
		return -1;
	*ev = evq_event{ kev.ident, 0, (kev.flags & EV_ERROR) != 0, 0 };
	for (const auto &f : filters)
		if (kev.filter == f[0])
			ev->filter = f[1];
	if (ev->error)
		ev->data = kev.data;
	return 1;
}

int
evq_wait(int evq, struct evq_event *ev)
{
	return evq_next(evq, ev, true);
}

int
evq_poll(int evq, struct evq_event *ev)
{
	return evq_next(evq, ev, false);
}

void
evq_close(int evq)
{
	close(evq);
}
