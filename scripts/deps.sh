#!/bin/sh
# Installs the Debian packages a task needs, if any are missing, with names
# taken from what this machine's suite has (Debian 12 and 13, Ubuntu 24.04):
# a package whose name carries a version (clang's runtime) is found from
# the suite's own dependencies, never written down for one suite.
# usage: scripts/deps.sh GROUP...
#   build engine test bench pip windows firebird6
set -eu

sudo=
if [ "$(id -u)" != 0 ]; then sudo=sudo; fi
updated=
update() { [ -n "$updated" ] || { $sudo apt-get update -qq && updated=yes; }; }
# has PACKAGE: the suite has it (installed or installable).
has() {
    [ -n "$(apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: *\([^(]\)/\1/p')" ]
}
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

packages=
for group in "$@"; do
    case $group in
        build)   packages="$packages cmake g++ make binutils dpkg-dev file" ;;
        # Debian's Firebird lines this suite has (3.0 on Debian 12, 3.0 and
        # 4.0 on Debian 13): their engines, real programs and headers.  The
        # PyPI engines take their libtommath, libtomcrypt and ncurses from
        # the system.
        engine)
            packages="$packages firebird-dev libboost-dev tzdata python3 libtommath1 libtomcrypt1 libncurses6"
            for line in 3.0 4.0; do
                if installed "firebird$line-server-core" || { update; has "firebird$line-server-core"; }; then
                    packages="$packages firebird$line-server-core firebird$line-utils"
                fi
            done ;;
        # clang's own runtime for libFuzzer and the sanitizers: the one of
        # the clang this suite installs.
        test)
            update
            clang=$(apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: clang-\([0-9][0-9]*\)$/\1/p' | head -n 1)
            packages="$packages googletest libgtest-dev faketime clang lintian ${clang:+libclang-rt-$clang-dev}" ;;
        bench)   packages="$packages libbenchmark-dev gnuplot-nox python3" ;;
        pip)     packages="$packages python3-pip" ;;
        # Firebird 6.0 built from its source (scripts/firebird6.sh).
        firebird6)
            packages="$packages g++ make autoconf automake libtool libtool-bin libtommath-dev libtomcrypt-dev libicu-dev"
            packages="$packages zlib1g-dev libedit-dev libncurses-dev libre2-dev libboost-dev libfmt-dev" ;;
        # Both wines before wine's prefix is made, or it lacks the 32-bit
        # half: the 32-bit one from the i386 architecture.
        windows)
            packages="$packages g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64 wine wine64 wine32:i386"
            packages="$packages python3 python3-pefile googletest zip libboost-dev firebird-dev wixl msitools faketime"
            if ! dpkg --print-foreign-architectures | grep -qx i386; then
                echo "Adding the i386 architecture (for the 32-bit wine)"
                $sudo dpkg --add-architecture i386
                updated=
            fi ;;
        *) echo "deps.sh: unknown group $group" >&2; exit 2 ;;
    esac
done

missing=
for p in $(echo $packages | tr ' ' '\n' | sort -u); do
    installed "$p" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

if ! command -v apt-get >/dev/null; then
    echo "Missing packages:$missing. This script installs them on Debian or Ubuntu only." >&2
    exit 1
fi
if [ -n "$sudo" ] && ! command -v sudo >/dev/null; then
    echo "Missing packages:$missing. Install them as root." >&2
    exit 1
fi
echo "Installing:$missing"
update
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing > /dev/null
