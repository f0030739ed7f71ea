// The frame: the status box, the two tables with their scroll windows, the
// bottom border, and the overlays, composed from app_state into one buffer.
#include <climits>
#include <cmath>
#include <cwchar>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "state.h"
#include "draw.h"
#include "render.h"

// Widest block, in columns.
static constexpr int BLOCK_WIDTH = 80;


static constexpr const char *auto_connect_texts[] = {
	"Yes",      // NETWORK_ENABLED
	"No",       // NETWORK_DISABLED
	"Current",  // NETWORK_CURRENT
};

struct help_line {
	const char *key;
	const char *text;
};

static constexpr help_line help_general[] = {
	{"d", "Disconnect current AP"},
	{"h", "Toggle help"},
	{"[/<Left>", "Scroll left"},
	{"]/<Right>", "Scroll right"},
	{"j/<Down>", "Move down"},
	{"k/<Up>", "Move up"},
	{"q", "Quit"},
	{"r", "Reconnect to known AP"},
	{"s", "Trigger Scan"},
	{"Tab", "Switch between sections"},
	{"/", "Search by SSID"},
	{"<C-l>", "Clear notifications"},
};

static constexpr help_line help_known[] = {
	{"a", "Toggle auto connect"},
	{"f", "Forget network"},
	{"<C-a>", "Increase priority"},
	{"<C-x>", "Decrease priority"},
};

static constexpr help_line help_scan[] = {
	{"c", "Connect to network"},
	{"", "open/OWE/PSK/SAE/EAP"},
};

// What the frame needs to know about the block's place on the screen.
struct block_geometry {
	int width;   // w: min(cols, 80)
	int left;    // columns to the left of the block
};

// One table's window, after the selection has been brought into view.
struct table_window {
	size_t top;
	size_t count;
	int vis;
	bool scrollbar;
	int thumb;
};

static const char *
auto_connect_text(network_state s)
{
	auto i = static_cast<unsigned>(s);
	return auto_connect_texts[i < std::size(auto_connect_texts) ? i : 1];
}

// Whether the locale's character set has the block characters of the bars.
// Where it has not (the C locale, Latin-1), a row holding them could not be
// converted back and would come out empty, so the bars are drawn in ASCII.
static bool
locale_has_blocks(void)
{
	char mb[MB_LEN_MAX];
	mbstate_t st{};

	return wcrtomb(mb, L'\u2588', &st) != static_cast<size_t>(-1);
}

static const wchar_t *
signal_bars(int signal, bool blocks)
{
	static constexpr const wchar_t *bars[][2] = {
		{L"▂▄▆█", L"||||"},
		{L"▂▄▆▁", L"|||."},
		{L"▂▄▁▁", L"||.."},
		{L"▂▁▁▁", L"|..."},
		{L"▁▁▁▁", L"...."},
	};
	int level = signal > -51 ? 0 : signal >= -60 ? 1 : signal >= -70 ? 2 :
	    signal >= -80 ? 3 : 4;
	return bars[level][blocks ? 0 : 1];
}

// A printable copy of at most size - 1 bytes of untrusted `text`.
static const char *
printable(const char *text, char *buf, size_t size)
{
	text_printable(text, strnlen(text, size - 1), buf);
	return buf;
}

// Columns minus characters of the first `chars` characters of `text`, a
// printable text valid in the locale: what a field cut to that many
// characters takes beyond one column per character.
static int
prefix_extra(const char *text, size_t chars)
{
	size_t len = strlen(text), i = 0;
	mbstate_t st{};
	int extra = 0;

	for (size_t k = 0; k < chars && i < len; k++) {
		wchar_t wc;
		size_t n = mbrtowc(&wc, text + i, len - i, &st);
		if (n == 0 || n > len - i)
			break;
		int w = wcwidth(wc);
		extra += (w > 0 ? w : 0) - 1;
		i += n;
	}
	return extra;
}

static int
clamp_zero(int n)
{
	return n > 0 ? n : 0;
}

// Moves `*top` so that `sel` is inside a window of `vis` rows and works out
// the scrollbar.
static table_window
table_window_place(size_t sel, size_t *top, size_t count, size_t vis)
{
	if (sel < *top)
		*top = sel;
	if (sel >= *top + vis)
		*top = sel - vis + 1;

	table_window t{};
	t.top = *top;
	t.count = count;
	t.vis = static_cast<int>(vis);
	t.scrollbar = static_cast<int32_t>(count) - static_cast<int32_t>(vis) > 0;
	if (t.scrollbar) {
		double thumb = std::round(static_cast<double>(vis) *
		    (static_cast<double>(*top) /
		    static_cast<double>(count - vis)));
		if (thumb > t.vis - 2)
			thumb = t.vis - 2;
		if (thumb < 0)
			thumb = 0;
		t.thumb = static_cast<int>(thumb);
	}
	return t;
}

// The right border of window row `r` (-1 is the header).
static const char *
scroll_mark(const table_window *t, int r)
{
	if (!t->scrollbar)
		return "│";
	if (r == -1)
		return "↑";
	if (r == t->vis - 1)
		return "↓";
	if (r == t->thumb)
		return "█";
	return " ";
}

