#!/bin/sh
# The whole test suite: installs what it needs, makes the Firebird 4.0 root
# (Debian trixie, kept outside the clone and reused), builds every
# configuration (CMakePresets.json) and runs every layer through CTest, the
# engine layers on Firebird 3.0 and 4.0, then builds the packages.
# usage: scripts/test.sh
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
# Nothing here reads the terminal: no step may wait on it.
exec < /dev/null

sh scripts/deps.sh build engine test windows bench

# The engines, before CTest starts.  An engine that cannot be had is not
# fatal here: its tests fail, each with the reason.
echo "== Engines"
for fb in 3.0 4.0; do
    if sh scripts/firebird.sh $fb setup; then
        echo "Firebird $fb: $(sh scripts/firebird.sh $fb version)"
    else
        echo "Firebird $fb: NOT AVAILABLE (its tests will fail)"
    fi
done

total=0
# Each step's tests are shown as they run, with their times: if one ever
# hangs, its name is the last line printed (CTest ends it after the preset's
# timeout).
step() {
    echo
    echo "== $1"
    started=$(date +%s)
    case $2 in release) dir=build ;; *) dir=build-$2 ;; esac
    cmake --preset "$2" > /dev/null
    cmake --build --preset "$2" -j "$jobs"
    log=$(mktemp)
    if ctest --preset "$2" -j "$jobs" --output-log "$log"; then status=0; else status=$?; fi
    ran=$(sed -n 's/.*tests failed out of \([0-9]*\)/\1/p' "$log")
    rm -f "$log"
    # Which engine each engine suite ran on, from its own first line.
    awk '/^[0-9]+\/[0-9]+ Testing: / { t = $3 } /^engine: / && t { printf "  %-36s %s %s\n", t, $2, $3; t = "" }' \
        "$dir/Testing/Temporary/LastTest.log" 2>/dev/null | sort
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
for fb in 3.0 4.0; do
    sh scripts/firebird.sh $fb run python3 bench/engine_bench.py build-bench --rows 2000 --repeat 1 \
        --out "build-bench/smoke/firebird$fb" > /dev/null
    echo "engine benchmark on Firebird $fb: ran"
done

echo
echo "== Packages"
sh scripts/package.sh

echo
echo "tests: $total passed, 0 failed"
