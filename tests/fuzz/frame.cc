// Fuzzes the frame renderer on random state: terminal sizes from 1x1 to
// 300x120, random SSID and status bytes, selections, scroll offsets,
// search texts, notifications, help and the input dialog, in a UTF-8
// locale and in the C locale.
//
// Whatever the state, the frame holds no control character but the
// renderer's own: carriage return, line feed and the cursor, clearing and
// colour sequences.  Without overlays, every row of the block is exactly
// the block's width: it starts and ends with a border at the block's edges
// and nothing is drawn past it.
#include <fuzzer/FuzzedDataProvider.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "state.h"
#include "term.h"
#include "notify.h"
#include "render.h"
#include "vt.h"

// Bytes a terminal would obey, mixed into the texts from outside.
static const char *const markers[] = {
	"\a", "\e]0;title\a", "\e[31m", "\e[2J", "\x9b" "1m", "\xc2\x9b" "1m",
	"\r\n", "\b\b", "\x7f", "\e", "\xc2\x85", "\xe2\x80\xae",
};

static std::string
outside_text(FuzzedDataProvider &in, size_t max)
{
	std::string s = in.ConsumeRandomLengthString(max);
	if (in.ConsumeBool()) {
		size_t at = in.ConsumeIntegralInRange<size_t>(0, s.size());
		s.insert(at, in.PickValueInArray(markers));
	}
	return s;
}

static void
ssid_fill(FuzzedDataProvider &in, char (&ssid)[SSID_MAX + 1])
{
	std::string s = outside_text(in, SSID_MAX);
	size_t n = s.size() < SSID_MAX ? s.size() : SSID_MAX;
	memset(ssid, 0, sizeof ssid);
	memcpy(ssid, s.data(), n);
}

static char *
status_text(FuzzedDataProvider &in)
{
	if (!in.ConsumeBool())
		return nullptr;
	return strdup(outside_text(in, 300).c_str());
}

// Every escape is one of the renderer's control sequences, and no other
// control byte is present.
static void
check_controls(const std::string &f)
{
	for (size_t i = 0; i < f.size(); i++) {
		auto c = static_cast<unsigned char>(f[i]);
		if (c == '\r' || c == '\n')
			continue;
		if (c == 0x7f)
			abort();
		if (c != 0x1b) {
			if (c < 0x20)
				abort();
			continue;
		}
		if (i + 1 == f.size() || f[i + 1] != '[')
			abort();
		size_t k = i + 2;
		while (k < f.size() && ((f[k] >= '0' && f[k] <= '9') || f[k] == ';'))
			k++;
		if (k == f.size() || strchr("HBCJm", f[k]) == nullptr)
			abort();
		i = k;
	}
}

// Stops with the screen as the interpreter shows it and what was wrong.
[[noreturn]] static void
fail(const vt_screen &vt, int y, const char *what)
{
	fprintf(stderr, "frame %dx%d, row %d: %s\n", vt.rows, vt.cols, y, what);
	for (int r = 0; r < vt.rows; r++)
		fprintf(stderr, "%3d|%s|\n", r, vt_row(&vt, r).c_str());
	abort();
}

static bool
cell_is(const vt_screen &vt, int y, int x, const char *const *set, size_t n)
{
	const char *text = vt_cell_at(&vt, y, x)->text;
	for (size_t i = 0; i < n; i++)
		if (strcmp(text, set[i]) == 0)
			return true;
	return false;
}

