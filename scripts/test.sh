#!/bin/sh
# The whole test suite: installs what it needs, builds every configuration
# (CMakePresets.json) and runs every layer through CTest, then builds the
# packages.
# usage: scripts/test.sh
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
# Nothing here reads the terminal: no step may wait on it.
exec < /dev/null

sh scripts/deps.sh build engine test windows bench

total=0
# Each step's tests are shown as they run, with their times: if one ever
# hangs, its name is the last line printed (CTest ends it after the preset's
# timeout).
step() {
    echo
    echo "== $1"
    started=$(date +%s)
    cmake --preset "$2" > /dev/null
    cmake --build --preset "$2" -j "$jobs"
    log=$(mktemp)
    if ctest --preset "$2" -j "$jobs" --output-log "$log"; then status=0; else status=$?; fi
    ran=$(sed -n 's/.*tests failed out of \([0-9]*\)/\1/p' "$log")
    rm -f "$log"
    [ "$status" = 0 ] || exit "$status"
    total=$((total + ${ran:-0}))
    echo "($2: $(($(date +%s) - started)) s)"
}

step "Release: unit, module, SQL, clock, server and package tests" release
step "AddressSanitizer + UndefinedBehaviorSanitizer: unit and concurrency tests" asan
step "ThreadSanitizer: concurrency test" tsan
step "libFuzzer: every target, a bounded number of inputs" fuzz
step "Windows x64 DLL: export table and version, unit and concurrency tests under wine" win64
step "Windows x86 DLL: export table and version" win32

echo
echo "== Benchmarks build, and the engine benchmark runs on a few rows"
cmake --preset bench > /dev/null
cmake --build --preset bench -j "$jobs"
python3 bench/engine_bench.py build-bench --rows 2000 --repeat 1 --out build-bench/smoke > /dev/null
echo "engine benchmark: ran"

echo
echo "== Packages"
sh scripts/package.sh

echo
echo "tests: $total passed, 0 failed"
