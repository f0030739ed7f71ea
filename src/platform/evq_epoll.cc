// The event queue over epoll, signalfd and timerfd (Linux).
//
// The queue's descriptor is the epoll instance.  A read source is added to
// it as it is (level-triggered: readiness stays until the owner reads).
// Signals are blocked and read from one signalfd per queue, so that none
// runs its default action or a handler, whatever its disposition.  Each
// timer is a periodic CLOCK_MONOTONIC timerfd.  The epoll data word says
// which kind of source became ready and on which descriptor; evq_wait()
// turns that back into the kqueue-style identifier and consumes what a
// signal or a timer left to read, so that it is reported once.
//
// The queue records live in a list private to this file: the program has
// one thread, and the tests run several queues one after the other.

#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <unistd.h>

#include "platform.h"

const char *const EVQ_OPEN_CALL = "epoll_create1()";
const char *const EVQ_REGISTER_CALL = "epoll_ctl register";
const char *const EVQ_WAIT_CALL = "epoll_wait";

struct evq_timer {
	uintptr_t ident;   // the timer number
	int fd;            // its timerfd
};

struct evq_queue {
	int fd;            // the epoll instance
	int sigfd;         // signalfd for every signal registered; -1 if none
	sigset_t sigs;     // the signals registered
	evq_timer *timers;
	size_t ntimers;
	evq_queue *next;
};

static evq_queue *queues;

// The epoll data word: the filter above, the descriptor below.
static uint64_t
evq_key(int filter, int fd)
{
	return static_cast<uint64_t>(filter) << 32 | static_cast<uint32_t>(fd);
}

static evq_queue *
evq_find(int evq)
{
	for (evq_queue *q = queues; q != nullptr; q = q->next)
		if (q->fd == evq)
			return q;
	return nullptr;
}

static int
close_keep_errno(int fd)
{
	int saved = errno;
	int r = close(fd);
	errno = saved;
	return r;
}

// Unlinks the record of `evq` and closes what it created.  The signals stay
// blocked: another queue may still listen for them, and unblocking one that
// is pending would run its default action now.
static void
evq_forget(int evq)
{
	for (evq_queue **qp = &queues; *qp != nullptr; qp = &(*qp)->next) {
		evq_queue *q = *qp;
		if (q->fd != evq)
			continue;
		*qp = q->next;
		for (size_t i = 0; i < q->ntimers; i++)
			close_keep_errno(q->timers[i].fd);
		if (q->sigfd != -1)
			close_keep_errno(q->sigfd);
		free(q->timers);
		free(q);
		return;
	}
}

int
evq_open(void)
{
	int fd = epoll_create1(EPOLL_CLOEXEC);
	if (fd == -1)
		return -1;
	// A record still held for this number belongs to a queue that was
	// closed without evq_close(); what it created is released now.
	evq_forget(fd);
	evq_queue *q = static_cast<evq_queue *>(calloc(1, sizeof(*q)));
	if (q == nullptr) {
		close_keep_errno(fd);
		errno = ENOMEM;
		return -1;
	}
	q->fd = fd;
	q->sigfd = -1;
	sigemptyset(&q->sigs);
	q->next = queues;
	queues = q;
	return fd;
}

static bool
evq_change_valid(const struct evq_change *c)
{
	switch (c->filter) {
	case EVQ_READ:
		return c->ident <= INT_MAX;
	case EVQ_SIGNAL: {
		// sigaddset() refuses numbers out of range and those the C
		// library keeps for itself; SIGKILL and SIGSTOP cannot be caught.
		sigset_t set;
		sigemptyset(&set);
		return c->ident < static_cast<uintptr_t>(NSIG) &&
		    sigaddset(&set, static_cast<int>(c->ident)) == 0 &&
		    c->ident != SIGKILL && c->ident != SIGSTOP;
	}
	case EVQ_TIMER:
		return c->seconds != 0;
	default:
		return false;
	}
}

static int
timer_arm(int fd, unsigned seconds)
{
	struct itimerspec its = {};
	its.it_interval.tv_sec = seconds;
	its.it_value.tv_sec = seconds;
	return timerfd_settime(fd, 0, &its, nullptr);
}

