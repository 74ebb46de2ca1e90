#!/bin/sh
# An existing database brought from the UDF to the UDR in place, as a DBA
# would: on Firebird 3 a database declared with declare.sql and older
# declarations (tests/upgrade/database.sql) is backed up with gbak, then
# switched with switch_to_udr.sql; on Firebird 4 that backup is restored
# with UDFs off (UdfAccess = None) and switched there.  Each time check.sql
# reports before and after (the small older declaration UNSAFE, then safe),
# a second switch changes nothing, every object that uses a function gives
# exactly the output recorded under the UDF (tests/upgrade/dependents.out),
# and a join that overflowed the older declaration's buffer now raises
# string right truncation.
#
# usage: firebird.sh VERSION run sh upgrade_test.sh BUILD_DIR
#   3.0 makes BUILD_DIR/upgradetest/legacy.fbk, which 4.0 restores.
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
[ -n "${FB_VERSION:-}" ] || { echo "run me through scripts/firebird.sh VERSION run"; exit 1; }
work=$build/upgradetest/firebird$FB_VERSION
backup=$build/upgradetest/legacy.fbk
root=$work/root
rm -rf "$work"
mkdir -p "$work"
failed=0
ok() { echo "ok     $1"; }
fail() { echo "FAILED $1"; failed=1; }
isql() { isql-fb -q -m "$@" 2>&1 | grep -v '^-UDF: ' || true; }
# The objects' output, against the one recorded under the UDF.
dependents() {
    (cd "$here/upgrade" && isql -e -i dependents.sql "$db") > "$work/$1.out"
    if diff -u "$here/upgrade/dependents.out" "$work/$1.out" > "$work/$1.diff"; then
        ok "every dependent gives the recorded output $1"
    else
        fail "dependents $1:"; cat "$work/$1.diff"
    fi
}
# drop_refused SCRIPT: with objects using the functions, it drops none.
drop_refused() {
    isql -i "$top/sql/$1" "$db" > "$work/$1.out"
    expect "$1 names what uses the functions, and drops none" \
        "$(grep -c '^USED_BY' "$work/$1.out") $(echo "SET LIST ON; SELECT COUNT(*) AS n FROM RDB\$FUNCTIONS WHERE RDB\$FUNCTION_NAME STARTING WITH 'FN_';" | isql "$db" | awk '$1 == "N" {print $2}')" \
        "1[0-9] 6"
}
# verdict FUNCTION: check.sql's verdict line for it.
verdict() { awk -v f="$1" '$1 == "FUNCTION_NAME" { n = $2 } $1 == "VERDICT" && n == f { $1 = ""; print substr($0, 2) }' "$2"; }
expect() { # what, got, pattern
    case $2 in $3) ok "$1: $2" ;; *) fail "$1: got '$2', want '$3'" ;; esac
}

# On 3.0 UDFs are allowed from the build tree, as on the server being
# upgraded; 4.0 is left as shipped, with no UDF allowed.
sh "$top/scripts/firebird.sh" "$FB_VERSION" root "$root" "$([ "$FB_VERSION" = 3.0 ] && echo "$build" || echo None)"
cp "$build/libmorvanfn_udr.so" "$root/udr/"
export FIREBIRD="$root" FIREBIRD_LOCK="$root/lock" FIREBIRD_TMP="$root/tmp" ISC_USER=SYSDBA

db=$work/upgrade.fdb
if [ "$FB_VERSION" = 3.0 ]; then
    echo "CREATE DATABASE '$db' DEFAULT CHARACTER SET UTF8;" | isql-fb -q
    isql -i "$top/sql/declare.sql" "$db"
    isql -i "$here/upgrade/database.sql" "$db"
    dependents "under the UDF"
    drop_refused drop.sql
    rm -f "$backup"
    gbak -b "$db" "$backup"
    ok "backed up with Firebird $FB_VERSION's gbak"
else
    [ -f "$backup" ] || { echo "no backup from Firebird 3.0 at $backup"; exit 1; }
    gbak -c "$backup" "$db" > "$work/restore.log" 2>&1 || { cat "$work/restore.log"; exit 1; }
    ok "restored with Firebird $FB_VERSION's gbak, UdfAccess = None ($(grep -c WARNING "$work/restore.log") warnings)"
    expect "a view fails before the switch" \
        "$(echo 'SELECT COUNT(*) FROM customer_view;' | isql "$db" | grep -c 'FN_[A-Z]* is not defined')" "[1-9]*"
fi

isql -i "$build/sql/check.sql" "$db" > "$work/check-before.out"
echo "--- check.sql before the switch:"; cat "$work/check-before.out"
expect "OLD_CAT before" "$(verdict OLD_CAT "$work/check-before.out")" "UNSAFE: the result holds 30 bytes, the longest is 40*"
expect "FN_PAD before" "$(verdict FN_PAD "$work/check-before.out")" "safe"
expect "OLD_DATE before" "$(verdict OLD_DATE "$work/check-before.out")" "UNSAFE: FREE_IT*"
if [ "$FB_VERSION" != 3.0 ]; then
    expect "UDFs off seen" "$(grep -c 'UDF: needs UdfAccess' "$work/check-before.out")" 9
fi

isql -i "$build/sql/switch_to_udr.sql" "$db" > "$work/switch.out"
echo "--- switch_to_udr.sql:"; cat "$work/switch.out"
expect "switched" "$(grep -c '^ACTION  *switched to morvanfn_udr!' "$work/switch.out")" 8
expect "left" "$(grep -c '^ACTION  *left as a UDF: FREE_IT' "$work/switch.out")" 1
isql -i "$build/sql/switch_to_udr.sql" "$db" > "$work/switch-again.out"
expect "a second switch" "$(grep '^ACTION' "$work/switch-again.out" | tail -n 1)" "*nothing switched: the database is unchanged*"

isql -i "$build/sql/check.sql" "$db" > "$work/check-after.out"
echo "--- check.sql after the switch:"; cat "$work/check-after.out"
expect "OLD_CAT after" "$(verdict OLD_CAT "$work/check-after.out")" "safe"
expect "UDRs after" "$(grep -c "^KIND  *UDR, the UDF's NULL rules" "$work/check-after.out")" 8
dependents "under the UDR"
drop_refused drop_udr.sql

# Only now: a join longer than OLD_CAT's 30 bytes.
expect "a join that overflowed" \
    "$(echo "SELECT OLD_CAT(RPAD('a', 20, 'b'), RPAD('c', 20, 'd')) FROM RDB\$DATABASE;" | isql "$db" | sed -n 's/.*SQLSTATE = //p')" 22001
echo "upgrade on Firebird $FB_VERSION: $([ $failed = 0 ] && echo passed || echo FAILED)"
[ $failed = 0 ]
