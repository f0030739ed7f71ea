#!/bin/sh
# Installs the Debian packages named on the command line that are not
# installed yet, when this is a Debian machine and we are root; elsewhere it
# does nothing (the build then says what is missing).
#
#   tools/need-packages.sh cmake ninja-build g++
set -eu
[ "$(id -u)" = 0 ] && command -v apt-get > /dev/null || exit 0
missing=
for p in "$@"; do
	dpkg-query -W -f='${Status}' "$p" 2> /dev/null | grep -q 'ok installed' ||
		missing="$missing $p"
done
[ -n "$missing" ] || exit 0
echo "installing:$missing"
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