static evq_timer *
timer_find(evq_timer *timers, size_t n, uintptr_t ident)
{
	for (size_t i = 0; i < n; i++)
		if (timers[i].ident == ident)
			return &timers[i];
	return nullptr;
}

static bool
sigset_same(const sigset_t *a, const sigset_t *b)
{
	for (int sig = 1; sig < NSIG; sig++)
		if (sigismember(a, sig) != sigismember(b, sig))
			return false;
	return true;
}

// Either every change takes effect, or none does and errno says why: new
// descriptors are closed, epoll additions removed, the signal mask and the
// signalfd's mask put back.  A timer registered again keeps its timerfd and
// takes the new period; a read source or signal registered again is left as
// it is.
int
evq_register(int evq, const struct evq_change *changes, size_t n)
{
	evq_queue *q = evq_find(evq);
	if (q == nullptr) {
		errno = EBADF;
		return -1;
	}
	if (n == 0)
		return 0;

	sigset_t batch_sigs, all_sigs, old_mask;
	sigemptyset(&batch_sigs);
	size_t more_timers = 0;
	for (size_t i = 0; i < n; i++) {
		if (!evq_change_valid(&changes[i])) {
			errno = EINVAL;
			return -1;
		}
		if (changes[i].filter == EVQ_SIGNAL)
			sigaddset(&batch_sigs, static_cast<int>(changes[i].ident));
		if (changes[i].filter == EVQ_TIMER)
			more_timers++;
	}
	all_sigs = q->sigs;
	sigorset(&all_sigs, &all_sigs, &batch_sigs);

	// Room for the timers to come; an array larger than needed is harmless
	// when the registration fails later.
	if (more_timers != 0) {
		evq_timer *t = static_cast<evq_timer *>(reallocarray(q->timers,
		    q->ntimers + more_timers, sizeof(*t)));
		if (t == nullptr) {
			errno = ENOMEM;
			return -1;
		}
		q->timers = t;
	}
	bool *added = static_cast<bool *>(calloc(n, sizeof(bool)));
	if (added == nullptr) {
		errno = ENOMEM;
		return -1;
	}
	size_t ntimers = q->ntimers;    // existing timers, then this batch's
	int new_sigfd = -1;
	bool mask_changed = false, sigfd_changed = false;

	auto rollback = [&]() {
		int saved = errno;
		for (size_t i = 0; i < n; i++)
			if (added[i])
				epoll_ctl(q->fd, EPOLL_CTL_DEL,
				    static_cast<int>(changes[i].ident), nullptr);
		for (size_t i = q->ntimers; i < ntimers; i++)
			close(q->timers[i].fd);
		if (new_sigfd != -1)
			close(new_sigfd);
		if (sigfd_changed)
			signalfd(q->sigfd, &q->sigs, 0);
		if (mask_changed)
			sigprocmask(SIG_SETMASK, &old_mask, nullptr);
		free(added);
		errno = saved;
		return -1;
	};

	// New timers get their descriptors, armed and not yet watched.
	for (size_t i = 0; i < n; i++) {
		const struct evq_change *c = &changes[i];
		if (c->filter != EVQ_TIMER ||
		    timer_find(q->timers, q->ntimers, c->ident) != nullptr)
			continue;
		evq_timer *t = timer_find(q->timers + q->ntimers,
		    ntimers - q->ntimers, c->ident);
		if (t == nullptr) {
			int fd = timerfd_create(CLOCK_MONOTONIC,
			    TFD_NONBLOCK | TFD_CLOEXEC);
			if (fd == -1)
				return rollback();
			t = &q->timers[ntimers++];
			*t = evq_timer{ c->ident, fd };
		}
		if (timer_arm(t->fd, c->seconds) == -1)
			return rollback();
	}

	// Signals are blocked before the signalfd asks for them, so that none
	// arriving in between runs its default action.
	if (!sigset_same(&all_sigs, &q->sigs)) {
		if (sigprocmask(SIG_BLOCK, &batch_sigs, &old_mask) == -1)
			return rollback();
		mask_changed = true;
		if (q->sigfd == -1) {
			new_sigfd = signalfd(-1, &all_sigs,
			    SFD_NONBLOCK | SFD_CLOEXEC);
			if (new_sigfd == -1)
				return rollback();
		} else {
			if (signalfd(q->sigfd, &all_sigs, 0) == -1)
				return rollback();
			sigfd_changed = true;
		}
	}

	struct epoll_event ee = {};
	ee.events = EPOLLIN;
	for (size_t i = 0; i < n; i++) {
		if (changes[i].filter != EVQ_READ)
			continue;
		int fd = static_cast<int>(changes[i].ident);
		ee.data.u64 = evq_key(EVQ_READ, fd);
		if (epoll_ctl(q->fd, EPOLL_CTL_ADD, fd, &ee) == 0)
			added[i] = true;
		else if (errno != EEXIST)
			return rollback();
	}
	for (size_t i = q->ntimers; i < ntimers; i++) {
		ee.data.u64 = evq_key(EVQ_TIMER, q->timers[i].fd);
		if (epoll_ctl(q->fd, EPOLL_CTL_ADD, q->timers[i].fd, &ee) == -1)
			return rollback();
	}
	if (new_sigfd != -1) {
		ee.data.u64 = evq_key(EVQ_SIGNAL, new_sigfd);
		if (epoll_ctl(q->fd, EPOLL_CTL_ADD, new_sigfd, &ee) == -1)
			return rollback();
	}

	// Nothing can fail from here on.  Timers that existed before take
	// their new period, in the order of the changes.
	for (size_t i = 0; i < n; i++) {
		evq_timer *t;
		if (changes[i].filter == EVQ_TIMER && (t = timer_find(q->timers,
		    q->ntimers, changes[i].ident)) != nullptr)
			timer_arm(t->fd, changes[i].seconds);
	}
	q->ntimers = ntimers;
	if (new_sigfd != -1)
		q->sigfd = new_sigfd;
	q->sigs = all_sigs;
	free(added);
	return 0;
}

