#!/bin/sh
# Makes the README's picture of the screen from the real program: corvid
# against the simulated supplicant in an 80x34 tmux window, after a scan.
# Writes docs/screen.txt (the text) and docs/screen.svg (text and colours).
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)
build=$top/build/default
[ -f "$build/build.ninja" ] || cmake --preset default > /dev/null
cmake --build "$build" --target corvid simsupp > /dev/null

dir=$(mktemp -d /tmp/corvid-shot.XXXXXX)
finish() {
	tmux -S "$dir/tmux.sock" kill-server 2> /dev/null || true
	[ -n "${sim_pid:-}" ] && kill "$sim_pid" 2> /dev/null || true
	rm -rf "$dir"
}
trap finish EXIT

cp tools/simsupp/simsupp.conf "$dir/wpa_supplicant.conf"
"$build/tools/simsupp/simsupp" -s "$dir/run/wlan0" -c "$dir/wpa_supplicant.conf" --seed 7 &
sim_pid=$!
i=0
while [ ! -S "$dir/run/wlan0" ]; do
	i=$((i + 1)); [ $i -lt 100 ] || { echo "screenshot.sh: the simulated supplicant did not start" >&2; exit 1; }
	sleep 0.05
done

tmux -u -f /dev/null -S "$dir/tmux.sock" new-session -d -x 80 -y 34 \
	-e LC_ALL=C.UTF-8 -e TERM=tmux-256color \
	"$build/src/corvid/corvid -c $dir/run/wlan0"
tmux -S "$dir/tmux.sock" set-option -g status off
wait_for() {
	i=0
	until tmux -S "$dir/tmux.sock" capture-pane -p | grep -q "$1"; do
		i=$((i + 1)); [ $i -lt 100 ] || { echo "screenshot.sh: no '$1' on the screen" >&2; exit 1; }
		sleep 0.05
	done
}
wait_for "Network Scan"
# A scan, the Network Scan section active with the third row selected.
tmux -S "$dir/tmux.sock" send-keys s Tab j j
wait_for "Starting scan"
wait_for "CTRL-EVENT-SCAN-RESULTS"
# The frame whole: two captures in a row agree.
tmux -S "$dir/tmux.sock" capture-pane -p > docs/screen.txt
i=0
until tmux -S "$dir/tmux.sock" capture-pane -p | cmp -s - docs/screen.txt; do
	i=$((i + 1)); [ $i -lt 100 ] || { echo "screenshot.sh: the screen does not settle" >&2; exit 1; }
	tmux -S "$dir/tmux.sock" capture-pane -p > docs/screen.txt
done
tmux -S "$dir/tmux.sock" capture-pane -p -e | python3 tools/ansi2svg.py > docs/screen.svg
echo "wrote docs/screen.txt and docs/screen.svg"
