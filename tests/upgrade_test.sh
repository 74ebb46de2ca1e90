#!/bin/sh
# The upgrade road of README's "Upgrading a database", on databases like
# those DBAs have: declare.sql's functions and older declarations of the
# same entry points (other names and sizes, UTF8 and WIN1251 arguments, the
# NULL keyword, FREE_IT, a module named by a path only the old server has,
# names with blanks, quotes and Cyrillic letters), used by a view, a
# procedure, a trigger, a computed column, a check constraint and three
# expression indexes (tests/upgrade/database.sql), and a dialect 1 database
# (tests/upgrade/dialect1.sql).  Both are made and backed up on Firebird 3
# under the UDF.  Then:
#
#   3.0, in place: check.sql, switch_to_udr.sql (twice: the second changes
#        nothing), check.sql again, on the live database;
#   3.0 and 4.0, from the backup: upgrade.sh restores it through a private
#        embedded engine with UDFs off (a gbak restore forgets the
#        character lengths of UDF arguments), switches, builds the indexes
#        the restore could not, and hands the database over (the path
#        module is gone by then, as on a new server).
#
# Each way, every object that uses a function gives exactly the output
# recorded under the UDF (tests/upgrade/*dependents.out: the expression
# indexes are active and used), drop.sql drops nothing
# while objects use the functions, and a join that overflowed an older
# declaration's buffer raises string right truncation.
#
# usage: firebird.sh ENGINE run sh upgrade_test.sh BUILD_DIR
#   3.0 makes the backups in BUILD_DIR/upgradetest, which 4.0 restores.
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
[ -n "${FB_ENGINE:-}" ] || { echo "run me through scripts/firebird.sh ENGINE run"; exit 1; }
work=$build/upgradetest/$FB_ENGINE
backup=$build/upgradetest/legacy.fbk
backup_d1=$build/upgradetest/dialect1.fbk
backup_switched=$build/upgradetest/switched.fbk
root=$work/root
rm -rf "$work"
mkdir -p "$work"
failed=0
ok() { echo "ok     $1"; }
fail() { echo "FAILED $1"; failed=1; }
isql() { isql-fb -q -m -ch UTF8 "$@" 2>&1 | grep -v '^-UDF: ' || true; }
expect() { # what, got, pattern
    case $2 in $3) ok "$1: $2" ;; *) fail "$1: got '$2', want '$3'" ;; esac
}
# dependents NAME DATABASE WHEN: the objects' output, against the one
# recorded under the UDF (tests/upgrade/NAME.out).
dependents() {
    (cd "$here/upgrade" && isql -e -i "$1.sql" "$2") > "$work/$1-$3.out"
    if diff -u "$here/upgrade/$1.out" "$work/$1-$3.out" > "$work/$1-$3.diff"; then
        ok "every dependent gives the recorded output ($1, $3)"
    else
        fail "$1 $3:"; cat "$work/$1-$3.diff"
    fi
}
# drop_refused SCRIPT DATABASE: with objects using the functions, it drops none.
drop_refused() {
    isql -i "$top/sql/$1" "$2" > "$work/$1.out"
    expect "$1 names what uses the functions, and drops none" \
        "$(grep -c '^USED_BY' "$work/$1.out") $(echo "SET LIST ON; SELECT COUNT(*) AS n FROM RDB\$FUNCTIONS WHERE RDB\$FUNCTION_NAME STARTING WITH 'FN_';" | isql "$2" | awk '$1 == "N" {print $2}')" \
        "1[0-9] 6"
}
# verdict FUNCTION FILE: check.sql's verdict for it.
verdict() { awk -v f="$1" '$1 == "FUNCTION_NAME" { n = $2 } $1 == "VERDICT" && n == f { $1 = ""; print substr($0, 2) }' "$2"; }
# overflow DATABASE: the join that overflowed OLD_CAT's 30-byte buffer.
overflow() {
    expect "a join that overflowed the UDF's buffer" \
        "$(echo "SELECT OLD_CAT(RPAD('a', 20, 'b'), RPAD('c', 20, 'd')) FROM RDB\$DATABASE;" | isql "$1" | sed -n 's/.*SQLSTATE = //p')" 22001
}
# upgrade BACKUP DATABASE: the road from a backup, with this engine's files.
upgrade() {
    if MORVANFN_FIREBIRD_LIB=$FB_LIB MORVANFN_FIREBIRD_BIN=$(dirname "$(command -v gbak)") MORVANFN_UDR_DIR=$build \
        sh "$build/sql/upgrade.sh" "$1" "$2" > "$work/upgrade-$(basename "$2").out" 2>&1; then status=0; else status=$?; fi
    cat "$work/upgrade-$(basename "$2").out"
}

