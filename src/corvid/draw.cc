// Drawing primitives: title bars, clipped wide-character rows, text widths,
// and the notification stack and input dialog that float over the frame.
#include <cassert>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "state.h"
#include "draw.h"

// Longest text the width measures accept, in characters.
static constexpr size_t WIDTH_CHARS_MAX = 32;
// Widest notification text, in bytes.
static constexpr size_t NOTE_WIDTH = 36;
// Width of the input dialog's field, in bytes.
static constexpr size_t FIELD_WIDTH = 36;
// Characters of a row formatted on the stack, its terminator included.
static constexpr size_t ROW_CHARS = 512;
// Bytes of a visible part converted on the stack.
static constexpr size_t ROW_BYTES = 1024;

static wchar_t width_scratch[WIDTH_CHARS_MAX + 1];

static void
repeat(struct sbuf *sb, const char *s, int n)
{
	for (int i = 0; i < n; i++)
		sbuf_cat(sb, s);
}

void
draw_box_title(struct sbuf *sb, const char *title, const char *colour,
    int extra, bool top, bool mark, int left, int width)
{
	if (left > 0)
		sbuf_printf(sb, "\e[%dC", left);
	sbuf_cat(sb, top ? "╭" : "├");
	sbuf_printf(sb, "─%s\e[1m%s%s%s\e[22m┌", mark ? "/" : "┐",
	    colour != nullptr ? colour : "", title,
	    colour != nullptr ? "\e[39m" : "");
	repeat(sb, "─", extra);
	repeat(sb, "─", width - static_cast<int>(strlen(title)) - 5);
	sbuf_printf(sb, "%s\r\n", top ? "╮" : "┤");
}

// The visible part of a row: characters [start, end) of its wide string,
// `lead` blanks before them and `pad` blanks after them.
struct row_window {
	size_t start, end, lead, pad;
};

// Rows of single-width characters: from character `hscroll`, at most
// `width` characters, filled to `width`.
static row_window
row_window_chars(size_t n, size_t hscroll, size_t width)
{
	row_window r{};
	r.start = hscroll < n ? hscroll : n;
	r.end = n - r.start < width ? n : r.start + width;
	r.pad = width - (r.end - r.start);
	return r;
}

// Rows holding double-width (or zero-width) characters, `cols` columns in
// all.  The callers narrow `width` by the row's extra columns, so at offset
// 0 the row takes the columns it would take with narrow text.  Counting
// characters from there on would shift the columns after the wide text
// and leave the row short of its border once the text is scrolled or
// clipped away, so such a row is scrolled, clipped and filled by columns,
// to the columns that `width` characters of the whole row take.  A
// double-width character cut by the left edge shows as a blank, and one
// that does not fit at the right edge is left out.
static row_window
row_window_columns(const wchar_t *ws, size_t n, size_t cols, size_t hscroll,
    size_t width)
{
	size_t budget = width + cols >= n ? width + cols - n : 0;
	size_t col = 0, i = 0;
	row_window r{};

	for (; i < n; i++) {
		auto w = static_cast<size_t>(wcwidth(ws[i]));
		if (col + w > hscroll)
			break;
		col += w;
	}
	if (i < n && col < hscroll) {
		r.lead = col + static_cast<size_t>(wcwidth(ws[i])) - hscroll;
		if (r.lead > budget)
			r.lead = budget;
		i++;
	}
	size_t used = r.lead;
	r.start = i;
	for (; i < n; i++) {
		auto w = static_cast<size_t>(wcwidth(ws[i]));
		if (used + w > budget)
			break;
		used += w;
	}
	r.end = i;
	r.pad = budget - used;
	return r;
}

// wcswidth() of the row, with printable ASCII (most of every row) counted
// without a table lookup.
static int
row_columns(const wchar_t *ws, size_t n)
{
	int cols = 0;

	for (size_t i = 0; i < n && ws[i] != L'\0'; i++) {
		if (ws[i] >= 0x20 && ws[i] < 0x7f) {
			cols++;
			continue;
		}
		int w = wcwidth(ws[i]);
		if (w < 0)
			return -1;
		cols += w;
	}
	return cols;
}

static void
append_blanks(struct sbuf *sb, size_t n)
{
	if (n > 0) {
		int p = static_cast<int>(n);
		sbuf_printf(sb, "%-*.*s", p, p, "");
	}
}

