#!/bin/sh
# Builds the Release benchmarks (preset "bench"), runs every measurement and
# prints one table: figure, value, budget, verdict.  Exits 1 when a budget is
# exceeded or a measurement could not be made.  On Debian, as root, it first
# installs what it needs.
#
#   tools/bench.sh           everything (about 12 minutes: the memory run
#                            alone takes 10)
#   tools/bench.sh --quick   the memory run takes 2 minutes
#
# Timings depend on what else the machine is doing: run it on a quiet one.
# It is not part of the tests.  bench/README.md lists what is measured.
set -eu
cd "$(dirname "$0")/.."

minutes=10
case ${1:-} in
--quick) minutes=2 ;;
"") ;;
*)
	echo "usage: tools/bench.sh [--quick]" >&2
	exit 2
	;;
esac

packages="cmake ninja-build g++ libbenchmark-dev valgrind wpasupplicant
	iproute2"
tools/need-packages.sh $packages

cmake --preset bench > /dev/null
cmake --build --preset bench

bin=build/bench/bench
out=$(mktemp -d /tmp/corvid-bench-out-XXXXXX)
trap 'rm -rf "$out"' EXIT INT TERM
status=0
started=$(date +%s)

# Runs one measurement, its figures going to $out/$1; a measurement that
# could not be made is noted, and the others go on.
measure() {
	name=$1
	shift
	echo "== $name" >&2
	if "$@" > "$out/$name" 2> "$out/$name.err"; then
		:
	else
		rc=$?
		# 1: a budget missed, 2: too noisy to judge; the figures are there.
		[ "$rc" = 1 ] || [ "$rc" = 2 ] || {
			printf '@%s\tnot measured (exit %s)\t-\tFAIL\n' "$name" "$rc" \
				>> "$out/$name"
			sed 's/^/    /' "$out/$name.err" >&2
		}
	fi
}

frame_figures() {
	"$bin/render_bench" --benchmark_filter='BM_render_frame$' \
		--benchmark_repetitions=20 --benchmark_report_aggregates_only=true \
		--benchmark_out="$out/render.csv" --benchmark_out_format=csv \
		> /dev/null || return 2
	# The median row, in microseconds: wall-clock and CPU time.  Other
	# work on the machine delays the clock, not the CPU time, which is
	# held to the budget.
	awk -F, '$1 ~ /BM_render_frame_median/ {
		printf "@frame composition, median of 20 runs\t%.1f µs CPU " \
		    "(%.1f µs wall)\t≤ 50 µs\t%s\n", $4, $3,
		    $4 <= 50 ? "pass" : "FAIL"
		bad = $4 > 50
	}
	END { exit bad }' "$out/render.csv"
}

# Instructions of one frame, counted by callgrind over 1000 frames.
frame_instructions() {
	if ! command -v valgrind > /dev/null; then
		printf '@  instructions per frame (callgrind)\t%s\t-\tskip\n' \
			"not measured: no valgrind"
		return 0
	fi
	valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" \
		--toggle-collect='render_frame*' \
		"$bin/render_bench" --benchmark_filter=fixed > /dev/null \
		2> "$out/callgrind.log" || return 2
	awk '/Collected :/ {
		printf "@  instructions per frame (callgrind)\t%d\t-\tinfo\n", $NF / 1000
	}' "$out/callgrind.log"
}

uptime_now() {
	cut -d' ' -f1-3 /proc/loadavg
}

load_before=$(uptime_now)
measure frame frame_figures
measure instructions frame_instructions
measure keys "$bin/live_bench" keys
measure fetch "$bin/live_bench" fetch
measure crowded "$bin/live_bench" crowded
# The memory run is long and takes little: idle cost and frames are
# measured beside it, each against a daemon and a corvid of its own.
echo "== memory ($minutes min, in the background)" >&2
"$bin/live_bench" memory "$minutes" > "$out/memory" 2> "$out/memory.err" &
memory_pid=$!
trap 'kill $memory_pid 2> /dev/null; rm -rf "$out"' EXIT INT TERM
measure idle "$bin/live_bench" idle 60
measure frames "$bin/live_bench" frames
rc=0
wait $memory_pid || rc=$?
if [ "$rc" != 0 ] && [ "$rc" != 1 ]; then
	printf '@memory\tnot measured (exit %s)\t-\tFAIL\n' "$rc" >> "$out/memory"
	sed 's/^/    /' "$out/memory.err" >&2
fi
trap 'rm -rf "$out"' EXIT INT TERM

echo
echo "corvid benchmarks: $(nproc) cores, load average $load_before at the" \
	"start, $(uptime_now) at the end; $(( $(date +%s) - started )) s"
echo
cat "$out/frame" "$out/instructions" "$out/keys" "$out/fetch" \
	"$out/idle" "$out/memory" "$out/frames" "$out/crowded" |
	"$bin/live_bench" table || status=$?
if [ "$status" = 2 ]; then
	echo
	echo "Some figures could not be judged: this machine stalls for longer than their budget"
	echo "even without corvid (see the terminal floor). Run again on a quieter machine."
fi
exit $status
