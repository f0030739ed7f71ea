// A small terminal interpreter for tests.
#include "vt.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

static vt_cell *
cell(vt_screen *vt, int y, int x)
{
	return &vt->cells[static_cast<size_t>(y * vt->cols + x)];
}

void
vt_init(vt_screen *vt, int rows, int cols)
{
	*vt = vt_screen{};
	vt->rows = rows;
	vt->cols = cols;
	vt->cells.assign(static_cast<size_t>(rows * cols), vt_cell{});
}

const vt_cell *
vt_cell_at(const vt_screen *vt, int y, int x)
{
	return &vt->cells[static_cast<size_t>(y * vt->cols + x)];
}

static void
line_feed(vt_screen *vt)
{
	if (vt->y + 1 < vt->rows) {
		vt->y++;
		return;
	}
	vt->cells.erase(vt->cells.begin(), vt->cells.begin() + vt->cols);
	vt->cells.resize(static_cast<size_t>(vt->rows * vt->cols), vt_cell{});
	vt->scrolled++;
}

static int
clamp(int v, int lo, int hi)
{
	return v < lo ? lo : v > hi ? hi : v;
}

static void
put_char(vt_screen *vt, char32_t c, std::string_view utf8)
{
	int w = wcwidth(static_cast<wchar_t>(c));
	if (c >= 0x80 && c <= 0x9f) {
		vt->stray++;
		return;
	}
	if (w == 0 && vt->x > 0) {
		// A combining character joins the cell before it.
		vt_cell *prev = cell(vt, vt->y, vt->x - 1);
		size_t used = strlen(prev->text);
		if (used + utf8.size() < sizeof prev->text)
			memcpy(prev->text + used, utf8.data(), utf8.size());
		return;
	}
	if (w < 1)
		w = 1;
	if (vt->x + w > vt->cols) {
		vt->x = 0;
		line_feed(vt);
	}
	vt_cell *p = cell(vt, vt->y, vt->x);
	*p = vt_cell{};
	memcpy(p->text, utf8.data(), utf8.size() < sizeof p->text ?
	    utf8.size() : sizeof p->text - 1);
	p->written = true;
	p->bold = vt->bold;
	p->reverse = vt->reverse;
	p->fg = vt->fg;
	p->bg = vt->bg;
	if (w == 2) {
		vt_cell *t = cell(vt, vt->y, vt->x + 1);
		*t = *p;
		t->text[0] = '\0';
		t->wide_tail = true;
	}
	vt->x += w;
}

static void
sgr(vt_screen *vt, const std::vector<int> &params)
{
	if (params.empty()) {
		vt->bold = vt->reverse = false;
		vt->fg = vt->bg = 0;
		return;
	}
	for (int p : params) {
		if (p == 0) {
			vt->bold = vt->reverse = false;
			vt->fg = vt->bg = 0;
		} else if (p == 1) {
			vt->bold = true;
		} else if (p == 22) {
			vt->bold = false;
		} else if (p == 7) {
			vt->reverse = true;
		} else if (p == 27) {
			vt->reverse = false;
		} else if ((p >= 30 && p <= 37) || (p >= 90 && p <= 97)) {
			vt->fg = p;
		} else if (p == 39) {
			vt->fg = 0;
		} else if ((p >= 40 && p <= 47) || (p >= 100 && p <= 107)) {
			vt->bg = p;
		} else if (p == 49) {
			vt->bg = 0;
		} else {
			vt->stray++;
		}
	}
}

