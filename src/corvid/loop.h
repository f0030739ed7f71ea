// The event loop and its handler list.  The loop draws the frame, waits
// for one event and calls the handler registered for it, until a handler
// returns 1.  The dialogs and the search run it nested: they put their own
// key handler in the terminal's place for as long as they run, so that every
// other source keeps being served underneath them.
#pragma once

#include <cstdint>

#include "state.h"

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