// Reads exactly `size` bytes that a signalfd or timerfd holds.  1 when read,
// 0 when there was nothing (another reader was first), -1 on error.
static int
take(int fd, void *buf, size_t size)
{
	ssize_t r = read(fd, buf, size);
	if (r == static_cast<ssize_t>(size))
		return 1;
	if (r == -1 && (errno == EAGAIN || errno == EINTR))
		return 0;
	if (r != -1)
		errno = EIO;
	return -1;
}

static int
evq_next(int evq, struct evq_event *ev, bool block)
{
	evq_queue *q = evq_find(evq);
	if (q == nullptr) {
		errno = EBADF;
		return -1;
	}
	for (;;) {
		struct epoll_event ee;
		// A stop and continue interrupts the wait even without a handler;
		// it is resumed.
		int r = epoll_wait(q->fd, &ee, 1, block ? -1 : 0);
		if (r == -1 && errno != EINTR)
			return -1;
		if (r != 1) {
			if (!block)
				return 0;
			continue;
		}
		int filter = static_cast<int>(ee.data.u64 >> 32);
		int fd = static_cast<int>(static_cast<uint32_t>(ee.data.u64));
		*ev = evq_event{ 0, filter, false, 0 };
		switch (filter) {
		case EVQ_READ:
			ev->ident = fd;
			return 1;
		case EVQ_TIMER: {
			uint64_t expirations;
			r = take(fd, &expirations, sizeof(expirations));
			if (r == -1)
				return -1;
			evq_timer *t = nullptr;
			for (size_t i = 0; i < q->ntimers && t == nullptr; i++)
				if (q->timers[i].fd == fd)
					t = &q->timers[i];
			if (r == 0 || t == nullptr)
				continue;
			ev->ident = t->ident;
			return 1;
		}
		case EVQ_SIGNAL: {
			struct signalfd_siginfo si;
			r = take(fd, &si, sizeof(si));
			if (r == -1)
				return -1;
			if (r == 0)
				continue;
			ev->ident = si.ssi_signo;
			return 1;
		}
		}
	}
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
	evq_forget(evq);
	close(evq);
}
