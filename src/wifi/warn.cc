// The client's warnings: to standard error as warn(3) and warnx(3) write
// them, or to whoever asked for them instead.
#include <err.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "records.h"
#include "wifi.h"

static void (*warn_sink)(const char *text);

void
wifi_warnings_to(void (*sink)(const char *text))
{
	warn_sink = sink;
}

static void
wifi_vwarn(bool with_errno, const char *fmt, va_list ap)
{
	int saved_errno = errno;

	if (warn_sink == nullptr) {
		errno = saved_errno;
		if (with_errno)
			vwarn(fmt, ap);
		else
			vwarnx(fmt, ap);
		return;
	}
	char text[512];
	int n = vsnprintf(text, sizeof text, fmt, ap);
	if (with_errno && n >= 0 && static_cast<size_t>(n) < sizeof text)
		snprintf(text + n, sizeof text - static_cast<size_t>(n), ": %s",
		    strerror(saved_errno));
	warn_sink(text);
	errno = saved_errno;
}

void
wifi_warn(const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	wifi_vwarn(true, fmt, ap);
	va_end(ap);
}

void
wifi_warnx(const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	wifi_vwarn(false, fmt, ap);
	va_end(ap);
}
