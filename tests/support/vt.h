// A small terminal interpreter for tests: feeds the bytes of a frame into a
// grid of cells, so that a test can assert what a person would see.  It
// knows what the screen writes (cursor moves, clearing, SGR attributes,
// UTF-8 text with double-width characters, autowrap and scrolling) and
// counts everything else, so that a test can also assert that nothing
// unexpected reached the terminal.  Input is taken as UTF-8; character
// widths come from the current locale, so set a UTF-8 one first.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct vt_cell {
	char text[16];       // UTF-8 of the character ("" for an empty cell)
	bool wide_tail;      // right half of a double-width character
	bool written;        // something was drawn here since the last clear
	bool bold;
	bool reverse;
	int fg;              // SGR foreground (30-37, 90-97), 0 for default
	int bg;              // SGR background (40-47, 100-107), 0 for default
};

struct vt_screen {
	int rows;
	int cols;
	std::vector<vt_cell> cells;  // rows * cols, row by row
	int y;                       // cursor, 0-based; x == cols is a
	int x;                       // pending wrap at the right margin
	bool bold, reverse;
	int fg, bg;
	int scrolled;     // lines scrolled off the top
	int stray;        // control bytes, C1 characters and sequences not known
	int invalid;      // bytes that are not UTF-8
};

void vt_init(vt_screen *vt, int rows, int cols);
void vt_feed(vt_screen *vt, std::string_view bytes);
const vt_cell *vt_cell_at(const vt_screen *vt, int y, int x);
// Text of row `y`: one entry per cell, a blank for an empty one, a
// double-width character once.
std::string vt_row(const vt_screen *vt, int y);
// Text of the `n` cells of row `y` from column `x`, in the same form.
std::string vt_text(const vt_screen *vt, int y, int x, int n);
// Columns from the left edge to the last cell of row `y` that shows
// something other than a blank.
int vt_row_extent(const vt_screen *vt, int y);
// Leftmost column of row `y` that shows something other than a blank, or -1.
int vt_row_start(const vt_screen *vt, int y);
