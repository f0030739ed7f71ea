#!/bin/sh
# Operating-system conditionals stay in src/platform/ and cmake/.  The check
# is first shown to catch what it must (and to let pass what it may) in a
# scratch tree, then run on the sources.
set -u
check=tools/check-os-ifdefs.sh
scratch=$(mktemp -d "${TMPDIR:-/tmp}/corvid-ifdefs.XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
fail=0

# expect STATUS FILE TEXT: a scratch tree holding only FILE with TEXT must
# make the check exit with STATUS.
expect() {
	rm -rf "$scratch/tree"
	mkdir -p "$scratch/tree/$(dirname "$2")"
	printf '%b\n' "$3" > "$scratch/tree/$2"
	sh "$check" "$scratch/tree" >/dev/null 2>&1
	got=$?
	if [ "$got" -ne "$1" ]; then
		echo "FAIL: $2 with '$3': exit $got, want $1"
		fail=1
	fi
}

expect 1 src/corvid/loop.cc '#ifdef __linux__\n#endif'
expect 1 src/corvid/loop.cc '  #  if defined(__FreeBSD__) || x\n#endif'
expect 1 src/wifi/ctrl.cc '#ifndef HAVE_SUN_LEN\n#endif'
expect 1 src/wifi/ctrl.cc '#if 0 || \\\n    defined(HAVE_SYS_EVENT_H)\n#endif'
expect 1 src/wifi/wifi.h '#elif defined(SO_PEERCRED)'
expect 1 tools/simsupp/main.cc '#ifdef NETLINK_EXT_ACK\n#endif'
expect 1 src/corvid/CMakeLists.txt 'if(HAVE_STRLCPY)\nendif()'
expect 1 src/corvid/CMakeLists.txt 'if (CMAKE_SYSTEM_NAME STREQUAL "Linux")\nendif()'
expect 0 src/platform/evq_epoll.cc '#ifdef __linux__\n#endif'
expect 0 src/platform/CMakeLists.txt 'if(HAVE_SYS_EVENT_H)\nendif()'
expect 0 cmake/platform.cmake 'if(HAVE_SYS_EVENT_H)\nendif()'
expect 0 src/corvid/app.cc '#ifndef NDEBUG\n#endif\n// on __linux__ the ...\nint HAVE_x;'
expect 0 src/corvid/app.cc '#ifdef SOME_linux_THING\n#endif'

if ! sh "$check" .; then
	fail=1
fi
exit "$fail"
