#!/bin/sh
# Builds every package into dist/: for Firebird 3.0 (bookworm) and for
# Firebird 4.0 (trixie) a .deb and a .tar.gz, each with both Linux modules
# (the same files: built once here, laid out for each server), and the
# Windows zip (x86/ and x64/ morvanfn.dll and morvanfn_udr.dll with the SQL
# scripts and the DBA's guide).
# usage: scripts/package.sh [--without-windows]
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
windows=yes
[ "${1:-}" != --without-windows ] || windows=
sh scripts/deps.sh build engine ${windows:+windows}

build() { cmake --preset "$1" > /dev/null && cmake --build --preset "$1" -j "$jobs" > /dev/null; }
build release

# The 4.0 tree builds the same sources with the same compiler and flags; a
# package test checks that its modules are byte for byte the ones in build/.
cmake -S . -B build-firebird4.0 -DMORVANFN_FIREBIRD=4.0 -DMORVANFN_TESTS=OFF > /dev/null
cmake --build build-firebird4.0 -j "$jobs" > /dev/null

mkdir -p dist
(cd build && cpack -B ../dist > /dev/null)
(cd build-firebird4.0 && cpack -B ../dist > /dev/null)
rm -rf dist/_CPack_Packages

if [ -n "$windows" ]; then
    build win64
    build win32
    version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")/\1/p' build/CPackConfig.cmake)
    stage=dist/morvanfn-$version-windows
    rm -rf "$stage" "$stage.zip"
    mkdir -p "$stage/x86" "$stage/x64"
    cp build-win32/morvanfn.dll build-win32/morvanfn_udr.dll "$stage/x86/"
    cp build-win64/morvanfn.dll build-win64/morvanfn_udr.dll "$stage/x64/"
    cp sql/declare.sql sql/declare_null.sql sql/declare_udr.sql sql/drop.sql build/sql/check.sql \
        build/sql/switch_to_udr.sql doc/guide.md "$stage/"
    (cd dist && zip -qr "morvanfn-$version-windows.zip" "morvanfn-$version-windows")
    rm -rf "$stage"
fi
ls -l dist
