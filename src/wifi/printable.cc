// Making untrusted text safe to draw on a terminal.
#include <cwchar>
#include <cwctype>

#include "wifi.h"

size_t
text_printable(const char *in, size_t len, char *out)
{
	size_t o = 0;
	mbstate_t st{};

	for (size_t i = 0; i < len;) {
		auto c = static_cast<unsigned char>(in[i]);
		if (c < 0x80) {
			out[o++] = c >= 0x20 && c != 0x7f ? static_cast<char>(c) : '?';
			i++;
			continue;
		}
		wchar_t wc;
		size_t n = mbrtowc(&wc, in + i, len - i, &st);
		if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) ||
		    n == 0) {
			// Not valid multibyte text: one "?" per byte.
			out[o++] = '?';
			i++;
			st = mbstate_t{};
			continue;
		}
		if (!iswprint(static_cast<wint_t>(wc)) || (wc >= 0x80 && wc <= 0x9f)) {
			out[o++] = '?';
		} else {
			memcpy(out + o, in + i, n);
			o += n;
		}
		i += n;
	}
	out[o] = '\0';
	return o;
}
