#!/bin/sh
# Installs the Debian packages a task needs, if any are missing.
# usage: scripts/deps.sh GROUP...   (build engine test windows bench trixie pip)
set -eu

packages=
for group in "$@"; do
    case $group in
        build)   packages="$packages cmake g++ make binutils dpkg-dev" ;;
        engine)  packages="$packages firebird3.0-server-core firebird3.0-utils firebird-dev libboost-dev tzdata" ;;
        test)    packages="$packages googletest libgtest-dev faketime debootstrap clang libclang-rt-14-dev dpkg-dev file lintian" ;;
        windows) packages="$packages g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64 wine wine64 python3 python3-pefile googletest zip" ;;
        trixie)  packages="$packages debootstrap" ;;
        pip)     packages="$packages python3-pip" ;;
        bench)   packages="$packages libbenchmark-dev gnuplot-nox python3" ;;
        *) echo "deps.sh: unknown group $group" >&2; exit 2 ;;
    esac
done

missing=
for p in $(echo $packages | tr ' ' '\n' | sort -u); do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

if ! command -v apt-get >/dev/null; then
    echo "Missing packages:$missing. This script installs them on Debian or Ubuntu only." >&2
    exit 1
fi
sudo=
if [ "$(id -u)" != 0 ]; then
    command -v sudo >/dev/null || { echo "Missing packages:$missing. Install them as root." >&2; exit 1; }
    sudo=sudo
fi
echo "Installing:$missing"
$sudo apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing > /dev/null
