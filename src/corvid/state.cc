// The program's single state record.
#include <algorithm>

#include "state.h"

app_state app;

// The record is set up once, before main(), and again by every reset.
[[maybe_unused]] static const bool app_ready = (app_reset(), true);

void
app_reset(void)
{
	app = app_state{};
	app.tty_fd = app.monitor_fd = app.kq_fd = -1;
	app.pending_network = -1;
	notification_list_init(&app.notifications);
}

void
layout_update(void)
{
	size_t rows = app_rows();

	app.layout_rows = std::min(rows, LAYOUT_ROWS_MAX);
	size_t visible = rows < 8 ? 0 : std::min((rows - 8) / 2, TABLE_ROWS_MAX);
	for (table &t : app.tables)
		t.visible = visible;
	app.too_small = app_cols() < MIN_COLS || app_rows() < MIN_ROWS;
}
