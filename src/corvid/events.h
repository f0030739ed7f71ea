// The handlers of the event sources other than the keyboard.
#pragma once

#include <cstdint>

#include "state.h"

inline constexpr uintptr_t TIMER_NOTIFICATIONS = 0;  // every 5 seconds
inline constexpr uintptr_t TIMER_SCAN = 1;           // every 30 seconds
inline constexpr unsigned NOTIFICATION_PERIOD = 5;
inline constexpr unsigned SCAN_PERIOD = 30;

int handle_wpa_event(void *udata);
int handle_winch(void *udata);
int handle_notification_timer(void *udata);
int handle_scan_timer(void *udata);
int handle_rtnl(void *udata);
int handle_signal(void *udata);
