// Decoding of the bytes the terminal sends into key codes.
#include <sys/ioctl.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app.h"
#include "notify.h"
#include "state.h"
#include "term.h"
#include "core_state.h"
#include "keys.h"

namespace {

struct pipe_tty {
	int rd = -1, wr = -1;
	pipe_tty()
	{
		int fds[2];
		EXPECT_EQ(pipe2(fds, O_NONBLOCK), 0);
		rd = fds[0];
		wr = fds[1];
		app_reset();
		app.tty_fd = rd;
	}
	~pipe_tty()
	{
		close(rd);
		if (wr != -1)
			close(wr);
		app.tty_fd = -1;
	}
	void send(const std::string &bytes)
	{
		ASSERT_EQ(write(wr, bytes.data(), bytes.size()),
		    static_cast<ssize_t>(bytes.size()));
	}
	// Bytes the terminal holds, not yet read.
	int unread()
	{
		int n = 0;
		ioctl(rd, FIONREAD, &n);
		return n;
	}
	// Bytes left unread.
	std::string rest()
	{
		fcntl(rd, F_SETFL, O_NONBLOCK);
		std::string out;
		char c;
		while (read(rd, &c, 1) == 1)
			out += c;
		return out;
	}
};

TEST(keys_read, DecodesEverySequenceOfTheTable)
{
	const struct {
		const char *bytes;
		int key;
	} cases[] = {
		{"\e[A", KEY_UP}, {"\e[B", KEY_DOWN}, {"\e[C", KEY_RIGHT},
		{"\e[D", KEY_LEFT}, {"\e[H", KEY_HOME}, {"\eOH", KEY_HOME},
		{"\e[1~", KEY_HOME}, {"\e[7~", KEY_HOME}, {"\e[F", KEY_END},
		{"\eOF", KEY_END}, {"\e[4~", KEY_END}, {"\e[8~", KEY_END},
		{"\e[3~", KEY_DELETE}, {"\e[5~", KEY_PAGE_UP},
		{"\e[6~", KEY_PAGE_DOWN},
		// With modifiers, the same keys: Ctrl-End, Ctrl-Up,
		// Shift-Left, Ctrl-Right.
		{"\e[1;5F", KEY_END}, {"\e[1;5A", KEY_UP}, {"\e[1;2D", KEY_LEFT},
		{"\e[1;5C", KEY_RIGHT},
	};
	for (const auto &c : cases) {
		pipe_tty tty;
		tty.send(std::string(c.bytes) + "x");
		EXPECT_EQ(read_key(), c.key) << c.bytes + 1;
		EXPECT_EQ(read_key(), 'x') << "the sequence is taken whole";
		EXPECT_FALSE(key_pending());
	}
}

TEST(keys_read, UnknownSequencesAreOneIgnoredKeyAndALoneEscapeIsEscape)
{
	key_wait_ms = 1;
	const struct {
		const char *bytes;
		int key;
	} cases[] = {
		{"\e", KEY_ESC},        // a lone Escape key, after the wait
		{"\e[", KEY_NONE},      // cut after the bracket
		{"\e[2~", KEY_NONE},    // Insert
		{"\e[0~", KEY_NONE},
		{"\e[9~", KEY_NONE},
		{"\e[E", KEY_NONE},
		{"\e[G", KEY_NONE},
		{"\e[15;5~", KEY_NONE}, // Ctrl-F5
		{"\e[5", KEY_NONE},     // a digit and nothing after it
		{"\exyz", KEY_NONE},    // Alt-x: the x goes with it
	};
	for (const auto &c : cases) {
		pipe_tty tty;
		tty.send(c.bytes);
		EXPECT_EQ(read_key(), c.key) << c.bytes + 1;
		if (std::string(c.bytes) == "\exyz") {
			EXPECT_EQ(read_key(), 'y');
			EXPECT_EQ(read_key(), 'z');
		}
		EXPECT_FALSE(key_pending()) << c.bytes + 1;
	}
	key_wait_ms = 50;
}

// Over a slow link the bytes of one key come in reads apart: they are
// joined, whichever byte the first read ends after.  (The wait is made
// long here, so that the test does not depend on how fast it runs; the
// read returns as soon as the rest is there.)
TEST(keys_read, ASequenceSplitOverReadsIsJoined)
{
	key_wait_ms = 60000;
	const struct {
		const char *bytes;
		int key;
	} cases[] = {
		{"\e[A", KEY_UP}, {"\e[1;5F", KEY_END}, {"\e[1;5A", KEY_UP},
		{"\e[1;2D", KEY_LEFT}, {"\e[1;5C", KEY_RIGHT}, {"\e[6~", KEY_PAGE_DOWN},
	};
	for (const auto &c : cases) {
		std::string bytes = c.bytes;
		for (size_t cut = 1; cut < bytes.size(); cut++) {
			pipe_tty tty;
			tty.send(bytes.substr(0, cut));
			std::thread rest([&] {
				// Once the first part is read, the rest follows.
				while (tty.unread() > 0)
					usleep(1000);
				tty.send(bytes.substr(cut) + "x");
			});
			EXPECT_EQ(read_key(), c.key) << c.bytes + 1 << " cut at " << cut;
			rest.join();
			EXPECT_EQ(read_key(), 'x') << c.bytes + 1 << " cut at " << cut;
		}
	}
	key_wait_ms = 50;
}

TEST(keys_read, PlainBytesComeBackSigned)
{
	pipe_tty tty;
	std::string all;
	for (int b = 0; b < 256; b++)
		if (b != 27)
			all += static_cast<char>(b);
	tty.send(all);
	for (int b = 0; b < 256; b++) {
		if (b == 27)
			continue;
		int want = b < 128 ? b : b - 256;
		ASSERT_EQ(read_key(), want) << "byte " << b;
	}
}

TEST(keys_read_DeathTest, EndOfFileOnTheTerminalEndsTheProgram)
{
	pipe_tty tty;
	close(tty.wr);
	tty.wr = -1;
	EXPECT_EXIT(read_key(), testing::ExitedWithCode(1),
	    "read: end of file on the terminal");
}

TEST(keys_read_DeathTest, AFailedReadEndsTheProgram)
{
	pipe_tty tty;
	app.tty_fd = tty.wr;   // not open for reading
	EXPECT_EXIT(read_key(), testing::ExitedWithCode(1), "read: Bad file descriptor");
	app.tty_fd = tty.rd;
}

// On a terminal in raw mode a read with nothing pending returns 0 bytes at
// once: that is no end of file until the terminal reports itself readable.
TEST(keys_read, OnARawTerminalAKeyThatComesLaterIsWaitedFor)
{
	core_pty tty;
	ASSERT_TRUE(tty.open(34, 80));
	app_reset();
	app.tty_fd = tty.slave;
	std::thread later([&] {
		usleep(50000);
		(void)!write(tty.master, "\e[6~", 4);
	});
	EXPECT_EQ(read_key(), KEY_PAGE_DOWN);
	later.join();
	app.tty_fd = -1;
}

TEST(keys_read_DeathTest, AHungUpTerminalEndsTheProgram)
{
	core_pty tty;
	ASSERT_TRUE(tty.open(34, 80));
	app_reset();
	app.tty_fd = tty.slave;
	tty.hang_up();
	// hang_up stopped the reader: nothing but this thread is forked.
	EXPECT_LE(threads_left(), 1);
	EXPECT_EXIT(read_key(), testing::ExitedWithCode(1), "read");
	app.tty_fd = -1;
}

} // namespace
