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

packages="cmake ninja-build g++ clang libgtest-dev libgmock-dev
	wpasupplicant tmux iproute2 procps mandoc"
tools/need-packages.sh $packages

cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset" -j "$(( $(nproc) * 2 ))"
