#!/bin/sh
# The upgrade test's database on the Windows engine under wine: made under
# the UDF (morvanfn.dll; its path module is the root's udf directory),
# switched in place with switch_to_udr.sql, then served with UdfAccess =
# None by the UDR (morvanfn_udr.dll).  Each time every dependent's rows and
# failures must be those recorded in tests/upgrade/dependents.out, as
# wine_regress.sh compares them.  (The package has no gbak.exe: the
# restore road is not taken here.)
#
# usage: firebird.sh win5.0 run sh wine_upgrade.sh WIN_BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
[ "${FB_VERSION:-}" = win5.0 ] || { echo "run me through scripts/firebird.sh win5.0 run"; exit 1; }
work=$build/winetest/upgrade
root=$work/root
windows() { echo "Z:$1" | tr / '\\'; }
rm -rf "$work"
mkdir -p "$work" "$root"
sh "$here/../scripts/firebird.sh" win5.0 root "$root" "$root/udf"
mkdir -p "$root/udf"
cp "$build/morvanfn.dll" "$root/udf/"
cp "$build/morvanfn_udr.dll" "$root/plugins/udr/"
cp "$build/fbsql.exe" "$build/ib_util.dll" "$root/"
fbsql() { (cd "$root" && timeout 300 wine fbsql.exe "$@") 2>&1 | tr -d '\r'; }
results() {
    awk '/^Statement failed, SQLSTATE = / { print; next }
         length($0) >= 32 && substr($0, 1, 32) ~ /^[A-Z][A-Z0-9_$]* +$/ { print }' "$1"
}
failed=0
# dependents NAME DATABASE WHEN
dependents() {
    fbsql -utf8 "$(windows "$2")" "$(windows "$here/upgrade/$1.sql")" > "$work/$1-$3.out" || true
    results "$here/upgrade/$1.out" > "$work/$1.want"
    results "$work/$1-$3.out" > "$work/$1-$3.got"
    if diff -u "$work/$1.want" "$work/$1-$3.got" > "$work/$1-$3.diff"; then
        echo "ok     every dependent gives the recorded rows ($1, $3: $(wc -l < "$work/$1.want") rows and failures)"
    else
        echo "FAILED $1 $3:"; cat "$work/$1-$3.diff"; failed=1
    fi
}
db=$work/UPGRADE.FDB
# As a Windows server has it: both paths it allowed are its udf directory
# here, and morvanfn.so is morvanfn.dll.
module=$(windows "$root/udf/morvanfn.dll" | sed 's/\\/\\\\/g')
sed "s|@LEGACY_MODULE@|$module|; s|C:.Program Files.Firebird.Firebird_3_0.UDF.morvanfn.dll|$module|; s|'morvanfn.so'|'morvanfn.dll'|" \
    "$here/upgrade/database.sql" > "$work/database.sql"
fbsql -utf8 -create "$(windows "$db")" "$(windows "$here/../sql/declare.sql")"
fbsql -utf8 "$(windows "$db")" "$(windows "$work/database.sql")"
dependents dependents "$db" "under the UDF"
fbsql -utf8 "$(windows "$db")" "$(windows "$build/sql/switch_to_udr.sql")" > "$work/switch.out"
grep -c '^ACTION  *switched' "$work/switch.out" | sed 's/^/switched: /'
[ "$(grep -c '^ACTION  *switched' "$work/switch.out")" = 18 ] || { echo "FAILED the switch:"; cat "$work/switch.out"; failed=1; }
printf 'UdfAccess = None\nProviders = Engine13\n' > "$root/firebird.conf"
dependents dependents "$db" "switched, UdfAccess = None"
echo "upgrade on Firebird for Windows under wine: $([ $failed = 0 ] && echo passed || echo FAILED)"
[ $failed = 0 ]
