#!/bin/sh
# The upgrade road of the DBA's guide, on databases like those DBAs have:
# declare.sql's functions and older declarations of the same entry points
# (other names and sizes, UTF8 and WIN1251 arguments, the NULL keyword,
# FREE_IT, one that never worked, a module named by a path only the old
# server has, names with blanks, quotes and Cyrillic letters), used by a
# view, a procedure, a package, a trigger, a computed column, a check
# constraint and expression indexes (tests/upgrade/database.sql), owned by
# ALICE with a role and grants to BOB, and a dialect 1 database
# (tests/upgrade/dialect1.sql).  Both are made and backed up on Firebird 3.0
# under the UDF.  Then:
#
#   3.0, in place: morvanfn-upgrade check against check.sql; switch_to_udr.sql
#        by BOB (no ALTER rights: refused, said, a failing exit), beside a
#        transaction switching one function itself (refused, said), then by
#        ALICE (the expression index built under the UDF in another year is
#        built again: its keys are fresh), then again (nothing to do);
#        drop.sql (refused, says nothing dropped);
#   every engine, from the backups: morvanfn-upgrade restore (the path
#        module is gone by then, as on a new server).
#
# Each way, every object that uses a function gives exactly the output
# recorded under the UDF (tests/upgrade/*dependents.out: plans, owners,
# grants and comments included), the owner is ALICE and may still change
# the database, no index is left inactive, and a join that overflowed an
# older declaration's buffer raises string right truncation.
#
# usage: firebird.sh ENGINE run sh upgrade_test.sh BUILD_DIR
#   linux3.0 makes the backups in BUILD_DIR/upgradetest, which others restore.
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
. "$here/engine_root.sh"
isql() { isql-fb -q -m -ch UTF8 "$@" 2>&1 | grep -v '^-UDF: ' || true; }
value() { echo "SET LIST ON; $2" | isql "$1" | awk 'NF >= 2 { $1 = ""; print substr($0, 2); exit }'; }
# dependents NAME DATABASE WHEN: the objects' output, against the one
# recorded under the UDF (tests/upgrade/NAME.out).
# Firebird 6 names objects with their schema, quoted ("PUBLIC"."NOTES" in a
# plan, "NAME_NOT_13" in a message): read as the other lines write them.
unqualified() {
    sed -e 's/"PUBLIC"\."\([A-Z][A-Z0-9_$]*\)"/\1/g' \
        -e "s/^-At trigger \([A-Z][A-Z0-9_\$]*\)\$/-At trigger '\1'/" \
        -e 's/CHECK constraint "\([A-Z][A-Z0-9_$]*\)"/CHECK constraint \1/'
}
dependents() {
    (cd "$here/upgrade" && isql -e -i "$1.sql" "$2") | unqualified > "$work/$1-$3.out"
    if diff -u "$here/upgrade/$1.out" "$work/$1-$3.out" > "$work/$1-$3.diff"; then
        ok "every dependent gives the recorded output ($1, $3)"
    else
        fail "$1 $3:"; cat "$work/$1-$3.diff"
    fi
}
# overflow DATABASE: the join that overflowed OLD_CAT's 30-byte buffer.
overflow() {
    expect "a join that overflowed the UDF's buffer" \
        "$(echo "SELECT OLD_CAT(RPAD('a', 20, 'b'), RPAD('c', 20, 'd')) FROM RDB\$DATABASE;" | isql "$1" | sed -n 's/.*SQLSTATE = //p')" 22001
}
# This library installed as a DBA has it: its own directory, apart from
# the old server's.
modules=$build/upgradetest/modules-$FB_ENGINE
rm -rf "$modules"; mkdir -p "$modules"
cp "$build/morvanfn.so" "$build/libmorvanfn_udr.so" "$modules/"
tool() {
    "$build/morvanfn-upgrade" --firebird "$FB_LIB" --udr "$modules/libmorvanfn_udr.so" "$@"
}
# restore BACKUP DATABASE: the road from a backup; its output, and its status.
restore() {
    if tool restore "$1" "$2" > "$work/restore-$(basename "$2").out" 2>&1; then status=0; else status=$?; fi
    echo "--- morvanfn-upgrade restore $(basename "$1") $(basename "$2"): exit $status"
    cat "$work/restore-$(basename "$2").out"
}