// One control sequence after "\e[": returns the bytes it took.
static size_t
csi(vt_screen *vt, std::string_view s)
{
	size_t i = 0;
	bool priv = false;
	std::vector<int> params;
	bool have = false;
	int cur = 0;

	if (i < s.size() && s[i] == '?') {
		priv = true;
		i++;
	}
	for (; i < s.size(); i++) {
		char c = s[i];
		if (c >= '0' && c <= '9') {
			cur = cur * 10 + (c - '0');
			have = true;
		} else if (c == ';') {
			params.push_back(have ? cur : 0);
			cur = 0;
			have = false;
		} else {
			break;
		}
	}
	if (i == s.size()) {
		vt->stray++;
		return i;
	}
	if (have || !params.empty())
		params.push_back(have ? cur : 0);
	char final = s[i++];
	auto arg = [&](size_t k) {
		return k < params.size() && params[k] > 0 ? params[k] : 1;
	};

	if (vt->x >= vt->cols && final != 'm')
		vt->x = vt->cols - 1;
	if (priv) {
		// Alternate screen, cursor visibility and the marking of
		// pasted text do not change cells.
		if ((final != 'h' && final != 'l') || params.size() != 1 ||
		    (params[0] != 1049 && params[0] != 25 && params[0] != 2004))
			vt->stray++;
		return i;
	}
	switch (final) {
	case 'H':
		vt->y = clamp(arg(0) - 1, 0, vt->rows - 1);
		vt->x = clamp(arg(1) - 1, 0, vt->cols - 1);
		break;
	case 'A':
		vt->y = clamp(vt->y - arg(0), 0, vt->rows - 1);
		break;
	case 'B':
		vt->y = clamp(vt->y + arg(0), 0, vt->rows - 1);
		break;
	case 'C':
		vt->x = clamp(vt->x + arg(0), 0, vt->cols - 1);
		break;
	case 'D':
		vt->x = clamp(vt->x - arg(0), 0, vt->cols - 1);
		break;
	case 'J':
		if (params.size() == 1 && params[0] == 2)
			vt->cells.assign(vt->cells.size(), vt_cell{});
		else
			vt->stray++;
		break;
	case 'm':
		sgr(vt, params);
		break;
	default:
		vt->stray++;
	}
	return i;
}

// Decodes one UTF-8 character; its length, or 0 when the bytes are not
// UTF-8.
static size_t
utf8_decode(std::string_view s, char32_t *out)
{
	auto b = static_cast<unsigned char>(s[0]);
	size_t len;
	char32_t c;
	if (b < 0x80) {
		*out = b;
		return 1;
	} else if (b >= 0xc2 && b <= 0xdf) {
		len = 2;
		c = b & 0x1f;
	} else if (b >= 0xe0 && b <= 0xef) {
		len = 3;
		c = b & 0x0f;
	} else if (b >= 0xf0 && b <= 0xf4) {
		len = 4;
		c = b & 0x07;
	} else {
		return 0;
	}
	if (s.size() < len)
		return 0;
	for (size_t i = 1; i < len; i++) {
		auto t = static_cast<unsigned char>(s[i]);
		if ((t & 0xc0) != 0x80)
			return 0;
		c = (c << 6) | (t & 0x3f);
	}
	if ((len == 3 && c < 0x800) || (len == 4 && (c < 0x10000 ||
	    c > 0x10ffff)) || (c >= 0xd800 && c <= 0xdfff))
		return 0;
	*out = c;
	return len;
}

void
vt_feed(vt_screen *vt, std::string_view s)
{
	size_t i = 0;
	while (i < s.size()) {
		auto b = static_cast<unsigned char>(s[i]);
		if (b == '\e') {
			if (i + 1 < s.size() && s[i + 1] == '[') {
				i += 2 + csi(vt, s.substr(i + 2));
			} else {
				vt->stray++;
				i += 2;
			}
		} else if (b == '\r') {
			vt->x = 0;
			i++;
		} else if (b == '\n') {
			if (vt->x >= vt->cols)
				vt->x = vt->cols - 1;
			line_feed(vt);
			i++;
		} else if (b < 0x20 || b == 0x7f) {
			vt->stray++;
			i++;
		} else {
			char32_t c;
			size_t len = utf8_decode(s.substr(i), &c);
			if (len == 0) {
				vt->invalid++;
				put_char(vt, 0xfffd, "\xef\xbf\xbd");
				i++;
			} else {
				put_char(vt, c, s.substr(i, len));
				i += len;
			}
		}
	}
}

std::string
vt_text(const vt_screen *vt, int y, int x, int n)
{
	std::string text;
	for (int end = x + n < vt->cols ? x + n : vt->cols; x < end; x++) {
		const vt_cell *c = vt_cell_at(vt, y, x);
		if (c->wide_tail)
			continue;
		text += c->text[0] != '\0' ? c->text : " ";
	}
	return text;
}

std::string
vt_row(const vt_screen *vt, int y)
{
	return vt_text(vt, y, 0, vt->cols);
}

static bool
visible(const vt_cell *c)
{
	return c->wide_tail || (c->text[0] != '\0' && strcmp(c->text, " ") != 0);
}

int
vt_row_extent(const vt_screen *vt, int y)
{
	for (int x = vt->cols; x > 0; x--)
		if (visible(vt_cell_at(vt, y, x - 1)))
			return x;
	return 0;
}

int
vt_row_start(const vt_screen *vt, int y)
{
	for (int x = 0; x < vt->cols; x++)
		if (visible(vt_cell_at(vt, y, x)))
			return x;
	return -1;
}
