#!/bin/bash
# The real-radio end-to-end tier: build corvid on the host, boot the radio
# guest once and drive the user's two journeys (journey/journey.sh, then
# journey/networks.sh) through corvid running in tmux inside it.  Prints one
# closing line
#   radio journey: PASS (N checks, S s)   or   radio journey: FAIL (...)
# and exits 0 or 1; exits 77, saying why, when qemu cannot run here at all.
#
# Environment:
#   CORVID_BINARY       use this corvid instead of building one
#   CORVID_RADIO_CACHE  root of everything written (default /var/tmp/corvid-radio):
#                       the guest image (build/, cache/), corvid's build
#                       (corvid-build/) and the results of each run (runs/)
#   RADIO_KEEP=1        keep the results of a passing run too
#   JOURNEY_KEEP_GOING=1  go on after a failed step
# and those of run.sh and build.sh.
set -uo pipefail
exec 2>&1

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO=$(cd "$HERE/../.." && pwd)
export CORVID_RADIO_CACHE=${CORVID_RADIO_CACHE:-/var/tmp/corvid-radio}
ROOT=$CORVID_RADIO_CACHE
BUILD=${RADIO_BUILD:-$ROOT/build}
START=$(date +%s)

say() { printf '[radio] %s\n' "$*" >&2; }
elapsed() { echo $(( $(date +%s) - START )); }
finish() { # verdict detail exit-status
	echo "radio journey: $1 ($2, $(elapsed) s)"
	exit "$3"
}
skip() { say "skipped: $*"; echo "radio journey: SKIPPED ($*)"; exit 77; }

mkdir -p "$ROOT" || finish FAIL "cannot create $ROOT" 1

# qemu is the one thing this tier cannot do without; where it is missing
# and cannot be installed, the tier is skipped, not failed.
if ! command -v qemu-system-x86_64 > /dev/null; then
	[ "$(id -u)" = 0 ] || skip "qemu-system-x86_64 is not installed and installing it needs root"
	command -v apt-get > /dev/null || skip "qemu-system-x86_64 is not installed and there is no apt-get"
	say "installing qemu-system-x86"
	{ apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
		--no-install-recommends qemu-system-x86; } > "$ROOT/apt.log" 2>&1 \
		|| skip "qemu-system-x86 could not be installed (see $ROOT/apt.log)"
fi
qemu-system-x86_64 -version > /dev/null 2>&1 || skip "qemu-system-x86_64 does not run on this machine"

# corvid, built on the host outside the source tree.
if [ -n "${CORVID_BINARY:-}" ]; then
	[ -x "$CORVID_BINARY" ] || finish FAIL "CORVID_BINARY=$CORVID_BINARY is not executable" 1
	corvid=$CORVID_BINARY
else
	cbuild=$ROOT/corvid-build
	say "building corvid in $cbuild"
	if ! { [ -f "$cbuild/build.ninja" ] || cmake -S "$REPO" -B "$cbuild" -G Ninja \
			-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVID_TESTS=OFF; } > "$ROOT/corvid-build.log" 2>&1 \
		|| ! cmake --build "$cbuild" --target corvid >> "$ROOT/corvid-build.log" 2>&1; then
		tail -n 30 "$ROOT/corvid-build.log" >&2
		finish FAIL "corvid does not build" 1
	fi
	corvid=$cbuild/src/corvid/corvid
fi

# The guest image (built or refreshed by run.sh; built here first so that
# the libraries corvid needs can be checked against it).
mkdir -p "$BUILD"
(
	flock 9
	if [ ! -f "$BUILD/inputs.sha256" ] || [ "$(cat "$BUILD/inputs.sha256")" != "$("$HERE/build.sh" --inputs-hash)" ]; then
		"$HERE/build.sh" || exit 1
	fi
) 9> "$BUILD/.lock" || finish FAIL "the guest image does not build" 1
for lib in $(ldd "$corvid" | awk '$2 == "=>" && $3 ~ /^\// {print $3} $1 ~ /^\// {print $1}'); do
	[ -e "$BUILD/rootfs$lib" ] || finish FAIL "the guest lacks $lib, which $corvid needs" 1
done

# One share folder per run: corvid, the initial and the expected
# configuration in; screens, logs and the verdict out.
mkdir -p "$ROOT/runs"
share=$(mktemp -d "$ROOT/runs/journey.XXXXXX")
cp "$corvid" "$share/corvid"
cp "$HERE/journey/initial.conf" "$share/wpa_supplicant.conf"
cp "$HERE/journey/expected.conf" "$share/expected.conf"
for f in journey.sh lib.sh aps.sh networks.sh networks-initial.conf networks-expected.conf; do
	cp "$HERE/journey/$f" "$share/$f"
done
[ -n "${JOURNEY_KEEP_GOING:-}" ] && echo "export JOURNEY_KEEP_GOING=$JOURNEY_KEEP_GOING" > "$share/env.sh"

rc=0
RADIO_TIMEOUT=${RADIO_TIMEOUT:-300} "$HERE/run.sh" -s "$share" "$HERE/journey/guest.sh" \
	> "$share/run.log" 2>&1 || rc=$?
grep -E '^(PASS|FAIL|===|  )' "$share/guest.log" 2>/dev/null | grep -v '^  | ' || true
# One count a journey: "journey: N passed, M failed", "networks journey: ...".
counts=$(grep -E '^(networks )?journey: [0-9]+ passed, [0-9]+ failed$' "$share/guest.log" 2>/dev/null |
	sed 's/^journey: /first: /; s/^networks journey: /networks: /' | paste -sd ';' - | sed 's/;/; /g')
case $rc in
0)
	echo "radio: $counts"
	[ "${RADIO_KEEP:-0}" = 1 ] || rm -rf "$share"
	finish PASS "${counts:-no count}" 0 ;;
124) detail="guest timed out" ;;
125) detail="guest ended without a verdict" ;;
*) detail="${counts:-status $rc}" ;;
esac
say "failed; screens, pane output and logs in $share"
grep -E '^FAIL' -A 40 "$share/guest.log" 2>/dev/null | head -n 80 >&2 || true
tail -n 5 "$share/run.log" >&2
[ -n "$counts" ] && echo "radio: $counts"
finish FAIL "$detail" 1
