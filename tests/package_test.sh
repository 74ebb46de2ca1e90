#!/bin/sh
# The Debian package for one Firebird line, as a DBA gets it: built by
# cpack on this machine (for another line than the build tree's from a tree
# configured for it, with the same modules), its metadata and file list
# checked, then used with an engine of that line: unpacked into a scratch
# directory (the machine itself is not changed), an embedded engine loads
# both packaged modules from where the package puts them, declares the
# functions with the packaged scripts and calls each once.
# usage: package_test.sh ENGINE BUILD_DIR   (ENGINE: debian3.0, linux4.0, ...)
set -eu
# Built under the umask Debian 13 gives its users: what the package holds
# must not depend on it.
umask 002
engine=$1
version=$(echo "$engine" | sed 's/^[a-z]*//')
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
fail=0
check() { # what, got, want
    if [ "$2" = "$3" ]; then echo "ok     $1"; else echo "FAILED $1: got [$2], want [$3]"; fail=1; fi
}
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
fb=usr/lib/$multiarch/firebird/$version
query="SET LIST ON; SELECT CHAR_LENGTH(FN_SHORTDATE()) AS d, FN_CURRYR() - EXTRACT(YEAR FROM CURRENT_DATE) AS y,
  FN_STRLEN('abc') AS l, FN_STRCAT('ab ', 'c ') AS s, FN_FULLCAT('ab ', 'c') AS f, FN_PAD(7, 3) AS p FROM RDB\$DATABASE;"

if [ "$engine" = --use ]; then
    # Inside `firebird.sh ENGINE run`: the package's files in use, from
    # where it puts them.
    deb=$2 work=$3 fb=usr/lib/$multiarch/firebird/$FB_LINE
    rm -rf "$work/root" "$work/fb"
    dpkg-deb -x "$deb" "$work/root"
    prefix=$work/root how="unpacked, with $FB_ENGINE"
    FB_UDR_MODULES="$prefix/$fb/plugins/udr" sh "$top/scripts/firebird.sh" "$FB_ENGINE" root "$work/fb" "$prefix/$fb/UDF"
    export FIREBIRD="$work/fb" FIREBIRD_LOCK="$work/fb/lock" FIREBIRD_TMP="$work/fb/tmp" ISC_USER=SYSDBA
    for script in declare declare_udr; do
        db=$work/$script.fdb
        rm -f "$db"
        echo "CREATE DATABASE '$db';" | isql-fb -q
        isql-fb -q -m -i "$prefix/usr/share/morvanfn/$script.sql" "$db"
        got=$(echo "$query" | isql-fb -q -m "$db" | awk 'NF {printf "%s=%s ", $1, $2}')
        check "$script.sql, package $how, one call of each function" "$got" "D=9 Y=0 L=3 S=abc F=ab P=007 "
    done
    # The packaged tool, on that engine (its own default where the engine is
    # Debian's), with the packaged UDR module: it checks the packaged
    # declarations, and restores a backup of the UDF's onto the UDR.
    tool="$prefix/usr/bin/morvanfn-upgrade"
    [ "$FB_LIB" = "/$fb" ] || tool="$tool --firebird $FB_LIB"
    $tool --udr "$prefix/$fb/plugins/udr/libmorvanfn_udr.so" check "$work/declare_udr.fdb" > "$work/tool.out" 2>&1 || true
    check "the packaged morvanfn-upgrade checks the packaged declarations" "$(grep -c '^morvanfn-upgrade:       safe$' "$work/tool.out")" 6
    gbak -b "$work/declare.fdb" "$work/declare.fbk"
    rm -f "$work/restored.fdb"
    if $tool --udr "$prefix/$fb/plugins/udr/libmorvanfn_udr.so" restore "$work/declare.fbk" "$work/restored.fdb" \
        > "$work/restore.out" 2>&1; then status=0; else status=$?; cat "$work/restore.out"; fi
    got=$(echo "$query" | isql-fb -q -m "$work/restored.fdb" | awk 'NF {printf "%s=%s ", $1, $2}')
    check "the packaged morvanfn-upgrade restores a backup of the UDFs onto the UDR" "$status $got" "0 D=9 Y=0 L=3 S=abc F=ab P=007 "
    [ $fail = 0 ]
    exit
fi

