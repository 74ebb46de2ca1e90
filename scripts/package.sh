#!/bin/sh
# Builds the packages into dist/: for Firebird 3.0 (Debian 12) and for
# Firebird 4.0 (Debian 13) a .deb and a .tar.gz, each with both Linux
# modules and the upgrade tool (the same files, built once per line from the
# same sources, laid out for each server), on either suite; with --windows
# also the Windows installers, morvanfn-VERSION-x64.msi and -x86.msi
# (packaging/windows/msi.sh), and the zip for those who copy by hand (x86/
# and x64/: morvanfn.dll, morvanfn_udr.dll and morvanfn-upgrade.exe, with the
# SQL scripts and the DBA's guide), with SHA256SUMS beside them.
# usage: scripts/package.sh [--windows] [--out DIR]   (DIR: dist by default)
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
windows= dist=dist
while [ $# -gt 0 ]; do
    case $1 in
        --windows) windows=yes ;;
        --out) dist=${2:?--out needs a directory}; shift ;;
        *) sed -n '8s/^# //p' "$0" >&2; exit 2 ;;
    esac
    shift
done
sh scripts/deps.sh build engine ${windows:+windows}

mkdir -p "$dist"
dist=$(cd "$dist" && pwd)
for line in 3.0 4.0; do
    tree=build-package/firebird$line
    cmake -S . -B "$tree" -DCMAKE_BUILD_TYPE=Release -DMORVANFN_FIREBIRD=$line -DMORVANFN_TESTS=OFF > /dev/null
    cmake --build "$tree" -j "$jobs" > /dev/null
    (cd "$tree" && cpack -B "$dist" > /dev/null)
done
rm -rf "$dist/_CPack_Packages"

if [ -n "$windows" ]; then
    for preset in win64 win32; do
        cmake -S . -B "build-package/$preset" --toolchain "cmake/toolchains/mingw-w64-$([ $preset = win64 ] && echo x86_64 || echo i686).cmake" \
            -DCMAKE_BUILD_TYPE=Release -DMORVANFN_TESTS=OFF > /dev/null
        cmake --build "build-package/$preset" -j "$jobs" > /dev/null
    done
    version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")/\1/p' build-package/firebird3.0/CPackConfig.cmake)
    stage=$dist/morvanfn-$version-windows
    rm -rf "$stage" "$stage.zip"
    mkdir -p "$stage/x86" "$stage/x64"
    for arch in x86 x64; do
        tree=build-package/win$([ $arch = x64 ] && echo 64 || echo 32)
        cp "$tree/morvanfn.dll" "$tree/morvanfn_udr.dll" "$stage/$arch/"
        [ ! -f "$tree/morvanfn-upgrade.exe" ] || cp "$tree/morvanfn-upgrade.exe" "$stage/$arch/"
    done
    cp sql/declare.sql sql/declare_null.sql sql/declare_udr.sql sql/drop.sql build-package/firebird3.0/sql/check.sql \
        build-package/firebird3.0/sql/switch_to_udr.sql doc/guide.md "$stage/"
    (cd "$dist" && zip -qr "morvanfn-$version-windows.zip" "morvanfn-$version-windows")
    rm -rf "$stage"
    for arch in x64 x86; do
        tree=build-package/win$([ $arch = x64 ] && echo 64 || echo 32)
        sh packaging/windows/stage.sh "$tree" "$tree/msi-stage"
        sh packaging/windows/msi.sh $arch "$version" "$tree/msi-stage" "$dist/morvanfn-$version-$arch.msi"
    done
    (cd "$dist" && sha256sum "morvanfn-$version-x64.msi" "morvanfn-$version-x86.msi" "morvanfn-$version-windows.zip" > SHA256SUMS)
fi
ls -l "$dist"
