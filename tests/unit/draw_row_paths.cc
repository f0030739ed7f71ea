// The frame's fast paths against the plain ones.  print_wide_row formats a
// row on the stack and falls back to a wide memory stream: random rows in
// the formats the frame uses, with random (also invalid) text, widths and
// scroll offsets, must come out byte for byte the same on both paths.  The
// width measures take printable ASCII without the locale's functions: they
// must agree with those on any text.
#include <random>

#include "render_state.h"

namespace {

// Pieces that random texts are made of: ASCII, two-byte and double-width
// characters, controls, bytes that are no text, and a lone lead byte.
const char *const pieces[] = {
	"a", "Z", " ", "%", "é", "ß", "東", "京", "😀", "\u0301", "\t", "\x1b",
	"\x7f", "\xc2\x9b", "\xff", "\xe6", "\xe6\x9d",
};

std::string
random_text(std::mt19937 &rng, size_t max_pieces)
{
	std::uniform_int_distribution<size_t> count(0, max_pieces);
	std::uniform_int_distribution<size_t> piece(0, std::size(pieces) - 1);
	std::string s;
	for (size_t n = count(rng); n > 0; n--)
		s += pieces[piece(rng)];
	return s;
}

struct row_pair {
	std::string fast, stream;
};

template <typename... Args>
row_pair
both(size_t hscroll, size_t width, const wchar_t *fmt, Args... args)
{
	row_pair p;
	struct sbuf *sb = sbuf_new_auto();
	print_wide_row(sb, hscroll, width, fmt, args...);
	p.fast = sbuf_string(sb);
	sb = sbuf_new_auto();
	print_wide_row_stream(sb, hscroll, width, fmt, args...);
	p.stream = sbuf_string(sb);
	return p;
}

// One random row in one of the frame's formats (or a long one that only
// the stream can hold).
row_pair
random_row(std::mt19937 &rng, int kind)
{
	std::uniform_int_distribution<int> small(-2, 40), any(-100000, 100000);
	std::uniform_int_distribution<size_t> scroll(0, 90), width(0, 90);
	size_t h = scroll(rng), w = width(rng);
	std::string a = random_text(rng, 12), b = random_text(rng, 12);
	int x = small(rng);
	static const wchar_t *const bars[] = {L"▂▄▆█", L"▁▁▁▁", L"||.."};

	switch (kind) {
	case 0:
		return both(h, w, L"  %-*.*s: %-*.*s %-*.*s: %-*.*s", 9, 9,
		    "SSID", 32 - x, 32 - x, a.c_str(), 10, 10, "Frequency", 15,
		    15, b.c_str());
	case 1:
		return both(h, w, L"%s%-*s  %-*s  %-*s  %*d  %-*s", ">", 32 - x,
		    a.c_str(), 8, "PSK", 6, "Yes", 8, any(rng), 12, b.c_str());
	case 2:
		return both(h, w, L" %-*s      %-*s       %-*ls     %-*d MHz   ",
		    32 - x, a.c_str(), 8, b.c_str(), 6,
		    bars[static_cast<size_t>(x + 2) % std::size(bars)], 4, any(rng));
	case 3:
		return both(h, w, L"  %-*s  Security  Hidden  Priority  "
		    "Auto Connect  ", 32 - x, a.c_str());
	default: {
		// Longer than the stack buffer: the stream is taken.
		std::string big = random_text(rng, 400) + std::string(600, 'y');
		return both(h % 700, w * 8, L"%s|%s", big.c_str(), a.c_str());
	}
	}
}

TEST(draw_row_paths, stack_and_stream_paths_agree)
{
	struct {
		const char *locale;
		unsigned seed;
	} cases[] = {
		{"C.UTF-8", 1},
		{"C.UTF-8", 2},
		{"C", 3},        // the bars and every non-ASCII byte fail here
	};
	for (auto &c : cases) {
		ASSERT_NE(setlocale(LC_ALL, c.locale), nullptr);
		std::mt19937 rng(c.seed);
		for (int i = 0; i < 4000; i++) {
			row_pair p = random_row(rng, i % 5);
			ASSERT_EQ(p.fast, p.stream) << c.locale << " seed "
			    << c.seed << " row " << i;
		}
	}
}

// The edges of the stack buffer: 511 characters and the terminator fit,
// one more goes through the stream; both give the whole row.
TEST(draw_row_paths, rows_at_the_stack_limit)
{
	ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
	for (size_t len : {510, 511, 512, 513, 2000}) {
		std::string text(len - 1, 'q');
		text += "東";
		row_pair p = both(0, len, L"%s", text.c_str());
		EXPECT_EQ(p.fast, p.stream) << len;
		EXPECT_EQ(p.fast, text) << len;
	}
}

// The width measures as the locale's functions give them.
int
reference_width(const char *text, bool extra)
{
	size_t n = mbstowcs(nullptr, text, 0);
	if (n > 32)
		return -1;
	std::vector<wchar_t> w(n + 1);
	mbstowcs(w.data(), text, n + 1);
	int cols = wcswidth(w.data(), n);
	return extra ? cols - static_cast<int>(n) : cols;
}

TEST(draw_row_paths_text_width, ascii_shortcut_agrees_with_the_locale)
{
	static const char *const ascii[] = {"a", "Z", " ", "~", "7"};
	for (const char *locale : {"C.UTF-8", "C"}) {
		ASSERT_NE(setlocale(LC_ALL, locale), nullptr);
		std::mt19937 rng(7);
		std::uniform_int_distribution<size_t> len(0, 40), pick(0, 9);
		std::uniform_int_distribution<size_t> odd(0, std::size(pieces) - 1);
		for (int i = 0; i < 4000; i++) {
			// Mostly ASCII, now and then something else.
			std::string t;
			for (size_t k = len(rng); k > 0; k--)
				t += pick(rng) < 9 || i % 2 ? ascii[pick(rng) % 5] :
				    pieces[odd(rng)];
			ASSERT_EQ(display_width(t.c_str()),
			    reference_width(t.c_str(), false)) << locale << " " << t;
			ASSERT_EQ(extra_width(t.c_str()),
			    reference_width(t.c_str(), true)) << locale << " " << t;
		}
	}
}

}  // namespace
