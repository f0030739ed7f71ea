// The event loop's dispatch and redraws, and the handlers of the window
// size, the two timers, the routing socket and the terminating signals.
#include <sys/socket.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include <thread>

#include <gtest/gtest.h>

#include "core_state.h"

namespace {

using strings = std::vector<std::string>;

struct loop_handlers : core_test {};

TEST_F(loop_handlers, AWindowChangeLimitsTheScrollButNeverRaisesIt)
{
	const struct {
		int cols;
		size_t hscroll;
		int new_cols;
		size_t want;
	} cases[] = {
		{ 70, 9, 75, 5 },
		{ 70, 9, 80, 0 },
		{ 70, 9, 81, 0 },
		{ 70, 9, 200, 0 },
		{ 70, 9, 71, 9 },    // one more than the scroll keys reach
		{ 70, 5, 60, 5 },    // narrowing leaves it
		{ 60, 20, 70, 10 },
	};
	for (const auto &c : cases) {
		tty.resize(34, c.cols);
		ASSERT_EQ(fetch_winsize(), 0);
		app.hscroll = c.hscroll;
		tty.resize(30, c.new_cols);
		EXPECT_EQ(handle_winch(nullptr), 0);
		EXPECT_EQ(app.hscroll, c.want) << c.cols << " -> " << c.new_cols;
		EXPECT_EQ(app_cols(), c.new_cols);
		EXPECT_EQ(app.tables[SECTION_KNOWN].visible, 11u) << "the layout follows the size";
	}
}

TEST_F(loop_handlers, AWindowThatCannotBeMeasuredEndsTheProgram)
{
	app.tty_fd = -1;
	CORE_EXPECT_EXIT(handle_winch(nullptr), testing::ExitedWithCode(1),
	    "failed to fetch terminal winsize");
}

TEST_F(loop_handlers, TheNotificationTimerRetiresTheOldestEntryPerTick)
{
	for (const char *t : { "one", "two", "three" })
		notify(&app.notifications, t);
	const strings after[] = { { "two", "three" }, { "three" }, {}, {} };
	for (const strings &want : after) {
		EXPECT_EQ(handle_notification_timer(nullptr), 0);
		EXPECT_EQ(notes(), want);
	}
}

TEST_F(loop_handlers, TheScanTimerAsksForAScanAndNothingElse)
{
	connect();
	EXPECT_EQ(handle_scan_timer(nullptr), 0);
	EXPECT_EQ(sent(), strings{ "SCAN" });
	EXPECT_TRUE(notes().empty());

	// A refused scan is no reason to stop, but the status is checked.
	change_world([](fake_world *w) { w->fail.insert("SCAN"); });
	stderr_begin();
	EXPECT_EQ(handle_scan_timer(nullptr), 0);
	EXPECT_NE(stderr_end().find("failed to initiate scan"), std::string::npos);
	EXPECT_EQ(sent(), (strings{ "SCAN", "STATUS" }));
}

TEST_F(loop_handlers, TheScanTimerEndsTheProgramWhenTheDaemonIsGone)
{
	connect();
	fake_daemon_stop(&daemon);
	CORE_EXPECT_EXIT(handle_scan_timer(nullptr), testing::ExitedWithCode(1),
	    "failed to retrieve wpa_supplicant status");
}

// A netlink message header, as both systems lay it out.
struct nl_header {
	uint32_t len;
	uint16_t type;
	uint16_t flags;
	uint32_t seq;
	uint32_t pid;
};

TEST_F(loop_handlers, TheRoutingHandlerTakesOneBufferedMessagePerReadiness)
{
	connect();
	// Two messages of other types around the address messages, one whose
	// length is no multiple of 4, and one that runs past the bytes held.
	const struct {
		uint16_t type;
		uint32_t len;
		uint32_t room;
	} batch[] = {
		{ RTNL_NEWADDR, 18, 20 }, { 16, 16, 16 }, { RTNL_DELADDR, 24, 24 },
		{ 17, 20, 20 }, { RTNL_NEWADDR, 64, 16 },
	};
	std::vector<char> buf(4096);
	rtnl_state r{};
	r.buf = buf.data();
	r.bufsize = buf.size();
	for (const auto &m : batch) {
		nl_header h{ m.len, m.type, 0, 0, 0 };
		memcpy(r.buf + r.len, &h, sizeof h);
		r.len += m.room;
	}
	// Once the batch is used up the handler receives again; nothing waits.
	int sp[2];
	ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, sp), 0);
	r.fd = sp[0];
	app.rtnl = &r;

	const strings want[] = {
		{ "STATUS" }, {}, { "STATUS" }, {}, {}, {},
	};
	for (const strings &w : want) {
		EXPECT_EQ(handle_rtnl(nullptr), 0);
		EXPECT_EQ(sent(), w);
	}
	EXPECT_TRUE(notes().empty());
	app.rtnl = nullptr;
	close(sp[0]);
	close(sp[1]);
}

// Each source of the dispatch test reads its byte and counts the frames
// written before it was called.
struct source_probe {
	int fd;
	int frames_seen = -1;
	int *calls;
	int frames_fd;
};

