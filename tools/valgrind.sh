#!/bin/sh
# Runs the tests under valgrind memcheck and fails on any invalid access,
# use of an uninitialised value or definite leak at exit.
#
#   tools/valgrind.sh [ctest options...]      e.g. -R unit.wifi_ or -L e2e
#
# Every test case runs in its own process under memcheck (ctest's memory
# check mode over the normal build; CORVID_BUILD_DIR names another build
# directory).  The end-to-end tests also put memcheck in front of corvid
# itself (CORVID_TEST_WRAPPER), so the program is checked over a whole
# session, its exit included.  Each memcheck writes its own log; a log that
# is not empty is a finding and is printed.  On Debian, as root, it first
# installs what it needs.
set -eu
cd "$(dirname "$0")/.."

packages="valgrind cmake ninja-build g++ libgtest-dev libgmock-dev
	wpasupplicant tmux iproute2 procps"
tools/need-packages.sh $packages

build=${CORVID_BUILD_DIR:-build/default}
if [ "$build" = build/default ]; then
	cmake --preset default > /dev/null
	cmake --build --preset default
else
	cmake --build "$build"
fi
build=$(cd "$build" && pwd)

# Leaks count only when definite: what is still reachable at exit() (the
# C library's buffers, a test framework's registries) is no leak.  Forked
# children (death tests, programs run in-process) are checked for their
# exit status but write no log of their own.
options="--error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite
	--show-leak-kinds=definite --child-silent-after-fork=yes --num-callers=30
	--suppressions=$(pwd)/tools/valgrind.supp -q"
options=$(echo $options)
logs=$build/Testing/Temporary
corvid_logs=$build/memcheck-corvid
rm -rf "$corvid_logs"
mkdir -p "$logs" "$corvid_logs"
rm -f "$logs"/MemoryChecker.*.log

# The shell-level checks (label script) run no program of ours under test.
status=0
(cd "$build" &&
    CORVID_TEST_WRAPPER="valgrind $options --log-file=$corvid_logs/%p.log" \
    ctest -T memcheck --overwrite MemoryCheckCommand="$(command -v valgrind)" \
    --overwrite MemoryCheckCommandOptions="$options" -LE script \
    --output-on-failure -j "$(nproc)" "$@") || status=1

found=0
for log in "$logs"/MemoryChecker.*.log "$corvid_logs"/*.log; do
	[ -s "$log" ] || continue
	found=$((found + 1))
	echo "=== memcheck: $log"
	cat "$log"
done
if [ "$found" -gt 0 ]; then
	echo "memcheck: errors in $found process(es)"
	status=1
else
	echo "memcheck: no errors"
fi
exit $status
