#!/bin/sh
# The benchmarks: each entry point in-process beside its floor, then every
# function through the embedded engine beside the built-in functions, the
# stock ib_udf twins (Firebird 3.0 only) and the UDR module, on Firebird 3.0,
# 4.0 and 5.0, one table per engine, and on the Windows engine under wine
# (the DLLs, no empty calls).  Prints the tables and writes
# build-bench/bench/firebird<VERSION>/engine.md (and engine.png where
# gnuplot is).
# usage: scripts/bench.sh [ROWS] [REPEAT]   (defaults: 1000000 rows, 5 runs)
set -eu
cd "$(dirname "$0")/.."
sh scripts/deps.sh build engine bench
cmake --preset bench > /dev/null
cmake --build --preset bench -j "$(nproc 2>/dev/null || echo 2)" > /dev/null

echo "== In-process: ns per call, median of 5, beside the floor (the C runtime work alone)"
build-bench/bench/micro_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 2>/dev/null | sed -n '/^entry point/,$p'

for fb in 3.0 4.0 5.0; do
    echo
    echo "== Through the engine: Firebird $fb"
    sh scripts/firebird.sh $fb run python3 bench/engine_bench.py build-bench \
        --rows "${1:-1000000}" --repeat "${2:-5}" --out "build-bench/bench/firebird$fb"
done

echo
echo "== Through the engine: Firebird 5.0 for Windows x64, under wine (compare within this table only)"
sh scripts/deps.sh windows
cmake --preset win64 > /dev/null
cmake --build --preset win64 -j "$(nproc 2>/dev/null || echo 2)" > /dev/null
sh scripts/firebird.sh win5.0 run python3 bench/engine_bench.py build-win64 \
    --rows "${1:-1000000}" --repeat "${2:-5}" --out "build-bench/bench/windows5.0"
