#!/bin/sh
# Fails when an operating-system conditional appears outside src/platform/
# and cmake/: a preprocessor #if, #ifdef, #ifndef or #elif in a source file
# under src/ or tools/ that tests a system macro (__linux__, __FreeBSD__,
# ...), a HAVE_* result of the platform checks, or a socket, netlink, epoll
# or kqueue constant; or a CMake if() under src/ or tools/ (src/platform/
# excepted) that tests HAVE_* or the system's name.
#
# Usage: check-os-ifdefs.sh [source-root]   (default: the current directory)

root=${1:-.}
cd "$root" || exit 2

tokens='__linux__|__linux|__gnu_linux__|linux|__FreeBSD__|__FreeBSD_version|__FreeBSD_kernel__|__NetBSD__|__OpenBSD__|__DragonFly__|__APPLE__|__MACH__|__unix__|__unix|_WIN32|_WIN64|__sun|__GLIBC__|__BIONIC__|__ANDROID__|__BSD_VISIBLE|_BSD_SOURCE|HAVE_[A-Z0-9_]+|SO_[A-Z0-9_]+|SOL_[A-Z0-9_]+|NETLINK_[A-Z0-9_]+|AF_NETLINK|RTMGRP_[A-Z0-9_]+|EPOLL[A-Z0-9_]*|EVFILT_[A-Z0-9_]+|NOTE_[A-Z0-9_]+|SIGINFO'
cmake_tokens='HAVE_[A-Z0-9_]+|CMAKE_SYSTEM_NAME|CMAKE_HOST_SYSTEM_NAME|LINUX|BSD|APPLE|WIN32|UNIX|CYGWIN'

dirs=
for d in src tools; do
	[ -d "$d" ] && dirs="$dirs $d"
done
[ -n "$dirs" ] || exit 0

found=$(find $dirs -path src/platform -prune -o -type f \
    \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.cxx' \
       -o -name '*.h' -o -name '*.hh' -o -name '*.hpp' \) -print |
    sort | while IFS= read -r f; do
	awk -v tok="$tokens" '
		# Lines continued with a backslash are one directive.
		{
			if (cont != "") { line = cont $0 } else { line = $0; start = FNR }
			if (line ~ /\\$/) { cont = substr(line, 1, length(line) - 1) " "; next }
			cont = ""
		}
		line ~ /^[ \t]*#[ \t]*(if|ifdef|ifndef|elif|elifdef|elifndef)([^A-Za-z0-9_]|$)/ &&
		    line ~ ("(^|[^A-Za-z0-9_])(" tok ")([^A-Za-z0-9_]|$)") {
			print FILENAME ":" start ": " line
		}' "$f"
done
find $dirs -path src/platform -prune -o -type f \
    \( -name CMakeLists.txt -o -name '*.cmake' \) -print |
    sort | while IFS= read -r f; do
	awk -v tok="$cmake_tokens" '
		tolower($0) ~ /^[ \t]*(if|elseif)[ \t]*\(/ &&
		    $0 ~ ("(^|[^A-Za-z0-9_])(" tok ")([^A-Za-z0-9_]|$)") {
			print FILENAME ":" FNR ": " $0
		}' "$f"
done)

if [ -n "$found" ]; then
	echo "operating-system conditionals belong in src/platform/ or cmake/:" >&2
	echo "$found" >&2
	exit 1
fi
exit 0
