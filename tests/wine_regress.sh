#!/bin/sh
# The SQL regression tests through the Windows engine under wine: the same
# tests/sql files and tests/expected outputs as sql_regress.sh, with the
# Windows modules built here (morvanfn.dll from the root's udf directory,
# morvanfn_udr.dll from plugins/udr), run by fbsql.exe, the tests' stand-in
# for the isql.exe that the engine's package lacks.  fbsql.exe prints rows
# and failures as isql does but does not echo statements, so what is
# compared is every row's NAME value line and every "Statement failed,
# SQLSTATE" line, in order.
#
# With --upgrade instead of a declaration: the upgrade test's database,
# made under the UDF as a Windows server has it (its path modules are the
# root's udf directory, morvanfn.so is morvanfn.dll), switched in place
# with switch_to_udr.sql and then served by the UDR with UdfAccess = None;
# each time its dependents must give tests/upgrade/dependents.out.  (The
# package has no gbak.exe: the road from a backup is not taken here.)
#
# usage: firebird.sh win5.0 run sh wine_regress.sh WIN_BUILD_DIR DECLARATION|--upgrade [TEST ...]
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
case $2 in
    --upgrade) name=upgrade ;;
    *) declaration=$(cd "$(dirname "$2")" && pwd)/$(basename "$2") name=$(basename "$2" .sql) ;;
esac
shift 2
[ "${FB_VERSION:-}" = win5.0 ] || { echo "run me through scripts/firebird.sh win5.0 run"; exit 1; }
work=$build/winetest/$name
root=$work/root
windows() { echo "Z:$1" | tr / '\\'; }

rm -rf "$work"
mkdir -p "$work/results" "$root"
case $name in
    *udr*) sh "$here/../scripts/firebird.sh" win5.0 root "$root" None ;;
    *) sh "$here/../scripts/firebird.sh" win5.0 root "$root" "$root/udf" ;;
esac
mkdir -p "$root/udf"
cp "$build/morvanfn.dll" "$root/udf/"
cp "$build/morvanfn_udr.dll" "$root/plugins/udr/"
cp "$build/fbsql.exe" "$build/ib_util.dll" "$root/"
fbsql() { (cd "$root" && timeout 300 wine fbsql.exe "$@") 2>&1 | tr -d '\r'; }
failed=0 passed=0
# compare WHAT EXPECTED OUTPUT: rows and failures, as both isql and
# fbsql.exe print them, in order.
compare() {
    for f in "$2" "$3"; do
        awk '/^Statement failed, SQLSTATE = / { print; next }
             length($0) >= 32 && substr($0, 1, 32) ~ /^[A-Z][A-Z0-9_$]* +$/ { print }' "$f" > "$f.lines"
    done
    if diff -u "$2.lines" "$3.lines" > "$3.diff"; then
        echo "ok     $1 ($(wc -l < "$2.lines") rows and failures)"
        passed=$((passed + 1))
    else
        echo "FAILED $1 (Firebird for Windows under wine)"
        cat "$3.diff"
        failed=$((failed + 1))
    fi
}

if [ "$name" = upgrade ]; then
    db=$work/UPGRADE.FDB
    module=$(windows "$root/udf/morvanfn.dll" | sed 's/\\/\\\\/g')
    sed "s|@LEGACY_MODULE@|$module|; s|C:.Program Files.Firebird.Firebird_3_0.UDF.morvanfn.dll|$module|; s|'morvanfn.so'|'morvanfn.dll'|" \
        "$here/upgrade/database.sql" > "$work/database.sql"
    cp "$here/upgrade/dependents.out" "$work/expected.out"
    fbsql -utf8 -create "$(windows "$db")" "$(windows "$here/../sql/declare.sql")"
    fbsql -utf8 "$(windows "$db")" "$(windows "$work/database.sql")"
    fbsql -utf8 "$(windows "$db")" "$(windows "$here/upgrade/dependents.sql")" > "$work/results/udf.out" || true
    compare "every dependent under the UDF" "$work/expected.out" "$work/results/udf.out"
    fbsql -utf8 "$(windows "$db")" "$(windows "$build/sql/switch_to_udr.sql")" > "$work/results/switch.out"
    echo "switch_to_udr.sql: $(grep -c '^ACTION  *switched' "$work/results/switch.out") switched"
    printf 'UdfAccess = None\nProviders = Engine13\n' > "$root/firebird.conf"
    fbsql -utf8 "$(windows "$db")" "$(windows "$here/upgrade/dependents.sql")" > "$work/results/udr.out" || true
    compare "every dependent switched, UdfAccess = None" "$work/expected.out" "$work/results/udr.out"
    [ "$(grep -c '^ACTION  *switched' "$work/results/switch.out")" = 18 ] || { echo "FAILED the switch"; failed=1; }
else
    if [ $# -eq 0 ]; then
        for f in "$here"/sql/*.sql; do
            case $(basename "$f") in
                null_*) [ "$(basename "$f")" = "null_$name.sql" ] || continue ;;
            esac
            set -- "$@" "$(basename "$f" .sql)"
        done
    fi
    for test in "$@"; do
        db=$work/$(echo "$test" | tr a-z A-Z).FDB
        fbsql -create "$(windows "$db")" "$(windows "$declaration")" > "$work/results/$test.declare"
        [ ! -s "$work/results/$test.declare" ] || cat "$work/results/$test.declare"
        fbsql "$(windows "$db")" "$(windows "$here/sql/$test.sql")" > "$work/results/$test.out" || true
        compare "$test under $name.sql" "$here/expected/$test.out" "$work/results/$test.out"
        rm -f "$db"
    done
fi
echo "$name on Firebird for Windows under wine: $passed passed, $failed failed"
[ "$failed" = 0 ]
