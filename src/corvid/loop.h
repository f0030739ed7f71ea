// The event loop, its handler list and the handlers of the window size,
// the two timers, the terminating signals and the routing socket.
#pragma once

#include <cstdint>

#include "app.h"

inline constexpr uintptr_t TIMER_NOTIFICATIONS = 0;  // every 5 seconds
inline constexpr uintptr_t TIMER_SCAN = 1;           // every 30 seconds
inline constexpr unsigned NOTIFICATION_PERIOD = 5;
inline constexpr unsigned SCAN_PERIOD = 30;

// Registers the start-up sources in one submission: 0; 1 when a handler
// record could not be allocated; -1 when the queue refused (errno).
int register_sources(void);
// Adds a record at the head of the list; nullptr when allocation failed.
event_handler *handler_add(uintptr_t ident, int filter,
    int (*callback)(void *), void *udata);
event_handler *handler_find(uintptr_t ident, int filter);
void handlers_free(void);

// Draws, waits for one event, dispatches it; until a callback returns 1.
void event_loop(void);
// Runs event_loop with `callback` as the terminal's key handler, then puts
// the previous one back.
void event_loop_nested(int (*callback)(void *), void *udata);
// One pass without the wait: render the frame and write it.
void redraw(void);

int handle_winch(void *udata);
int handle_notification_timer(void *udata);
int handle_scan_timer(void *udata);
int handle_rtnl(void *udata);
int handle_signal(void *udata);
