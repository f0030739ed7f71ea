#!/bin/sh
# Shows corvid at work without a radio: builds what is missing, starts the
# simulated supplicant on a private socket with a copy of its demo
# configuration, and runs corvid against it in this terminal.  Everything
# it started or wrote is removed when corvid exits, also when it fails.
#
#   tools/demo.sh            the demo
#   tools/demo.sh -- ARGS    extra arguments for the simulated supplicant
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)

if [ ! -t 0 ]; then
	echo "demo.sh: run me in a terminal" >&2
	exit 1
fi

# What the build needs, on Debian, when we may install it.
tools/need-packages.sh cmake ninja-build g++

build=$top/build/default
if [ ! -f "$build/build.ninja" ]; then
	cmake --preset default > /dev/null
fi
cmake --build "$build" --target corvid simsupp > /dev/null

dir=$(mktemp -d "${TMPDIR:-/tmp}/corvid-demo.XXXXXX")
sim_pid=
finish() {
	status=$?
	if [ -n "$sim_pid" ]; then
		kill "$sim_pid" 2> /dev/null || true
		wait "$sim_pid" 2> /dev/null || true
	fi
	rm -rf "$dir"
	exit "$status"
}
trap finish EXIT
trap 'exit 1' HUP INT TERM

cp tools/simsupp/simsupp.conf "$dir/wpa_supplicant.conf"
[ "${1:-}" = "--" ] && shift
"$build/tools/simsupp/simsupp" -s "$dir/run/wlan0" -c "$dir/wpa_supplicant.conf" \
	--log "$dir/requests.log" "$@" 2> "$dir/simsupp.err" &
sim_pid=$!

# Wait for its socket (a few seconds at most).
i=0
while [ ! -S "$dir/run/wlan0" ]; do
	i=$((i + 1))
	if [ $i -gt 100 ] || ! kill -0 "$sim_pid" 2> /dev/null; then
		echo "demo.sh: the simulated supplicant did not start:" >&2
		cat "$dir/simsupp.err" >&2
		exit 1
	fi
	sleep 0.05
done

"$build/src/corvid/corvid" -c "$dir/run/wlan0"