static void
render_too_small(struct sbuf *sb)
{
	int rows = app_rows(), cols = app_cols();

	sbuf_printf(sb, "\e[%dB", rows >= 3 ? (rows - 1) / 2 : 0);
	sbuf_printf(sb, "%*s\e[1m%s\e[22m", cols >= 25 ? (cols - 23) / 2 : 0, "",
	    "Terminal size too small");
}

static void
render_status(struct sbuf *sb, const block_geometry *g)
{
	const supplicant_status *st = app.status;
	// The fields show at most 32 characters: a copy of the first 255
	// bytes of a longer text shows the same.
	char ssid[SSID_MAX + 1], state[256], address[256];
	const char *ssid_text = "N/A", *state_text = "N/A", *addr_text = "N/A";
	int e = 0;

	if (st->ssid != nullptr) {
		ssid_text = printable(st->ssid, ssid, sizeof ssid);
		e = extra_width(ssid_text);
		addr_text = st->ip_address != nullptr ?
		    printable(st->ip_address, address, sizeof address) :
		    "Acquiring...";
	}
	if (st->wpa_state != nullptr)
		state_text = printable(st->wpa_state, state, sizeof state);

	char freq[64];
	int n = snprintf(freq, sizeof freq, "%d MHz", st->freq);
	int f = n < 16 ? 15 : n;

	draw_box_title(sb, "WiFi Info", nullptr, 0, true, false, g->left,
	    g->width);
	sbuf_printf(sb, "%*s│", g->left, "");
	print_wide_row(sb, app.hscroll, clamp_zero(g->width - 2 - e),
	    L"  %-*.*s: %-*.*s %-*.*s: %-*.*s", 9, 9, "SSID", 32 - e, 32 - e,
	    ssid_text, 10, 10, "Frequency", f, f, freq);
	sbuf_cat(sb, "│\r\n");
	sbuf_printf(sb, "%*s│", g->left, "");
	// The state and the address come from outside as well: the columns
	// their shown characters take beyond one each come off the width, as
	// the SSID's do above, or the row would miss its border.
	int x = prefix_extra(state_text, 32) + prefix_extra(addr_text,
	    static_cast<size_t>(f));
	print_wide_row(sb, app.hscroll, clamp_zero(g->width - 2 - x),
	    L"  %-*.*s: %-*.*s %-*.*s: %-*.*s", 9, 9, "WPA State", 32, 32,
	    state_text, 10, 10, "IP Address", f, f, addr_text);
	sbuf_cat(sb, "│\r\n");
}

// The start of entry row `i`, up to its text.
static void
render_row_start(struct sbuf *sb, const block_geometry *g, section_id id,
    size_t i, size_t sel)
{
	bool reverse = app.section == id && i == sel && !app.searching;
	sbuf_printf(sb, "%*s│ %s", g->left, "", reverse ? "\e[7m" : "");
}

// The text of row `i` of Known Networks.
static void
render_known_row(struct sbuf *sb, const block_geometry *g, size_t i)
{
	const known_network *net = &app.known->items[i];
	char ssid[SSID_MAX + 1];
	printable(net->ssid, ssid, sizeof ssid);
	int x = extra_width(ssid);

	print_wide_row(sb, app.hscroll, clamp_zero(g->width - 4 - x),
	    L"%s%-*s  %-*s  %-*s  %*d  %-*s",
	    net->state == NETWORK_CURRENT ? ">" : " ", 32 - x, ssid,
	    8, security_text(net->security), 6,
	    net->scan_ssid ? "Yes" : "No", 8, net->priority, 12,
	    auto_connect_text(net->state));
}

// The text of row `i` of Network Scan.
static void
render_scan_row(struct sbuf *sb, const block_geometry *g, size_t i)
{
	const scan_result *res = &app.scan->items[i];
	char ssid[SSID_MAX + 1];
	printable(res->ssid, ssid, sizeof ssid);
	int x = extra_width(ssid);

	print_wide_row(sb, app.hscroll, clamp_zero(g->width - 4 - x),
	    L" %-*s      %-*s       %-*ls     %-*d MHz   ", 32 - x, ssid,
	    8, security_text(res->security), 6,
	    signal_bars(res->signal, locale_has_blocks()), 4, res->freq);
}

// What tells the two tables apart on the screen.
struct table_look {
	const char *name;
	const wchar_t *header;
	void (*row)(struct sbuf *, const block_geometry *, size_t);
};

static constexpr table_look table_looks[SECTIONS] = {
	{ "Known Networks", L"  %-*s  Security  Hidden  Priority  Auto Connect  ",
	  render_known_row },
	{ "Network Scan", L"  %-*s      Security      Signal      Frequency   ",
	  render_scan_row },
};