# The old server also loads the module from a path that no later server
# has (PATH_PAD names it): BUILD_DIR/upgradetest/legacy-udf, gone once 3.0
# is done.
legacy=$build/upgradetest/legacy-udf
if [ "$FB_LINE" = 3.0 ]; then
    rm -rf "$legacy"; mkdir -p "$legacy"; cp "$build/morvanfn.so" "$legacy/"
fi
sh "$top/scripts/firebird.sh" "$FB_ENGINE" root "$root" "$([ "$FB_LINE" = 3.0 ] && echo "$build;$legacy" || echo None)"
cp "$build/libmorvanfn_udr.so" "$root/udr/"
export FIREBIRD="$root" FIREBIRD_LOCK="$root/lock" FIREBIRD_TMP="$root/tmp" ISC_USER=SYSDBA

db=$work/upgrade.fdb d1=$work/dialect1.fdb
if [ "$FB_LINE" = 3.0 ]; then
    echo "CREATE DATABASE '$db' DEFAULT CHARACTER SET UTF8;" | isql-fb -q
    isql -i "$top/sql/declare.sql" "$db"
    sed "s|@LEGACY_MODULE@|$legacy/morvanfn.so|" "$here/upgrade/database.sql" > "$work/database.sql"
    isql -i "$work/database.sql" "$db"
    printf "SET SQL DIALECT 1;\nCREATE DATABASE '%s';\n" "$d1" | isql-fb -q
    isql -i "$top/sql/declare.sql" "$d1"
    isql -i "$here/upgrade/dialect1.sql" "$d1"
    dependents dependents "$db" "under the UDF"
    dependents dialect1_dependents "$d1" "under the UDF"
    drop_refused drop.sql "$db"
    rm -f "$backup" "$backup_d1"
    gbak -b "$db" "$backup"
    gbak -b "$d1" "$backup_d1"
    ok "backed up with $FB_ENGINE's gbak"

    # In place, on the live database.
    isql -i "$build/sql/check.sql" "$db" > "$work/check-before.out"
    echo "--- check.sql before the switch:"; cat "$work/check-before.out"
    expect "OLD_CAT before" "$(verdict OLD_CAT "$work/check-before.out")" "UNSAFE: the result holds 30 bytes, the longest is 40*"
    expect "FN_PAD before" "$(verdict FN_PAD "$work/check-before.out")" "safe"
    expect "OLD_DATE before" "$(verdict OLD_DATE "$work/check-before.out")" "UNSAFE: FREE_IT*"
    expect "a path as module name is reported whole" "$(grep -c '^KIND  *UDF on C:.Program Files.Firebird.Firebird_3_0.UDF.morvanfn.dll$' "$work/check-before.out")" 1
    expect "the UTF8 declaration in characters" \
        "$(awk '$1 == "FUNCTION_NAME" { n = $2 } $1 == "RESULT" && n == "U8_FULLCAT" { print $2 }' "$work/check-before.out")" "CSTRING(40)"
    isql -i "$build/sql/switch_to_udr.sql" "$db" > "$work/switch.out"
    echo "--- switch_to_udr.sql:"; cat "$work/switch.out"
    expect "switched" "$(grep -c '^ACTION  *switched to morvanfn_udr!' "$work/switch.out")" 18
    expect "left" "$(grep -c '^ACTION  *left as a UDF: FREE_IT' "$work/switch.out")" 1
    isql -i "$build/sql/switch_to_udr.sql" "$db" > "$work/switch-again.out"
    expect "a second switch" "$(grep '^ACTION' "$work/switch-again.out" | tail -n 1)" "*nothing switched: the database is unchanged*"
    isql -i "$build/sql/check.sql" "$db" > "$work/check-after.out"
    echo "--- check.sql after the switch:"; cat "$work/check-after.out"
    expect "OLD_CAT after" "$(verdict OLD_CAT "$work/check-after.out")" "safe"
    expect "every switched declaration safe" "$(grep -c '^VERDICT  *safe$' "$work/check-after.out")" 18
    expect "a name with a leading blank: its dependents and verdict" \
        "$(awk '/^FUNCTION_NAME  *LEADING$/ { f = 1 } f && /^(DEPENDENTS|VERDICT)/ { printf "%s ", $2 } f && /^NOTE/ { exit }' "$work/check-after.out")" "1 safe "
    expect "UDRs after" "$(grep -c "^KIND  *UDR, the UDF's NULL rules" "$work/check-after.out")" 18
    dependents dependents "$db" "switched in place"
    drop_refused drop.sql "$db"
    overflow "$db"
    rm -f "$backup_switched"
    gbak -b "$db" "$backup_switched"
    # A database restored by 3.0's own gbak has lost its character lengths too.
    dbs="$work/restored.fdb $work/restored-dialect1.fdb $work/restored-switched.fdb"
