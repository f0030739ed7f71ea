// explicit_bzero(3) as the BSDs and glibc define it, for systems that lack it.

#include <cstring>

#include "platform.h"

void
explicit_bzero(void *buf, size_t len)
{
	memset(buf, 0, len);
	// The compiler must assume the empty statement reads the memory, so the
	// stores above cannot be dropped as dead.
	__asm__ __volatile__("" : : "r"(buf) : "memory");
}
