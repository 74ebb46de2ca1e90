#!/bin/sh
# The benchmarks: each entry point in-process beside its floor; every
# function through the embedded engine of each Firebird line (PyPI's 3.0.14,
# 4.0.7 and 5.0.4 for Linux) beside its empty twins of the same declaration,
# the built-in functions and the stock ib_udf where there is one, with what
# each declared text size costs; the Windows x64 5.0 engine under wine; and
# morvanfn-upgrade's restore against a plain restore of the same backup.
# Prints the tables; writes build-bench/bench/<engine>/engine.md (and
# engine.png where gnuplot is).
# usage: scripts/bench.sh [ROWS] [REPEAT] [RESTORE_ROWS]
#   (defaults: 1000000 rows, 5 runs; 1500000 rows for the restore)
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
sh scripts/deps.sh build engine bench
cmake --preset bench > /dev/null
cmake --build --preset bench -j "$jobs" > /dev/null

echo "== In-process: ns per call, median of 5, beside the floor (the C runtime work alone)"
build-bench/bench/micro_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 2>/dev/null | sed -n '/^entry point/,$p'

for fb in $(sh scripts/firebird.sh list linux); do
    echo
    echo "== Through the engine: $fb"
    sh scripts/firebird.sh "$fb" run python3 bench/engine_bench.py build-bench \
        --rows "${1:-1000000}" --repeat "${2:-5}" --out "build-bench/bench/$fb"
done

echo
echo "== Through the engine: Firebird 5.0 for Windows x64, under wine (compare within this table only)"
sh scripts/deps.sh windows
cmake --preset win64 > /dev/null
cmake --build --preset win64 -j "$jobs" > /dev/null
sh scripts/firebird.sh win64-5.0 run python3 bench/engine_bench.py build-win64 \
    --rows "${1:-1000000}" --repeat "${2:-5}" --out "build-bench/bench/win64-5.0"

echo
echo "== The restore road against a plain restore, on Firebird 5.0 (Linux)"
sh scripts/firebird.sh linux5.0 run sh bench/restore_bench.sh build-bench "${3:-1500000}" 3
