// sbuf(9) as FreeBSD's libsbuf defines it, for the subset corvid uses, on
// systems that lack it.
//
// The storage always keeps one byte beyond the contents free and holds a NUL
// there, so the contents are a C string at every moment.  An append that
// cannot be done whole does nothing at all and records ENOMEM; the error
// sticks until sbuf_clear(), later appends fail, and sbuf_finish() reports it.

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform.h"

// Test hook: when non-zero, storage larger than this many bytes is refused as
// if malloc had failed, so that tests can provoke a growth failure.  Tests
// declare it themselves; nothing else uses it.
ssize_t sbuf_test_size_limit = 0;

static constexpr ssize_t SBUF_INITIAL = 256;
// The contents are measured with int in sbuf_printf's result; stay well below.
static constexpr ssize_t SBUF_SIZE_MAX = INT_MAX / 2;

static char *
sbuf_alloc(char *old, ssize_t size)
{
	if (sbuf_test_size_limit != 0 && size > sbuf_test_size_limit)
		return nullptr;
	return static_cast<char *>(realloc(old, size));
}

struct sbuf *
sbuf_new(struct sbuf *s, char *buf, int length, int flags)
{
	if (length < 0 || (buf != nullptr && length == 0) ||
	    (buf == nullptr && length == 0 && !(flags & SBUF_AUTOEXTEND))) {
		errno = EINVAL;
		return nullptr;
	}
	flags &= SBUF_AUTOEXTEND;
	bool dynstruct = s == nullptr;
	if (dynstruct) {
		s = static_cast<struct sbuf *>(calloc(1, sizeof(*s)));
		if (s == nullptr)
			return nullptr;
		flags |= SBUF_DYNSTRUCT;
	}
	*s = sbuf{buf, length, 0, 0, flags};
	if (buf == nullptr) {
		if ((flags & SBUF_AUTOEXTEND) && s->s_size < SBUF_INITIAL)
			s->s_size = SBUF_INITIAL;
		s->s_buf = sbuf_alloc(nullptr, s->s_size);
		if (s->s_buf == nullptr) {
			if (dynstruct)
				free(s);
			errno = ENOMEM;
			return nullptr;
		}
		s->s_flags |= SBUF_DYNAMIC;
	}
	s->s_buf[0] = '\0';
	return s;
}

void
sbuf_clear(struct sbuf *s)
{
	s->s_len = 0;
	s->s_error = 0;
	s->s_flags &= ~SBUF_FINISHED;
	s->s_buf[0] = '\0';
}

// Makes room for `more` bytes beyond the contents (and the NUL after them).
// 0, or -1 with the error recorded.
static int
sbuf_reserve(struct sbuf *s, size_t more)
{
	if (s->s_error != 0)
		return -1;
	s->s_flags &= ~SBUF_FINISHED;
	if (more < static_cast<size_t>(s->s_size - s->s_len))
		return 0;
	if (!(s->s_flags & SBUF_AUTOEXTEND) || s->s_len >= SBUF_SIZE_MAX ||
	    more >= static_cast<size_t>(SBUF_SIZE_MAX - s->s_len)) {
		s->s_error = ENOMEM;
		return -1;
	}
	ssize_t need = s->s_len + static_cast<ssize_t>(more) + 1;
	ssize_t size = s->s_size;
	while (size < need)
		size = size <= SBUF_SIZE_MAX / 2 ? size * 2 : SBUF_SIZE_MAX;
	char *nbuf;
	if (s->s_flags & SBUF_DYNAMIC) {
		nbuf = sbuf_alloc(s->s_buf, size);
	} else {
		// Storage the caller supplied is copied out, never reallocated.
		nbuf = sbuf_alloc(nullptr, size);
		if (nbuf != nullptr)
			memcpy(nbuf, s->s_buf, s->s_len + 1);
	}
	if (nbuf == nullptr) {
		s->s_error = ENOMEM;
		return -1;
	}
	s->s_buf = nbuf;
	s->s_size = size;
	s->s_flags |= SBUF_DYNAMIC;
	return 0;
}

int
sbuf_bcat(struct sbuf *s, const void *buf, size_t len)
{
	if (sbuf_reserve(s, len) == -1)
		return -1;
	if (len != 0)
		memcpy(s->s_buf + s->s_len, buf, len);
	s->s_len += len;
	s->s_buf[s->s_len] = '\0';
	return 0;
}

int
sbuf_cat(struct sbuf *s, const char *str)
{
	return sbuf_bcat(s, str, strlen(str));
}

int
sbuf_putc(struct sbuf *s, int c)
{
	char ch = static_cast<char>(c);
	return sbuf_bcat(s, &ch, 1);
}

int
sbuf_vprintf(struct sbuf *s, const char *fmt, va_list ap)
{
	va_list aq;
	int n;

	if (sbuf_reserve(s, 0) == -1)
		return -1;
	va_copy(aq, ap);
	n = vsnprintf(s->s_buf + s->s_len, s->s_size - s->s_len, fmt, aq);
	va_end(aq);
	if (n >= 0 && n >= s->s_size - s->s_len) {
		// It did not fit: grow to the size vsnprintf asked for and format
		// again from the start.
		s->s_buf[s->s_len] = '\0';
		if (sbuf_reserve(s, n) == -1)
			return -1;
		va_copy(aq, ap);
		n = vsnprintf(s->s_buf + s->s_len, s->s_size - s->s_len, fmt, aq);
		va_end(aq);
	}
	if (n < 0 || n >= s->s_size - s->s_len) {
		// An encoding error, or arguments that changed between the passes.
		s->s_buf[s->s_len] = '\0';
		s->s_error = n < 0 && errno != 0 ? errno : EINVAL;
		return -1;
	}
	s->s_len += n;
	return 0;
}

int
sbuf_printf(struct sbuf *s, const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	int r = sbuf_vprintf(s, fmt, ap);
	va_end(ap);
	return r;
}

int
sbuf_error(const struct sbuf *s)
{
	return s->s_error;
}

int
sbuf_finish(struct sbuf *s)
{
	s->s_buf[s->s_len] = '\0';
	s->s_flags |= SBUF_FINISHED;
	if (s->s_error != 0) {
		errno = s->s_error;
		return -1;
	}
	return 0;
}

char *
sbuf_data(struct sbuf *s)
{
	return s->s_buf;
}

ssize_t
sbuf_len(struct sbuf *s)
{
	if (s->s_error != 0)
		return -1;
	return s->s_len;
}

void
sbuf_delete(struct sbuf *s)
{
	if (s == nullptr)
		return;
	if (s->s_flags & SBUF_DYNAMIC)
		free(s->s_buf);
	if (s->s_flags & SBUF_DYNSTRUCT)
		free(s);
	else
		*s = sbuf{};
}
