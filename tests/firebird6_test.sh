#!/bin/sh
# What an engine does with declare.sql's UDFs, each call in a process of its
# own (Firebird 6 crashes the process on some): a table for the guide, and
# the check that check.sql calls every one of them UNSAFE there while
# declare_udr.sql's functions give the answers; declare_udr.sql and
# drop.sql in a schema of their own and in PUBLIC (Firebird 6's schemas);
# and this library's UDFs declared in two schemas under one name, each
# with its own sizes: check.sql names both with their schema, and
# morvanfn-upgrade switch switches each with its own sizes and says what an
# unqualified call of ib_udf's ABS reaches on 6.0 (the built-in).
#
# usage: firebird.sh ENGINE run sh firebird6_test.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
[ -n "${FB_ENGINE:-}" ] || { echo "run me through scripts/firebird.sh ENGINE run"; exit 1; }
work=$build/firebird6test/$FB_ENGINE
rm -rf "$work"
mkdir -p "$work"
failed=0
. "$here/engine_root.sh"
engine_root "$work/root" "$build" udf

db=$work/probe.fdb
echo "CREATE DATABASE '$db' DEFAULT CHARACTER SET UTF8;" | isql-fb -q -m
isql-fb -q -m -i "$top/sql/declare.sql" "$db" > "$work/declare.out" 2>&1 || true
expect "declare.sql is accepted" "$(grep -c 'Statement failed' "$work/declare.out" || true)" 0

echo "| call | what $FB_ENGINE does |"
echo "|---|---|"
for call in "FN_SHORTDATE()" "FN_CURRYR()" "FN_STRLEN('Firebird')" "FN_STRCAT('morvan', 'fn')" \
            "FN_FULLCAT('morvan', 'fn')" "FN_PAD(7, 5)"; do
    if (echo "SET LIST ON; SELECT $call AS r FROM RDB\$DATABASE;" | isql-fb -q -m "$db" > "$work/call.out" 2>&1) 2> /dev/null; then s=0; else s=$?; fi
    if [ "$s" -ge 128 ] || grep -q 'Error reading data from the connection\|connection shutdown\|Connection lost' "$work/call.out"; then
        what="the process crashes (status $s)"
    elif grep -q '^R ' "$work/call.out"; then
        what="returns $(awk '$1 == "R" { $1 = ""; print substr($0, 2) }' "$work/call.out")"
    else
        what="fails: $(grep -v '^Statement failed\|^$' "$work/call.out" | head -n 3 | tr '\n' ' ' | sed 's/ $//')"
    fi
    echo "| \`$call\` | $what |"
done

# check.sql on that database: every UDF named as failing on this engine.
isql-fb -q -m -i "$build/sql/check.sql" "$db" > "$work/check.out" 2>&1 || true
expect "check.sql names every UDF as failing on Firebird $FB_LINE" \
    "$(grep -c "^VERDICT *UNSAFE: Firebird ${FB_LINE%%.*} cannot call a UDF" "$work/check.out")" 6
# The UDR in its place gives the answers.
isql-fb -q -m -i "$top/sql/drop.sql" "$db" > /dev/null 2>&1 || true
isql-fb -q -m -i "$top/sql/declare_udr.sql" "$db" > /dev/null 2>&1
expect "declare_udr.sql's functions answer" \
    "$(echo "SET LIST ON; SELECT FN_PAD(7, 5) || ' ' || FN_STRCAT('morvan', 'fn') || ' ' || FN_STRLEN('Firebird') AS r FROM RDB\$DATABASE;" |
        isql-fb -q -m "$db" | awk '$1 == "R" { $1 = ""; print substr($0, 2) }')" "00007 morvanfn 8"

