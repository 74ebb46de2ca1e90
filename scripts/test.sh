#!/bin/sh
# The whole test suite: installs what it needs, makes the Firebird 4.0 root
# (Debian trixie) and fetches Firebird 5.0 (PyPI), both kept outside the
# clone and reused, builds every configuration (CMakePresets.json) and runs
# every layer through CTest, the engine layers on Firebird 3.0, 4.0 and 5.0,
# then builds the packages.  It ends with one line, "tests: N passed,
# M failed", however it went.
# usage: scripts/test.sh [--without PART,...]
#   PARTs to leave out: windows (the MinGW DLLs, wine), fuzz (clang,
#   libFuzzer), firebird4.0 (the trixie root and every 4.0 suite),
#   firebird5.0 (the PyPI wheel and every 5.0 suite)
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
# Nothing here reads the terminal: no step may wait on it.
exec < /dev/null

without=,
case ${1:-} in
    --without) without=,${2:?--without needs a list: windows,fuzz,firebird4.0,firebird5.0}, ;;
    '') ;;
    *) sed -n '8,11s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
esac
with() { case $without in *,$1,*) return 1 ;; *) return 0 ;; esac; }
engines=3.0
if with firebird4.0; then engines="$engines 4.0"; fi
if with firebird5.0; then engines="$engines 5.0"; fi
groups="build engine test bench"
if with windows; then groups="$groups windows"; fi

sh scripts/deps.sh $groups

# The engines, before CTest starts.  An engine that cannot be had is not
# fatal here: its tests fail, each with the reason.
echo "== Engines"
for fb in $engines; do
    if sh scripts/firebird.sh $fb setup; then
        echo "Firebird $fb: $(sh scripts/firebird.sh $fb version)"
    else
        echo "Firebird $fb: NOT AVAILABLE (its tests will fail)"
    fi
done

passed=0 failed=0
finish() {
    echo
    echo "tests: $passed passed, $failed failed"
    [ "$failed" = 0 ]
    exit
}
# Each step's tests are shown as they run, with their times: if one ever
# hangs, its name is the last line printed (CTest ends it after the preset's
# timeout).  A step that fails is counted, and the steps after it still run.
step() {
    echo
    echo "== $1"
    started=$(date +%s)
    case $2 in release) dir=build ;; *) dir=build-$2 ;; esac
    if ! { cmake --preset "$2" -DMORVANFN_TEST_ENGINES="$(echo $engines | tr ' ' ';')" > /dev/null &&
           cmake --build --preset "$2" -j "$jobs"; }; then
        echo "($2: the build failed)"
        failed=$((failed + 1))
        return
    fi
    log=$(mktemp)
    if ctest --preset "$2" -j "$jobs" --no-tests=error --output-log "$log"; then status=0; else status=$?; fi
    ran=$(sed -n 's/.*tests failed out of \([0-9]*\)/\1/p' "$log")
    bad=$(sed -n 's/.*, \([0-9]*\) tests failed out of .*/\1/p' "$log")
    rm -f "$log"
    # Which engine each engine suite ran on, from its own first line.
    awk '/^[0-9]+\/[0-9]+ Testing: / { t = $3 } /^engine: / && t { sub(/^engine: /, ""); printf "  %-36s %s\n", t, $0; t = "" }' \
        "$dir/Testing/Temporary/LastTest.log" 2>/dev/null | sort
    if [ "$status" != 0 ] && [ "${bad:-0}" = 0 ]; then bad=1; fi
    passed=$((passed + ${ran:-0} - ${bad:-0}))
    failed=$((failed + ${bad:-0}))
    echo "($2: $(($(date +%s) - started)) s)"
}

step "Release: unit, module, SQL, clock, stack, server, upgrade and package tests" release
step "AddressSanitizer + UndefinedBehaviorSanitizer: unit and concurrency tests" asan
step "ThreadSanitizer: concurrency test" tsan
if with fuzz; then step "libFuzzer: every target, a bounded number of inputs" fuzz; fi
if with windows; then
    step "Windows x64 DLLs: export tables and versions, unit and concurrency tests, the Windows engine under wine" win64
    step "Windows x86 DLLs: export tables and versions" win32
fi

echo
echo "== Benchmarks build, and the engine benchmark runs on a few rows"
if cmake --preset bench > /dev/null && cmake --build --preset bench -j "$jobs"; then
    for fb in $engines; do
        if sh scripts/firebird.sh $fb run python3 bench/engine_bench.py build-bench --rows 2000 --repeat 1 \
            --out "build-bench/smoke/firebird$fb" > /dev/null; then
            echo "engine benchmark on Firebird $fb: ran"
        else
            echo "engine benchmark on Firebird $fb: FAILED"; failed=$((failed + 1))
        fi
    done
else
    failed=$((failed + 1))
fi
if with windows; then
    if sh scripts/firebird.sh win5.0 run python3 bench/engine_bench.py build-win64 --rows 2000 --repeat 1 \
        --out build-bench/smoke/windows5.0 > /dev/null; then
        echo "engine benchmark on Firebird 5.0 for Windows under wine: ran"
    else
        echo "engine benchmark on Firebird 5.0 for Windows under wine: FAILED"; failed=$((failed + 1))
    fi
fi

echo
echo "== Packages"
if sh scripts/package.sh $(with windows || echo --without-windows); then :; else failed=$((failed + 1)); fi
finish
