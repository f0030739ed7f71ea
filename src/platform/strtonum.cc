// strtonum(3) as OpenBSD defines it, for systems whose C library lacks it.

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform.h"

long long
strtonum(const char *nptr, long long minval, long long maxval,
    const char **errstr)
{
	int saved = errno;
	const char *why = nullptr;
	int err = EINVAL;
	long long v = 0;
	char *end;

	errno = 0;
	if (nptr == nullptr || minval > maxval) {
		why = "invalid";
	} else {
		v = strtoll(nptr, &end, 10);
		if (end == nptr || *end != '\0')
			why = "invalid";
		else if ((v == LLONG_MIN && errno == ERANGE) || v < minval)
			why = "too small", err = ERANGE;
		else if ((v == LLONG_MAX && errno == ERANGE) || v > maxval)
			why = "too large", err = ERANGE;
	}
	if (errstr != nullptr)
		*errstr = why;
	if (why != nullptr) {
		errno = err;
		return 0;
	}
	errno = saved;
	return v;
}
