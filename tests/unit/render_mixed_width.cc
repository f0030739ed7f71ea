// Rows whose text mixes double-width and zero-width characters, from the
// primitive that cuts a row to its window up to the status box: whatever
// the text and the scroll, a row takes exactly its width in columns.
#include "render_state.h"

namespace {

// Columns a row takes on the terminal.  A border goes first, as in the
// frame, so that a combining character at the row's start has a cell to
// join.
int
columns_of(const std::string &row)
{
	vt_screen vt;
	vt_init(&vt, 1, 400);
	vt_feed(&vt, "│" + row);
	EXPECT_EQ(vt.stray, 0);
	return vt.x - 1;
}

// A double-width character and a combining one make up for each other:
// the row has as many columns as characters, but cut between the two it
// has not.
TEST(render_mixed_width, cut_rows_fill_their_width)
{
	ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
	const char *texts[] = {
		"ab東cde\u0301fgh",
		"\u0301東東\u0301\u0301xyz",
		"東\u0301",
		"plain ascii text",
		"東京東京東京",
		"e\u0301e\u0301e\u0301e\u0301",
	};
	for (const char *text : texts) {
		for (size_t width : {1, 3, 6, 8, 20}) {
			for (size_t hscroll = 0; hscroll < 16; hscroll++) {
				SCOPED_TRACE(std::string(text) + " width " +
				    std::to_string(width) + " hscroll " +
				    std::to_string(hscroll));
				// The caller narrows the width by the text's extra
				// columns, as the frame does.
				int x = extra_width(text);
				if (static_cast<int>(width) < x)
					continue;
				size_t w = static_cast<size_t>(static_cast<int>(width) - x);
				struct sbuf *sb = sbuf_new_auto();
				print_wide_row(sb, hscroll, w, L"%s", text);
				EXPECT_EQ(columns_of(sbuf_string(sb)),
				    static_cast<int>(width));
			}
		}
	}
}

// The state and the address are text from outside as much as the SSID;
// wide or combining characters in them leave the row at the block's width.
TEST(render_mixed_width, status_rows_with_wide_state_and_address)
{
	struct field_case {
		const char *state;
		const char *address;
		int cols;
		size_t hscroll;
	};
	const field_case cases[] = {
		{"東京東京", "192.168.1.20", 80, 0},
		{"COMPLETED", "東京東京東京東京東京", 80, 0},
		{"e\u0301e\u0301e\u0301", "1\u03012\u03013\u0301", 80, 0},
		{"東京東京東京東京東京東京東京東京東京東京", "東京東京東京東京東京", 80, 0},
		{"東\u0301京", "a\u0301東", 60, 7},
		{"東京東京", "東京東京東京東京", 50, 30},
	};
	for (const field_case &c : cases) {
		SCOPED_TRACE(std::string(c.state) + " / " + c.address + " at " +
		    std::to_string(c.cols) + " columns");
		screen_setup(34, c.cols);
		app.hscroll = c.hscroll;
		records.status.ssid = const_cast<char *>("HomeNet");
		records.status.wpa_state = const_cast<char *>(c.state);
		records.status.ip_address = const_cast<char *>(c.address);
		vt_screen vt = frame_screen();
		int width = c.cols < 80 ? c.cols : 80;
		// The first two rows below the title bar are the status rows.
		for (int y = 1; y <= 2; y++) {
			EXPECT_EQ(vt_cell_at(&vt, y, width - 1)->text,
			    std::string("│")) << vt_row(&vt, y);
			for (int x = 0; x < width; x++)
				EXPECT_TRUE(vt_cell_at(&vt, y, x)->written)
				    << "row " << y << " column " << x;
		}
	}
	screen_release();
}

} // namespace
