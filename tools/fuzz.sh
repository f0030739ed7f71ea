#!/bin/sh
# Builds the libFuzzer targets (the "fuzz" preset: clang with
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs each of them for
# a number of seconds over its corpus.  Fails on any finding; the input that
# shows it is kept in build/fuzz/findings/.
#
#   tools/fuzz.sh [seconds [target...]]     default: 30 seconds, every target
#
# The corpora in tests/fuzz/corpus/ are read, not changed: new inputs go to
# a scratch copy.  To grow a corpus, run a target longer by hand and merge
# the new inputs in with -merge=1.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-30}
[ $# -gt 0 ] && shift
targets=${*:-ssid status known scan bss keys rtnl frame editing}

packages="cmake ninja-build clang libclang-rt-14-dev"
tools/need-packages.sh $packages

cmake --preset fuzz > /dev/null
cmake --build --preset fuzz --target fuzz

bin=build/fuzz/tests/fuzz
findings=build/fuzz/findings
work=$(mktemp -d /tmp/corvid-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM
mkdir -p "$findings"

passed=0 failed=0
for t in $targets; do
	mkdir "$work/$t"
	cp tests/fuzz/corpus/"$t"/* "$work/$t/"
	dict=
	[ -f tests/fuzz/"$t".dict ] && dict=-dict=tests/fuzz/"$t".dict
	log="$work/$t.log"
	if "$bin/fuzz_$t" -max_total_time="$seconds" -max_len=8192 -timeout=20 \
	    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/$t-" \
	    $dict "$work/$t" > "$log" 2>&1; then
		runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
		echo "fuzz_$t: ${seconds}s, ${runs:-?} runs, no finding"
		passed=$((passed + 1))
	else
		echo "fuzz_$t: FINDING (input kept in $findings/)"
		grep -v '^#[0-9]' "$log" | tail -60
		failed=$((failed + 1))
	fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" = 0 ]
