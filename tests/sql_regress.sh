#!/bin/sh
# SQL regression tests through the real engine, run embedded.
#
# usage: firebird.sh ENGINE run sh sql_regress.sh BUILD_DIR DECLARATION [TEST ...]
#
# Makes a private engine root under BUILD_DIR/sqltest/ENGINE/<declaration>,
# and for each test file a fresh database on which DECLARATION
# (sql/declare.sql, sql/declare_null.sql or sql/declare_udr.sql) is run
# first.  Each tests/sql/NAME.sql then runs, and its output must equal
# tests/expected/NAME.out; a difference is shown and fails the run.
#
# On Linux isql-fb runs the files and the whole output is compared.  On a
# Windows engine under wine (BUILD_DIR a Windows build: the DLLs, fbsql.exe
# and ib_util.dll) the tests' own fbsql.exe runs them, which prints rows and
# failures as isql does but does not echo statements: what is compared there
# is every row's NAME value line and every "Statement failed" line, in order.
#
# With MORVANFN_INSTALLED_ROOT set (a Windows engine's root an installer
# put the modules in), that root is used as it is.
#
# Without TEST arguments every file in tests/sql runs, except the NULL cases
# of other declarations: null_<declaration>.sql runs only under its own
# declaration, since NULL is what tells the declarations apart.
set -eu
build=$(cd "$1" && pwd)
declaration=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
shift 2
here=$(cd "$(dirname "$0")" && pwd)
name=$(basename "$declaration" .sql)
[ -n "${FB_ENGINE:-}" ] || { echo "run me through scripts/firebird.sh ENGINE run"; exit 1; }
work=$build/sqltest/$FB_ENGINE/$name
root=$work/root
. "$here/engine_root.sh"

rm -rf "$work"
mkdir -p "$work/results"
if [ -n "${MORVANFN_INSTALLED_ROOT:-}" ]; then
    installed_root "$MORVANFN_INSTALLED_ROOT"   # the modules an installer put there
else
    case $name in
        *udr*) engine_root "$root" "$build" None ;;   # UDR modules need no UDF access at all
        *) engine_root "$root" "$build" udf ;;
    esac
fi

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
    out=$work/results/$test.out
    if [ "$FB_PLATFORM" = windows ]; then
        fbsql -create "$db" "$declaration" > "$work/results/$test.declare" 2>&1 || true
        fbsql "$db" "$here/sql/$test.sql" > "$out" 2>&1 || true
        rows "$here/expected/$test.out" > "$work/results/$test.expected"
        rows "$out" > "$work/results/$test.got"
        compared="$work/results/$test.expected $work/results/$test.got"
    else
        echo "CREATE DATABASE '$db' DEFAULT CHARACTER SET UTF8;" | isql-fb -q -m > "$work/results/$test.create" 2>&1
        isql-fb -q -m -i "$declaration" "$db" > "$work/results/$test.declare" 2>&1 || true
        # A UDF's errors name it ("-UDF: FN_PAD"), and so does the UDR's own
        # string right truncation, but not the engine's other errors in a
        # UDR: that line is left out, so that both kinds compare with one
        # expected output.
        # Firebird 6 names a routine with its schema ("PUBLIC"."FN_PAD"),
        # where earlier lines wrote 'FN_PAD': read as one.
        (cd "$here/sql" && isql-fb -q -e -m -i "$test.sql" "$db") 2>&1 | grep -v '^-UDF: ' |
            sed "s/^-At function \"PUBLIC\"\.\"\([^\"]*\)\"\$/-At function '\1'/" > "$out" || true
        compared="$here/expected/$test.out $out"
    fi
    [ ! -s "$work/results/$test.declare" ] || cat "$work/results/$test.declare"
    # shellcheck disable=SC2086
    if diff -u $compared > "$work/results/$test.diff"; then
        echo "ok     $test"
        passed=$((passed + 1))
        rm -f "$db"
    else
        echo "FAILED $test (under $name.sql, $FB_ENGINE)"
        cat "$work/results/$test.diff"
        failed=$((failed + 1))
    fi
done
echo "$name on $FB_ENGINE: $passed passed, $failed failed"
[ "$failed" = 0 ]
