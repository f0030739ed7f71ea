#!/bin/sh
# The interface is built in floors, and a file includes only headers of its
# own floor or below; so the calls go one way, and the screen library
# (state to render) never calls what sits above it.  The check is first shown
# to catch a file that reaches up, then run on the sources.
set -u

# The floors, lowest first; names on one line share a floor.
floors='state
term
notify
draw
render
refresh
loop
edit
events dialog search
keys
app
main'

floor_of() {
	echo "$floors" | awk -v n="$1" '{ for (i = 1; i <= NF; i++) if ($i == n) print NR }'
}

# check DIR: every include of a corvid header in DIR, against the floors.
check() {
	status=0
	for f in "$1"/*.cc "$1"/*.h; do
		[ -e "$f" ] || continue
		name=$(basename "$f"); name=${name%.*}
		own=$(floor_of "$name")
		if [ -z "$own" ]; then
			echo "$f: not on any floor (add it to $0)"
			status=1
			continue
		fi
		for h in $(sed -n 's/^#include "\([a-z_]*\)\.h".*/\1/p' "$f"); do
			[ -e "$1/$h.h" ] || continue
			up=$(floor_of "$h")
			if [ -z "$up" ] || [ "$up" -gt "$own" ]; then
				echo "$f includes $h.h, a floor above it"
				status=1
			fi
		done
	done
	return $status
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/corvid-floors.XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
cp src/corvid/*.h src/corvid/*.cc "$scratch"/
printf '#include "keys.h"\n' >> "$scratch/render.cc"
if check "$scratch" > /dev/null; then
	echo "FAIL: render.cc including keys.h went unnoticed"
	exit 1
fi
check src/corvid
