// strlcpy(3) as the BSDs define it, for systems whose C library lacks it.

#include <cstring>

#include "platform.h"

size_t
strlcpy(char *dst, const char *src, size_t dsize)
{
	size_t len = strlen(src);

	if (dsize != 0) {
		size_t n = len < dsize - 1 ? len : dsize - 1;
		memcpy(dst, src, n);
		dst[n] = '\0';
	}
	return len;
}
