// The drawing primitives on their own: title bars, clipped rows, widths,
// the notification stack and the input dialog.
#include "render_state.h"

namespace {

template <typename F>
std::string
drawn(F draw)
{
	struct sbuf *sb = sbuf_new_auto();
	draw(sb);
	return sbuf_string(sb);
}

TEST(draw_primitives_box_title, fill_and_corners)
{
	ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
	struct {
		const char *title, *colour;
		int extra;
		bool top, mark;
		int left, width;
		std::string want;
	} cases[] = {
		{"Help", nullptr, 0, true, false, 0, 39,
		    "╭─┐\e[1mHelp\e[22m┌" + repeat("─", 30) + "╮\r\n"},
		{"", nullptr, 0, false, false, 0, 40,
		    "├─┐\e[1m\e[22m┌" + repeat("─", 35) + "┤\r\n"},
		{"abc", "\e[36m", 2, false, true, 3, 10,
		    "\e[3C├─/\e[1m\e[36mabc\e[39m\e[22m┌" + repeat("─", 4) + "┤\r\n"},
		// A title of width - 5 bytes leaves no fill, a longer one is
		// not shortened, a negative extra adds nothing.
		{"12345", nullptr, -4, true, false, 0, 10,
		    "╭─┐\e[1m12345\e[22m┌╮\r\n"},
		{"1234567", nullptr, 0, true, false, -1, 10,
		    "╭─┐\e[1m1234567\e[22m┌╮\r\n"},
	};
	for (auto &c : cases) {
		EXPECT_EQ(drawn([&](struct sbuf *sb) {
			draw_box_title(sb, c.title, c.colour, c.extra, c.top, c.mark,
			    c.left, c.width);
		}), c.want) << c.title;
	}
}

std::string
wide_row(size_t hscroll, size_t width, const wchar_t *fmt, const char *arg)
{
	return drawn([&](struct sbuf *sb) {
		print_wide_row(sb, hscroll, width, fmt, arg);
	});
}

TEST(draw_primitives_wide_row, clipping_and_fill)
{
	ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
	std::string digits;
	for (int i = 0; i < 76; i++)
		digits += static_cast<char>('0' + i % 10);
	struct {
		size_t hscroll, width;
		const char *text;
		std::string want;
	} cases[] = {
		{10, 56, digits.c_str(), digits.substr(10, 56)},
		{0, 80, digits.c_str(), digits + "    "},
		{70, 10, digits.c_str(), digits.substr(70) + "    "},
		{76, 5, digits.c_str(), "     "},
		{200, 5, digits.c_str(), "     "},
		{0, 0, digits.c_str(), ""},
		{3, 0, "", ""},
		{0, 4, "", "    "},
		// Characters, not bytes: two-byte and double-width ones.
		{1, 3, "äöüß", "öüß"},
		{0, 6, "äö", "äö    "},
		{0, 3, "東京x", "東京x"},
	};
	for (auto &c : cases)
		EXPECT_EQ(wide_row(c.hscroll, c.width, L"%s", c.text), c.want)
		    << c.hscroll << "/" << c.width << " " << c.text;
}

TEST(draw_primitives_wide_row, wide_arguments_and_widths)
{
	ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
	std::string got = drawn([](struct sbuf *sb) {
		print_wide_row(sb, 0, 20, L"[%-*ls|%*d|%-*.*s]", 6, L"▂▄▆█", 4, 42,
		    3, 3, "abcdef");
	});
	EXPECT_EQ(got, "[▂▄▆█  |  42|abc]   ");
}

// A row with double-width text is scrolled, clipped and filled by the
// columns the caller reserved, so that its columns stay under those of
// narrow rows and its border stays in place.
TEST(draw_primitives_wide_row, double_width_text_keeps_its_columns)
{
	ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
	// "ab東京cd": 6 characters, 8 columns; width w - 2 reserves w columns.
	struct {
		size_t hscroll, width;
		std::string want;
	} cases[] = {
		{0, 6, "ab東京cd"},
		{0, 8, "ab東京cd  "},
		{2, 6, "東京cd  "},
		{3, 6, " 京cd   "},       // half a character: a blank
		{4, 6, "京cd    "},
		{6, 6, "cd      "},
		{0, 4, "ab東京"},      // 6 columns reserved
		{0, 3, "ab東 "},       // 5 columns: no half of a character
		{3, 0, "  "},
		{9, 6, "        "},
		{100, 6, "        "},
	};
	for (auto &c : cases)
		EXPECT_EQ(wide_row(c.hscroll, c.width, L"%s", "ab東京cd"), c.want)
		    << c.hscroll << "/" << c.width;
}

TEST(draw_primitives_wide_row, unconvertible_text_appends_nothing_or_stops)
{
	ASSERT_NE(setlocale(LC_ALL, "C"), nullptr);
	// The bars cannot be written in the C locale: nothing at all.
	EXPECT_EQ(drawn([](struct sbuf *sb) {
		print_wide_row(sb, 0, 10, L"x%ls", L"▂▄");
	}), "");
	// A narrow argument that is not valid text ends the formatting; what
	// was written before it stays, filled to the width.
	ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
	EXPECT_EQ(drawn([](struct sbuf *sb) {
		print_wide_row(sb, 0, 6, L"ab%s", "\xff");
	}), "ab    ");
}

TEST(draw_primitives_text_width, display_and_extra)
{
	ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
	struct {
		std::string text;
		int display, extra;
	} cases[] = {
		{"", 0, 0},
		{"HomeNet", 7, 0},
		{std::string(32, 'a'), 32, 0},
		{std::string(33, 'a'), -1, -1},
		{"東京ネットワーク東京", 20, 10},
		{"ネットワーク東京", 16, 8},
		{"Café", 4, 0},
		{"Cafe\u0301", 4, -1},
		{"\xff", -1, -1},
		{"a\x01", -1, -3},
	};
	for (auto &c : cases) {
		EXPECT_EQ(display_width(c.text.c_str()), c.display) << c.text;
		EXPECT_EQ(extra_width(c.text.c_str()), c.extra) << c.text;
	}
}

std::string
notifications(void)
{
	return drawn([](struct sbuf *sb) { draw_notifications(sb); });
}

// One box as drawn from `top` at column `col` with text width `n`.
std::string
note_box(int top, int col, int n, const std::vector<std::string> &lines)
{
	std::string s = "\e[33m\e[2;1H\e[" + std::to_string(top) + ";" +
	    std::to_string(col) + "H╭" + repeat("─", n + 2) + "╮\r\n";
	int row = top;
	for (auto &l : lines)
		s += "\e[" + std::to_string(++row) + ";" + std::to_string(col) +
		    "H│ " + pad_cols(l, static_cast<size_t>(n)) + " │\r\n";
	return s + "\e[" + std::to_string(row + 1) + ";" + std::to_string(col) +
	    "H╰" + repeat("─", n + 2) + "╯\r\n\e[39m";
}

TEST(draw_primitives_notifications, wrapping)
{
	std::string a36(36, 'a'), a37(37, 'a');
	std::string spaced = std::string(30, 'b') + " " + std::string(9, 'c');
	struct {
		std::string text;
		std::vector<std::string> lines;
	} cases[] = {
		{"", {}},
		{"short", {"short"}},
		{a36, {a36}},
		{a37, {a36, "a"}},
		{spaced, {std::string(30, 'b') + " ", std::string(9, 'c')}},
		{"one two three four five six seven eight nine ten",
		    {"one two three four five six seven ", "eight nine ten"}},
		// Lines are measured in columns: "é" is two bytes and one
		// column, a CJK character three bytes and two columns, an
		// emoji four and two, a combining accent two and none.
		{std::string(35, 'x') + "é" + "yz", {std::string(35, 'x') + "é", "yz"}},
		{repeat("家", 19), {repeat("家", 18), "家"}},
		{"x" + repeat("家", 18), {"x" + repeat("家", 17), "家"}},
		{"Wi-Fi 📶 up", {"Wi-Fi 📶 up"}},
		{repeat("e\u0301", 40), {repeat("e\u0301", 36), repeat("e\u0301", 4)}},
	};
	for (auto &c : cases) {
		screen_setup(34, 80);
		note_add(c.text.c_str());
		size_t len = text_columns(c.text.data(), c.text.size());
		int n = static_cast<int>(len < 36 ? len : 36);
		EXPECT_EQ(notifications(), note_box(1, 80 - n - 3, n, c.lines))
		    << c.text;
	}
}

TEST(draw_primitives_notifications, stack_newest_first_up_to_two_thirds)
{
	struct {
		int rows;
		int notes;
		int drawn;
	} cases[] = {
		// Boxes of one line are 3 rows: tops 1, 4, ..., 22 with 34
		// layout rows (3 * 22 = 66 < 68), none from row 25.
		{34, 10, 8},
		{34, 3, 3},
		{22, 10, 5},   // tops 1 .. 13: 3 * 16 = 48 >= 44
	};
	for (auto &c : cases) {
		screen_setup(c.rows, 80);
		for (int i = 0; i < c.notes; i++)
			note_add(("note " + std::to_string(i)).c_str());
		std::string want;
		for (int k = 0; k < c.drawn; k++)
			want += note_box(1 + 3 * k, 71, 6,
			    {"note " + std::to_string(c.notes - 1 - k)});
		EXPECT_EQ(notifications(), want) << c.rows << "/" << c.notes;
	}
}

// A box never reaches below the terminal's last row, where a line end would
// scroll the frame's top rows away: a text too long for it is cut, its
// last line ending in an ellipsis and its bottom border kept.
TEST(draw_primitives_notifications, a_long_text_is_cut_to_the_terminal)
{
	const struct {
		int rows, cols;
		size_t bytes;
		const char *locale;
		const char *ellipsis;
	} cases[] = {
		{40, 100, 1500, "C.UTF-8", "…"},
		{22, 80, 4096, "C.UTF-8", "…"},
		{34, 80, 4096, "C", "..."},
	};
	for (const auto &c : cases) {
		screen_setup(c.rows, c.cols);
		ASSERT_NE(setlocale(LC_ALL, c.locale), nullptr);
		std::string text;
		while (text.size() < c.bytes)
			text += "word" + std::to_string(text.size() % 7) + " ";
		note_add(text.c_str());
		std::string got = notifications();
		setlocale(LC_ALL, "C.UTF-8");
		vt_screen vt;
		vt_init(&vt, c.rows, c.cols);
		vt_feed(&vt, got);
		EXPECT_EQ(vt.scrolled, 0) << c.bytes;
		int col = c.cols - 40;
		EXPECT_EQ(vt_text(&vt, 0, col, 2), "╭─") << c.bytes;
		EXPECT_EQ(vt_text(&vt, c.rows - 1, col, 40), "╰" + repeat("─", 38) + "╯");
		std::string last = vt_text(&vt, c.rows - 2, col, 40);
		EXPECT_NE(last.find(c.ellipsis), std::string::npos) << last;
		EXPECT_EQ(last.substr(last.size() - 4), " │") << last;
	}
}

TEST(draw_primitives_notifications, long_texts_and_hostile_bytes)
{
	screen_setup(34, 80);
	std::string evil = "<3>x\e[2J\a\xc2\x9b\xff" + std::string(600, 'z');
	note_add(evil.c_str());
	std::string got = notifications();
	EXPECT_EQ(got.find('\a'), std::string::npos);
	EXPECT_EQ(got.find("\e[2J"), std::string::npos);
	EXPECT_EQ(got.find("\xc2\x9b"), std::string::npos);
	EXPECT_EQ(got.find('\xff'), std::string::npos);
	std::string first = "<3>x?[2J???" + std::string(25, 'z');
	EXPECT_NE(got.find("│ " + first + " │"), std::string::npos);
	// 611 bytes in lines of 36: 17 lines, the last of 35.
	EXPECT_EQ(count_of(got, "\r\n"), 2u + 17u);
	vt_screen vt;
	vt_init(&vt, 34, 80);
	vt_feed(&vt, got);
	EXPECT_EQ(vt.stray, 0);
	EXPECT_EQ(vt.invalid, 0);
	EXPECT_EQ(vt_text(&vt, 1, 40, 40), "│ " + first + " │");
	EXPECT_EQ(vt_cell_at(&vt, 1, 40)->fg, 33);
}

std::string
dialog(void)
{
	return drawn([](struct sbuf *sb) { draw_dialog(sb); });
}

std::string
dialog_box(const std::string &field)
{
	std::string r = "\e[20C";
	return "\e[1;1H\e[14B\e[32m" "\e[20C╭─┐\e[1mEnter the password\e[22m┌" +
	    repeat("─", 17) + "╮\r\n" + r + "│ " + std::string(36, ' ') +
	    " │\r\n" + r + "│ \e[100m" + pad_cols(field, 36) + "\e[49m │\r\n" + r +
	    "│ " + std::string(36, ' ') + " │\r\n" + r + "╰" + repeat("─", 38) +
	    "╯\e[39m";
}

TEST(draw_primitives_dialog, field)
{
	std::string t40 = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
	std::string ae19x = repeat("ä", 19) + "x";
	std::string cjk20 = repeat("家", 20);
	std::string cjk_odd = repeat("家", 18) + "x";
	struct {
		const char *text;
		bool masked;
		std::string field;
	} cases[] = {
		{nullptr, false, ""},
		{nullptr, true, ""},
		{"secret", false, "secret"},
		{"secret", true, "******"},
		{t40.c_str(), false, t40.substr(4)},
		{t40.c_str(), true, std::string(36, '*')},
		{"a\eb\x7f" "c\xc2\x9b", false, "a?b?c?"},
		{"\xc3\xa4\xc3\xa4", true, "****"},
		// The field holds 36 columns, whatever their bytes: 20
		// characters of two bytes, 18 of two columns from the end, and
		// never half of one.
		{ae19x.c_str(), false, ae19x},
		{cjk20.c_str(), false, repeat("家", 18)},
		{cjk_odd.c_str(), false, repeat("家", 17) + "x"},
	};
	for (auto &c : cases) {
		screen_setup(34, 80);
		app.dialog_prompt = "Enter the password";
		app.dialog_text = c.text;
		app.dialog_masked = c.masked;
		EXPECT_EQ(dialog(), dialog_box(c.field))
		    << (c.text ? c.text : "(null)") << c.masked;
	}
}

TEST(draw_primitives_dialog, centred_over_the_block)
{
	screen_setup(34, 80);
	known_add("HomeNet");
	app.dialog_prompt = "Enter the password";
	app.dialog_text = "hunter2";
	vt_screen vt = frame_screen();
	EXPECT_EQ(vt.stray, 0);
	for (int y = 14; y < 19; y++) {
		EXPECT_EQ(vt_cell_at(&vt, y, 19)->fg, 0) << y;
		EXPECT_EQ(vt_cell_at(&vt, y, 20)->fg, 32) << y;
		EXPECT_EQ(vt_cell_at(&vt, y, 59)->fg, 32) << y;
		EXPECT_EQ(vt_cell_at(&vt, y, 60)->fg, 0) << y;
		EXPECT_EQ(vt_row_extent(&vt, y), 80) << y;
	}
	EXPECT_EQ(vt_text(&vt, 16, 20, 40), "│ hunter2" + std::string(29, ' ') + " │");
	EXPECT_EQ(vt_cell_at(&vt, 16, 22)->bg, 100);
	EXPECT_EQ(vt_cell_at(&vt, 16, 58)->bg, 0);
	EXPECT_EQ(vt_text(&vt, 18, 20, 40), "╰" + repeat("─", 38) + "╯");
	// The block shows on both sides.
	EXPECT_EQ(vt_text(&vt, 16, 0, 1), "│");
	EXPECT_EQ(vt_text(&vt, 16, 79, 1), "│");
}

}  // namespace
