// Building the screen's state in `app` for the screen tests, and taking a
// frame out as bytes or as what a terminal shows.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "state.h"
#include "term.h"
#include "notify.h"
#include "draw.h"
#include "render.h"
#include "vt.h"

// Records the tests point `app` at; they live as long as the test.
struct screen_records {
	supplicant_status status;
	std::vector<known_network> known_items;
	std::vector<scan_result> scan_items;
	known_networks known;
	scan_results scan;
};

inline screen_records records;

inline void
screen_release(void)
{
	if (app.notifications.last != nullptr)
		clear_notifications(&app.notifications);
	app_reset();
}

// A terminal of `rows` x `cols`, with the layout the program measures from
// it, an empty status and two empty tables.
inline void
screen_setup(int rows, int cols)
{
	ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
	screen_release();
	app.winsize.ws_row = static_cast<unsigned short>(rows);
	app.winsize.ws_col = static_cast<unsigned short>(cols);
	layout_update();
	records.status = supplicant_status{};
	records.known_items.clear();
	records.scan_items.clear();
	records.known = known_networks{};
	records.scan = scan_results{};
	app.status = &records.status;
	app.known = &records.known;
	app.scan = &records.scan;
}

inline void
known_add(const char *ssid, security_type sec = SECURITY_PSK,
    network_state state = NETWORK_ENABLED, int priority = 0,
    bool hidden = false)
{
	known_network k{};
	k.id = static_cast<int>(records.known_items.size());
	snprintf(k.ssid, sizeof k.ssid, "%s", ssid);
	k.security = sec;
	k.state = state;
	k.priority = priority;
	k.scan_ssid = hidden;
	records.known_items.push_back(k);
	records.known = {records.known_items.data(), records.known_items.size(),
	    records.known_items.size()};
}

inline void
scan_add(const char *ssid, security_type sec = SECURITY_PSK,
    int signal = -50, int freq = 2412)
{
	scan_result r{};
	snprintf(r.ssid, sizeof r.ssid, "%s", ssid);
	r.security = sec;
	r.signal = signal;
	r.freq = freq;
	records.scan_items.push_back(r);
	records.scan = {records.scan_items.data(), records.scan_items.size(),
	    records.scan_items.size()};
}

// Appends a notification at the tail (the newest).
inline void
note_add(const char *text)
{
	notify(&app.notifications, text);
}

inline std::string
sbuf_string(struct sbuf *sb)
{
	EXPECT_EQ(sbuf_finish(sb), 0);
	std::string s(sbuf_data(sb), static_cast<size_t>(sbuf_len(sb)));
	sbuf_delete(sb);
	return s;
}

inline std::string
frame_bytes(void)
{
	struct sbuf *sb = sbuf_new_auto();
	render_frame(sb);
	return sbuf_string(sb);
}

// The frame as a terminal of the state's size shows it.
inline vt_screen
frame_screen(void)
{
	vt_screen vt;
	vt_init(&vt, app_rows(), app_cols());
	vt_feed(&vt, frame_bytes());
	return vt;
}

inline std::string
repeat(const char *s, int n)
{
	std::string r;
	for (int i = 0; i < n; i++)
		r += s;
	return r;
}

// `s` (ASCII) left-justified in `n` columns, or right-justified with `right`.
inline std::string
pad(const std::string &s, size_t n, bool right = false)
{
	std::string fill(s.size() < n ? n - s.size() : 0, ' ');
	return right ? fill + s : s + fill;
}

inline size_t
count_of(const std::string &hay, const std::string &needle)
{
	size_t n = 0;
	for (size_t at = hay.find(needle); at != std::string::npos;
	    at = hay.find(needle, at + needle.size()))
		n++;
	return n;
}
