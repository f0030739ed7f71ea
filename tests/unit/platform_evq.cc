// The event queue: read sources, signals, timers, registration and release.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <set>

#include "platform.h"

namespace {

int
open_descriptors()
{
	int n = 0;
	for (int fd = 0; fd < 1024; fd++)
		n += fcntl(fd, F_GETFD) != -1;
	return n;
}

// True when the queue has an event ready, without waiting for one.
bool
pending(int evq)
{
	struct pollfd pfd = { evq, POLLIN, 0 };
	return poll(&pfd, 1, 0) == 1;
}

struct pipe_pair {
	int r = -1, w = -1;
	pipe_pair() { int p[2]; if (pipe(p) == 0) r = p[0], w = p[1]; }
	~pipe_pair() { close(r); close(w); }
	evq_change change() const { return { uintptr_t(r), EVQ_READ, 0 }; }
};

evq_event
wait_one(int evq)
{
	evq_event ev = {};
	EXPECT_EQ(evq_wait(evq, &ev), 1) << strerror(errno);
	EXPECT_FALSE(ev.error);
	return ev;
}

TEST(platform_evq, read_sources_one_event_per_wait)
{
	pipe_pair a, b;
	int evq = evq_open();
	ASSERT_GE(evq, 0);
	evq_change ch[] = { a.change(), b.change() };
	ASSERT_EQ(evq_register(evq, ch, 2), 0);
	EXPECT_FALSE(pending(evq));

	// Readiness stays until the data is read: the same source again.
	ASSERT_EQ(write(a.w, "x", 1), 1);
	for (int i = 0; i < 2; i++) {
		evq_event ev = wait_one(evq);
		EXPECT_EQ(ev.ident, uintptr_t(a.r));
		EXPECT_EQ(ev.filter, EVQ_READ);
	}
	// Two ready sources come back in two waits, both of them.
	ASSERT_EQ(write(b.w, "y", 1), 1);
	std::set<uintptr_t> seen;
	for (int i = 0; i < 2; i++) {
		evq_event ev = wait_one(evq);
		seen.insert(ev.ident);
		char c;
		ASSERT_EQ(read(int(ev.ident), &c, 1), 1);
	}
	EXPECT_EQ(seen, (std::set<uintptr_t>{ uintptr_t(a.r), uintptr_t(b.r) }));
	EXPECT_FALSE(pending(evq));
	evq_close(evq);
}

volatile sig_atomic_t handler_runs;

void
count_handler(int)
{
	handler_runs = handler_runs + 1;
}

// Each signal arrives once, as an event with its number; none ends the
// process or runs a handler, and one ignored by default keeps SIG_DFL.
TEST(platform_evq, signals_arrive_as_events)
{
	struct sigaction sa = {};
	sa.sa_handler = count_handler;
	ASSERT_EQ(sigaction(SIGUSR1, &sa, nullptr), 0);
	int evq = evq_open();
	ASSERT_GE(evq, 0);
	const int sigs[] = { SIGWINCH, SIGTERM, SIGUSR1 };
	evq_change ch[3];
	for (int i = 0; i < 3; i++)
		ch[i] = { uintptr_t(sigs[i]), EVQ_SIGNAL, 0 };
	ASSERT_EQ(evq_register(evq, ch, 3), 0);
	ASSERT_EQ(sigaction(SIGWINCH, nullptr, &sa), 0);
	EXPECT_EQ(sa.sa_handler, SIG_DFL);

	for (int sig : sigs) {
		ASSERT_EQ(raise(sig), 0);
		evq_event ev = wait_one(evq);
		EXPECT_EQ(ev.ident, uintptr_t(sig)) << strsignal(sig);
		EXPECT_EQ(ev.filter, EVQ_SIGNAL);
		EXPECT_FALSE(pending(evq)) << strsignal(sig);
	}
	EXPECT_EQ(handler_runs, 0);
	evq_close(evq);
}

// A signal the program kept blocked before it registered it (as start-up
// does) arrives as an event all the same; a stop signal stops nothing.
TEST(platform_evq, signals_blocked_before_registration_arrive)
{
	sigset_t set;
	sigemptyset(&set);
	sigaddset(&set, SIGQUIT);
	sigaddset(&set, SIGTSTP);
	ASSERT_EQ(sigprocmask(SIG_BLOCK, &set, nullptr), 0);
	int evq = evq_open();
	ASSERT_GE(evq, 0);
	evq_change ch[] = { { uintptr_t(SIGQUIT), EVQ_SIGNAL, 0 },
	    { uintptr_t(SIGTSTP), EVQ_SIGNAL, 0 } };
	ASSERT_EQ(evq_register(evq, ch, 2), 0);
	for (int sig : { SIGQUIT, SIGTSTP }) {
		ASSERT_EQ(raise(sig), 0);
		evq_event ev = wait_one(evq);
		EXPECT_EQ(ev.ident, uintptr_t(sig)) << strsignal(sig);
		EXPECT_EQ(ev.filter, EVQ_SIGNAL);
	}
	evq_close(evq);
}

// The watch descriptor is readable while a watched signal waits, not for
// the other signals of the queue, and taking the signal empties it.
TEST(platform_evq, signal_watch_for_a_wait_elsewhere)
{
	int evq = evq_open();
	ASSERT_GE(evq, 0);
	evq_change ch[] = { { SIGWINCH, EVQ_SIGNAL, 0 }, { SIGTERM, EVQ_SIGNAL, 0 },
	    { SIGHUP, EVQ_SIGNAL, 0 } };
	ASSERT_EQ(evq_register(evq, ch, 3), 0);
	EXPECT_EQ(evq_signal_take(evq), 0) << "no watch yet";
	const int ends[] = { SIGTERM, SIGHUP };
	int watch = evq_signal_watch(evq, ends, 2);
	ASSERT_GE(watch, 0) << strerror(errno);
	const int unregistered[] = { SIGUSR2 };
	EXPECT_EQ(evq_signal_watch(evq, unregistered, 1), -1);
	struct pollfd pfd = { watch, POLLIN, 0 };

	ASSERT_EQ(raise(SIGWINCH), 0);
	EXPECT_EQ(poll(&pfd, 1, 0), 0) << "a window change is no reason to stop";
	EXPECT_EQ(evq_signal_take(evq), 0);
	evq_event ev = wait_one(evq);
	EXPECT_EQ(ev.ident, uintptr_t(SIGWINCH));

	ASSERT_EQ(raise(SIGTERM), 0);
	EXPECT_EQ(poll(&pfd, 1, 0), 1);
	EXPECT_EQ(evq_signal_take(evq), SIGTERM);
	EXPECT_EQ(poll(&pfd, 1, 0), 0);
	EXPECT_EQ(evq_signal_take(evq), 0);
	evq_close(evq);
}

// Timers fire every period, the first time one period after registration,
// and come back with their own numbers.
TEST(platform_evq, periodic_timers)
{
	int evq = evq_open();
	ASSERT_GE(evq, 0);
	evq_change ch[] = { { 0, EVQ_TIMER, 1 }, { 1, EVQ_TIMER, 2 } };
	struct timespec t0, t1;
	clock_gettime(CLOCK_MONOTONIC, &t0);
	ASSERT_EQ(evq_register(evq, ch, 2), 0);
	// Within two seconds: timer 0 twice, timer 1 once.
	int count[2] = {};
	for (int i = 0; i < 3; i++) {
		evq_event ev = wait_one(evq);
		ASSERT_EQ(ev.filter, EVQ_TIMER);
		ASSERT_LT(ev.ident, 2u);
		count[ev.ident]++;
		if (i == 0) {
			clock_gettime(CLOCK_MONOTONIC, &t1);
			EXPECT_EQ(ev.ident, 0u);
			EXPECT_GE((t1.tv_sec - t0.tv_sec) * 1000000000L +
			    (t1.tv_nsec - t0.tv_nsec), 1000000000L);
		}
	}
	EXPECT_EQ(count[0], 2);
	EXPECT_EQ(count[1], 1);
	evq_close(evq);
}

// A registration that fails changes nothing: no descriptor stays open, no
// source is watched and no signal is caught.
TEST(platform_evq, failed_registration_changes_nothing)
{
	int evq = evq_open();
	ASSERT_GE(evq, 0);
	pipe_pair p;
	const int closed_fd = 900;   // above anything the registration opens
	ASSERT_EQ(fcntl(closed_fd, F_GETFD), -1);
	struct { evq_change bad; int err; } cases[] = {
		{ { uintptr_t(closed_fd), EVQ_READ, 0 }, EBADF },
		{ { 0, 0, 0 }, EINVAL },
		{ { 0, EVQ_SIGNAL, 0 }, EINVAL },
		{ { SIGKILL, EVQ_SIGNAL, 0 }, EINVAL },
		{ { 100000, EVQ_SIGNAL, 0 }, EINVAL },
		{ { 4, EVQ_TIMER, 0 }, EINVAL },
	};
	int before = open_descriptors();
	for (const auto &c : cases) {
		evq_change ch[] = { p.change(), { 9, EVQ_TIMER, 1 },
		    { SIGUSR2, EVQ_SIGNAL, 0 }, c.bad };
		errno = 0;
		EXPECT_EQ(evq_register(evq, ch, 4), -1);
		EXPECT_EQ(errno, c.err) << "filter " << c.bad.filter << " ident "
		    << c.bad.ident;
		EXPECT_EQ(open_descriptors(), before);
	}
	ASSERT_EQ(write(p.w, "x", 1), 1);
	EXPECT_FALSE(pending(evq));

	// SIGUSR2 kept its default action: it ends a child that raises it.
	pid_t pid = fork();
	ASSERT_NE(pid, -1);
	if (pid == 0) {
		raise(SIGUSR2);
		_exit(0);
	}
	int st;
	ASSERT_EQ(waitpid(pid, &st, 0), pid);
	EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGUSR2);

