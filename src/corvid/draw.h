// Drawing primitives: box title bars, clipped rows, text widths and the
// overlays that float over the frame.
#pragma once

#include <cstddef>

#include "platform.h"

void draw_box_title(struct sbuf *sb, const char *title, const char *colour,
    int extra, bool top, bool mark, int left, int width);
void print_wide_row(struct sbuf *sb, size_t hscroll, size_t width,
    const wchar_t *fmt, ...);
// The same row, always formatted through a wide memory stream: the path
// print_wide_row takes for rows that do not fit its stack buffer.
void print_wide_row_stream(struct sbuf *sb, size_t hscroll, size_t width,
    const wchar_t *fmt, ...);
int display_width(const char *text);
int extra_width(const char *text);
void draw_notifications(struct sbuf *sb);
void draw_dialog(struct sbuf *sb);
