#!/bin/sh
# Installation: "cmake --install" of the build tree into a scratch prefix
# puts the program into sbin/ and its manual page into share/man/man8/.
# The packages agree with it: the FreeBSD port's pkg-plist lists exactly
# what is installed, and the port, the Debian package and the manual page
# carry CMake's project version.
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

# The port's plist.  The ports framework compresses the manual pages: a
# page installed as share/man/man8/corvid.8 is share/man/man8/corvid.8.gz
# there.
port=$src/dist/freebsd/net-mgmt/corvid
(cd "$prefix" && find . ! -type d) | sed 's|^\./||' |
    sed 's|^\(share/man/man[1-9]/.*\.[1-9]\)$|\1.gz|' | LC_ALL=C sort >"$tmp/installed"
grep -v -e '^@' -e '^[[:space:]]*$' "$port/pkg-plist" | LC_ALL=C sort >"$tmp/plist"
if ! cmp -s "$tmp/installed" "$tmp/plist"; then
	echo "FAIL: $port/pkg-plist (+) differs from what cmake --install installs (-):"
	diff -u "$tmp/installed" "$tmp/plist" | sed -n '/^[-+][^-+]/p'
	fail=1
fi
if [ -n "$(cd "$tmp" && find . ! -type d ! -path './prefix/*' ! -name log ! -name installed ! -name plist)" ]; then
	echo "FAIL: cmake --install writes outside the prefix"
	fail=1
fi

# The version.
version=$(sed -n 's/^project(corvid VERSION \([0-9][0-9.]*\)[ )].*/\1/p' "$src/CMakeLists.txt")
# same WHAT FOUND: FOUND must be the project version.
same() {
	if [ -z "$version" ] || [ "$2" != "$version" ]; then
		echo "FAIL: $1 says \"$2\", CMakeLists.txt \"$version\""
		fail=1
	fi
}
same "$port/Makefile (DISTVERSION)" \
    "$(sed -n 's/^DISTVERSION=[[:space:]]*//p' "$port/Makefile")"
same "debian/changelog (the latest entry)" \
    "$(sed -n '1s/^corvid (\([^)]*\)) .*/\1/p' "$src/debian/changelog")"
same "docs/corvid.8 (.Os)" "$(sed -n 's/^\.Os corvid //p' "$src/docs/corvid.8")"

if [ "$fail" -ne 0 ]; then
	if [ -d "$prefix" ]; then
		echo "installed:"
		(cd "$prefix" && find . | sort)
	else
		echo "nothing was installed"
	fi
fi
exit "$fail"
