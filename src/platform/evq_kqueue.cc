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
// records, and no handler runs; a registered signal that was blocked is
// unblocked.  Should the submission fail, the changes
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
		    nullptr) == 0) {
			// The filter sees only signals that are delivered: one
			// the caller kept blocked (through its start-up) is
			// unblocked, to reach the filter and nothing else.
			sigset_t unblock;
			sigemptyset(&unblock);
			for (size_t i = 0; i < n; i++)
				if (changes[i].filter == EVQ_SIGNAL)
					sigaddset(&unblock,
					    static_cast<int>(changes[i].ident));
			sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
			return done(0);
		}
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

// The watch is a second kqueue with a signal filter for each signal: the
// kernel records a delivery in every queue that asks for it.  It is kept
// by the main queue's descriptor, in a list private to this file.
struct evq_watch {
	int evq;
	int kq;
	evq_watch *next;
};

static evq_watch *watches;

static evq_watch *
watch_find(int evq)
{
	for (evq_watch *w = watches; w != nullptr; w = w->next)
		if (w->evq == evq)
			return w;
	return nullptr;
}

static void
watch_forget(int evq)
{
	for (evq_watch **wp = &watches; *wp != nullptr; wp = &(*wp)->next) {
		evq_watch *w = *wp;
		if (w->evq != evq)
			continue;
		*wp = w->next;
		close(w->kq);
		free(w);
		return;
	}
}

int
evq_signal_watch(int evq, const int *signals, size_t n)
{
	auto *kev = static_cast<struct kevent *>(calloc(n > 0 ? n : 1,
	    sizeof(struct kevent)));
	auto *w = static_cast<evq_watch *>(calloc(1, sizeof(evq_watch)));
	int kq = -1;

	if (kev == nullptr || w == nullptr) {
		free(kev);
		free(w);
		errno = ENOMEM;
		return -1;
	}
	for (size_t i = 0; i < n; i++) {
		kev[i].ident = static_cast<uintptr_t>(signals[i]);
		kev[i].filter = EVFILT_SIGNAL;
		kev[i].flags = EV_ADD;
	}
	if ((kq = kqueue()) == -1 || kevent(kq, kev, static_cast<int>(n),
	    nullptr, 0, nullptr) == -1) {
		int saved = errno;
		if (kq != -1)
			close(kq);
		free(kev);
		free(w);
		errno = saved;
		return -1;
	}
	free(kev);
	watch_forget(evq);
	*w = evq_watch{ evq, kq, watches };
	watches = w;
	return kq;
}

int
evq_signal_take(int evq)
{
	static const struct timespec zero = { 0, 0 };
	evq_watch *w = watch_find(evq);
	struct kevent kev;

	if (w == nullptr || kevent(w->kq, nullptr, 0, &kev, 1, &zero) != 1)
		return 0;
	return static_cast<int>(kev.ident);
}

void
evq_close(int evq)
{
	watch_forget(evq);
	close(evq);
}
