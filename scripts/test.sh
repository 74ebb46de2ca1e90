#!/bin/sh
# The whole test suite: installs what it needs, builds every configuration
# (CMakePresets.json) and runs every layer through CTest.
# usage: scripts/test.sh
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

sh scripts/deps.sh build engine test

step() {
    echo
    echo "== $1"
    cmake --preset "$2" > /dev/null
    cmake --build --preset "$2" -j "$jobs"
    ctest --preset "$2" -j "$jobs"
}

step "Release: unit, module, SQL, clock and server tests" release
step "AddressSanitizer + UndefinedBehaviorSanitizer: unit and concurrency tests" asan
step "ThreadSanitizer: concurrency test" tsan
step "libFuzzer: every target, a bounded number of inputs" fuzz