// Appends the visible part of the wide string `ws` of `n` characters,
// converted to multibyte text, filled with blanks to the row's width.
// Nothing is appended when the visible part cannot be converted.  `ws`
// must have room for a terminator at `n`.
static void
append_visible(struct sbuf *sb, wchar_t *ws, size_t n, size_t hscroll,
    size_t width)
{
	// A row as many columns wide as it has characters may still hold
	// double-width and zero-width characters that make up for one
	// another; cut anywhere but at its ends it would not fill its width,
	// so a cut row is windowed by columns too.
	int cols = row_columns(ws, n);
	bool cut = hscroll > 0 || n > width;
	row_window r = cols >= 0 && (static_cast<size_t>(cols) != n || cut) ?
	    row_window_columns(ws, n, static_cast<size_t>(cols), hscroll,
	    width) : row_window_chars(n, hscroll, width);
	ws[r.end] = L'\0';

	// A visible part that surely fits is converted on the stack in one
	// pass; a longer one is measured first and converted into the heap.
	char small[ROW_BYTES];
	char *mb = small;
	size_t len;
	if ((r.end - r.start) * MB_CUR_MAX < sizeof small) {
		len = wcstombs(small, ws + r.start, sizeof small);
		if (len == static_cast<size_t>(-1))
			return;
	} else {
		len = wcstombs(nullptr, ws + r.start, 0);
		if (len == static_cast<size_t>(-1))
			return;
		if ((mb = static_cast<char *>(malloc(len + 1))) == nullptr)
			return;
		wcstombs(mb, ws + r.start, len + 1);
	}
	append_blanks(sb, r.lead);
	sbuf_bcat(sb, mb, len);
	append_blanks(sb, r.pad);
	if (mb != small)
		free(mb);
}

// Formats the row through a wide memory stream, which takes a row of any
// length and keeps what was written before a conversion that failed.
static void
print_wide_row_v(struct sbuf *sb, size_t hscroll, size_t width,
    const wchar_t *fmt, va_list ap)
{
	wchar_t *ws = nullptr;
	size_t n = 0;
	FILE *f = open_wmemstream(&ws, &n);
	if (f == nullptr)
		return;
	vfwprintf(f, fmt, ap);
	fclose(f);
	if (ws == nullptr)
		return;
	append_visible(sb, ws, n, hscroll, width);
	free(ws);
}

void
print_wide_row_stream(struct sbuf *sb, size_t hscroll, size_t width,
    const wchar_t *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	print_wide_row_v(sb, hscroll, width, fmt, ap);
	va_end(ap);
}

// A memory stream costs more than the rest of the row (it clears a large
// buffer when it opens), so a row is first formatted into a buffer on the
// stack.  Only a row that does not fit there, or whose formatting failed
// part way, takes the stream; the formatting is the same, and so are the
// bytes.
void
print_wide_row(struct sbuf *sb, size_t hscroll, size_t width,
    const wchar_t *fmt, ...)
{
	wchar_t row[ROW_CHARS];
	va_list ap, again;

	va_start(ap, fmt);
	va_copy(again, ap);
	int n = vswprintf(row, ROW_CHARS, fmt, ap);
	if (n >= 0)
		append_visible(sb, row, static_cast<size_t>(n), hscroll, width);
	else
		print_wide_row_v(sb, hscroll, width, fmt, again);
	va_end(again);
	va_end(ap);
}

// Converts `text` into the scratch buffer; its character count, or -1 when
// it is longer than WIDTH_CHARS_MAX characters or not valid multibyte text.
static int
width_convert(const char *text)
{
	size_t count = mbstowcs(nullptr, text, 0);
	if (count > WIDTH_CHARS_MAX)
		return -1;
	mbstowcs(width_scratch, text, WIDTH_CHARS_MAX + 1);
	return static_cast<int>(count);
}

// The length of a text made of printable ASCII only, each character one
// column wide in every locale; -1 for any other text.
static int
ascii_length(const char *text)
{
	size_t i = 0;

	for (; text[i] != '\0'; i++) {
		auto c = static_cast<unsigned char>(text[i]);
		if (c < 0x20 || c >= 0x7f)
			return -1;
		if (i == WIDTH_CHARS_MAX)
			return static_cast<int>(WIDTH_CHARS_MAX) + 1;
	}
	return static_cast<int>(i);
}

int
display_width(const char *text)
{
	if (int n = ascii_length(text); n >= 0)
		return n <= static_cast<int>(WIDTH_CHARS_MAX) ? n : -1;
	int count = width_convert(text);
	if (count < 0)
		return -1;
	return wcswidth(width_scratch, static_cast<size_t>(count));
}

int
extra_width(const char *text)
{
	if (int n = ascii_length(text); n >= 0)
		return n <= static_cast<int>(WIDTH_CHARS_MAX) ? 0 : -1;
	int count = width_convert(text);
	if (count < 0)
		return -1;
	return wcswidth(width_scratch, static_cast<size_t>(count)) - count;
}

// The entry before the one whose back link is `link`, walking from newer to
// older; nullptr past the oldest.
static notification *
notification_older(notification_list *list, notification **link)
{
	if (link == &list->first)
		return nullptr;
	return reinterpret_cast<notification *>(
	    reinterpret_cast<char *>(link) - offsetof(notification, next));
}

// Bytes of the longest run of whole characters at the start of `s` that
// fits in `limit` bytes.  `s` is printable text, valid in the locale.
static size_t
whole_chars(const char *s, size_t limit)
{
	mbstate_t st{};
	size_t len = 0;

	while (len < limit) {
		size_t k = mbrlen(s + len, limit - len, &st);
		if (k == 0 || k > limit - len)
			break;
		len += k;
	}
	return len;
}