	evq_change ok = p.change();
	ASSERT_EQ(evq_register(evq, &ok, 1), 0);
	EXPECT_EQ(wait_one(evq).ident, uintptr_t(p.r));
	evq_close(evq);
}

// Queues are independent, and closing one releases all it created, also
// when it was closed with close() and its number comes back.
TEST(platform_evq, close_releases)
{
	int before = open_descriptors();
	evq_change ch[] = { { 0, EVQ_TIMER, 5 }, { 1, EVQ_TIMER, 30 },
	    { SIGWINCH, EVQ_SIGNAL, 0 } };
	int q1 = evq_open(), q2 = evq_open();
	ASSERT_GE(q1, 0);
	ASSERT_GE(q2, 0);
	ASSERT_EQ(evq_register(q1, ch, 3), 0);
	ASSERT_EQ(evq_register(q2, ch, 3), 0);
	{
		pipe_pair p;
		evq_change rd = p.change();
		ASSERT_EQ(evq_register(q2, &rd, 1), 0);
		ASSERT_EQ(write(p.w, "x", 1), 1);
		EXPECT_FALSE(pending(q1));
		EXPECT_EQ(wait_one(q2).ident, uintptr_t(p.r));
	}
	evq_close(q2);
	close(q1);
	int q3 = evq_open();
	ASSERT_EQ(evq_register(q3, ch, 3), 0);
	evq_close(q3);
	EXPECT_EQ(open_descriptors(), before);
	evq_event ev;
	errno = 0;
	EXPECT_EQ(evq_wait(q3, &ev), -1);
	EXPECT_EQ(errno, EBADF);
}

