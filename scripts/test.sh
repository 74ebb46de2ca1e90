#!/bin/sh
# The whole test suite: installs what it needs, sets up every engine of
# scripts/firebird.sh (PyPI's Firebird 3.0, 4.0 and 5.0 for Linux and for
# Windows x64 and x86, kept outside the clone and reused; Debian's own
# Firebird of this suite), builds every configuration (CMakePresets.json),
# runs every layer through CTest, then the benchmarks on a few rows and the
# packages.  It ends with one line, "tests: N passed, M failed", however
# it went.
# usage: scripts/test.sh [--quick] [--without PART,...] [--firebird6 DIR]
#   --quick   the release configuration alone: unit and module tests and
#             every suite on the Linux engines (the edit-test loop)
#   PARTs to leave out: windows (the DLLs and everything under wine), fuzz,
#   sanitizers (asan, tsan), bench, packages
#   --firebird6 DIR: Firebird 6.0 (pre-release) built from DIR, its source
#             at the pinned commit (scripts/firebird6.sh), and the 6.0
#             suites run; they run too whenever the cache holds that build
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
# Nothing here reads the terminal: no step may wait on it.
exec < /dev/null

without=, firebird6=
while [ $# -gt 0 ]; do
    case $1 in
        --firebird6) firebird6=${2:?--firebird6 needs a directory: Firebird 6.0 source}; shift ;;
        --quick) without=$without,windows,fuzz,sanitizers,bench,packages, ;;
        --without) without=$without,${2:?--without needs a list: windows,fuzz,sanitizers,bench,packages}, ; shift ;;
        *) sed -n '9,16s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
    esac
    shift
done
with() { case $without in *,$1,*) return 1 ;; *) return 0 ;; esac; }

passed=0 failed=0
finish() {
    # wine's server, kept for the Windows steps, ends with the run.
    if with windows; then sh scripts/firebird.sh wineserver -k 2> /dev/null || true; fi
    echo
    echo "tests: $passed passed, $failed failed"
    [ "$failed" = 0 ]
    exit
}
# counted WHAT STATUS: a step outside CTest counts as one test either way.
counted() {
    if [ "$2" = 0 ]; then passed=$((passed + 1)); echo "$1: passed"; else failed=$((failed + 1)); echo "$1: FAILED"; fi
}

groups="build engine test"
if with bench; then groups="$groups bench"; fi
if with windows; then groups="$groups windows"; fi
echo "== Packages this suite needs"
if sh scripts/deps.sh $groups; then status=0; else status=$?; fi
counted "dependencies ($groups)" "$status"
[ "$status" = 0 ] || finish

# Firebird 6.0, a pre-release built from its source, when given.
if [ -n "$firebird6" ]; then
    echo
    echo "== Firebird 6.0 from $firebird6"
    if sh scripts/firebird6.sh "$firebird6"; then status=0; else status=$?; fi
    counted "Firebird 6.0 built" "$status"
fi

# The engines, before CTest starts.  An engine that cannot be had is not
# fatal here: its tests fail, each with the reason.
echo
echo "== Engines"
kinds="linux debian prerelease"
if with windows; then kinds="$kinds windows-x64 windows-x86"; fi
for kind in $kinds; do
    for fb in $(sh scripts/firebird.sh list "$kind"); do
        if sh scripts/firebird.sh "$fb" setup; then
            printf '  %-10s %s\n' "$fb" "$(sh scripts/firebird.sh "$fb" version)"
        else
            printf '  %-10s NOT AVAILABLE (its tests will fail)\n' "$fb"
        fi
    done
done
[ -n "$(sh scripts/firebird.sh list prerelease)" ] ||
    echo "  linux6.0   skipped: Firebird 6.0 is not built here (scripts/test.sh --firebird6 DIR builds it from its source and runs its suites)"

# Each step's tests are shown as they run, with their times: if one ever
# hangs, its name is the last line printed (CTest ends it after the preset's
# timeout).  A step that fails is counted, and the steps after it still run.
step() {
    echo
    echo "== $1"
    started=$(date +%s)
    case $2 in release) dir=build ;; *) dir=build-$2 ;; esac
    if ! { cmake --preset "$2" > /dev/null && cmake --build --preset "$2" -j "$jobs"; }; then
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
    awk '/^[0-9]+\/[0-9]+ Testing: / { t = $3 } /^engine: / && t { sub(/^engine: [^:]*: /, ""); printf "  %-32s %s\n", t, $0; t = "" }' \
        "$dir/Testing/Temporary/LastTest.log" 2>/dev/null | sort
    if [ "$status" != 0 ] && [ "${bad:-0}" = 0 ]; then bad=1; fi
    passed=$((passed + ${ran:-0} - ${bad:-0}))
    failed=$((failed + ${bad:-0}))
    echo "($2: $(($(date +%s) - started)) s)"
}

step "Release: unit and module tests, and every suite on the Linux engines" release
if with sanitizers; then
    step "AddressSanitizer + UndefinedBehaviorSanitizer: unit and concurrency tests" asan
    step "ThreadSanitizer: concurrency test" tsan
fi
if with fuzz; then step "libFuzzer: every target, a bounded number of inputs" fuzz; fi
if with windows; then
    step "Windows x64: the DLLs, unit and concurrency tests, and every suite on the x64 engines under wine" win64
    step "Windows x86: the DLLs, unit and concurrency tests, and every suite on the x86 engines under the 32-bit wine" win32
fi
if with bench; then
    step "Benchmarks: built, and run on a few rows on every engine line" bench
fi
if with packages; then
    echo
    echo "== Packages"
    # Into the build directories: a test run leaves nothing else in the clone.
    if sh scripts/package.sh $(with windows && echo --windows) --out build-package/dist; then status=0; else status=$?; fi
    counted "packages" "$status"
fi
finish