build=$(cd "$2" && pwd)
work=$build/packagetest/$engine
rm -rf "$work"
mkdir -p "$work"
# The package for another Firebird than the build tree's comes from a tree
# configured for it; its modules must be the very same.
tree=$build
if ! grep -qx "MORVANFN_FIREBIRD:STRING=$version" "$build/CMakeCache.txt"; then
    tree=$work/tree
    (cmake -S "$top" -B "$tree" -DMORVANFN_FIREBIRD="$version" -DMORVANFN_TESTS=OFF &&
        cmake --build "$tree") > "$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
fi
(cd "$work" && cpack -G DEB --config "$tree/CPackConfig.cmake" > cpack.log 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/morvanfn_*.deb)
upstream=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")/\1/p' "$tree/CPackConfig.cmake")
case $version in 3.0) debian=1~deb12 ;; *) debian=1~deb13 ;; esac
check "file name" "$(basename "$deb")" "morvanfn_${upstream}-${debian}_${arch}.deb"
check "upstream version has four parts" "$(echo "$upstream" | tr -cd . | wc -c)" 3
check "package" "$(dpkg-deb -f "$deb" Package)" morvanfn
check "version" "$(dpkg-deb -f "$deb" Version)" "$upstream-$debian"
check "maintainer given" "$(dpkg-deb -f "$deb" Maintainer | grep -c .)" 1
check "depends on the engine, not the daemon" \
    "$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/ *(.*//; s/^ *//' | grep '^firebird' | tr '\n' ' ')" "firebird$version-server-core "
description=$(dpkg-deb -f "$deb" Description)
check "description names the UdfAccess line" "$(echo "$description" | grep -c "UdfAccess = Restrict /$fb/UDF")" 1
check "description names the server's firebird.conf" "$(echo "$description" | grep -c "/etc/firebird/$version/firebird.conf")" 1
dpkg-deb -e "$deb" "$work/control"
check "no maintainer scripts or conffiles" "$(ls "$work/control" | tr '\n' ' ')" "control md5sums "

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort | tr '\n' ' ')
want="usr/include/morvanfn.h $fb/UDF/morvanfn.so $fb/plugins/udr/libmorvanfn_udr.so usr/share/doc/morvanfn/changelog.Debian.gz usr/share/doc/morvanfn/copyright usr/share/doc/morvanfn/guide.md usr/share/morvanfn/declare.sql usr/share/morvanfn/declare_null.sql usr/share/morvanfn/declare_udr.sql usr/share/morvanfn/drop.sql usr/share/morvanfn/check.sql usr/share/morvanfn/switch_to_udr.sql usr/bin/morvanfn-upgrade usr/share/man/man1/morvanfn-upgrade.1.gz"
check "file list" "$files" "$(echo "$want" | tr ' ' '\n' | sort | tr '\n' ' ')"
dpkg-deb -x "$deb" "$work/files"
for module in UDF/morvanfn.so plugins/udr/libmorvanfn_udr.so; do
    strip -o "$work/built.so" "$build/$(basename "$module")"
    check "$(basename "$module") is the module built here" "$(cmp -s "$work/built.so" "$work/files/$fb/$module" && echo same)" same
done

# What Debian's own checker says, at its default level: nothing.
lintian "$deb" 2>&1 | grep -vx 'running with root privileges is not recommended!' > "$work/lintian.out" || true
check "lintian says nothing" "$(cat "$work/lintian.out")" ""

# check.sql and switch_to_udr.sql are what sql/src makes of the rules.
cmake -DSOURCE="$top/sql/src" -DOUT="$work/assembled" -P "$top/cmake/assemble_sql.cmake"
for script in check.sql switch_to_udr.sql; do
    check "$script is assembled from sql/src" \
        "$(cmp -s "$work/assembled/$script" "$work/files/usr/share/morvanfn/$script" && echo same)" same
done
check "morvanfn-upgrade uses this server's Firebird" \
    "$("$work/files/usr/bin/morvanfn-upgrade" --help | sed -n 's/.*(default: \(.*\))$/\1/p' | head -n 1)" "/$fb"

sh "$top/scripts/firebird.sh" "$engine" run sh "$here/package_test.sh" --use "$deb" "$work" || fail=1
[ $fail = 0 ]