# The old server also loads the module from a path that no later server
# has (PATH_PAD names it): BUILD_DIR/upgradetest/legacy-udf, gone once 3.0
# is done.
legacy=$build/upgradetest/legacy-udf
if [ "$FB_LINE" = 3.0 ]; then
    rm -rf "$legacy"; mkdir -p "$legacy"; cp "$build/morvanfn.so" "$legacy/"
fi
# Classic: several processes at one database (the switch beside another).
sh "$top/scripts/firebird.sh" "$FB_ENGINE" root "$root" "$([ "$FB_LINE" = 3.0 ] && echo "$modules;$legacy" || echo None)" \
    "ServerMode = Classic"
cp "$build/libmorvanfn_udr.so" "$root/udr/"
export FIREBIRD="$root" FIREBIRD_LOCK="$root/lock" FIREBIRD_TMP="$root/tmp"

db=$work/upgrade.fdb d1=$work/dialect1.fdb
if [ "$FB_LINE" = 3.0 ]; then
    # Made by their owner, ALICE.
    export ISC_USER=ALICE
    echo "CREATE DATABASE '$db' DEFAULT CHARACTER SET UTF8;" | isql-fb -q
    isql -i "$top/sql/declare.sql" "$db"
    sed "s|@LEGACY_MODULE@|$legacy/morvanfn.so|" "$here/upgrade/database.sql" > "$work/database.sql"
    isql -i "$work/database.sql" "$db"
    # An expression index whose keys the UDF gave in another year: the
    # switch must build it again, or a query through it misses the row.
    echo "CREATE INDEX years ON customers COMPUTED BY (FN_CURRYR() + id); COMMIT;" |
        FAKETIME_DONT_FAKE_MONOTONIC=1 faketime '2000-06-01 12:00:00' isql-fb -q -m "$db"
    expect "the index built under the UDF in 2000 misses this year's row" \
        "$(value "$db" "SELECT COUNT(*) FROM customers WHERE FN_CURRYR() + id = EXTRACT(YEAR FROM CURRENT_DATE) + 1;")" 0
    printf "SET SQL DIALECT 1;\nCREATE DATABASE '%s';\n" "$d1" | isql-fb -q
    isql -i "$top/sql/declare.sql" "$d1"
    isql -i "$here/upgrade/dialect1.sql" "$d1"
    dependents dependents "$db" "under the UDF"
    dependents dialect1_dependents "$d1" "under the UDF"
    rm -f "$backup" "$backup_d1"
    gbak -b "$db" "$backup"
    gbak -b "$d1" "$backup_d1"
    ok "backed up with $FB_ENGINE's gbak"

    # In place, on the live database: the tool's check is check.sql's.
    isql -i "$build/sql/check.sql" "$db" > "$work/check-before.out"
    echo "--- check.sql before the switch:"; cat "$work/check-before.out"
    tool check "$db" > "$work/tool-check.out" 2>&1 || true
    expect "morvanfn-upgrade check gives check.sql's verdicts" \
        "$(sed -n 's/^morvanfn-upgrade:       \(safe\|UNSAFE.*\)$/\1/p' "$work/tool-check.out" | md5sum)" \
        "$(sed -n 's/^VERDICT  *//p' "$work/check-before.out" | md5sum)"
    expect "a declaration that never worked is named so" \
        "$(awk '$1 == "FUNCTION_NAME" { n = $2 } $1 == "VERDICT" && n == "NEVER_PAD" { $1 = ""; print substr($0, 2) }' "$work/check-before.out")" \
        "UNSAFE: it never worked: the library exports no entry point 'fn_pad'*"
    expect "a module name the server cannot resolve is noted" \
        "$(grep -c "^NOTE .*never worked on this server, which loads no module named 'MORVANFN.DLL'" "$work/check-before.out")" 1

    # BOB may not alter the functions: refused, and said so.
    if ISC_USER=BOB isql-fb -q -m -ch UTF8 -i "$build/sql/switch_to_udr.sql" "$db" > "$work/switch-bob.out" 2>&1; then s=0; else s=$?; fi
    expect "a switch without ALTER rights fails" "$s $(grep -c 'NOT SWITCHED: the engine refused ALTER FUNCTION (SQLSTATE 28000' "$work/switch-bob.out")" "[1-9]* 19"
    expect "and says what the catalogue holds" "$(grep -c '^NOW  *now 0 on the UDR and 21 on the UDF; this run switched 0, and the engine refused 19' "$work/switch-bob.out")" 1

    # Another transaction switches FN_PAD itself meanwhile: this switch
    # waits for it, is refused, and the catalogue afterwards says so.
    mkfifo "$work/other"
    isql-fb -q -m -ch UTF8 "$db" < "$work/other" > "$work/other.out" 2>&1 &
    other=$!
    exec 7> "$work/other"
    printf "SET AUTODDL OFF;\nALTER FUNCTION FN_PAD (a1 INTEGER, a2 INTEGER) RETURNS VARCHAR(255) CHARACTER SET NONE EXTERNAL NAME 'morvanfn_udr!fn_pad!udf' ENGINE UDR;\n" >&7
    sleep 1
    isql-fb -q -m -ch UTF8 -i "$build/sql/switch_to_udr.sql" "$db" > "$work/switch-beside.out" 2>&1 &
    beside=$!
    sleep 2
    echo "COMMIT;" >&7
    exec 7>&-
    wait $other || true
    if wait $beside; then s=0; else s=$?; fi
    expect "a switch beside another fails, naming FN_PAD" "$s $(grep -c 'NOT SWITCHED' "$work/switch-beside.out")" "[1-9]* 1"
    expect "and says the other switched it" "$(grep '^NOW  *now' "$work/switch-beside.out")" "*now 19 on the UDR and 2 on the UDF; this run switched 18, and the engine refused 1*"
    echo "--- switch_to_udr.sql beside another transaction:"; cat "$work/switch-beside.out"
    expect "left: FREE_IT, and the one that never worked" "$(grep -c '^ACTION  *left as a UDF: \(FREE_IT\|it never worked\)' "$work/switch-beside.out")" 2
    isql -i "$build/sql/switch_to_udr.sql" "$db" > "$work/switch-again.out"
    expect "a switch with nothing left to switch" "$(grep '^NOW  *now' "$work/switch-again.out")" "*this run switched 0"
    expect "the index built under the UDF in 2000 finds this year's row" \
        "$(value "$db" "SELECT COUNT(*) FROM customers WHERE FN_CURRYR() + id = EXTRACT(YEAR FROM CURRENT_DATE) + 1;")" 1
    isql -i "$build/sql/check.sql" "$db" > "$work/check-after.out"
    expect "every switched declaration safe" "$(grep -c '^VERDICT  *safe$' "$work/check-after.out")" 19
    dependents dependents "$db" "switched in place"
    isql-fb -q -m -i "$top/sql/drop.sql" "$db" > "$work/drop.out" 2>&1 || true
    expect "drop.sql names what uses the functions, says nothing dropped, and drops none" \
        "$(grep -c '^USED_BY' "$work/drop.out") $(grep -c '^DROPPED' "$work/drop.out") $(value "$db" "SELECT COUNT(*) FROM RDB\$FUNCTIONS WHERE RDB\$FUNCTION_NAME STARTING WITH 'FN_';")" \
        "1[0-9] 0 6"
    overflow "$db"
    rm -f "$backup_switched"
    gbak -b "$db" "$backup_switched"
    unset ISC_USER
