#!/bin/sh
# Runs tests over and over on a busy machine, to bring out the races that a
# quiet one hides (a thread caught by a fork, a wait that holds only while
# the machine keeps up).  Not part of the usual test run: it takes a while.
#
#   tools/stress.sh [-p preset] [-L label | -R regex] [-n repeats] [-j jobs]
#                   [-b busy]
#
#   -p  the build preset (asan): built first, then tested
#   -L  the tests of one label (unit); -R a regular expression instead
#   -n  how often each test runs, stopping at its first failure (20)
#   -j  tests run at once (4)
#   -b  busy-loop processes kept running meanwhile (2)
#
# It prints how many test runs there were, how many failed and how long they
# took; the exit status is ctest's.  The busy processes are ended however it ends.
set -eu
cd "$(dirname "$0")/.."

preset=asan select="-L" pattern=unit repeats=20 jobs=4 busy=2
usage() {
	echo "usage: tools/stress.sh [-p preset] [-L label | -R regex]" \
	    "[-n repeats] [-j jobs] [-b busy]" >&2
	exit 2
}
number() {
	case $1 in
	'' | *[!0-9]*) usage ;;
	esac
}
while getopts p:L:R:n:j:b: opt; do
	case $opt in
	p) preset=$OPTARG ;;
	L) select=-L pattern=$OPTARG ;;
	R) select=-R pattern=$OPTARG ;;
	n) number "$OPTARG"; repeats=$OPTARG ;;
	j) number "$OPTARG"; jobs=$OPTARG ;;
	b) number "$OPTARG"; busy=$OPTARG ;;
	*) usage ;;
	esac
done
shift $((OPTIND - 1))
[ $# -eq 0 ] && [ "$repeats" -gt 0 ] && [ "$jobs" -gt 0 ] || usage

cmake --preset "$preset" > /dev/null
cmake --build --preset "$preset"

log=$(mktemp /tmp/corvid-stress.XXXXXX)
pids=
stop_load() {
	for pid in $pids; do
		kill "$pid" 2> /dev/null || true
	done
	for pid in $pids; do
		wait "$pid" 2> /dev/null || true
	done
	pids=
}
trap 'stop_load; rm -f "$log"' EXIT
trap 'exit 130' INT TERM HUP

i=0
while [ "$i" -lt "$busy" ]; do
	sh -c 'while :; do :; done' &
	pids="$pids $!"
	i=$((i + 1))
done

start=$(date +%s)
status=0
ctest --preset "$preset" $select "$pattern" -j "$jobs" \
    --repeat until-fail:"$repeats" --output-on-failure > "$log" 2>&1 ||
    status=$?
seconds=$(( $(date +%s) - start ))
stop_load

cat "$log"
# ctest prints a line for every run of a test, the repeats included:
# "Test #12: unit.x ...   Passed  0.10 sec" (or "***Failed", "***Timeout").
runs=$(grep -cE 'Test +#[0-9]+: .* (Passed|Failed|\*\*\*)' "$log" || true)
failed=$(grep -E 'Test +#[0-9]+: ' "$log" | grep -cvE ' Passed +[0-9.]+ sec' || true)
tests=$(sed -n 's/.* tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
echo
echo "stress: preset $preset, $select $pattern, $busy busy processes," \
    "-j $jobs, each test up to $repeats times (until it fails)"
echo "stress: ${runs} runs of ${tests:-?} tests, ${failed} failed, in ${seconds}s"
exit "$status"
