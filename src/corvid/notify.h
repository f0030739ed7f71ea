// The notification list: texts shown at the top right, oldest first.
#pragma once

#include "state.h"

void notify(notification_list *list, const char *text);
void notifyf(notification_list *list, const char *fmt, ...) __printflike(2, 3);
void clear_notifications(notification_list *list);
// Removes the oldest entry, if any.
void notification_expire(notification_list *list);