fi
for f in "$backup" "$backup_d1" "$backup_switched"; do [ -f "$f" ] || { echo "no backup from Firebird 3.0 at $f"; exit 1; }; done
rm -rf "$legacy"

# From the backups, through morvanfn-upgrade, as a new server has them.
export ISC_USER=SYSDBA
restore "$backup" "$work/restored.fdb"
expect "the restore, naming OLD_DATE and NEVER_PAD for the DBA" \
    "$status $(grep -c '^morvanfn-upgrade: done' "$work/restore-restored.fdb.out") $(grep -c 'UNSAFE' "$work/restore-restored.fdb.out")" "2 1 2"
expect "the owner kept" "$(value "$work/restored.fdb" 'SELECT MON$OWNER FROM MON$DATABASE;')" ALICE
expect "said so" "$(grep -c '^morvanfn-upgrade: database owner: ALICE$' "$work/restore-restored.fdb.out")" 1
expect "the users a new server needs are named, with the statements that make them" \
    "$(grep -c "^morvanfn-upgrade: users this database names (owners, grants): ALICE, BOB\..*: CREATE USER ALICE PASSWORD '...'; CREATE USER BOB PASSWORD '...'\$" "$work/restore-restored.fdb.out")" 1
expect "the engine named from the engine" "$(grep -c '^morvanfn-upgrade: engine: [LW]I-[VT]' "$work/restore-restored.fdb.out")" 1
expect "indexes active" "$(value "$work/restored.fdb" 'SELECT COUNT(*) FROM RDB$INDICES WHERE RDB$INDEX_INACTIVE <> 0;')" 0
dependents dependents "$work/restored.fdb" "restored"
expect "whose owner may still change it" \
    "$(echo "CREATE TABLE t_new (n INTEGER); COMMIT; SET LIST ON; SELECT COUNT(*) AS n FROM t_new; DROP TABLE t_new; COMMIT;" | ISC_USER=ALICE isql "$work/restored.fdb" | awk '$1 == "N" {print $2}')" 0
