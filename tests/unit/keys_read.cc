// Decoding of the bytes the terminal sends into key codes.
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

TEST(ReadKey, DecodesEverySequenceOfTheTable)
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
	};
	for (const auto &c : cases) {
		pipe_tty tty;
		tty.send(std::string(c.bytes) + "x");
		EXPECT_EQ(read_key(), c.key) << c.bytes + 1;
		EXPECT_EQ(tty.rest(), "x") << "the sequence is consumed whole";
	}
}

TEST(ReadKey, UnknownAndIncompleteSequencesAreEscape)
{
	const struct {
		const char *bytes;
		const char *left;
	} cases[] = {
		{"\e", ""},           // a lone Escape key
		{"\e[", ""},          // cut after the bracket
		{"\e[2~", ""},        // Insert
		{"\e[0~", ""},
		{"\e[9~", ""},
		{"\e[E", ""},
		{"\e[G", ""},
		{"\eOA", ""},
		{"\e[5x", ""},        // a digit not followed by '~'
		{"\e[5", ""},         // a digit and nothing after it
		{"\exyz", "z"},       // Alt-x: ESC and two bytes are consumed
	};
	for (const auto &c : cases) {
		pipe_tty tty;
		tty.send(c.bytes);
		EXPECT_EQ(read_key(), KEY_ESC) << c.bytes + 1;
		EXPECT_EQ(tty.rest(), c.left) << c.bytes + 1;
	}
}

TEST(ReadKey, PlainBytesComeBackSigned)
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

TEST(ReadKeyDeathTest, EndOfFileOnTheTerminalEndsTheProgram)
{
	pipe_tty tty;
	close(tty.wr);
	tty.wr = -1;
	EXPECT_EXIT(read_key(), testing::ExitedWithCode(1),
	    "read: end of file on the terminal");
}

TEST(ReadKeyDeathTest, AFailedReadEndsTheProgram)
{
	pipe_tty tty;
	app.tty_fd = tty.wr;   // not open for reading
	EXPECT_EXIT(read_key(), testing::ExitedWithCode(1), "read: Bad file descriptor");
	app.tty_fd = tty.rd;
}

// On a terminal in raw mode a read with nothing pending returns 0 bytes at
// once: that is no end of file until the terminal reports itself readable.
TEST(ReadKey, OnARawTerminalAKeyThatComesLaterIsWaitedFor)
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

TEST(ReadKeyDeathTest, AHungUpTerminalEndsTheProgram)
{
	core_pty tty;
	ASSERT_TRUE(tty.open(34, 80));
	app_reset();
	app.tty_fd = tty.slave;
	tty.hang_up();
	// hang_up stopped the reader: nothing but this thread is forked.
	EXPECT_LE(threads_running(), 1);
	EXPECT_EXIT(read_key(), testing::ExitedWithCode(1), "read");
	app.tty_fd = -1;
}

} // namespace
