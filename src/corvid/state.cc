// The program's single state record.
#include "app.h"

app_state app = [] {
	app_state a{};
	a.tty_fd = a.monitor_fd = a.kq_fd = -1;
	a.pending_network = -1;
	notification_list_init(&a.notifications);
	return a;
}();

void
app_reset(void)
{
	app = app_state{};
	app.tty_fd = app.monitor_fd = app.kq_fd = -1;
	app.pending_network = -1;
	notification_list_init(&app.notifications);
}
