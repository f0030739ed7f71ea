#!/bin/sh
# Installation: "cmake --install" of the build tree into a scratch prefix
# puts the program into sbin/ and its manual page into share/man/man8/.
set -u

build=${CORVID_BUILD_DIR:-}
if [ -z "$build" ]; then
	echo "FAIL: CORVID_BUILD_DIR is not set"
	exit 1
fi
if [ ! -f "$build/cmake_install.cmake" ]; then
	echo "FAIL: $build is not a configured build tree (no cmake_install.cmake)"
	exit 1
fi
if [ -n "${CORVID_BINARY:-}" ] && [ ! -x "$CORVID_BINARY" ]; then
	echo "FAIL: the program is not built: $CORVID_BINARY"
	exit 1
fi

# The places checked below are the defaults of the build's install
# directories; a tree configured with other ones is not checked.
cached() {
	sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt" 2>/dev/null
}
sbindir=$(cached CMAKE_INSTALL_SBINDIR)
mandir=$(cached CMAKE_INSTALL_MANDIR)
case $sbindir:$mandir in
:|sbin:|:share/man|sbin:share/man) ;;
*)
	echo "SKIP: configured with CMAKE_INSTALL_SBINDIR=$sbindir" \
	    "CMAKE_INSTALL_MANDIR=$mandir, not the default places"
	exit 77 ;;
esac

cmake=$(sed -n 's/^CMAKE_COMMAND:INTERNAL=//p' "$build/CMakeCache.txt" 2>/dev/null)
[ -n "$cmake" ] && [ -x "$cmake" ] || cmake=cmake

src=$(cd "$(dirname "$0")/../.." && pwd) || exit 1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/corvid-install.XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
fail=0

# Into the prefix itself, whatever the caller's environment says.
unset DESTDIR
if ! "$cmake" --install "$build" --prefix "$prefix" >"$tmp/log" 2>&1; then
	echo "FAIL: $cmake --install $build --prefix $prefix:"
	cat "$tmp/log"
	exit 1
fi

bin=$prefix/sbin/corvid
man=$prefix/share/man/man8/corvid.8
if [ ! -f "$bin" ]; then
	echo "FAIL: sbin/corvid is not installed"
	fail=1
elif [ ! -x "$bin" ]; then
	echo "FAIL: sbin/corvid is installed but not executable"
	fail=1
fi
if [ ! -f "$man" ]; then
	echo "FAIL: share/man/man8/corvid.8 is not installed"
	fail=1
elif ! cmp -s "$man" "$src/docs/corvid.8"; then
	echo "FAIL: share/man/man8/corvid.8 differs from docs/corvid.8"
	fail=1
fi

if [ "$fail" -ne 0 ]; then
	if [ -d "$prefix" ]; then
		echo "installed:"
		(cd "$prefix" && find . | sort)
	else
		echo "nothing was installed"
	fi
fi
exit "$fail"
