#!/bin/sh
# Fuzzes every target for the given number of seconds each (default 300).
# usage: scripts/fuzz.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-300}
sh scripts/deps.sh build test
cmake --preset fuzz > /dev/null
cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)"
status=0
for target in strlen strcat fullcat pad; do
    echo "== fuzz_$target, $seconds s"
    log=build-fuzz/fuzz/fuzz_$target.log
    if build-fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -max_len=40000 -print_final_stats=1 \
        build-fuzz/fuzz/corpus/$target fuzz/corpus/$target > "$log" 2>&1; then
        grep -E '^Done' "$log"
    else
        tail -40 "$log"; status=1
    fi
done
exit $status
