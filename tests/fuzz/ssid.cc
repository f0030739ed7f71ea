// Fuzzes SSID decoding and the printable copies of untrusted text.
//
// ssid_unescape runs over the raw input, and over the input encoded the
// way the supplicant prints an SSID, which must decode to the original
// bytes.  text_printable runs over the raw input in a UTF-8 locale and in
// the C locale: its copy holds no control character, is valid text in the
// locale, is never longer than the original, and is its own printable copy.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

#include "wifi.h"

// The supplicant's escaping of a byte string for its text replies.
static std::string
encode(const uint8_t *data, size_t size)
{
	std::string s;

	for (size_t i = 0; i < size; i++) {
		uint8_t c = data[i];
		switch (c) {
		case '"': s += "\\\""; break;
		case '\\': s += "\\\\"; break;
		case 0x1b: s += "\\e"; break;
		case '\n': s += "\\n"; break;
		case '\r': s += "\\r"; break;
		case '\t': s += "\\t"; break;
		default:
			if (c >= 32 && c <= 126) {
				s += static_cast<char>(c);
			} else {
				char hex[5];
				snprintf(hex, sizeof hex, "\\x%02x", c);
				s += hex;
			}
		}
	}
	return s;
}

static void
check_unescape(const uint8_t *data, size_t size)
{
	// Raw bytes: decoding never grows the text and always terminates it.
	std::string raw(reinterpret_cast<const char *>(data), size);
	std::string buf = raw + '\0';
	ssid_unescape(buf.data(), size);
	if (memchr(buf.data(), '\0', size + 1) == nullptr)
		abort();
	// Text without a backslash is its own decoding.
	if (raw.find('\\') == raw.npos && buf.compare(0, size, raw) != 0)
		abort();

	// The supplicant's encoding decodes to the original bytes.
	std::string enc = encode(data, size);
	size_t len = enc.size();
	enc += '\0';
	ssid_unescape(enc.data(), len);
	if (memcmp(enc.data(), data, size) != 0 || enc[size] != '\0')
		abort();
}

static void
check_printable(const uint8_t *data, size_t size, bool utf8)
{
	const char *in = reinterpret_cast<const char *>(data);
	std::string out(size + 1, 'X');
	size_t n = text_printable(in, size, out.data());

	if (n > size || out[n] != '\0' || strlen(out.c_str()) != n)
		abort();
	for (size_t i = 0; i < n; i++) {
		auto c = static_cast<unsigned char>(out[i]);
		if (c < 0x20 || c == 0x7f)
			abort();
	}
	// Every character is valid and printable in the locale, and none is a
	// C1 control (which a terminal would obey as ESC and a letter) or
	// invisible.
	mbstate_t st{};
	for (size_t i = 0; i < n;) {
		wchar_t wc;
		size_t k = mbrtowc(&wc, out.data() + i, n - i, &st);
		if (k == 0 || k > n - i)
			abort();
		if (!iswprint(static_cast<wint_t>(wc)) || (wc >= 0x80 && wc <= 0x9f))
			abort();
		// Nor a bidirectional control or a zero-width character.
		if ((wc >= 0x200b && wc <= 0x200f) || (wc >= 0x2028 && wc <= 0x202e) ||
		    (wc >= 0x2066 && wc <= 0x2069) || wc == 0xfeff)
			abort();
		if (!utf8 && k != 1)
			abort();
		i += k;
	}
	// Printable text is left as it is.
	std::string again(n + 1, 'X');
	if (text_printable(out.data(), n, again.data()) != n ||
	    memcmp(again.data(), out.data(), n + 1) != 0)
		abort();
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	check_unescape(data, size);
	if (setlocale(LC_ALL, "C.UTF-8") == nullptr)
		abort();
	check_printable(data, size, true);
	setlocale(LC_ALL, "C");
	check_printable(data, size, false);
	return 0;
}