else
    for f in "$backup" "$backup_d1" "$backup_switched"; do [ -f "$f" ] || { echo "no backup from Firebird 3.0 at $f"; exit 1; }; done
    dbs="$db $d1 $work/switched.fdb"
fi
rm -rf "$legacy"

# From the backups, through upgrade.sh.
set -- $dbs
echo "--- upgrade.sh $(basename "$backup") $1"
upgrade "$backup" "$1"
expect "upgrade.sh hands the database over, naming OLD_DATE for the DBA" \
    "$status $(grep -c '^upgrade: done' "$work/upgrade-$(basename "$1").out") $(grep -c 'UNSAFE' "$work/upgrade-$(basename "$1").out")" "2 1 1"
expect "the expression indexes built after the switch" \
    "$(grep -c '^upgrade: index .* built and active' "$work/upgrade-$(basename "$1").out")" 3
expect "the path module, gone now, is restored past" \
    "$(grep -c 'names a UDF module by its path' "$work/upgrade-$(basename "$1").out")" 1
expect "indexes active" "$(echo "SET LIST ON; SELECT COUNT(*) AS n FROM RDB\$INDICES WHERE RDB\$INDEX_INACTIVE = 1;" | isql "$1" | awk '$1 == "N" {print $2}')" 0
dependents dependents "$1" "after upgrade.sh"
drop_refused drop.sql "$1"
overflow "$1"
# Names a later server allows: 40 Cyrillic letters (80 bytes), a leading
# blank; check.sql and a second switch read them through isql connected
# in UTF8, WIN1251 and no character set.
if [ "$FB_LINE" != 3.0 ]; then
    long=ДлинноеИмяФункцииДляПроверкиСкриптовАААА
    printf 'DECLARE EXTERNAL FUNCTION "%s" INTEGER, INTEGER, CSTRING(255) CHARACTER SET NONE RETURNS PARAMETER 3 ENTRY_POINT '"'"'_fn_pad'"'"' MODULE_NAME '"'"'morvanfn'"'"';\nCOMMIT;\n' "$long" |
        isql "$1"
    isql -i "$build/sql/switch_to_udr.sql" "$1" > "$work/switch-long.out"
    expect "a 40-letter Cyrillic name is switched" "$(grep -c '^ACTION  *switched to morvanfn_udr!fn_pad' "$work/switch-long.out")" 1
    for cs in UTF8 WIN1251 NONE; do
        isql-fb -q -m -ch $cs -i "$build/sql/check.sql" "$1" > "$work/check-$cs.out" 2>&1 || true
        expect "check.sql through a $cs connection reports every function" "$(grep -c '^VERDICT' "$work/check-$cs.out")" 20
    done