# The scripts in a schema of their own: declare_udr.sql and drop.sql act on
# the current schema (the first of the search path), and leave PUBLIC's.
value() { echo "SET LIST ON; $2" | isql-fb -q -m "$1" 2>&1 | awk 'NF >= 2 { $1 = ""; print substr($0, 2); exit }'; }
echo "CREATE SCHEMA SHOP; COMMIT;" | isql-fb -q -m "$db"
{ echo "SET SEARCH_PATH TO SHOP;"; cat "$top/sql/declare_udr.sql"; } > "$work/declare_shop.sql"
isql-fb -q -m -i "$work/declare_shop.sql" "$db" > "$work/declare_shop.out" 2>&1 || true
expect "declare_udr.sql in the schema SHOP: its functions there, PUBLIC's as they were" \
    "$(value "$db" "SELECT COUNT(*) FROM RDB\$FUNCTIONS WHERE RDB\$SCHEMA_NAME = 'SHOP';") $(value "$db" "SELECT SHOP.FN_PAD(7, 5) || ' ' || PUBLIC.FN_PAD(7, 6) FROM RDB\$DATABASE;")" \
    "6 00007 000007"
{ echo "SET SEARCH_PATH TO SHOP;"; cat "$top/sql/drop.sql"; } > "$work/drop_shop.sql"
isql-fb -q -m -i "$work/drop_shop.sql" "$db" > "$work/drop_shop.out" 2>&1 || true
expect "drop.sql in the schema SHOP: its six dropped and said, PUBLIC's kept" \
    "$(grep -c '^DROPPED' "$work/drop_shop.out") $(value "$db" "SELECT COUNT(*) FROM RDB\$FUNCTIONS WHERE RDB\$SCHEMA_NAME = 'SHOP';") $(value "$db" "SELECT COUNT(*) FROM RDB\$FUNCTIONS WHERE RDB\$SCHEMA_NAME = 'PUBLIC';")" \
    "6 0 6"
isql-fb -q -m -i "$top/sql/drop.sql" "$db" > "$work/drop_public.out" 2>&1 || true
expect "drop.sql in PUBLIC: its six" "$(grep -c '^DROPPED' "$work/drop_public.out") $(value "$db" "SELECT COUNT(*) FROM RDB\$FUNCTIONS WHERE RDB\$SCHEMA_NAME = 'PUBLIC';")" "6 0"

# One name in two schemas, other sizes in each: found, named and switched
# each as its own.
legacy=$work/legacy.fdb
echo "CREATE DATABASE '$legacy' DEFAULT CHARACTER SET UTF8;" | isql-fb -q -m
isql-fb -q -m "$legacy" <<'SQL'
CREATE SCHEMA OLD_APP;
COMMIT;
DECLARE EXTERNAL FUNCTION FN_PAD INTEGER, INTEGER, CSTRING(255) CHARACTER SET NONE
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_pad' MODULE_NAME 'morvanfn';
DECLARE EXTERNAL FUNCTION ABS DOUBLE PRECISION RETURNS DOUBLE PRECISION BY VALUE
    ENTRY_POINT 'IB_UDF_abs' MODULE_NAME 'ib_udf';
SET SEARCH_PATH TO OLD_APP;
DECLARE EXTERNAL FUNCTION FN_PAD INTEGER, INTEGER, CSTRING(12) CHARACTER SET NONE
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_pad' MODULE_NAME 'morvanfn';
COMMIT;
SQL
isql-fb -q -m -i "$build/sql/check.sql" "$legacy" > "$work/legacy-check.out" 2>&1 || true
expect "check.sql finds this library in every schema, each named with it" \
    "$(awk '$1 == "FUNCTION_NAME" { print $2 }' "$work/legacy-check.out" | tr '\n' ' ')" '"OLD_APP"."FN_PAD" "PUBLIC"."FN_PAD" '
if "$build/morvanfn-upgrade" --firebird "$FB_LIB" --udr "$build/libmorvanfn_udr.so" switch "$legacy" > "$work/legacy-switch.log" 2>&1; then s=0; else s=$?; fi
expect "morvanfn-upgrade switch: each schema's declaration switched with its own sizes (ib_udf's ABS left)" \
    "$s $(grep -c 'OLD_APP"."FN_PAD": switched to morvanfn_udr!fn_pad!udf: (A1 INTEGER, A2 INTEGER) RETURNS VARCHAR(12)' "$work/legacy-switch.log") $(grep -c 'PUBLIC"."FN_PAD": switched to morvanfn_udr!fn_pad!udf: (A1 INTEGER, A2 INTEGER) RETURNS VARCHAR(255)' "$work/legacy-switch.log")" \
    "2 1 1"
expect "a UDF named like a built-in: what an unqualified call reaches on 6.0, said" \
    "$(grep -c 'ABS: UDF on ib_udf (IB_UDF_abs).*on Firebird 6 an unqualified ABS(...) calls the built-in ABS' "$work/legacy-switch.log")" 1
expect "and each answers through the UDR" \
    "$(value "$legacy" "SELECT OLD_APP.FN_PAD(7, 5) || ' ' || PUBLIC.FN_PAD(7, 6) FROM RDB\$DATABASE;")" "00007 000007"
echo "Firebird 6 on $FB_ENGINE: $([ $failed = 0 ] && echo passed || echo FAILED)"
[ $failed = 0 ]