// Draws one notification box with its top border at row `top`, hugging the
// terminal's right edge; returns the row of its bottom border.
static int
draw_notification(struct sbuf *sb, const char *text, size_t len, int top)
{
	int n = static_cast<int>(len < NOTE_WIDTH ? len : NOTE_WIDTH);
	int col = app_cols() - n - 3;
	if (col < 1)
		col = 1;
	int row = top;

	sbuf_cat(sb, "\e[33m");
	sbuf_cat(sb, "\e[2;1H");
	sbuf_printf(sb, "\e[%d;%dH╭", top, col);
	repeat(sb, "─", n + 2);
	sbuf_cat(sb, "╮\r\n");
	for (size_t pos = 0; pos < len;) {
		size_t cand = len - pos < NOTE_WIDTH ? len - pos : NOTE_WIDTH;
		size_t line = cand;
		if (pos + cand < len) {
			// Never end a line inside a character.
			size_t whole = whole_chars(text + pos, cand);
			if (whole > 0)
				cand = whole;
			line = cand;
			for (size_t i = cand; i > 0; i--) {
				if (text[pos + i - 1] == ' ') {
					line = i;
					break;
				}
			}
		}
		row++;
		sbuf_printf(sb, "\e[%d;%dH", row, col);
		sbuf_printf(sb, "│ %-*.*s │\r\n", n, static_cast<int>(line),
		    text + pos);
		pos += line;
	}
	row++;
	sbuf_printf(sb, "\e[%d;%dH╰", row, col);
	repeat(sb, "─", n + 2);
	sbuf_cat(sb, "╯\r\n");
	sbuf_cat(sb, "\e[39m");
	return row;
}

void
draw_notifications(struct sbuf *sb)
{
	notification_list *list = &app.notifications;
	int top = 1;

	for (notification *note = notification_older(list, list->last);
	    note != nullptr; note = notification_older(list, note->prev)) {
		// The text comes from outside: draw a printable copy, kept on
		// the stack when it is short.  Should a long one find no
		// memory, its start is drawn.
		char small[512];
		char *copy = small;
		size_t len = strlen(note->text);
		if (len >= sizeof small) {
			copy = static_cast<char *>(malloc(len + 1));
			if (copy == nullptr) {
				copy = small;
				len = sizeof small - 1;
			}
		}
		len = text_printable(note->text, len, copy);
		top = draw_notification(sb, copy, len, top) + 1;
		if (copy != small)
			free(copy);
		if (3 * static_cast<size_t>(top) >= 2 * app.layout_rows)
			break;
	}
}

// The first character boundary at or after byte `at` of `s` (`len` bytes);
// a byte that is not valid multibyte text counts as one character.
static size_t
char_boundary(const char *s, size_t len, size_t at)
{
	mbstate_t st{};
	size_t i = 0;

	while (i < at) {
		size_t k = mbrlen(s + i, len - i, &st);
		if (k == 0 || k > len - i) {
			k = 1;
			st = mbstate_t{};
		}
		i += k;
	}
	return i;
}

void
draw_dialog(struct sbuf *sb)
{
	int rows = app_rows(), cols = app_cols();
	int down = rows >= 7 ? (rows - 5) / 2 : 0;
	int right = cols >= 42 ? (cols - 40) / 2 : 0;
	char field[FIELD_WIDTH + 1] = "";

	assert(app.dialog_prompt != nullptr);
	if (app.dialog_text != nullptr) {
		size_t len = strlen(app.dialog_text);
		if (app.dialog_masked) {
			size_t stars = len < FIELD_WIDTH ? len : FIELD_WIDTH;
			memset(field, '*', stars);
			field[stars] = '\0';
		} else {
			// The field follows the end of the input, from the
			// first whole character of its last bytes; typed bytes
			// are drawn only as printable text.
			size_t from = len > FIELD_WIDTH ?
			    char_boundary(app.dialog_text, len, len - FIELD_WIDTH) :
			    0;
			text_printable(app.dialog_text + from, len - from, field);
		}
	}

	sbuf_cat(sb, "\e[1;1H");
	sbuf_printf(sb, "\e[%dB", down);
	sbuf_cat(sb, "\e[32m");
	draw_box_title(sb, app.dialog_prompt, nullptr, 0, true, false, right,
	    40);
	auto indent = [&] {
		if (right != 0)
			sbuf_printf(sb, "\e[%dC", right);
	};
	constexpr int w = static_cast<int>(FIELD_WIDTH);
	indent();
	sbuf_printf(sb, "│ %*s │\r\n", w, "");
	indent();
	sbuf_printf(sb, "│ \e[100m%-*.*s\e[49m │\r\n", w, w, field);
	indent();
	sbuf_printf(sb, "│ %*s │\r\n", w, "");
	indent();
	sbuf_cat(sb, "╰");
	repeat(sb, "─", 38);
	sbuf_cat(sb, "╯");
	sbuf_cat(sb, "\e[39m");
}
