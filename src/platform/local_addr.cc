// Local (Unix-domain) socket addresses.

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform.h"

socklen_t
local_addr_set(struct sockaddr_un *sa, const char *path)
{
	size_t len = strlen(path);

	memset(sa, 0, sizeof(*sa));
	sa->sun_family = AF_UNIX;
	if (len > LOCAL_PATH_MAX) {
		errno = ENAMETOOLONG;
		return 0;
	}
	// The zeroing above leaves the NUL after the path in place.
	memcpy(sa->sun_path, path, len);
	socklen_t salen = offsetof(struct sockaddr_un, sun_path) + len;
#ifdef HAVE_SUN_LEN
	sa->sun_len = salen;
#endif
	return salen;
}
