#!/bin/sh
# The packages agree with the build: the FreeBSD port's pkg-plist lists
# exactly what "cmake --install" installs, and the port, the Debian package
# and the manual page carry CMake's project version.
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
cd "$(dirname "$0")/../.." || exit 1
port=dist/freebsd/net-mgmt/corvid
fail=0

# 1. The version.
version=$(sed -n 's/^project(corvid VERSION \([0-9][0-9.]*\)[ )].*/\1/p' CMakeLists.txt)
if [ -z "$version" ]; then
	echo "FAIL: no version in CMakeLists.txt's project()"
	exit 1
fi
# check WHAT FOUND: FOUND must be the project version.
check() {
	if [ "$2" != "$version" ]; then
		echo "FAIL: $1 says \"$2\", CMakeLists.txt $version"
		fail=1
	fi
}
check "$port/Makefile (DISTVERSION)" \
    "$(sed -n 's/^DISTVERSION=[[:space:]]*//p' "$port/Makefile")"
check "debian/changelog (the latest entry)" \
    "$(sed -n '1s/^corvid (\([^)]*\)) .*/\1/p' debian/changelog)"
check "docs/corvid.8 (.Os)" "$(sed -n 's/^\.Os corvid //p' docs/corvid.8)"

# 2. The file list.  The port installs under the prefix as CMake does by
# default, and the ports framework compresses the manual pages: a page
# installed as share/man/man8/corvid.8 is share/man/man8/corvid.8.gz in the
# plist.  A tree configured with other install places is not checked.
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
cmake=$(cached CMAKE_COMMAND)
[ -n "$cmake" ] && [ -x "$cmake" ] || cmake=cmake

tmp=$(mktemp -d "${TMPDIR:-/tmp}/corvid-packages.XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT
if ! DESTDIR=$tmp/stage "$cmake" --install "$build" --prefix /usr/local \
    >"$tmp/log" 2>&1; then
	echo "FAIL: DESTDIR=$tmp/stage $cmake --install $build --prefix /usr/local:"
	cat "$tmp/log"
	exit 1
fi
(cd "$tmp/stage/usr/local" && find . ! -type d) | sed 's|^\./||' |
    sed 's|^\(share/man/man[1-9]/.*\.[1-9]\)$|\1.gz|' | LC_ALL=C sort >"$tmp/installed"
grep -v -e '^@' -e '^[[:space:]]*$' "$port/pkg-plist" | LC_ALL=C sort >"$tmp/plist"
if ! cmp -s "$tmp/installed" "$tmp/plist"; then
	echo "FAIL: $port/pkg-plist (+) differs from what cmake --install installs (-):"
	diff -u "$tmp/installed" "$tmp/plist" | sed -n '/^[-+][^-+]/p'
	fail=1
fi
if (cd "$tmp/stage" && find . ! -type d) | grep -qv '^\./usr/local/'; then
	echo "FAIL: cmake --install writes outside the prefix:"
	(cd "$tmp/stage" && find . ! -type d) | grep -v '^\./usr/local/'
	fail=1
fi
exit "$fail"
