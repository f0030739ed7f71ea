// Texts of the control protocol and the configuration file: the daemon's
// escaping of SSIDs, string values in their three spellings, numbers and
// hardware addresses.
#include <cstring>

#include "simsupp.h"

// The daemon's printf-style escaping: quote and backslash escaped, ESC, CR,
// LF and TAB by name, every other byte outside 32..126 as \xNN.
std::string
text_encode(std::string_view data)
{
	std::string out;

	out.reserve(data.size());
	for (unsigned char c : data) {
		switch (c) {
		case '"': out += "\\\""; break;
		case '\\': out += "\\\\"; break;
		case '\033': out += "\\e"; break;
		case '\n': out += "\\n"; break;
		case '\r': out += "\\r"; break;
		case '\t': out += "\\t"; break;
		default:
			if (c >= 32 && c <= 126)
				out += static_cast<char>(c);
			else
				out += strprintf("\\x%02x", c);
		}
	}
	return out;
}

static int
hex_digit(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

// The inverse of text_encode, also taking octal escapes.  False on an
// escape that is cut off or unknown.
static bool
text_decode(std::string_view in, std::string &out)
{
	out.clear();
	for (size_t i = 0; i < in.size(); i++) {
		if (in[i] != '\\') {
			out += in[i];
			continue;
		}
		if (++i == in.size())
			return false;
		switch (in[i]) {
		case '\\': out += '\\'; break;
		case '"': out += '"'; break;
		case 'n': out += '\n'; break;
		case 'r': out += '\r'; break;
		case 't': out += '\t'; break;
		case 'e': out += '\033'; break;
		case 'x': {
			int hi = i + 1 < in.size() ? hex_digit(in[i + 1]) : -1;
			int lo = i + 2 < in.size() ? hex_digit(in[i + 2]) : -1;
			if (hi < 0 || lo < 0)
				return false;
			out += static_cast<char>(hi << 4 | lo);
			i += 2;
			break;
		}
		default:
			if (in[i] < '0' || in[i] > '7')
				return false;
			int v = 0;
			size_t n = 0;
			for (; n < 3 && i + n < in.size() && in[i + n] >= '0' &&
			    in[i + n] <= '7'; n++)
				v = v * 8 + (in[i + n] - '0');
			if (v > 255)
				return false;
			out += static_cast<char>(v);
			i += n - 1;
		}
	}
	return true;
}

// A string value as the daemon takes it: "text" (every byte between the
// first and the last quote, which must end the value), P"escaped text", or
// an even number of hex digits.  At most `max` bytes.
bool
text_decode_value(std::string_view v, std::string &out, size_t max)
{
	out.clear();
	if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
		out = v.substr(1, v.size() - 2);
	} else if (v.size() >= 3 && v[0] == 'P' && v[1] == '"' &&
	    v.back() == '"') {
		if (!text_decode(v.substr(2, v.size() - 3), out))
			return false;
	} else {
		if (v.empty() || v.size() % 2 != 0)
			return false;
		for (size_t i = 0; i < v.size(); i += 2) {
			int hi = hex_digit(v[i]), lo = hex_digit(v[i + 1]);
			if (hi < 0 || lo < 0)
				return false;
			out += static_cast<char>(hi << 4 | lo);
		}
	}
	return out.size() <= max;
}

bool
text_printable(std::string_view data)
{
	for (unsigned char c : data)
		if (c < 32 || c >= 127)
			return false;
	return true;
}

// How the daemon shows a string value in GET_NETWORK and writes it to its
// file: quoted when every byte is printable ASCII, else hex.
std::string
text_value(std::string_view data)
{
	if (text_printable(data))
		return "\"" + std::string(data) + "\"";
	std::string out;
	for (unsigned char c : data)
		out += strprintf("%02x", c);
	return out;
}

// A decimal number: optional leading blanks and sign, digits, nothing
// after.  Out of [min, max] is refused rather than wrapped.
bool
parse_int(std::string_view t, long long min, long long max, long long *out)
{
	size_t i = 0;
	bool neg = false;
	unsigned long long v = 0;

	while (i < t.size() && (t[i] == ' ' || t[i] == '\t'))
		i++;
	if (i < t.size() && (t[i] == '+' || t[i] == '-'))
		neg = t[i++] == '-';
	if (i == t.size())
		return false;
	for (; i < t.size(); i++) {
		if (t[i] < '0' || t[i] > '9')
			return false;
		v = v * 10 + static_cast<unsigned>(t[i] - '0');
		if (v > (1ULL << 62))
			return false;
	}
	long long r = neg ? -static_cast<long long>(v) : static_cast<long long>(v);
	if (r < min || r > max)
		return false;
	*out = r;
	return true;
}

bool
parse_mac(std::string_view t, uint8_t mac[6])
{
	if (t.size() != 17)
		return false;
	for (int i = 0; i < 6; i++) {
		int hi = hex_digit(t[i * 3]), lo = hex_digit(t[i * 3 + 1]);
		if (hi < 0 || lo < 0 || (i < 5 && t[i * 3 + 2] != ':'))
			return false;
		mac[i] = static_cast<uint8_t>(hi << 4 | lo);
	}
	return true;
}

std::string
mac_text(const uint8_t mac[6])
{
	return strprintf("%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1],
	    mac[2], mac[3], mac[4], mac[5]);
}

// Takes the text up to the next blank off the front of `text` (and the
// blank); the whole rest when there is none.
std::string_view
next_word(std::string_view &text)
{
	size_t sp = text.find(' ');
	std::string_view w = text.substr(0, sp);
	text = sp == std::string_view::npos ? std::string_view() :
	    text.substr(sp + 1);
	return w;
}
