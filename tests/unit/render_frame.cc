// The frame composed from state: exact bytes where the layout is fixed, and
// what a terminal shows where placement is the point.
#include "render_state.h"

namespace {

const std::string CLEAR = "\e[2J\e[1;1H";

std::string
status_row(const std::string &k1, const std::string &v1, const std::string &k2,
    const std::string &v2)
{
	return "│" + pad("  " + pad(k1, 9) + ": " + pad(v1, 32) + " " +
	    pad(k2, 10) + ": " + pad(v2, 15), 78) + "│\r\n";
}

std::string
known_row(bool current, const std::string &ssid, const std::string &sec,
    const std::string &hidden, int prio, const std::string &autoc,
    bool selected, const std::string &mark = "│")
{
	std::string text = std::string(current ? ">" : " ") + pad(ssid, 32) +
	    "  " + pad(sec, 8) + "  " + pad(hidden, 6) + "  " +
	    pad(std::to_string(prio), 8, true) + "  " + pad(autoc, 12);
	return "│ " + std::string(selected ? "\e[7m" : "") + pad(text, 76) +
	    "\e[27m " + mark + "\r\n";
}

std::string
scan_row(const std::string &ssid, const std::string &sec,
    const std::string &bars, int freq, bool selected)
{
	std::string text = " " + pad(ssid, 32) + "      " + pad(sec, 8) +
	    "       " + bars + "     " + pad(std::to_string(freq), 4) +
	    " MHz   ";
	return "│ " + std::string(selected ? "\e[7m" : "") + text + "\e[27m │\r\n";
}

std::string
filler(int n, int width = 80)
{
	return repeat(("│" + std::string(width - 2, ' ') + "│\r\n").c_str(), n);
}

void
fill_80x34(void)
{
	screen_setup(34, 80);
	records.status.ssid = const_cast<char *>("HomeNet");
	records.status.freq = 2412;
	records.status.wpa_state = const_cast<char *>("COMPLETED");
	records.status.ip_address = const_cast<char *>("192.168.1.20");
	known_add("HomeNet", SECURITY_PSK, NETWORK_CURRENT, 5);
	known_add("Cafe", SECURITY_OPEN, NETWORK_ENABLED, -3, true);
	known_add("Work", SECURITY_EAP, NETWORK_DISABLED, 12345678);
	scan_add("HomeNet", SECURITY_PSK, -45, 2412);
	scan_add("Neighbour", SECURITY_NA, -75, 5180);
}

TEST(render_frame, full_frame_80x34_byte_exact)
{
	fill_80x34();
	std::string want = CLEAR + "\e[0B" +
	    "╭─┐\e[1mWiFi Info\e[22m┌" + repeat("─", 66) + "╮\r\n" +
	    status_row("SSID", "HomeNet", "Frequency", "2412 MHz") +
	    status_row("WPA State", "COMPLETED", "IP Address", "192.168.1.20") +
	    "├─┐\e[1mKnown Networks\e[22m┌" + repeat("─", 61) + "┤\r\n" +
	    "│\e[1m\e[34m" + "  " + pad("SSID", 32) +
	    "  Security  Hidden  Priority  Auto Connect  " + "\e[22m\e[39m│\r\n" +
	    known_row(true, "HomeNet", "PSK", "No", 5, "Current", true) +
	    known_row(false, "Cafe", "Open", "Yes", -3, "Yes", false) +
	    known_row(false, "Work", "EAP", "No", 12345678, "No", false) +
	    filler(10) +
	    "├─┐\e[1mNetwork Scan\e[22m┌" + repeat("─", 63) + "┤\r\n" +
	    "│\e[1m\e[34m" + "  " + pad("SSID", 32) +
	    "      Security      Signal      Frequency   " + "\e[22m\e[39m│\r\n" +
	    scan_row("HomeNet", "PSK", "▂▄▆█  ", 2412, false) +
	    scan_row("Neighbour", "N/A", "▂▁▁▁  ", 5180, false) +
	    filler(11) +
	    "╰" + repeat("─", 78) + "╯";
	EXPECT_EQ(frame_bytes(), want);
	EXPECT_EQ(app.tables[SECTION_KNOWN].top, 0u);
	EXPECT_EQ(app.tables[SECTION_SCAN].top, 0u);
}

TEST(render_frame, full_frame_as_seen)
{
	fill_80x34();
	app.section = SECTION_SCAN;
	app.tables[SECTION_SCAN].sel = 1;
	vt_screen vt = frame_screen();

	EXPECT_EQ(vt.stray, 0);
	EXPECT_EQ(vt.invalid, 0);
	for (int y = 0; y < 34; y++) {
		EXPECT_EQ(vt_row_start(&vt, y), 0) << "row " << y;
		EXPECT_EQ(vt_row_extent(&vt, y), 80) << "row " << y;
	}
	EXPECT_EQ(vt_text(&vt, 0, 0, 13), "╭─┐WiFi Info┌");
	EXPECT_EQ(vt_row(&vt, 33), "╰" + repeat("─", 78) + "╯");
	// Only the selected row of the active table is in reverse video,
	// from the text's first cell to its last.
	for (int y = 0; y < 34; y++) {
		for (int x = 0; x < 80; x++) {
			bool want = y == 21 && x >= 2 && x < 78;
			ASSERT_EQ(vt_cell_at(&vt, y, x)->reverse, want)
			    << y << "," << x;
		}
	}
	EXPECT_EQ(vt_text(&vt, 21, 0, 13), "│  Neighbour ");
	// Titles are bold; headers bold and blue.
	EXPECT_TRUE(vt_cell_at(&vt, 0, 3)->bold);
	EXPECT_FALSE(vt_cell_at(&vt, 0, 12)->bold);
	EXPECT_EQ(vt_cell_at(&vt, 4, 3)->fg, 34);
	EXPECT_EQ(vt_cell_at(&vt, 5, 3)->fg, 0);
}

TEST(render_frame, too_small_screen_shows_only_the_message)
{
	struct {
		int rows, cols, down, indent;
	} cases[] = {
		{20, 100, 9, 38},
		{21, 44, 10, 10},
		{22, 43, 10, 10},
		{2, 24, 0, 0},
		{3, 25, 1, 1},
	};
	for (auto &c : cases) {
		screen_setup(c.rows, c.cols);
		ASSERT_TRUE(app.too_small);
		note_add("a notification");
		app.show_help = true;
		app.dialog_prompt = "Enter the password";
		EXPECT_EQ(frame_bytes(), CLEAR + "\e[" + std::to_string(c.down) +
		    "B" + std::string(c.indent, ' ') +
		    "\e[1mTerminal size too small\e[22m")
		    << c.rows << "x" << c.cols;
	}
}

TEST(render_frame, minimum_size_44x22)
{
	screen_setup(22, 44);
	ASSERT_FALSE(app.too_small);
	ASSERT_EQ(app.tables[SECTION_KNOWN].visible, 7u);
	for (int i = 0; i < 7; i++)
		known_add(("net" + std::to_string(i)).c_str());
	std::string f = frame_bytes();
	EXPECT_EQ(f.substr(0, CLEAR.size() + 4), CLEAR + "\e[0B");
	EXPECT_EQ(count_of(f, "\r\n"), 21u);

	vt_screen vt = frame_screen();
	EXPECT_EQ(vt.stray, 0);
	EXPECT_EQ(vt_text(&vt, 0, 0, 13), "╭─┐WiFi Info┌");
	EXPECT_EQ(vt_row(&vt, 21), "╰<━" + std::string(39, ' ') + ">╯");
	for (int y = 0; y < 22; y++) {
		EXPECT_EQ(vt_row_start(&vt, y), 0) << "row " << y;
		EXPECT_EQ(vt_row_extent(&vt, y), 44) << "row " << y;
	}
}

TEST(render_frame, wide_terminal_centres_the_block)
{
	screen_setup(40, 120);
	known_add("HomeNet");
	std::string f = frame_bytes();
	EXPECT_EQ(f.substr(CLEAR.size(), 4), "\e[3B");
	EXPECT_EQ(count_of(f, "\e[20C╭"), 1u);
	EXPECT_EQ(count_of(f, "\e[20C├"), 2u);
	EXPECT_EQ(count_of(f, "\e[20C╰"), 1u);
	EXPECT_EQ(count_of(f, "\n" + std::string(20, ' ') + "│"), 30u);

	vt_screen vt = frame_screen();
	for (int y = 0; y < 40; y++) {
		bool block = y >= 3 && y < 37;
		EXPECT_EQ(vt_row_start(&vt, y), block ? 20 : -1) << "row " << y;
		EXPECT_EQ(vt_row_extent(&vt, y), block ? 100 : 0) << "row " << y;
	}
}

// The right border of the header and of each window row of Known Networks.
std::string
known_marks(const vt_screen *vt)
{
	std::string marks;
	for (int y = 4; y < 4 + 1 + static_cast<int>(app.tables[SECTION_KNOWN].visible); y++)
		marks += vt_cell_at(vt, y, 79)->text;
	return marks;
}

TEST(render_frame, scrollbar_marks)
{
	struct {
		int rows;
		int count;
		size_t sel;
		size_t top;   // after the frame
		int thumb;    // window row of the thumb; -1: no scrollbar
	} cases[] = {
		{34, 13, 12, 0, -1},
		{34, 14, 0, 0, 0},
		{34, 14, 13, 1, 11},   // 13 * 1 / 1, limited to vis - 2
		{34, 100, 50, 38, 6},  // round(13 * 38 / 87) = round(5.68)
		{34, 100, 99, 87, 11},
		{34, 27, 7, 0, 0},
		{22, 8, 7, 1, 5},
		{22, 0, 0, 0, -1},
	};
	for (auto &c : cases) {
		screen_setup(c.rows, 80);
		for (int i = 0; i < c.count; i++)
			known_add("n");
		app.tables[SECTION_KNOWN].sel = c.sel;
		vt_screen vt = frame_screen();
		int vis = static_cast<int>(app.tables[SECTION_KNOWN].visible);
		std::string want = repeat("│", vis + 1);
		if (c.thumb >= 0) {
			want = "↑";
			for (int r = 0; r < vis; r++)
				want += r == vis - 1 ? "↓" : r == c.thumb ? "█" : " ";
		}
		EXPECT_EQ(app.tables[SECTION_KNOWN].top, c.top) << c.count << "/" << c.sel;
		EXPECT_EQ(known_marks(&vt), want) << c.count << "/" << c.sel;
	}
}

TEST(render_frame, selection_window)
{
	struct {
		size_t count, top, sel, want_top;
	} cases[] = {
		{20, 0, 12, 0},    // last shown row stays
		{20, 0, 13, 1},    // one past the last shown row becomes the last
		{20, 5, 4, 4},     // above the window becomes the first
		{20, 5, 17, 5},
		{3, 10, 2, 2},     // list shrunk below top: window starts at sel,
		                   // entries above it hidden, no scrollbar
		{0, 4, 0, 0},
	};
	for (auto &c : cases) {
		screen_setup(34, 80);
		for (size_t i = 0; i < c.count; i++)
			known_add(("n" + std::to_string(i)).c_str());
		app.tables[SECTION_KNOWN].top = c.top;
		app.tables[SECTION_KNOWN].sel = c.sel;
		app.tables[SECTION_SCAN].top = 7;
		vt_screen vt = frame_screen();
		EXPECT_EQ(app.tables[SECTION_KNOWN].top, c.want_top) << c.count << "/" << c.sel;
		EXPECT_EQ(app.tables[SECTION_SCAN].top, 0u);
		if (c.count == 0)
			continue;
		if (c.count <= 13) {
			EXPECT_EQ(known_marks(&vt), repeat("│", 14));
		}
		// The reverse-video row is the selected one.
		int y = 5 + static_cast<int>(c.sel - c.want_top);
		std::string name = "n" + std::to_string(c.sel);
		EXPECT_TRUE(vt_cell_at(&vt, y, 2)->reverse);
		EXPECT_EQ(vt_text(&vt, y, 0, 4 + static_cast<int>(name.size())),
		    "│  " + name + " ");
	}
}

TEST(render_frame, searching_hides_the_highlight_and_marks_the_title)
{
	screen_setup(34, 80);
	known_add("HomeNet");
	scan_add("HomeNet");
	strcpy(app.tables[SECTION_SCAN].search, "Hom");
	std::string f = frame_bytes();
	EXPECT_EQ(count_of(f, "\e[7m"), 1u);
	EXPECT_EQ(count_of(f, "├─/\e[1mHom\e[22m┌" + repeat("─", 72) + "┤"), 1u);

	app.searching = true;
	app.section = SECTION_KNOWN;
	app.tables[SECTION_KNOWN].search[0] = '\0';
	f = frame_bytes();
	EXPECT_EQ(count_of(f, "\e[7m"), 0u);
	EXPECT_EQ(count_of(f, "├─/\e[1m\e[36m\e[39m\e[22m┌" + repeat("─", 75) +
	    "┤"), 1u);
	EXPECT_EQ(count_of(f, "├─/\e[1mHom\e[22m┌"), 1u);

	// A search text with double-width characters keeps the bar 80 wide.
	strcpy(app.tables[SECTION_KNOWN].search, "東京");
	vt_screen vt = frame_screen();
	EXPECT_EQ(vt_text(&vt, 3, 0, 8), "├─/東京┌");
	EXPECT_EQ(vt_row_extent(&vt, 3), 80);
	EXPECT_EQ(vt_cell_at(&vt, 3, 3)->fg, 36);
}

TEST(render_frame, empty_table)
{
	screen_setup(34, 80);
	known_add("a");
	std::string f = frame_bytes();
	std::string head = "├─┐\e[1mNetwork Scan\e[22m┌" + repeat("─", 63) +
	    "┤\r\n" + "│\e[1m\e[34m  " + pad("SSID", 32) +
	    "      Security      Signal      Frequency   \e[22m\e[39m│\r\n";
	EXPECT_EQ(count_of(f, head + filler(13) + "╰"), 1u);
}

TEST(render_frame, bottom_border_at_60_columns)
{
	struct {
		size_t hscroll;
		int pos;
	} cases[] = {{0, 0}, {1, 3}, {10, 29}, {19, 55}};
	for (auto &c : cases) {
		screen_setup(34, 60);
		app.hscroll = c.hscroll;
		std::string border = "╰<";
		for (int k = 0; k <= 56; k++)
			border += k == 56 ? ">" : k == c.pos ? "━" : " ";
		border += "╯";
		std::string f = frame_bytes();
		ASSERT_GE(f.size(), border.size());
		EXPECT_EQ(f.substr(f.size() - border.size()), border) << c.hscroll;
	}
}

TEST(render_frame, status_fields)
{
	struct {
		const char *ssid, *ip;
		int freq;
		const char *ssid_shown, *ip_shown, *freq_shown;
	} cases[] = {
		{nullptr, "10.0.0.1", 0, "N/A", "N/A", "0 MHz"},
		{"Net", nullptr, 5180, "Net", "Acquiring...", "5180 MHz"},
		{"Net", "10.0.0.1", 2412, "Net", "10.0.0.1", "2412 MHz"},
	};
	for (auto &c : cases) {
		screen_setup(34, 80);
		records.status.ssid = const_cast<char *>(c.ssid);
		records.status.ip_address = const_cast<char *>(c.ip);
		records.status.freq = c.freq;
		std::string f = frame_bytes();
		EXPECT_EQ(count_of(f, status_row("SSID", c.ssid_shown, "Frequency",
		    c.freq_shown)), 1u) << c.freq;
		EXPECT_EQ(count_of(f, status_row("WPA State", "N/A", "IP Address",
		    c.ip_shown)), 1u) << c.freq;
	}
}

// Column of the first cell of row `y` whose text is `t`, or -1.
int
cell_column(const vt_screen *vt, int y, const char *t)
{
	for (int x = 0; x < vt->cols; x++)
		if (strcmp(vt_cell_at(vt, y, x)->text, t) == 0)
			return x;
	return -1;
}

// Double-width SSIDs: the columns after the SSID stay where an ASCII SSID
// puts them, and every row ends at the border, at every scroll offset.
TEST(render_frame, double_width_ssids_keep_columns_aligned)
{
	const char *ssids[] = {"plain", "東京ネット", "ネットワーク東京", "Café"};
	for (int cols : {80, 60}) {
		for (size_t hscroll = 0; hscroll < (cols == 80 ? 1u : 20u);
		    hscroll++) {
			screen_setup(34, cols);
			app.hscroll = hscroll;
			records.status.ssid = const_cast<char *>("東京ネット");
			for (const char *s : ssids) {
				known_add(s, SECURITY_EAP);
				scan_add(s, SECURITY_EAP);
			}
			vt_screen vt = frame_screen();
			ASSERT_EQ(vt.stray, 0);
			for (int y = 0; y < 34; y++) {
				ASSERT_EQ(vt_row_extent(&vt, y), cols)
				    << "row " << y << " hscroll " << hscroll;
				ASSERT_EQ(vt_row_start(&vt, y), 0);
			}
			for (int first : {5, 20}) {
				int x = cell_column(&vt, first, "E");
				ASSERT_GT(x, 0);
				for (int y = first + 1; y < first + 4; y++)
					EXPECT_STREQ(vt_cell_at(&vt, y, x)->text, "E")
					    << "row " << y << " hscroll " << hscroll;
			}
		}
	}
}

TEST(render_frame, hostile_text_is_drawn_as_question_marks)
{
	const char *evil = "a\eb\ac\xc2\x9b" "d\xff" "e\x7f";
	const char *shown = "a?b?c?d?e?";
	std::string frames[2];
	for (int k = 0; k < 2; k++) {
		const char *t = k == 0 ? evil : shown;
		screen_setup(34, 80);
		records.status.ssid = const_cast<char *>(t);
		records.status.wpa_state = const_cast<char *>(t);
		records.status.ip_address = const_cast<char *>(t);
		known_add(t);
		scan_add(t);
		strcpy(app.tables[SECTION_KNOWN].search, t);
		note_add(t);
		app.dialog_prompt = "Enter the EAP username";
		app.dialog_text = t;
		frames[k] = frame_bytes();
	}
	EXPECT_EQ(frames[0], frames[1]);
	EXPECT_EQ(frames[0].find('\a'), std::string::npos);
	EXPECT_EQ(frames[0].find('\x7f'), std::string::npos);
	EXPECT_EQ(frames[0].find("\xc2\x9b"), std::string::npos);
	EXPECT_EQ(frames[0].find('\xff'), std::string::npos);
	vt_screen vt;
	vt_init(&vt, 34, 80);
	vt_feed(&vt, frames[0]);
	EXPECT_EQ(vt.stray, 0);
	EXPECT_EQ(vt.invalid, 0);
	// The records keep the raw bytes.
	screen_setup(34, 80);
	known_add(evil);
	EXPECT_STREQ(records.known_items[0].ssid, evil);
	frame_bytes();
	EXPECT_STREQ(records.known_items[0].ssid, evil);
}

TEST(render_frame, help_overlay)
{
	screen_setup(34, 80);
	app.show_help = true;
	std::string f = frame_bytes();
	std::string help = "\e[1;1H\e[6B\e[35m" "\e[20C╭─┐\e[1mHelp\e[22m┌" +
	    repeat("─", 30) + "╮\r\n" + "\e[20C│  " + pad("d", 9) + " " +
	    pad("Disconnect current AP", 23) + "  │\r\n";
	EXPECT_EQ(count_of(f, help), 1u);
	EXPECT_EQ(count_of(f, "\e[20C├─┐\e[1mKnown Networks\e[22m┌" +
	    repeat("─", 20) + "┤\r\n"), 1u);
	std::string end = "\e[20C│  " + pad("c", 9) + " " +
	    pad("Connect to network", 23) + "  │\r\n" + "\e[20C│  " + pad("", 9) +
	    " " + pad("open/OWE/PSK/SAE/EAP", 23) + "  │\r\n" + "\e[20C╰" +
	    repeat("─", 37) + "╯\e[39m";
	ASSERT_GE(f.size(), end.size());
	EXPECT_EQ(f.substr(f.size() - end.size()), end);

	vt_screen vt = frame_screen();
	EXPECT_EQ(vt.stray, 0);
	// 22 rows from row 6, columns 20 to 58, magenta, over the block.
	for (int y = 0; y < 34; y++) {
		bool in = y >= 6 && y < 28;
		EXPECT_EQ(vt_cell_at(&vt, y, 20)->fg == 35, in) << y;
		EXPECT_EQ(vt_cell_at(&vt, y, 58)->fg == 35, in) << y;
		EXPECT_NE(vt_cell_at(&vt, y, 59)->fg, 35) << y;
		EXPECT_EQ(vt_row_extent(&vt, y), 80) << y;
	}
	EXPECT_EQ(vt_text(&vt, 18, 20, 39), "│  <C-l>     Clear notifications      │");
	EXPECT_EQ(vt_text(&vt, 19, 20, 39), "├─┐Known Networks┌" +
	    repeat("─", 20) + "┤");
	EXPECT_EQ(vt_text(&vt, 24, 20, 39), "├─┐Network Scan┌" +
	    repeat("─", 22) + "┤");
}

TEST(render_frame, overlays_in_order)
{
	screen_setup(34, 80);
	note_add("note");
	app.show_help = true;
	app.dialog_prompt = "Enter the password";
	std::string f = frame_bytes();
	size_t note = f.find("\e[33m"), help = f.find("\e[35m"),
	    dialog = f.find("\e[32m");
	ASSERT_NE(note, std::string::npos);
	EXPECT_LT(f.find("╰" + repeat("─", 78) + "╯"), note);
	EXPECT_LT(note, help);
	EXPECT_LT(help, dialog);
}

}  // namespace

// Outside a UTF-8 locale the block characters of the signal bars cannot be
// converted: the bars are drawn in ASCII, so the scan rows keep their text.
TEST(render_frame, signal_bars_in_a_locale_without_block_characters)
{
	screen_setup(34, 80);
	scan_add("Cafe", SECURITY_OPEN, -40, 2412);
	scan_add("Far", SECURITY_PSK, -85, 5180);
	ASSERT_NE(setlocale(LC_ALL, "C"), nullptr);
	std::string frame = frame_bytes();
	setlocale(LC_ALL, "C.UTF-8");

	EXPECT_NE(frame.find(" " + pad("Cafe", 32) + "      " + pad("Open", 8) +
	    "       " + pad("||||", 6) + "     2412 MHz   "), std::string::npos);
	EXPECT_NE(frame.find(" " + pad("Far", 32) + "      " + pad("PSK", 8) +
	    "       " + pad("....", 6) + "     5180 MHz   "), std::string::npos);
	EXPECT_EQ(frame.find("▂"), std::string::npos);
	screen_release();
}
