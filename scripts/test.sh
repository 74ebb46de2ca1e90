#!/bin/sh
# The whole test suite: installs what it needs, builds, and runs every layer
# through CTest.
# usage: scripts/test.sh [BUILD_DIR]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
jobs=$(nproc 2>/dev/null || echo 2)

sh "$top/scripts/deps.sh" build engine test

echo "== Release build: unit, module, SQL and clock tests"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMORVANFN_TESTS=ON > /dev/null
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
