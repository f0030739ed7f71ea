#!/bin/sh
# The Debian package, end to end, as root on a Debian machine: builds it
# from a copy of this tree (dpkg-buildpackage writes next to the tree it
# builds, so the copy lives in build/), has lintian find no error and no
# warning, installs it, runs the installed program (-h, its manual page,
# and its screen against the simulated supplicant in tmux), purges it and
# checks that nothing of it is left.  Everything it started or wrote is
# removed at the end, also when it fails; a package it installed is purged.
#
#   tools/package-test.sh
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)
export DEBIAN_FRONTEND=noninteractive
begin=$(date +%s)

say() { echo "package-test.sh: $*"; }
die() { echo "package-test.sh: FAIL: $*" >&2; exit 1; }

[ "$(id -u)" = 0 ] || die "needs root (it installs and purges the package)"
command -v apt-get > /dev/null || die "needs a Debian machine (apt-get)"

# The package is installed and purged here: one that is there already, or
# files in its places, belong to someone else.
if dpkg-query -W -f='${Status}' corvid 2> /dev/null | grep -q ' installed$'; then
	die "corvid is installed already; remove it first"
fi
for f in /usr/sbin/corvid /usr/share/man/man8/corvid.8.gz; do
	[ ! -e "$f" ] || die "$f exists already; remove it first"
done

# The tools, then what debian/control asks for the build.
tools/need-packages.sh dpkg-dev lintian man-db tmux
if ! dpkg-checkbuilddeps 2> /dev/null; then
	apt-get update -q
	apt-get build-dep -y -q "$top"
	dpkg-checkbuilddeps
fi

mkdir -p build
dir=$(mktemp -d "$top/build/package.XXXXXX")
installed=
sim_pid=
finish() {
	status=$?
	if [ "$status" != 0 ]; then
		for f in screen corvid.err simsupp.err; do
			[ ! -s "$dir/$f" ] || { echo "--- $f:"; cat "$dir/$f"; }
		done
	fi
	tmux -S "$dir/tmux.sock" kill-server 2> /dev/null || true
	if [ -n "$sim_pid" ]; then
		kill "$sim_pid" 2> /dev/null || true
		wait "$sim_pid" 2> /dev/null || true
	fi
	if [ -n "$installed" ]; then
		apt-get purge -y -q corvid > /dev/null 2>&1 || true
	fi
	rm -rf "$dir"
	exit "$status"
}
trap finish EXIT
trap 'exit 1' HUP INT TERM

# until_ok SECONDS WHAT COMMAND...: runs COMMAND until it succeeds, for at
# most SECONDS.
until_ok() {
	limit=$(( $(date +%s) + $1 ))
	what=$2
	shift 2
	until "$@"; do
		[ "$(date +%s)" -lt "$limit" ] || die "no $what within the deadline"
		sleep 0.05
	done
}

say "building the package"
tar -C "$top" --exclude=./build --exclude=./.git --exclude=./.cache -cf - . |
	(mkdir "$dir/corvid" && tar -C "$dir/corvid" -xf -)
if ! (cd "$dir/corvid" && dpkg-buildpackage -b -us -uc) > "$dir/build.log" 2>&1; then
	tail -n 60 "$dir/build.log"
	die "dpkg-buildpackage failed"
fi
set -- "$dir"/corvid_*.deb
[ $# = 1 ] && [ -f "$1" ] || die "no single corvid_*.deb was built: $*"
deb=$1
dpkg-deb -I "$deb"
dpkg-deb -c "$deb"

say "lintian"
lintian --fail-on error,warning "$dir"/corvid_*.changes > "$dir/lintian" 2>&1 ||
	{ cat "$dir/lintian"; die "lintian"; }
cat "$dir/lintian"
! grep -q '^[EW]: ' "$dir/lintian" || die "lintian reports errors or warnings"

# Without the recommended wpasupplicant: the purge below is then checked
# to leave the machine as it found it.
say "installing $deb"
installed=yes
apt-get install -y -q -o Dpkg::Use-Pty=0 --no-install-recommends "$deb"
for f in /usr/sbin/corvid /usr/share/man/man8/corvid.8.gz; do
	[ -f "$f" ] || die "the package did not install $f"
done

say "corvid -h without a terminal"
out=$(/usr/sbin/corvid -h < /dev/null) || die "corvid -h exited with $?"
printf '%s\n' "$out"
case $out in
"Usage:	corvid [-h | --help]"*) ;;
*) die "corvid -h printed no usage" ;;
esac

say "man -w corvid"
page=$(man -w corvid) || die "man finds no page"
echo "$page"
[ "$page" = /usr/share/man/man8/corvid.8.gz ] || die "man finds $page"

say "the installed program against the simulated supplicant"
# The package build made one too (it is not packaged).
set -- "$dir"/corvid/obj-*/tools/simsupp/simsupp
[ $# = 1 ] && [ -x "$1" ] || die "the package build made no simulated supplicant: $*"
simsupp=$1
cp tools/simsupp/simsupp.conf "$dir/wpa_supplicant.conf"
"$simsupp" -s "$dir/run/wlan0" -c "$dir/wpa_supplicant.conf" 2> "$dir/simsupp.err" &
sim_pid=$!
socket_up() {
	kill -0 "$sim_pid" 2> /dev/null || { cat "$dir/simsupp.err" >&2; die "simsupp ended"; }
	[ -S "$dir/run/wlan0" ]
}
until_ok 10 "socket of the simulated supplicant" socket_up

tmux -u -f /dev/null -S "$dir/tmux.sock" new-session -d -x 80 -y 34 \
	-e LC_ALL=C.UTF-8 -e TERM=tmux-256color \
	"/usr/sbin/corvid -c $dir/run/wlan0 2> $dir/corvid.err; echo \$? > $dir/corvid.status"
on_screen() {
	tmux -S "$dir/tmux.sock" capture-pane -p > "$dir/screen" 2> /dev/null &&
		grep -q "$1" "$dir/screen"
}
until_ok 10 '"WiFi Info" on the screen' on_screen "WiFi Info"
until_ok 10 'stored network "Home" on the screen' on_screen "Home"
cat "$dir/screen"
tmux -S "$dir/tmux.sock" send-keys q
until_ok 10 "exit after q" test -s "$dir/corvid.status"
[ "$(cat "$dir/corvid.status")" = 0 ] ||
	{ cat "$dir/corvid.err"; die "corvid exited with $(cat "$dir/corvid.status")"; }
tmux -S "$dir/tmux.sock" kill-server 2> /dev/null || true
kill "$sim_pid" 2> /dev/null || true
wait "$sim_pid" 2> /dev/null || true
sim_pid=

say "purging"
apt-get purge -y -q -o Dpkg::Use-Pty=0 corvid
installed=
for f in /usr/sbin/corvid /usr/share/man/man8/corvid.8.gz /usr/share/doc/corvid; do
	[ ! -e "$f" ] || die "$f is left after the purge"
done
if dpkg-query -W -f='${Status}\n' corvid 2> /dev/null | grep -qv 'not-installed'; then
	dpkg -l corvid
	die "dpkg still knows corvid after the purge"
fi
! ls /var/lib/dpkg/info/corvid.* > /dev/null 2>&1 || die "dpkg's files of corvid are left"
! man -w corvid > /dev/null 2>&1 || die "man still finds a page after the purge"

say "passed in $(( $(date +%s) - begin )) s"