// Stopping and continuing the process interrupts its wait; the wait goes on
// and reports the event that follows.
TEST(platform_evq, wait_survives_stop_and_continue)
{
	pipe_pair data, ready;
	pid_t pid = fork();
	ASSERT_NE(pid, -1);
	if (pid == 0) {
		int evq = evq_open();
		evq_change rd = data.change();
		if (evq == -1 || evq_register(evq, &rd, 1) == -1)
			_exit(2);
		(void)!write(ready.w, "r", 1);
		evq_event ev;
		_exit(evq_wait(evq, &ev) == 1 && ev.ident == rd.ident ? 0 : 1);
	}
	char c;
	ASSERT_EQ(read(ready.r, &c, 1), 1);
	int st;
	for (int i = 0; i < 5; i++) {
		usleep(20000);   // let the child reach its wait
		ASSERT_EQ(kill(pid, SIGSTOP), 0);
		ASSERT_EQ(waitpid(pid, &st, WUNTRACED), pid);
		ASSERT_EQ(kill(pid, SIGCONT), 0);
		ASSERT_EQ(waitpid(pid, &st, WCONTINUED), pid);
	}
	ASSERT_EQ(write(data.w, "x", 1), 1);
	ASSERT_EQ(waitpid(pid, &st, 0), pid);
	EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0)
	    << "the wait failed instead of resuming";
}

} // namespace
