// Private to the supplicant client: the record-array operations, written
// once for both arrays, the splitting of the supplicant's text replies, and
// the printable copies of untrusted text that go into warnings.
#pragma once


#include <cassert>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "wifi.h"

// Reply buffers of the list and status fetches: 4095 bytes and a NUL.
inline constexpr size_t REPLY_CAPACITY = 4095;

// Appends a copy of `rec`.  The storage starts with room for one record and
// doubles when full; when it cannot grow the array is left as it was.
template <typename T>
bool
record_append(record_array<T> *array, const T *rec)
{
	assert(array != NULL);
	if (array->count == array->capacity) {
		size_t cap = array->capacity == 0 ? 1 : array->capacity * 2;
		if (cap < array->capacity || cap > SIZE_MAX / sizeof(T)) {
			errno = ENOMEM;
			return false;
		}
		auto *items = static_cast<T *>(reallocarray(array->items, cap,
		    sizeof(T)));
		if (items == nullptr)
			return false;
		array->items = items;
		array->capacity = cap;
	}
	array->items[array->count++] = *rec;
	return true;
}

template <typename T, int T::*key>
int
record_cmp_desc(const void *a, const void *b)
{
	int x = static_cast<const T *>(a)->*key;
	int y = static_cast<const T *>(b)->*key;

	return (y > x) - (y < x);
}

// Sorts by one integer field, highest first.
template <typename T, int T::*key>
void
record_sort(record_array<T> *array)
{
	assert(array != NULL);
	if (array->count == 0)
		return;
	qsort(array->items, array->count, sizeof(T), record_cmp_desc<T, key>);
}

// Keeps, in their order, the records whose SSID contains `text` regardless
// of case.  The storage stays as it is.
template <typename T>
void
record_filter(record_array<T> *array, const char *text)
{
	assert(array != NULL);
	if (text == nullptr || *text == '\0')
		return;
	size_t kept = 0;
	for (size_t i = 0; i < array->count; i++) {
		if (strcasestr(array->items[i].ssid, text) == nullptr)
			continue;
		if (kept != i)
			array->items[kept] = array->items[i];
		kept++;
	}
	array->count = kept;
}

template <typename T>
void
record_free(record_array<T> *array)
{
	if (array == nullptr)
		return;
	free(array->items);
	free(array);
}

// A reply being cut into lines in place: [pos, end) is what is left, and
// *end is a NUL.
struct reply_reader {
	char *pos;
	char *end;
};

// Starts reading `len` received bytes, NUL-terminated, of a reply read with
// capacity `cap`.  A reply that filled its buffer and does not end with a
// newline was cut there: its last line is incomplete and is left out, for
// a cut line would read as a wrong record ("12<TAB>Office" cut to "1"
// would name network 1).
inline reply_reader
reply_begin(char *buf, size_t len, size_t cap)
{
	reply_reader rd = { buf, buf + len };

	if (len == cap && len > 0 && buf[len - 1] != '\n') {
		auto *nl = static_cast<char *>(memrchr(buf, '\n', len));
		rd.end = nl != nullptr ? nl : buf;
		*rd.end = '\0';
	}
	return rd;
}

// The next non-empty line, NUL-terminated in place, or nullptr at the end.
// Lines are found by the real length, so a NUL byte inside a line only
// shortens that line.
inline char *
reply_line(reply_reader *rd)
{
	while (rd->pos < rd->end && *rd->pos == '\n')
		rd->pos++;
	if (rd->pos == rd->end)
		return nullptr;
	char *line = rd->pos;
	auto *nl = static_cast<char *>(memchr(line, '\n',
	    static_cast<size_t>(rd->end - line)));
	if (nl == nullptr) {
		rd->pos = rd->end;
	} else {
		*nl = '\0';
		rd->pos = nl + 1;
	}
	return line;
}

// Splits a line on single tabs into at most `max` fields, NUL-terminating
// each in place; an empty field is an empty text and moves nothing.  Text
// after the last wanted field is ignored.  Returns the number of fields.
inline size_t
line_fields(char *line, char **fields, size_t max)
{
	size_t n = 0;

	while (n < max) {
		fields[n++] = line;
		char *tab = strchr(line, '\t');
		if (tab == nullptr)
			break;
		*tab = '\0';
		line = tab + 1;
	}
	return n;
}

// A decimal number at the start of `s` in the manner of atoi, but clamped
// to the range of int instead of overflowing.
inline int
field_int(const char *s)
{
	long long v = strtoll(s, nullptr, 10);

	if (v > INT_MAX)
		return INT_MAX;
	if (v < INT_MIN)
		return INT_MIN;
	return static_cast<int>(v);
}

// The client's warning lines, in the manner of warn(3) (with the system's
// error text) and warnx(3).
void wifi_warn(const char *fmt, ...) __printflike(1, 2);
void wifi_warnx(const char *fmt, ...) __printflike(1, 2);

// A printable copy of untrusted text (an SSID, a request, a daemon reply)
// for a warning, cut to fit `size` bytes with its NUL.
inline const char *
warn_text(const char *s, char *out, size_t size)
{
	size_t len = strnlen(s, size - 1);

	text_printable(s, len, out);
	return out;
}

// Fetches one of the list replies and builds an array from its lines after
// the column header.  `parse(line, &rec)` fills a record from a line, or
// returns false for a line to leave out.  The new array (possibly empty),
// or nullptr.
template <typename T, typename Parse>
record_array<T> *
record_fetch(wpa_ctrl *ctrl, const char *req, Parse parse)
{
	char buf[REPLY_CAPACITY + 1], *line;
	size_t len = REPLY_CAPACITY;
	record_array<T> *array;

	if (ctrl_transact(ctrl, req, strlen(req), buf, &len) == -1)
		return nullptr;
	buf[len] = '\0';
	if ((array = static_cast<record_array<T> *>(calloc(1,
	    sizeof *array))) == nullptr) {
		wifi_warn("malloc");
		return nullptr;
	}
	reply_reader rd = reply_begin(buf, len, REPLY_CAPACITY);
	if (reply_line(&rd) == nullptr)         // the column header
		return array;
	while ((line = reply_line(&rd)) != nullptr) {
		T rec{};
		if (!parse(line, &rec))
			continue;
		if (!record_append(array, &rec)) {
			wifi_warn("reallocarray");
			record_free(array);
			return nullptr;
		}
	}
	return array;
}
