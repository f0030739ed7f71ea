#!/bin/sh
# Builds corvid and runs every test.  On Debian, as root, it first installs
# what the build and the tests need.
#
#   tools/test.sh            normal build (build/default), all tests
#   tools/test.sh asan       AddressSanitizer + UndefinedBehaviorSanitizer build
#   tools/test.sh clang      clang build
set -eu
cd "$(dirname "$0")/.."
preset=${1:-default}

packages="cmake ninja-build g++ clang libgtest-dev libgmock-dev libbenchmark-dev
	wpasupplicant tmux iproute2 procps mandoc"
if [ "$(id -u)" = 0 ] && command -v apt-get > /dev/null; then
	missing=
	for p in $packages; do
		dpkg-query -W -f='${Status}' "$p" 2> /dev/null | grep -q 'ok installed' ||
			missing="$missing $p"
	done
	if [ -n "$missing" ]; then
		echo "installing:$missing"
		apt-get update -q
		DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
	fi
fi

cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset" -j "$(( $(nproc) * 2 ))"