int
count_frames(int fd)
{
	static std::string all;
	char buf[65536];
	ssize_t n;
	while ((n = read(fd, buf, sizeof buf)) > 0)
		all.append(buf, static_cast<size_t>(n));
	int frames = 0;
	for (size_t at = all.find("\e[2J\e[1;1H"); at != all.npos;
	    at = all.find("\e[2J\e[1;1H", at + 1))
		frames++;
	return frames;
}

int
probe(void *udata)
{
	auto *p = static_cast<source_probe *>(udata);
	char c;
	EXPECT_EQ(read(p->fd, &c, 1), 1);
	p->frames_seen = count_frames(p->frames_fd);
	return ++*p->calls == 2 ? 1 : 0;
}

int
decoy(void *)
{
	ADD_FAILURE() << "a record of another filter was called";
	return 1;
}

TEST_F(loop_handlers, TwoReadyEventsAreHandledInTwoPassesEachAfterItsOwnFrame)
{
	connect();
	int frames[2], a[2], b[2];
	ASSERT_EQ(pipe2(frames, O_NONBLOCK), 0);
	ASSERT_EQ(pipe(a), 0);
	ASSERT_EQ(pipe(b), 0);
	app.tty_fd = frames[1];
	int calls = 0;
	source_probe pa{ a[0], -1, &calls, frames[0] };
	source_probe pb{ b[0], -1, &calls, frames[0] };
	ASSERT_NE(app.kq_fd = evq_open(), -1);
	handler_add(static_cast<uintptr_t>(a[0]), EVQ_READ, probe, &pa);
	handler_add(static_cast<uintptr_t>(b[0]), EVQ_READ, probe, &pb);
	// Same number, other filter: the dispatch must pass it by.
	handler_add(static_cast<uintptr_t>(a[0]), EVQ_SIGNAL, decoy, nullptr);
	const evq_change ch[] = {
		{ static_cast<uintptr_t>(a[0]), EVQ_READ, 0 },
		{ static_cast<uintptr_t>(b[0]), EVQ_READ, 0 },
	};
	ASSERT_EQ(evq_register(app.kq_fd, ch, 2), 0);
	ASSERT_EQ(write(a[1], "a", 1), 1);
	ASSERT_EQ(write(b[1], "b", 1), 1);

	event_loop();
	EXPECT_EQ(calls, 2);
	std::vector<int> seen = { pa.frames_seen, pb.frames_seen };
	std::sort(seen.begin(), seen.end());
	EXPECT_EQ(seen, (std::vector<int>{ 1, 2 }));
	app.tty_fd = tty.slave;
	for (int fd : { frames[0], frames[1], a[0], a[1], b[0], b[1] })
		close(fd);
}

int
nested_key(void *udata)
{
	EXPECT_EQ(*static_cast<int *>(udata), 42);
	return read_key() == 'y';
}

TEST_F(loop_handlers, ANestedLoopPutsTheKeyHandlerBackWhenItEnds)
{
	connect();
	loop_setup();
	int data = 42;
	// The loop draws once the keys already read are taken; then the
	// last key ends it.
	tty.type("xx");
	std::thread later([&] {
		tty.wait_for("\e[2J\e[1;1H");
		tty.type_now("y");
	});
	event_loop_nested(nested_key, &data);
	later.join();
	event_handler *eh = handler_find(static_cast<uintptr_t>(app.tty_fd), EVQ_READ);
	ASSERT_NE(eh, nullptr);
	EXPECT_EQ(eh->callback, handle_input);
	EXPECT_EQ(eh->udata, nullptr);
	EXPECT_TRUE(tty.wait_for("\e[2J\e[1;1H")) << "the nested loop draws";
}

TEST_F(loop_handlers, AFrameThatCannotBeWrittenEndsTheProgram)
{
	connect();
	app.tty_fd = -1;
	CORE_EXPECT_EXIT(redraw(), testing::ExitedWithCode(1),
	    "write: Bad file descriptor");
}

// The terminating signals reach the program through the queue and end it
// through the normal way out, with the screen restored.
TEST_F(loop_handlers, ATerminatingSignalEndsTheLoopWithItsName)
{
	connect();
	const struct {
		int sig;
		const char *message;
	} cases[] = {
		{ SIGTERM, "terminated by SIGTERM" },
		{ SIGHUP, "terminated by SIGHUP" },
		{ SIGINT, "terminated by SIGINT" },
	};
	for (const auto &c : cases) {
		size_t mark = tty.output().size();
		CORE_EXPECT_EXIT({
			static rtnl_state r;
			app.rtnl = &r;
			if (rtnl_open(app.rtnl) == -1 || (app.kq_fd = evq_open()) == -1 ||
			    register_sources() != 0)
				_exit(3);
			raise(c.sig);
			event_loop();
		}, testing::ExitedWithCode(1), c.message);
		EXPECT_TRUE(tty.wait_for("\e[?1049l\e[?25h", mark));
	}
}

} // namespace
