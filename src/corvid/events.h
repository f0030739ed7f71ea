// Supplicant events, record refreshes and the notification list.
#pragma once

#include "app.h"

int handle_wpa_event(void *udata);

void notify(notification_list *list, const char *text);
void notifyf(notification_list *list, const char *fmt, ...) __printflike(2, 3);
void clear_notifications(notification_list *list);
// Removes the oldest entry, if any.
void notification_expire(notification_list *list);

void refresh_status(void);
void refresh_known(void);
void refresh_scan(void);