static void
check_block(const vt_screen &vt)
{
	static const char *const lefts[] = {"╭", "│", "├", "╰"};
	static const char *const rights[] = {"╮", "│", "┤", "╯", "↑", "↓", "█",
	    " "};
	int cols = app_cols();
	int width = cols < 80 ? cols : 80;
	int left = cols >= 82 ? (cols - 80) / 2 : 0;
	int height = 8 + 2 * static_cast<int>(app.tables[SECTION_KNOWN].visible);

	int top = 0;
	while (top < vt.rows && strcmp(vt_cell_at(&vt, top, left)->text, "╭") != 0)
		top++;
	if (top + height > vt.rows)
		fail(vt, top, "the block does not fit");
	for (int y = top; y < top + height; y++) {
		if (!cell_is(vt, y, left, lefts, std::size(lefts)))
			fail(vt, y, "no left border");
		if (!cell_is(vt, y, left + width - 1, rights, std::size(rights)))
			fail(vt, y, "no right border");
		for (int x = left; x < left + width; x++)
			if (!vt_cell_at(&vt, y, x)->written)
				fail(vt, y, "a row is short of its width");
		for (int x = left + width; x < cols; x++)
			if (vt_cell_at(&vt, y, x)->written)
				fail(vt, y, "a row is wider than the block");
	}
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	FuzzedDataProvider in(data, size);
	bool utf8 = in.ConsumeBool();
	if (setlocale(LC_ALL, utf8 ? "C.UTF-8" : "C") == nullptr)
		abort();

	app_reset();
	int rows = in.ConsumeIntegralInRange(1, 120);
	int cols = in.ConsumeIntegralInRange(1, 300);
	app.winsize.ws_row = static_cast<unsigned short>(rows);
	app.winsize.ws_col = static_cast<unsigned short>(cols);
	layout_update();

	supplicant_status status{};
	status.freq = in.ConsumeIntegral<int>();
	status.wpa_state = status_text(in);
	status.bssid = status_text(in);
	status.ssid = status_text(in);
	status.ip_address = status_text(in);

	std::vector<known_network> known_items(in.ConsumeIntegralInRange(0, 40));
	for (known_network &k : known_items) {
		k.id = in.ConsumeIntegral<int>();
		k.priority = in.ConsumeIntegral<int>();
		k.scan_ssid = in.ConsumeBool();
		k.security = static_cast<security_type>(in.ConsumeIntegralInRange(0, 6));
		k.state = static_cast<network_state>(in.ConsumeIntegralInRange(0, 2));
		ssid_fill(in, k.ssid);
	}
	std::vector<scan_result> scan_items(in.ConsumeIntegralInRange(0, 40));
	for (scan_result &s : scan_items) {
		s.freq = in.ConsumeIntegral<int>();
		s.signal = in.ConsumeIntegral<int>();
		s.security = static_cast<security_type>(in.ConsumeIntegralInRange(0, 6));
		ssid_fill(in, s.ssid);
	}
	known_networks known{known_items.data(), known_items.size(),
	    known_items.size()};
	scan_results scan{scan_items.data(), scan_items.size(), scan_items.size()};
	app.status = &status;
	app.known = &known;
	app.scan = &scan;

	// Selections are row indexes within the lists (0 for an empty one);
	// the first visible rows are whatever an earlier frame left.
	app.section = in.ConsumeBool() ? SECTION_SCAN : SECTION_KNOWN;
	app.tables[SECTION_KNOWN].sel = known.count > 0 ?
	    in.ConsumeIntegralInRange<size_t>(0, known.count - 1) : 0;
	app.tables[SECTION_SCAN].sel = scan.count > 0 ?
	    in.ConsumeIntegralInRange<size_t>(0, scan.count - 1) : 0;
	app.tables[SECTION_KNOWN].top = in.ConsumeIntegralInRange<size_t>(0, 60);
	app.tables[SECTION_SCAN].top = in.ConsumeIntegralInRange<size_t>(0, 60);
	app.hscroll = in.ConsumeIntegralInRange<size_t>(0,
	    cols <= 80 ? static_cast<size_t>(80 - cols) : 0);
	app.searching = in.ConsumeBool();
	std::string s = in.ConsumeRandomLengthString(SSID_MAX);
	strncpy(app.tables[SECTION_SCAN].search, s.c_str(), SSID_MAX);
	s = in.ConsumeRandomLengthString(SSID_MAX);
	strncpy(app.tables[SECTION_KNOWN].search, s.c_str(), SSID_MAX);

	bool overlays = false;
	if (in.ConsumeBool()) {
		overlays = true;
		for (int n = in.ConsumeIntegralInRange(1, 70); n > 0; n--)
			notify(&app.notifications, outside_text(in, 600).c_str());
	}
	app.show_help = in.ConsumeBool();
	std::string typed;
	if (in.ConsumeBool()) {
		static const char *const prompts[] = {"Enter the EAP username",
		    "Enter the password"};
		app.dialog_prompt = in.PickValueInArray(prompts);
		app.dialog_masked = in.ConsumeBool();
		typed = outside_text(in, 1024);
		if (in.ConsumeBool())
			app.dialog_text = typed.c_str();
	}
	overlays = overlays || app.show_help || app.dialog_prompt != nullptr;

	struct sbuf *sb = sbuf_new_auto();
	if (sb == nullptr)
		abort();
	render_frame(sb);
	if (sbuf_finish(sb) != 0)
		abort();
	std::string frame(sbuf_data(sb), static_cast<size_t>(sbuf_len(sb)));
	sbuf_delete(sb);

	check_controls(frame);
	setlocale(LC_ALL, "C.UTF-8");
	vt_screen vt;
	vt_init(&vt, rows, cols);
	vt_feed(&vt, frame);
	if (vt.stray != 0 || vt.invalid != 0)
		fail(vt, vt.y, "stray control or invalid text");
	if (!overlays && !app.too_small)
		check_block(vt);

	clear_notifications(&app.notifications);
	free(status.wpa_state);
	free(status.bssid);
	free(status.ssid);
	free(status.ip_address);
	app_reset();
	return 0;
}
