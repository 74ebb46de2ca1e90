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
# usage: firebird.sh win5.0 run sh wine_regress.sh WIN_BUILD_DIR DECLARATION [TEST ...]
set -eu
build=$(cd "$1" && pwd)
declaration=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
shift 2
here=$(cd "$(dirname "$0")" && pwd)
name=$(basename "$declaration" .sql)
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
# Rows and failures, as both isql and fbsql.exe print them.
results() {
    awk '/^Statement failed, SQLSTATE = / { print; next }
         length($0) >= 32 && substr($0, 1, 32) ~ /^[A-Z][A-Z0-9_$]* +$/ { print }' "$1"
}

if [ $# -eq 0 ]; then
    for f in "$here"/sql/*.sql; do
        case $(basename "$f") in
            null_*) [ "$(basename "$f")" = "null_$name.sql" ] || continue ;;
        esac
        set -- "$@" "$(basename "$f" .sql)"
    done
fi

failed=0 passed=0
for test in "$@"; do
    db=$work/$(echo "$test" | tr a-z A-Z).FDB
    fbsql -create "$(windows "$db")" "$(windows "$declaration")" > "$work/results/$test.declare"
    [ ! -s "$work/results/$test.declare" ] || cat "$work/results/$test.declare"
    fbsql "$(windows "$db")" "$(windows "$here/sql/$test.sql")" > "$work/results/$test.out" || true
    results "$here/expected/$test.out" > "$work/results/$test.want"
    results "$work/results/$test.out" > "$work/results/$test.got"
    if diff -u "$work/results/$test.want" "$work/results/$test.got" > "$work/results/$test.diff"; then
        echo "ok     $test ($(wc -l < "$work/results/$test.want") rows and failures)"
        passed=$((passed + 1))
        rm -f "$db"
    else
        echo "FAILED $test (under $name.sql, Firebird for Windows under wine)"
        cat "$work/results/$test.diff"
        failed=$((failed + 1))
    fi
done
echo "$name on Firebird for Windows under wine: $passed passed, $failed failed"
[ "$failed" = 0 ]