// One table: the title bar (the search text, when there is one), the
// header row, the rows in the window around the selection and filler rows
// below them; a table always takes its `visible` rows.
static void
render_table(struct sbuf *sb, const block_geometry *g, section_id id)
{
	const table_look &look = table_looks[id];
	table &tab = app_table(id);
	table_window t = table_window_place(tab.sel, &tab.top, table_count(id),
	    tab.visible);

	bool active = app.searching && app.section == id;
	bool mark = tab.search[0] != '\0' || active;
	char text[SSID_MAX + 1];
	printable(tab.search, text, sizeof text);
	int extra = static_cast<int>(strlen(text)) - display_width(text);
	draw_box_title(sb, mark ? text : look.name, active ? "\e[36m" : nullptr,
	    extra, false, mark, g->left, g->width);
	sbuf_printf(sb, "%*s│\e[1m\e[34m", g->left, "");
	print_wide_row(sb, app.hscroll, clamp_zero(g->width - 2), look.header, 32,
	    "SSID");
	sbuf_printf(sb, "\e[22m\e[39m%s\r\n", scroll_mark(&t, -1));

	size_t i = t.top;
	for (; i < t.count && i < t.top + t.vis; i++) {
		render_row_start(sb, g, id, i, tab.sel);
		look.row(sb, g, i);
		sbuf_printf(sb, "\e[27m %s\r\n",
		    scroll_mark(&t, static_cast<int>(i - t.top)));
	}
	for (; i < t.top + t.vis; i++)
		sbuf_printf(sb, "%*s│%*s%s\r\n", g->left, "", g->width - 2, "",
		    scroll_mark(&t, static_cast<int>(i - t.top)));
}

static void
render_bottom(struct sbuf *sb, const block_geometry *g)
{
	int w = g->width;

	if (w >= BLOCK_WIDTH) {
		if (g->left > 0)
			sbuf_printf(sb, "\e[%dC", g->left);
		sbuf_cat(sb, "╰");
		for (int k = 0; k < BLOCK_WIDTH - 2; k++)
			sbuf_cat(sb, "─");
		sbuf_cat(sb, "╯");
		return;
	}
	// Narrower than the rows: show where the horizontal scroll stands.
	double p = std::round((w - 2) * (static_cast<double>(app.hscroll) /
	    (BLOCK_WIDTH - w)));
	if (p > w - 5)
		p = w - 5;
	if (p < 0)
		p = 0;
	int pos = static_cast<int>(p);
	sbuf_cat(sb, "╰<");
	for (int k = 0; k <= w - 4; k++)
		sbuf_cat(sb, k == w - 4 ? ">" : k == pos ? "━" : " ");
	sbuf_cat(sb, "╯");
}

static void
render_help_group(struct sbuf *sb, const char *title, bool top, int h,
    const help_line *lines, size_t n)
{
	draw_box_title(sb, title, nullptr, 0, top, false, h, 39);
	for (size_t i = 0; i < n; i++) {
		if (h != 0)
			sbuf_printf(sb, "\e[%dC", h);
		sbuf_printf(sb, "│  %-*s %-*s  │\r\n", 9, lines[i].key, 23,
		    lines[i].text);
	}
}

static void
render_help(struct sbuf *sb)
{
	int rows = app_rows(), cols = app_cols();
	int d = rows >= 24 ? (rows - 22) / 2 : 0;
	int h = cols >= 41 ? (cols - 39) / 2 : 0;

	sbuf_cat(sb, "\e[1;1H");
	sbuf_printf(sb, "\e[%dB", d);
	sbuf_cat(sb, "\e[35m");
	render_help_group(sb, "Help", true, h, help_general,
	    std::size(help_general));
	render_help_group(sb, "Known Networks", false, h, help_known,
	    std::size(help_known));
	render_help_group(sb, "Network Scan", false, h, help_scan,
	    std::size(help_scan));
	if (h != 0)
		sbuf_printf(sb, "\e[%dC", h);
	sbuf_cat(sb, "╰");
	for (int k = 0; k < 37; k++)
		sbuf_cat(sb, "─");
	sbuf_cat(sb, "╯");
	sbuf_cat(sb, "\e[39m");
}

void
render_frame(struct sbuf *sb)
{
	sbuf_cat(sb, "\e[2J\e[1;1H");
	if (app.too_small) {
		render_too_small(sb);
		return;
	}

	int rows = app_rows(), cols = app_cols();
	int layout = static_cast<int>(app.layout_rows);
	block_geometry g;
	g.width = cols < BLOCK_WIDTH ? cols : BLOCK_WIDTH;
	g.left = cols >= BLOCK_WIDTH + 2 ? (cols - BLOCK_WIDTH) / 2 : 0;

	sbuf_printf(sb, "\e[%dB", rows > layout ? (rows - layout) / 2 : 0);
	render_status(sb, &g);
	render_table(sb, &g, SECTION_KNOWN);
	render_table(sb, &g, SECTION_SCAN);
	render_bottom(sb, &g);

	if (app.notifications.first != nullptr)
		draw_notifications(sb);
	if (app.show_help)
		render_help(sb);
	if (app.dialog_prompt != nullptr)
		draw_dialog(sb);
}
