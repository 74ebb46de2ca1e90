#!/bin/sh
# The Debian package as a DBA gets it: built by cpack from the build tree, its
# metadata and file list checked, then unpacked into a scratch root from which
# an embedded engine loads both modules, declares the functions with the
# packaged scripts and calls each once.
# usage: package_test.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$build/packagetest
rm -rf "$work"
mkdir -p "$work"
fail=0
check() { # what, got, want
    if [ "$2" = "$3" ]; then echo "ok     $1"; else echo "FAILED $1: got [$2], want [$3]"; fail=1; fi
}

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" > cpack.log 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/morvanfn_*.deb)
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")/\1/p' "$build/CPackConfig.cmake")
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
check "file name" "$(basename "$deb")" "morvanfn_${version}_${arch}.deb"
check "version has four parts" "$(dpkg-deb -f "$deb" Version | tr -cd . | wc -c)" 3
check "package" "$(dpkg-deb -f "$deb" Package)" morvanfn
check "version" "$(dpkg-deb -f "$deb" Version)" "$version"
check "maintainer given" "$(dpkg-deb -f "$deb" Maintainer | grep -c .)" 1
check "depends on the engine, not the daemon" \
    "$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/ *(.*//; s/^ *//' | grep '^firebird' | tr '\n' ' ')" "firebird3.0-server-core "
check "description names the UdfAccess line" \
    "$(dpkg-deb -f "$deb" Description | grep -c "UdfAccess = Restrict /usr/lib/$multiarch/firebird/3.0/UDF")" 1
dpkg-deb -e "$deb" "$work/control"
check "no maintainer scripts or conffiles" "$(ls "$work/control" | tr '\n' ' ')" "control md5sums "

fb=usr/lib/$multiarch/firebird/3.0
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort | tr '\n' ' ')
want="usr/include/morvanfn.h $fb/UDF/morvanfn.so $fb/plugins/udr/libmorvanfn_udr.so usr/share/morvanfn/README.md usr/share/morvanfn/declare.sql usr/share/morvanfn/declare_null.sql usr/share/morvanfn/declare_udr.sql usr/share/morvanfn/drop.sql usr/share/morvanfn/drop_udr.sql"
check "file list" "$files" "$(echo "$want" | tr ' ' '\n' | sort | tr '\n' ' ')"

# Both modules from the unpacked package, through an embedded engine.
dpkg-deb -x "$deb" "$work/root"
export FB_UDR_DIR="$work/root/$fb/plugins/udr"
sh "$here/../scripts/fbroot.sh" "$work/fb" "$work/root/$fb/UDF"
export FIREBIRD="$work/fb" FIREBIRD_LOCK="$work/fb/lock" FIREBIRD_TMP="$work/fb/tmp" ISC_USER=SYSDBA
query="SET LIST ON; SELECT CHAR_LENGTH(FN_SHORTDATE()) AS d, FN_CURRYR() - EXTRACT(YEAR FROM CURRENT_DATE) AS y,
  FN_STRLEN('abc') AS l, FN_STRCAT('ab ', 'c ') AS s, FN_FULLCAT('ab ', 'c') AS f, FN_PAD(7, 3) AS p FROM RDB\$DATABASE;"
for script in declare declare_udr; do
    db=$work/$script.fdb
    echo "CREATE DATABASE '$db';" | isql-fb -q
    isql-fb -q -m -i "$work/root/usr/share/morvanfn/$script.sql" "$db"
    got=$(echo "$query" | isql-fb -q -m "$db" | awk 'NF {printf "%s=%s ", $1, $2}')
    check "$script.sql from the package, one call of each function" "$got" "D=9 Y=0 L=3 S=abc F=ab P=007 "
done
[ $fail = 0 ]