fi
# UDR declarations are judged as the module reads them: check.sql's verdict
# on each is the module's own refusal at a call, or safe where a call works.
cat > "$work/udr.sql" <<'SQL'
CREATE FUNCTION UDR_BIGINT (v BIGINT, w INTEGER) RETURNS VARCHAR(10) CHARACTER SET NONE
    EXTERNAL NAME 'morvanfn_udr!fn_pad' ENGINE UDR;
CREATE FUNCTION UDR_CHAR_RESULT (a VARCHAR(5), b VARCHAR(5)) RETURNS CHAR(10)
    EXTERNAL NAME 'morvanfn_udr!fn_fullcat' ENGINE UDR;
CREATE FUNCTION UDR_ONE_ARGUMENT (v INTEGER) RETURNS VARCHAR(10) EXTERNAL NAME 'morvanfn_udr!fn_pad' ENGINE UDR;
CREATE FUNCTION UDR_RULE_CASE (v INTEGER, w INTEGER) RETURNS VARCHAR(10) EXTERNAL NAME 'morvanfn_udr!fn_pad!UDF' ENGINE UDR;
CREATE FUNCTION UDR_CHAR_SJIS (a CHAR(3) CHARACTER SET SJIS_0208, b VARCHAR(3)) RETURNS VARCHAR(10)
    EXTERNAL NAME 'morvanfn_udr!fn_fullcat' ENGINE UDR;
CREATE FUNCTION UDR_STRLEN_CHAR (s CHAR(10)) RETURNS SMALLINT EXTERNAL NAME 'morvanfn_udr!fn_strlen' ENGINE UDR;
CREATE FUNCTION UDR_CHAR_UTF8 (a CHAR(3) CHARACTER SET UTF8, b CHAR(3) CHARACTER SET WIN1251)
    RETURNS VARCHAR(10) CHARACTER SET UTF8 EXTERNAL NAME 'morvanfn_udr!fn_fullcat!sql' ENGINE UDR;
CREATE FUNCTION UDR_SMALL (v SMALLINT, w SMALLINT) RETURNS VARCHAR(10) EXTERNAL NAME 'morvanfn_udr!fn_pad' ENGINE UDR;
COMMIT;
SQL
isql -i "$work/udr.sql" "$1"
isql -i "$build/sql/check.sql" "$1" > "$work/check-udr.out"
for call in "UDR_BIGINT(1, 2)" "UDR_CHAR_RESULT('a', 'b')" "UDR_ONE_ARGUMENT(1)" "UDR_RULE_CASE(1, 2)" \
            "UDR_CHAR_SJIS('a', 'b')" "UDR_STRLEN_CHAR('a')" "UDR_CHAR_UTF8('a', 'b')" "UDR_SMALL(1, 2)"; do
    f=${call%%(*}
    said=$(echo "SELECT $call FROM RDB\$DATABASE;" | isql "$1" | sed -n 's/^\(morvanfn_udr: .*\)/UNSAFE: \1 (every call fails)/p')
    expect "check.sql on $f as a call finds it" "$(verdict "$f" "$work/check-udr.out")" "${said:-safe}"
done

echo "--- upgrade.sh $(basename "$backup_d1") $2"
upgrade "$backup_d1" "$2"
expect "the dialect 1 database" "$status $(echo 'SET LIST ON; SELECT MON$SQL_DIALECT AS d FROM MON$DATABASE;' | isql "$2" | awk '$1 == "D" {print $2}')" "0 1"
dependents dialect1_dependents "$2" "after upgrade.sh"

echo "upgrade on $FB_ENGINE: $([ $failed = 0 ] && echo passed || echo FAILED)"
# The road in place: switched on 3.0, then backed up; its restore finds
# nothing left to switch, and every UDR as the module reads it.
echo "--- upgrade.sh $(basename "$backup_switched") $3"
upgrade "$backup_switched" "$3"
expect "a database switched before its backup: nothing to switch, every switched function safe" \
    "$status $(grep -c 'nothing switched' "$work/upgrade-$(basename "$3").out") $(isql -i "$build/sql/check.sql" "$3" | grep -c '^VERDICT  *safe$')" "2 1 18"
dependents dependents "$3" "switched in place, then restored"
[ $failed = 0 ]
