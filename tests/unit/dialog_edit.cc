// Editing a dialog's text key by key.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app.h"
#include "notify.h"
#include "state.h"
#include "term.h"
#include "dialog.h"
#include "events.h"
#include "refresh.h"

namespace {

struct dialog_run {
	int fds[2];
	dialog_data data{};
	std::vector<int> results;

	dialog_run(int min_len, int max_len)
	{
		EXPECT_EQ(pipe2(fds, O_NONBLOCK), 0);
		app_reset();
		app.tty_fd = fds[0];
		dialog_init(&data, min_len, max_len);
	}
	~dialog_run()
	{
		close(fds[0]);
		close(fds[1]);
		clear_notifications(&app.notifications);
	}
	void keys(const std::vector<std::string> &seq)
	{
		for (const std::string &k : seq) {
			ASSERT_EQ(write(fds[1], k.data(), k.size()), static_cast<ssize_t>(k.size()));
			results.push_back(handle_dialog_input(&data));
		}
	}
	std::string text() const { return std::string(data.input, data.ed.len); }
};

TEST(dialog_edit, EnterBelowTheMinimumKeepsTheDialogOpen)
{
	dialog_run d(8, 63);
	d.keys({"\r", "1", "2", "3", "4", "5", "6", "7", "\r"});
	EXPECT_EQ(d.results, (std::vector<int>(9, 0)));
	d.keys({"8", "\r"});
	EXPECT_EQ(d.results.back(), 1);
	EXPECT_EQ(d.text(), "12345678");
	EXPECT_STREQ(app.dialog_text, "12345678");
}

TEST(dialog_edit, TooLongATextIsRejectedWithANotification)
{
	dialog_run d(8, 63);
	d.keys(std::vector<std::string>(64, "x"));
	d.keys({"\r"});
	EXPECT_EQ(d.results.back(), 1);
	EXPECT_EQ(d.data.ed.len, 0u) << "the text is dropped";
	ASSERT_NE(app.notifications.first, nullptr);
	EXPECT_STREQ(app.notifications.first->text, "Input must not exceed 63 characters");
}

TEST(dialog_edit, EscapeCancelsAndWipes)
{
	dialog_run d(0, 256);
	d.keys({"s", "e", "c", "\e"});
	EXPECT_EQ(d.results.back(), 1);
	EXPECT_EQ(d.data.ed.len, 0u);
	for (char c : d.data.input)
		ASSERT_EQ(c, '\0');
}

// A credential is never left with half a character: the field is masked,
// so nobody would see it.
TEST(dialog_edit, BackspaceDropsTheWholeCharacterAndCtrlUTheWholeText)
{
	dialog_run d(0, 256);
	d.keys({"j", "o", "s", "\xc3", "\xa9", "\x7f"});
	EXPECT_EQ(d.text(), "jos");
	d.keys({"\b", "\e[3~", "\x7f", "\x7f"});
	EXPECT_EQ(d.text(), "") << "backspace on an empty field does nothing";
	d.keys({"p", "w", "\x15"});
	EXPECT_EQ(d.text(), "");
	for (char c : d.data.input)
		ASSERT_EQ(c, '\0') << "what Ctrl-U removed is wiped";
	EXPECT_EQ(d.results, (std::vector<int>(13, 0)));
}

TEST(dialog_edit, LettersAreNotFoldedAndControlKeysAreNotText)
{
	dialog_run d(0, 256);
	d.keys({"Q", "q", "\t", "\n", "\x01", "\e[A", "\e[6~", " "});
	EXPECT_EQ(d.text(), "Qq ");
}

TEST(dialog_edit, TypingPastTheBufferKeepsItsFirstBytesAndStaysTerminated)
{
	dialog_run d(0, 256);
	std::string keys(DIALOG_INPUT_MAX + 50, 'k');
	ASSERT_EQ(write(d.fds[1], keys.data(), keys.size()),
	    static_cast<ssize_t>(keys.size()));
	for (size_t i = 0; i < keys.size(); i++)
		ASSERT_EQ(handle_dialog_input(&d.data), 0);
	EXPECT_EQ(d.data.ed.len, DIALOG_INPUT_MAX);
	EXPECT_EQ(strlen(app.dialog_text), DIALOG_INPUT_MAX);
	d.keys({"\r"});
	EXPECT_EQ(d.results.back(), 1);
	EXPECT_EQ(d.data.ed.len, 0u) << "over the limit: rejected";
}

} // namespace