overflow "$work/restored.fdb"
# check.sql through connections in UTF8, WIN1251 and no character set.
for cs in UTF8 WIN1251 NONE; do
    isql-fb -q -m -ch $cs -i "$build/sql/check.sql" "$work/restored.fdb" > "$work/check-$cs.out" 2>&1 || true
    expect "check.sql through a $cs connection reports every function" "$(grep -c '^VERDICT' "$work/check-$cs.out")" 21
done

restore "$backup_d1" "$work/restored-dialect1.fdb"
expect "the dialect 1 database" "$status $(value "$work/restored-dialect1.fdb" 'SELECT MON$SQL_DIALECT FROM MON$DATABASE;')" "0 1"
dependents dialect1_dependents "$work/restored-dialect1.fdb" "restored"

# Switched in place before its backup: nothing left to switch, every UDR
# as the module reads it.
restore "$backup_switched" "$work/restored-switched.fdb"
expect "a database switched before its backup" \
    "$status $(grep -c 'this run switched 0' "$work/restore-restored-switched.fdb.out") $(isql -i "$build/sql/check.sql" "$work/restored-switched.fdb" | grep -c '^VERDICT  *safe$')" "2 1 19"
dependents dependents "$work/restored-switched.fdb" "switched in place, then restored"

# UDR declarations are judged as the module reads them: check.sql's verdict
# on each is the module's own refusal at a call, or safe where a call works.
verdict() { awk -v f="$1" '$1 == "FUNCTION_NAME" { n = $2 } $1 == "VERDICT" && n == f { $1 = ""; print substr($0, 2) }' "$2"; }
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
isql -i "$work/udr.sql" "$work/restored.fdb"
isql -i "$build/sql/check.sql" "$work/restored.fdb" | unqualified > "$work/check-udr.out"
for call in "UDR_BIGINT(1, 2)" "UDR_CHAR_RESULT('a', 'b')" "UDR_ONE_ARGUMENT(1)" "UDR_RULE_CASE(1, 2)" \
            "UDR_CHAR_SJIS('a', 'b')" "UDR_STRLEN_CHAR('a')" "UDR_CHAR_UTF8('a', 'b')" "UDR_SMALL(1, 2)"; do
    f=${call%%(*}
    said=$(echo "SELECT $call FROM RDB\$DATABASE;" | isql "$work/restored.fdb" | sed -n 's/^\(morvanfn_udr: .*\)/UNSAFE: \1 (every call fails)/p')
    expect "check.sql on $f as a call finds it" "$(verdict "$f" "$work/check-udr.out")" "${said:-safe}"
done
echo "upgrade on $FB_ENGINE: $([ $failed = 0 ] && echo passed || echo FAILED)"
[ $failed = 0 ]
