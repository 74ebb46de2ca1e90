#!/bin/sh
# morvanfn-upgrade restore against hostile backups and hostile conditions,
# on one engine; each backup is made here, by that engine:
#
#   an injected index name: expression indexes named X"ACTIVE;DROP/**/TABLE/**/T2;--,
#     MY IDX and *, built by the tool after the switch: T2 keeps its rows,
#     each index is active under its own name;
#   a foreign library named by its path, used by an expression index: the
#     restore refuses it while the library is there, or where anyone could
#     put it back, and, once it is gone from a directory of this user's (or
#     of their own group's), restores with the index inactive and named; it
#     never runs;
#   a file that appears at the target while the restore runs: left as it is;
#   two runs on one target: the second refuses at once, the first finishes;
#   SIGTERM and SIGINT: the run stops and leaves nothing; SIGKILL: the next
#     run removes and names what is left;
#   a truncated backup, with a keyboard that never answers: a failure, at once;
#   odd arguments: a name starting with -, with blanks and quotes, an
#     exported CDPATH, a dangling link at the target, a linked directory;
#   an owner named "Alice_B", read-only, in two volumes, a CSTRING(8) giving
#     10 characters through a view and an index only the UDR can build:
#     restored as a plain gbak -c as that user with the UDF restores it
#     (owner, read-only, answers, the index), names quoted in the CREATE USER
#     advice; --owner '"O""Brien"';
#   1,200 declarations on this library, switched in place;
#   a backup in three volumes: in order, out of order, one named twice, the
#     last one missing;
#   CSTRING(8) results, inherited and named, in NONE, OCTETS, WIN1251,
#     WIN1252 and UTF8 databases, through a view and expression indexes:
#     the same answers after a switch in place and after a restore;
#   a read-only database of another page size, sweep interval, write mode
#     and character set: every property a plain restore keeps, switched;
#   UDFs on other libraries (ib_udf's RTRIM, a vendor's): named, with the
#     built-in that replaces one; UdfAccess = None advised only when no UDF
#     is left;
#   the database's own code: ON CONNECT triggers writing into another
#     database (EXECUTE STATEMENT ON EXTERNAL) and to a log, one that never
#     returns, a login gate, a DDL trigger that sees the switch's ALTERs:
#     none fires in restore, check or switch, and check writes nothing;
#   names a terminal must not obey: grantees, a table and an index named
#     with ESC, OSC 52, BEL, backspaces, CR, newlines and U+202E: shown as
#     escapes, on a pseudo-terminal too; the index named with a newline is
#     built;
#   a Firebird whose plugins/ anyone may write: refused;
#   stops in place: SIGINT, SIGTERM and SIGHUP during a switch's index
#     build cancel it, say what was committed and leave no index with the
#     UDF's keys; a rerun names the index left inactive; check stopped ends
#     cleanly;
#   this library named by the old server's path, whose directory still holds
#     files (the engine sees it empty for the run), as root and as another
#     user: switched, and nothing there loaded;
#   as root, a neighbour (a throwaway account owning the target's directory):
#     a link swapped in for the run's directory while it restores, leftovers
#     and a run root of the neighbour's holding links to root's files: root
#     touches none of them.
#
# usage: firebird.sh ENGINE run sh restore_safety_test.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
[ -n "${FB_ENGINE:-}" ] || { echo "run me through scripts/firebird.sh ENGINE run"; exit 1; }
work=$build/safetytest/$FB_ENGINE
rm -rf "$work"
mkdir -p "$work/modules" "$work/out"
failed=0
. "$here/engine_root.sh"
# A value read with no database trigger fired (the hostile ones have them).
value() { echo "SET LIST ON; $2" | isql-fb -q -m -nod "$1" 2>&1 | awk 'NF >= 2 { $1 = ""; print substr($0, 2); exit }'; }
# This library as a DBA installs it, apart from everything else.
cp "$build/morvanfn.so" "$build/libmorvanfn_udr.so" "$work/modules/"
tool() { "$build/morvanfn-upgrade" --firebird "$FB_LIB" --udr "$work/modules/libmorvanfn_udr.so" "$@"; }
# The same in the background, its pid in $! (the program's, not a shell's).
tool_bg() { "$build/morvanfn-upgrade" --firebird "$FB_LIB" --udr "$work/modules/libmorvanfn_udr.so" "$@" & }
# leftovers DIR NAME: what runs on NAME left in DIR.
leftovers() { ls -a "$1" | grep -c "^\.$2\.morvanfn-" || true; }
# scratch_appears DIR NAME: waits until a run's scratch database is there,
# in the run's own directory beside the target.
scratch_appears() {
    for i in $(seq 600); do
        ls "$1/.$2.morvanfn-"*.d/database.fdb > /dev/null 2>&1 && return 0
        sleep 0.05
    done
    return 1
}
# The foreign library, a copy of this run's own, which it takes away.
evil=$work/hostile
mkdir -p "$evil"
cp "$build/hostile/evil.so" "$evil/"
# The old server's UDF directory of a same-machine upgrade.
mkdir -p "$work/oldudf"
cp "$build/morvanfn.so" "$work/oldudf/"
sh "$here/../scripts/firebird.sh" "$FB_ENGINE" root "$work/root" "$work/modules;$evil;$work/oldudf"
cp "$build/libmorvanfn_udr.so" "$work/root/udr/"
export FIREBIRD="$work/root" FIREBIRD_LOCK="$work/root/lock" FIREBIRD_TMP="$work/root/tmp" ISC_USER=SYSDBA
export MORVANFN_EVIL_MARK="$work/evil-ran"

# --- the databases, made by this engine ---------------------------------
names=$work/names.fdb
isql-fb -q -m <<SQL
CREATE DATABASE '$names' DEFAULT CHARACTER SET UTF8;
SQL
isql-fb -q -m -i "$here/../sql/declare.sql" "$names"
isql-fb -q -m "$names" <<'SQL'
CREATE TABLE T (N INTEGER, S VARCHAR(20));
CREATE TABLE T2 (N INTEGER);
COMMIT;
INSERT INTO T VALUES (1, 'a'); INSERT INTO T VALUES (2, 'b');
INSERT INTO T2 VALUES (1); INSERT INTO T2 VALUES (2); INSERT INTO T2 VALUES (3);
COMMIT;
CREATE INDEX "X""ACTIVE;DROP/**/TABLE/**/T2;--" ON T COMPUTED BY (FN_PAD(N, 3));
CREATE INDEX "MY IDX" ON T COMPUTED BY (FN_STRLEN(S));
CREATE INDEX "*" ON T COMPUTED BY (FN_PAD(N, 4));
COMMIT;
SQL
gbak -b "$names" "$work/names.fbk"

foreign=$work/foreign.fdb
isql-fb -q -m <<SQL
CREATE DATABASE '$foreign';
DECLARE EXTERNAL FUNCTION EVIL_LEN CSTRING(100) RETURNS INTEGER BY VALUE
    ENTRY_POINT 'evil_len' MODULE_NAME '$evil/evil.so';
CREATE TABLE T (S VARCHAR(100));
CREATE TABLE T2 (N INTEGER);
COMMIT;
INSERT INTO T VALUES ('abc'); INSERT INTO T2 VALUES (1);
COMMIT;
CREATE INDEX T_EVIL ON T COMPUTED BY (EVIL_LEN(S));
COMMIT;
SQL
gbak -b "$foreign" "$work/foreign.fbk"
rm -f "$MORVANFN_EVIL_MARK"

# Large enough that a restore lasts a while: 200,000 rows.
big=$work/big.fdb
isql-fb -q -m <<SQL
CREATE DATABASE '$big';
CREATE TABLE R (N INTEGER, S VARCHAR(100));
COMMIT;
SET TERM ^;
EXECUTE BLOCK AS DECLARE i INTEGER = 0; BEGIN
    WHILE (i < 200000) DO BEGIN INSERT INTO R VALUES (:i, RPAD(:i, 100, 'x')); i = i + 1; END
END^
SET TERM ;^
COMMIT;
SQL
gbak -b "$big" "$work/big.fbk"

# --- an injected index name ----------------------------------------------
# The restore cannot build these (no UDF runs): the tool builds them after
# the switch, each name quoted.
out=$work/out/names.fdb
if tool restore "$work/names.fbk" "$out" > "$out.log" 2>&1; then s=0; else s=$?; fi
expect "injected index names: restored" "$s" 0
expect "T2 and its rows kept" "$(value "$out" 'SELECT COUNT(*) FROM T2;')" 3
expect "each index active, under its own name" \
    "$(value "$out" "SELECT CAST(LIST(TRIM(RDB\$INDEX_NAME) || '=' || COALESCE(RDB\$INDEX_INACTIVE, 0), ' ') AS VARCHAR(200)) FROM (SELECT RDB\$INDEX_NAME, RDB\$INDEX_INACTIVE FROM RDB\$INDICES WHERE RDB\$RELATION_NAME = 'T' ORDER BY 1);")" \
    '[*]=0 MY IDX=0 X"ACTIVE;DROP/[*][*]/TABLE/[*][*]/T2;--=0'

# --- a foreign library named by its path -----------------------------------
if tool restore "$work/foreign.fbk" "$work/out/foreign.fdb" > "$work/foreign.log" 2>&1; then s=0; else s=$?; fi
expect "a library the backup names by a path, there: refused" "$s $([ -e "$work/out/foreign.fdb" ] && echo made || echo 'nothing made')" "1 nothing made"
expect "naming it" "$(grep -c "names by the path $evil/evil.so\|named by the path $evil/evil.so" "$work/foreign.log")" 1
expect "it never ran" "$([ -e "$MORVANFN_EVIL_MARK" ] && echo ran || echo 'never ran')" "never ran"
mv "$evil" "$evil.away"
# Gone, but where anyone could put it back: refused.
chmod o+w "$work"
if tool restore "$work/foreign.fbk" "$work/out/foreign.fdb" > "$work/foreign-open.log" 2>&1; then s=0; else s=$?; fi
chmod o-w "$work"
expect "gone from a directory anyone may write: refused" "$s $(grep -c "$work is writable by others" "$work/foreign-open.log")" "1 1"
# Writable by a group of this user alone, as umask 002 leaves a directory
# under Debian's user-private groups: as safe as this user's own.
if [ -z "$(getent group "$(id -g)" | cut -d: -f4)" ] && [ "$(getent passwd | awk -F: -v g="$(id -g)" '$4 == g' | wc -l)" = 1 ]; then
    chmod g+w "$work"
else
    echo "(group $(id -gn) is not this user's alone: the directory is made not group-writable)"
    chmod g-w "$work"
fi
if tool restore "$work/foreign.fbk" "$work/out/foreign.fdb" > "$work/foreign-gone.log" 2>&1; then s=0; else s=$?; fi
mv "$evil.away" "$evil"
expect "gone: restored, the index left for the DBA" "$s $(value "$work/out/foreign.fdb" 'SELECT COUNT(*) FROM T2;')" "2 1"
expect "the index inactive, named" "$(grep -c '^morvanfn-upgrade: indexes: 0 active, 1 inactive: T_EVIL on T$' "$work/foreign-gone.log")" 1
expect "it never ran" "$([ -e "$MORVANFN_EVIL_MARK" ] && echo ran || echo 'never ran')" "never ran"

# --- a file that appears at the target meanwhile --------------------------
target=$work/out/appears.fdb
tool_bg restore "$work/big.fbk" "$target" > "$work/appears.log" 2>&1
run=$!
scratch_appears "$work/out" appears.fdb
echo "someone else's" > "$target"
if wait $run; then s=0; else s=$?; fi
expect "a file that appeared at the target is left as it is, the finished database kept" \
    "$s $(cat "$target") $(leftovers "$work/out" appears.fdb)" "1 someone else's 1"
expect "said so, and where the finished database is" \
    "$(grep -c "appeared at .*appears.fdb meanwhile: .* the finished database is $work/out/\.appears\.fdb\.morvanfn-.*\.d/database\.fdb" "$work/appears.log")" 1

# --- two runs on one target ------------------------------------------------
target=$work/out/twice.fdb
tool_bg restore "$work/big.fbk" "$target" > "$work/first.log" 2>&1
first=$!
scratch_appears "$work/out" twice.fdb
if tool restore "$work/big.fbk" "$target" > "$work/second.log" 2>&1; then s=0; else s=$?; fi
expect "a second run on the same target refuses" "$s $(grep -c 'another morvanfn-upgrade run is working on' "$work/second.log")" "1 1"
if wait $first; then s=0; else s=$?; fi
expect "the first finishes" "$s $(value "$target" 'SELECT COUNT(*) FROM R;')" "0 200000"

# --- stopped -----------------------------------------------------------------
for signal in TERM INT; do
    target=$work/out/stopped-$signal.fdb
    tool_bg restore "$work/big.fbk" "$target" > "$work/stopped-$signal.log" 2>&1
    run=$!
    scratch_appears "$work/out" "stopped-$signal.fdb"
    kill -$signal $run
    if wait $run; then s=0; else s=$?; fi
    expect "SIG$signal stops the run, and it leaves nothing" \
        "$s $(leftovers "$work/out" "stopped-$signal.fdb") $([ -e "$target" ] && echo made || echo 'nothing made')" "1 0 nothing made"
done
target=$work/out/killed.fdb
tool_bg restore "$work/big.fbk" "$target" > "$work/killed.log" 2>&1
run=$!
scratch_appears "$work/out" killed.fdb
kill -KILL $run
wait $run || true
expect "SIGKILL leaves the run's files" "$(leftovers "$work/out" killed.fdb)" "[1-9]*"
if tool restore "$work/big.fbk" "$target" > "$work/after-killed.log" 2>&1; then s=0; else s=$?; fi
expect "the next run removes and names them, and finishes" \
    "$s $(grep -c 'left by an earlier run that was stopped' "$work/after-killed.log") $(leftovers "$work/out" killed.fdb)" "0 [1-9]* 0"

# --- a truncated backup, and a keyboard that never answers -----------------
head -c 20000 "$work/big.fbk" > "$work/truncated.fbk"
mkfifo "$work/keyboard"
exec 8<> "$work/keyboard"  # open, and never written to
if timeout 60 "$build/morvanfn-upgrade" --firebird "$FB_LIB" --udr "$work/modules/libmorvanfn_udr.so" \
        restore "$work/truncated.fbk" "$work/out/truncated.fdb" < "$work/keyboard" > "$work/truncated.log" 2>&1; then s=0; else s=$?; fi
exec 8>&-
expect "a truncated backup fails at once, reading nothing from the keyboard" \
    "$s $(leftovers "$work/out" truncated.fdb) $([ -e "$work/out/truncated.fdb" ] && echo made || echo 'nothing made')" "1 0 nothing made"

# --- odd arguments -----------------------------------------------------------
mkdir -p "$work/out/a dir" "$work/elsewhere/sub" "$work/here/sub"
odd='-odd name '"'"'q'"'"' "dq".fdb'
if (cd "$work/out/a dir" && tool restore -- "$work/names.fbk" "$odd") > "$work/odd.log" 2>&1; then s=0; else s=$?; fi
expect "a name starting with -, with blanks and quotes" "$s $([ -f "$work/out/a dir/$odd" ] && echo made)" "0 made"
if (cd "$work/here" && CDPATH="$work/elsewhere" && export CDPATH && tool restore "$work/names.fbk" sub/cd.fdb) > "$work/cdpath.log" 2>&1; then s=0; else s=$?; fi
expect "an exported CDPATH changes nothing" "$s $([ -f "$work/here/sub/cd.fdb" ] && echo here) $([ -e "$work/elsewhere/sub/cd.fdb" ] && echo elsewhere)" "0 here "
ln -s "$work/nowhere.fdb" "$work/out/dangling.fdb"
if tool restore "$work/names.fbk" "$work/out/dangling.fdb" > "$work/dangling.log" 2>&1; then s=0; else s=$?; fi
expect "a dangling link at the target is never replaced" "$s $(readlink "$work/out/dangling.fdb") $([ -e "$work/nowhere.fdb" ] && echo followed)" "1 $work/nowhere.fdb "
ln -s "$work/elsewhere" "$work/out/linked"
if tool restore "$work/names.fbk" "$work/out/linked/through.fdb" > "$work/linked.log" 2>&1; then s=0; else s=$?; fi
expect "a linked directory" "$s $([ -f "$work/elsewhere/through.fdb" ] && echo made)" "0 made"

# --- CSTRING(8) in every kind of character set: the answers kept --------------------------
# In each database set, one declaration inheriting it and one naming it; a
# view and an expression index over each, with the longest results the
# UDF's buffer took (10 characters in UTF8's 32 bytes, 8 elsewhere).  Their
# answers under the UDF, after a switch in place, and after a restore.
answers() {
    printf 'SET LIST ON;\nSELECT CAST(LIST(d, \047,\047) AS VARCHAR(200)) AS v FROM (SELECT d FROM DOCS_VIEW ORDER BY n);\nSET PLAN ON;\nSELECT COUNT(*) AS i FROM DOCS WHERE DOC_A(n, %s) = LPAD(2, %s, \0470\047);\nSELECT COUNT(*) AS j FROM DOCS WHERE DOC_B(n, %s) = LPAD(3, %s, \0470\047);\n' \
        "$2" "$2" "$2" "$2" | isql-fb -q -m -nod "$1" 2>&1 | grep -v '^$'
}
for cs in NONE OCTETS WIN1251 WIN1252 UTF8; do
    w=8; [ $cs = UTF8 ] && w=10
    db=$work/cs-$cs.fdb
    isql-fb -q -m <<SQL
CREATE DATABASE '$db' DEFAULT CHARACTER SET $cs;
DECLARE EXTERNAL FUNCTION DOC_A INTEGER, INTEGER, CSTRING(8)
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_pad' MODULE_NAME 'morvanfn';
DECLARE EXTERNAL FUNCTION DOC_B INTEGER, INTEGER, CSTRING(8) CHARACTER SET $cs
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_pad' MODULE_NAME 'morvanfn';
COMMIT;
CREATE TABLE DOCS (N INTEGER);
CREATE INDEX DOCS_A ON DOCS COMPUTED BY (DOC_A(N, $w));
CREATE INDEX DOCS_B ON DOCS COMPUTED BY (DOC_B(N, $w));
CREATE VIEW DOCS_VIEW (N, D) AS SELECT N, CAST(DOC_A(N, $w) AS VARCHAR(10)) || '/' || CAST(DOC_B(N, $w) AS VARCHAR(10)) FROM DOCS;
COMMIT;
INSERT INTO DOCS VALUES (1); INSERT INTO DOCS VALUES (2); INSERT INTO DOCS VALUES (3);
COMMIT;
SQL
    answers "$db" $w > "$work/cs-$cs.udf"
    gbak -b "$db" "$work/cs-$cs.fbk"
    if tool switch "$db" > "$work/cs-$cs-switch.log" 2>&1; then s=0; else s=$?; fi
    answers "$db" $w > "$work/cs-$cs.switched"
    if tool restore "$work/cs-$cs.fbk" "$work/out/cs-$cs.fdb" > "$work/cs-$cs-restore.log" 2>&1; then r=0; else r=$?; fi
    answers "$work/out/cs-$cs.fdb" $w > "$work/cs-$cs.restored"
    expect "CSTRING(8) in a $cs database, inherited and named: every answer of its view and indexes kept, in place and restored" \
        "$s $r $(grep -c '^V  *0*1/0*1,0*2/0*2,0*3/0*3$' "$work/cs-$cs.udf") $(cmp -s "$work/cs-$cs.udf" "$work/cs-$cs.switched" && echo same) $(cmp -s "$work/cs-$cs.udf" "$work/cs-$cs.restored" && echo same)" \
        "0 0 1 same same"
done

# --- what a plain restore keeps, the tool keeps ---------------------------------------
props=$work/props.fdb
isql-fb -q -m <<SQL
CREATE DATABASE '$props' PAGE_SIZE 16384 DEFAULT CHARACTER SET WIN1252;
SQL
isql-fb -q -m -i "$here/../sql/declare.sql" "$props"
gfix -h 1234 "$props"
gfix -write async "$props"
gfix -mode read_only "$props"
gbak -b "$props" "$work/props.fbk"
properties() {
    value "$1" "SELECT MON\$READ_ONLY || ' ' || MON\$FORCED_WRITES || ' ' || MON\$SWEEP_INTERVAL || ' ' || MON\$PAGE_SIZE
        || ' ' || MON\$SQL_DIALECT || ' ' || TRIM(RDB\$CHARACTER_SET_NAME) FROM MON\$DATABASE CROSS JOIN RDB\$DATABASE;"
}
gbak -se service_mgr -c "$work/props.fbk" "$work/out/props-plain.fdb"
if tool restore "$work/props.fbk" "$work/out/props.fdb" > "$work/props.log" 2>&1; then s=0; else s=$?; fi
expect "read-only, page size, sweep interval, forced writes, dialect, character set: as a plain restore's" \
    "$s $(properties "$work/out/props.fdb")" "0 $(properties "$work/out/props-plain.fdb")"
expect "and switched all the same" "$(value "$work/out/props.fdb" "SELECT COUNT(*) FROM RDB\$FUNCTIONS WHERE RDB\$ENGINE_NAME = 'UDR';")" 6

# --- a backup in several volumes ------------------------------------------------------------
gbak -b "$big" "$work/vol1.fbk" 3000000 "$work/vol2.fbk" 3000000 "$work/vol3.fbk"
volumes() {
    if tool restore "$@" > "$work/volumes.log" 2>&1; then s=0; else s=$?; fi
    echo "$s $([ -e "${1%/*}/out/volumes.fdb" ] && echo made || echo 'nothing made')"
}
expect "three volumes in order" "$(volumes "$work/vol1.fbk" "$work/vol2.fbk" "$work/vol3.fbk" "$work/out/volumes.fdb") $(value "$work/out/volumes.fdb" 'SELECT COUNT(*) FROM R;')" "0 made 200000"
rm -f "$work/out/volumes.fdb"
expect "out of order: named" "$(volumes "$work/vol2.fbk" "$work/vol1.fbk" "$work/vol3.fbk" "$work/out/volumes.fdb") $(grep -c 'vol2.fbk out of sequence' "$work/volumes.log")" "1 nothing made 1"
expect "one named twice: named, before anything runs" "$(volumes "$work/vol1.fbk" "$work/vol1.fbk" "$work/vol3.fbk" "$work/out/volumes.fdb") $(grep -c 'the volume .*vol1.fbk is named twice' "$work/volumes.log")" "1 nothing made 1"
expect "the last one missing: said" "$(volumes "$work/vol1.fbk" "$work/vol2.fbk" "$work/out/volumes.fdb") $(grep -c 'vol2.fbk, the last volume given: a volume is missing' "$work/volumes.log")" "1 nothing made 1"

# --- an owner whose name needs quotes, read-only, in two volumes -------------------------
# A CSTRING(8) with no character set: 10-character numbers through a view
# and an index, which a restore cannot build without the UDF.
isql-fb -q -m -user '"Alice_B"' <<SQL
CREATE DATABASE '$work/quoted.fdb' DEFAULT CHARACTER SET UTF8;
DECLARE EXTERNAL FUNCTION DOC_NO INTEGER, INTEGER, CSTRING(8)
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_pad' MODULE_NAME 'morvanfn';
CREATE TABLE T (N INTEGER);
GRANT SELECT ON T TO USER "bob";
COMMIT;
CREATE INDEX T_DOC ON T COMPUTED BY (DOC_NO(N, 10));
CREATE VIEW T_DOCS (DOC) AS SELECT CAST(DOC_NO(N, 10) AS VARCHAR(10)) FROM T;
INSERT INTO T VALUES (7);
COMMIT;
SQL
gfix -user '"Alice_B"' -mode read_only "$work/quoted.fdb"
gbak -user '"Alice_B"' -b "$work/quoted.fdb" "$work/quoted1.fbk" 20000 "$work/quoted2.fbk"
owner_and_mode() {
    value "$1" "SELECT TRIM(MON\$OWNER) || ' ' || MON\$READ_ONLY || ' ' || (SELECT DOC FROM T_DOCS) || ' '
        || (SELECT RDB\$INDEX_INACTIVE FROM RDB\$INDICES WHERE RDB\$INDEX_NAME = 'T_DOC') FROM MON\$DATABASE;"
}
gbak -user '"Alice_B"' -c "$work/quoted1.fbk" "$work/quoted2.fbk" "$work/out/quoted-plain.fdb"
if tool restore "$work/quoted1.fbk" "$work/quoted2.fbk" "$work/out/quoted.fdb" > "$work/quoted.log" 2>&1; then s=0; else s=$?; fi
expect "an owner named \"Alice_B\", read-only, two volumes: as a plain restore as that user" \
    "$s $(owner_and_mode "$work/out/quoted.fdb") $(grep -c "CREATE USER \"Alice_B\" PASSWORD '...'; CREATE USER \"bob\" PASSWORD '...'\$" "$work/quoted.log")" \
    "0 $(owner_and_mode "$work/out/quoted-plain.fdb") 1"
if tool --owner '"O""Brien"' restore "$work/quoted1.fbk" "$work/quoted2.fbk" "$work/out/obrien.fdb" > "$work/obrien.log" 2>&1; then s=0; else s=$?; fi
expect "--owner takes a name as SQL writes it" "$s $(owner_and_mode "$work/out/obrien.fdb")" '0 O"Brien 1 0000000007 0'

# --- any number of declarations ---------------------------------------------------------
many=$work/many.fdb
isql-fb -q -m <<SQL
CREATE DATABASE '$many';
SQL
isql-fb -q -m "$many" <<'SQL'
SET TERM ^;
EXECUTE BLOCK AS DECLARE i INTEGER = 0; BEGIN
    WHILE (i < 1200) DO BEGIN
        i = i + 1;
        EXECUTE STATEMENT 'DECLARE EXTERNAL FUNCTION PAD_' || i || ' INTEGER, INTEGER, CSTRING(255) CHARACTER SET NONE '
            || 'RETURNS PARAMETER 3 ENTRY_POINT ''_fn_pad'' MODULE_NAME ''morvanfn''';
    END
END^
SET TERM ;^
COMMIT;
CREATE TABLE T (N INTEGER);
CREATE INDEX T_PAD ON T COMPUTED BY (PAD_1200(N, 4));
COMMIT;
INSERT INTO T VALUES (7);
COMMIT;
SQL
if tool switch "$many" > "$work/many.log" 2>&1; then s=0; else s=$?; fi
expect "1,200 declarations switched in place, the index on the last built" \
    "$s $(grep -c 'now 1200 on the UDR and 0 on the UDF; this run switched 1200$' "$work/many.log") $(value "$many" "SELECT COUNT(*) FROM T WHERE PAD_1200(N, 4) = '0007';")" "0 1 1"

# --- UDFs on other libraries: named, with what replaces them -----------------------------
other=$work/other.fdb
isql-fb -q -m <<SQL
CREATE DATABASE '$other';
SQL
isql-fb -q -m -i "$here/../sql/declare.sql" "$other"
isql-fb -q -m "$other" <<'SQL'
DECLARE EXTERNAL FUNCTION RTRIM CSTRING(255) RETURNS CSTRING(255) FREE_IT
    ENTRY_POINT 'IB_UDF_rtrim' MODULE_NAME 'ib_udf';
DECLARE EXTERNAL FUNCTION VENDOR_HASH CSTRING(255) RETURNS INTEGER BY VALUE
    ENTRY_POINT 'hash' MODULE_NAME 'vendorudf';
COMMIT;
SQL
gbak -b "$other" "$work/other.fbk"
if tool restore "$work/other.fbk" "$work/out/other.fdb" > "$work/other.log" 2>&1; then s=0; else s=$?; fi
expect "UDFs on other libraries named, with the built-in that replaces one, and UdfAccess kept" \
    "$s $(grep -c '^morvanfn-upgrade:   RTRIM: UDF on ib_udf (IB_UDF_rtrim), used by nothing; Firebird has TRIM(TRAILING FROM s) built in' "$work/other.log") $(grep -c '^morvanfn-upgrade:   VENDOR_HASH: UDF on vendorudf (hash), used by nothing$' "$work/other.log") $(grep -c '^morvanfn-upgrade: UdfAccess: UDFs are left' "$work/other.log")" \
    "2 1 1 1"
expect "UdfAccess = None advised only where no UDF is left" "$(grep -c 'UdfAccess: no UDF is left' "$work/out/names.fdb.log") $(grep -c 'UdfAccess: no UDF is left' "$work/other.log")" "1 0"

for step in meta restore finish nothing; do
    if tool --step $step "$work/root" > "$work/step.log" 2>&1; then s=0; else s=$?; fi
    expect "a step given too few arguments fails cleanly ($step)" "$s $(grep -c 'FAILED: \(internal: the step\|no step\)' "$work/step.log")" "1 1"
done

# --- the database's own code never runs ------------------------------------------
mkdir -p "$work/private"
victim=$work/private/victim.fdb
isql-fb -q -m <<SQL
CREATE DATABASE '$victim';
CREATE TABLE V (N INTEGER);
COMMIT;
SQL
chmod 600 "$victim"
code=$work/code.fdb
isql-fb -q -m <<SQL
CREATE DATABASE '$code' DEFAULT CHARACTER SET UTF8;
SQL
isql-fb -q -m -i "$here/../sql/declare.sql" "$code"
isql-fb -q -m "$code" <<SQL
CREATE TABLE LOG (WHAT VARCHAR(40));
CREATE TABLE T2 (N INTEGER);
CREATE VIEW PADDED AS SELECT FN_PAD(N, 3) AS P FROM T2;
COMMIT;
INSERT INTO T2 VALUES (1); INSERT INTO T2 VALUES (2); INSERT INTO T2 VALUES (3);
COMMIT;
SET TERM ^;
CREATE TRIGGER OUT_OF_BOUNDS ON CONNECT AS BEGIN
    INSERT INTO LOG VALUES ('connect');
    EXECUTE STATEMENT 'INSERT INTO V VALUES (1)' ON EXTERNAL '$victim';
END^
CREATE TRIGGER SEES_DDL BEFORE ANY DDL STATEMENT AS BEGIN DELETE FROM T2; END^
SET TERM ;^
COMMIT;
SQL
gbak -b -nod "$code" "$work/code.fbk"
hang=$work/hang.fdb
isql-fb -q -m <<SQL
CREATE DATABASE '$hang';
CREATE TABLE T (N INTEGER);
SET TERM ^;
CREATE TRIGGER NEVER_RETURNS ON CONNECT AS DECLARE i INTEGER = 0; BEGIN WHILE (1 = 1) DO i = i + 1; END^
SET TERM ;^
COMMIT;
SQL
gbak -b -nod "$hang" "$work/hang.fbk"
gate=$work/gate.fdb
isql-fb -q -m <<SQL
CREATE DATABASE '$gate';
CREATE TABLE T (N INTEGER);
CREATE EXCEPTION NOT_THE_APPLICATION 'only the application may connect';
SET TERM ^;
CREATE TRIGGER LOGIN_GATE ON CONNECT AS BEGIN
    IF (CURRENT_USER <> 'APP') THEN EXCEPTION NOT_THE_APPLICATION;
END^
SET TERM ;^
COMMIT;
SQL
gbak -b -nod "$gate" "$work/gate.fbk"
untouched() { echo "$(value "$victim" 'SELECT COUNT(*) FROM V;') $(value "$1" 'SELECT COUNT(*) FROM LOG;') $(value "$1" 'SELECT COUNT(*) FROM T2;')"; }

out=$work/out/code.fdb
if tool restore "$work/code.fbk" "$out" > "$work/code.log" 2>&1; then s=0; else s=$?; fi
expect "restore: no trigger fires (another database, the log, the DDL trigger)" "$s $(untouched "$out")" "0 0 0 3"
expect "and the switch happened" "$(value "$out" "SELECT COUNT(*) FROM RDB\$FUNCTIONS WHERE RDB\$ENGINE_NAME = 'UDR';")" 6
cp "$code" "$work/code-check.fdb"
if tool check "$work/code-check.fdb" > "$work/code-check.log" 2>&1; then s=0; else s=$?; fi
expect "check: no trigger fires, nothing written" "$s $(untouched "$work/code-check.fdb") $(value "$work/code-check.fdb" "SELECT COUNT(*) FROM RDB\$FUNCTIONS WHERE RDB\$ENGINE_NAME = 'UDR';")" "0 0 0 3 0"
cp "$code" "$work/code-switch.fdb"
if tool switch "$work/code-switch.fdb" > "$work/code-switch.log" 2>&1; then s=0; else s=$?; fi
expect "switch in place: no trigger fires, the view still answers" \
    "$s $(untouched "$work/code-switch.fdb") $(value "$work/code-switch.fdb" 'SELECT CAST(LIST(P) AS VARCHAR(20)) FROM PADDED;')" "0 0 0 3 001,002,003"
if timeout 120 "$build/morvanfn-upgrade" --firebird "$FB_LIB" --udr "$work/modules/libmorvanfn_udr.so" \
        restore "$work/hang.fbk" "$work/out/hang.fdb" > "$work/hang.log" 2>&1; then s=0; else s=$?; fi
expect "an ON CONNECT trigger that never returns holds nothing" "$s" 0
if tool restore "$work/gate.fbk" "$work/out/gate.fdb" > "$work/gate.log" 2>&1; then s=0; else s=$?; fi
expect "a login gate does not stop the restore" "$s $([ -f "$work/out/gate.fdb" ] && echo made)" "0 made"

# --- names a terminal must not obey -------------------------------------------------
esc=$(printf '\033') cr=$(printf '\r') bel=$(printf '\007') bs=$(printf '\010') rlo=$(printf '\342\200\256')
shown=$work/shown.fdb
isql-fb -q -m <<SQL
CREATE DATABASE '$shown' DEFAULT CHARACTER SET UTF8;
SQL
isql-fb -q -m -i "$here/../sql/declare.sql" "$shown"
cat > "$work/shown.sql" <<SQL
CREATE TABLE "T${esc}[31m" (N INTEGER);
COMMIT;
INSERT INTO "T${esc}[31m" VALUES (7);
COMMIT;
CREATE INDEX "IDX
morvanfn-upgrade: forged" ON "T${esc}[31m" COMPUTED BY (FN_PAD(N, 3));
GRANT SELECT ON "T${esc}[31m" TO USER "U${cr}morvanfn-upgrade: done";
GRANT SELECT ON "T${esc}[31m" TO USER "${esc}]52;c;cm0gLXJmIH4=${bel}";
GRANT SELECT ON "T${esc}[31m" TO USER "${esc}[2J";
GRANT SELECT ON "T${esc}[31m" TO USER "A${rlo}B";
GRANT SELECT ON "T${esc}[31m" TO USER "XY${bs}${bs}Z";
COMMIT;
SQL
isql-fb -q -m -i "$work/shown.sql" "$shown"
gbak -b "$shown" "$work/shown.fbk"
raw_controls() { LC_ALL=C tr -d '\n' < "$1" | LC_ALL=C tr -dc '\000-\037\177' | wc -c; }
if tool restore "$work/shown.fbk" "$work/out/shown.fdb" > "$work/shown.log" 2>&1; then s=0; else s=$?; fi
expect "names shown: no control character, no bidi override, one done line" \
    "$s $(raw_controls "$work/shown.log") $(grep -c "$rlo" "$work/shown.log") $(grep -c '^morvanfn-upgrade: done' "$work/shown.log")" "0 0 0 1"
expect "as escapes" "$(grep -c -F '\x1b]52;c;cm0gLXJmIH4=\x07, A\u202eB, U\x0dmorvanfn-upgrade: done, XY\x08\x08Z' "$work/shown.log")" 1
expect "the index named with a newline built, under its whole name" \
    "$(value "$work/out/shown.fdb" "SELECT COUNT(*) FROM RDB\$INDICES WHERE RDB\$INDEX_NAME STARTING WITH 'IDX' AND RDB\$INDEX_INACTIVE = 0;")" 1
# A terminal: the progress bar is drawn, and still nothing but its CRs.
script -qec "'$build/morvanfn-upgrade' --firebird '$FB_LIB' --udr '$work/modules/libmorvanfn_udr.so' restore '$work/shown.fbk' '$work/out/shown-tty.fdb'" \
    "$work/shown-tty.log" > /dev/null 2>&1 < /dev/null || true
expect "on a terminal: no ESC, BEL, backspace or bidi override" \
    "$(LC_ALL=C tr -dc '\033\007\010' < "$work/shown-tty.log" | wc -c) $(grep -c "$rlo" "$work/shown-tty.log") $([ -f "$work/out/shown-tty.fdb" ] && echo made)" "0 0 made"

# --- a Firebird others may write to ------------------------------------------------------
mkdir -p "$work/open-firebird"
cp -R "$FB_LIB/." "$work/open-firebird/"
chmod o+w "$work/open-firebird/plugins"
if "$build/morvanfn-upgrade" --firebird "$work/open-firebird" --udr "$work/modules/libmorvanfn_udr.so" check "$work/code-check.fdb" \
        > "$work/open-firebird.log" 2>&1; then s=0; else s=$?; fi
expect "a Firebird whose plugins anyone may write is never loaded" \
    "$s $(grep -c 'is not safe to load as this user: .*plugins is writable by others' "$work/open-firebird.log")" "1 1"
rm -rf "$work/open-firebird"

# --- stops in place -----------------------------------------------------------------------
stop=$work/stop.fdb
isql-fb -q -m <<SQL
CREATE DATABASE '$stop';
SQL
isql-fb -q -m -i "$here/../sql/declare.sql" "$stop"
isql-fb -q -m "$stop" <<'SQL'
CREATE TABLE R (N INTEGER);
COMMIT;
SET TERM ^;
EXECUTE BLOCK AS DECLARE i INTEGER = 0; BEGIN
    WHILE (i < 1000000) DO BEGIN INSERT INTO R VALUES (:i); i = i + 1; END
END^
SET TERM ;^
COMMIT;
CREATE INDEX R_PAD10 ON R COMPUTED BY (FN_PAD(N, 10));
COMMIT;
SQL
for signal in INT TERM HUP; do
    copy=$work/stop-$signal.fdb
    cp "$stop" "$copy"
    tool_bg switch "$copy" > "$work/stop-$signal.log" 2>&1
    run=$!
    for i in $(seq 600); do grep -q 'index R_PAD10 (1 of 1): building it' "$work/stop-$signal.log" && break; sleep 0.05; done
    kill -$signal $run
    if wait $run; then s=0; else s=$?; fi
    expect "SIG$signal during the index builds of a switch: stopped, saying what was committed" \
        "$s $(grep -c '^morvanfn-upgrade: stopped: the switch of 6 function(s) was committed' "$work/stop-$signal.log")" "1 1"
    expect "no query reads a key the UDF computed" "$(value "$copy" "SELECT COUNT(*) FROM R WHERE FN_PAD(N, 10) = '0000000007';")" 1
done
# The build that was running was cancelled, not finished: its index is
# left (SIGHUP: the engine's own handlers see SIGINT and SIGTERM too).
if tool switch "$work/stop-HUP.fdb" > "$work/stop-again.log" 2>&1; then s=0; else s=$?; fi
expect "a rerun names the index left inactive, and does not say all is well" \
    "$s $(grep -c 'index R_PAD10 on a function of morvanfn_udr is inactive: ALTER INDEX "R_PAD10" ACTIVE' "$work/stop-again.log")" "2 1"
for i in 1 2 3; do
    tool_bg check "$stop" > "$work/check-stopped.log" 2>&1
    run=$!
    sleep 0.$((i * 2))
    kill -TERM $run 2> /dev/null || true
    if wait $run; then s=0; else s=$?; fi
    expect "check stopped by SIGTERM ends by itself ($i)" "$s" "[012]"
done

# --- this library by the old server's path, that directory still full ----------------------
samebox=$work/samebox.fdb
isql-fb -q -m <<SQL
CREATE DATABASE '$samebox';
DECLARE EXTERNAL FUNCTION OLD_PAD INTEGER, INTEGER, CSTRING(20) CHARACTER SET NONE
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_pad' MODULE_NAME '$work/oldudf/morvanfn.so';
CREATE TABLE T (N INTEGER);
COMMIT;
INSERT INTO T VALUES (7);
COMMIT;
CREATE INDEX T_OLD_PAD ON T COMPUTED BY (OLD_PAD(N, 5));
COMMIT;
SQL
gbak -b "$samebox" "$work/samebox.fbk"
# Whatever is there now never runs: a library that marks when it loads.
cp "$evil/evil.so" "$work/oldudf/morvanfn.so"
rm -f "$MORVANFN_EVIL_MARK"
if [ "$(id -u)" != 0 ]; then
    echo "SKIP   this library by a path whose directory holds files: hiding it needs root"
else
    if tool restore "$work/samebox.fbk" "$work/out/samebox.fdb" > "$work/samebox.log" 2>&1; then s=0; else s=$?; fi
    expect "this library by the old server's path, its directory full: switched, nothing loaded from there" \
        "$s $(grep -c 'the engine sees .*/oldudf empty' "$work/samebox.log") $([ -e "$MORVANFN_EVIL_MARK" ] && echo ran || echo 'never ran') $(value "$work/out/samebox.fdb" "SELECT COUNT(*) FROM T WHERE OLD_PAD(N, 5) = '00007';")" \
        "0 1 never ran 1"
    expect "the directory untouched for everyone else" "$(ls "$work/oldudf")" "morvanfn.so"
fi
cp "$build/morvanfn.so" "$work/oldudf/"

# --- a neighbour: a local account that may write the target's directory ---------------------
if [ "$(id -u)" != 0 ]; then
    echo "SKIP   the neighbour cases: they need root, to make a throwaway account"
else
    nb=morvanfn-nb-$$
    useradd --system --no-create-home --shell /usr/sbin/nologin "$nb"
    trap 'userdel "$nb" 2> /dev/null || true' EXIT
    as_nb() { setpriv --reuid="$nb" --regid="$nb" --clear-groups sh -c "$1"; }
    nbdir=$work/neighbour
    mkdir -p "$nbdir"
    chown "$nb:" "$nbdir"
    chmod 755 "$work" "$work/out"
    printf 'root:x:0:0\n' > "$work/private/passwd"
    printf 'root:*:1:0\n' > "$work/private/shadow"
    chmod 600 "$work/private/passwd" "$work/private/shadow"
    # Root's own database in the same directory, which DatabaseAccess allows.
    cp "$victim" "$nbdir/root-only.fdb"
    chmod 600 "$nbdir/root-only.fdb"
    before=$(md5sum < "$nbdir/root-only.fdb")
    # The run's directory moved away, a link to the neighbour's own in its
    # place, holding a link to root's database where the scratch was.
    tool_bg restore "$work/big.fbk" "$nbdir/x.fdb" > "$work/swap.log" 2>&1
    run=$!
    scratch_appears "$nbdir" x.fdb
    as_nb "cd '$nbdir' && d=\$(ls -a | grep '^\.x\.fdb\.morvanfn-.*\.d\$') && mv \"\$d\" moved && mkdir evil && ln -s '$nbdir/root-only.fdb' evil/database.fdb && ln -s evil \"\$d\""
    if wait $run; then s=0; else s=$?; fi
    expect "a link swapped in for the run's directory: refused, root's database untouched" \
        "$s $([ "$(md5sum < "$nbdir/root-only.fdb")" = "$before" ] && echo same) $(stat -c %U "$nbdir/root-only.fdb") $([ -e "$nbdir/x.fdb" ] && echo made)" "1 same root "
    expect "said: the engine may open nothing outside the run's directory" \
        "$(grep -c 'Use of database at location .*/neighbour/root-only.fdb is not allowed by server configuration' "$work/swap.log")" "[1-9]*"
    # Leftovers: the neighbour's, and root's own holding links.
    as_nb "mkdir '$nbdir/.y.fdb.morvanfn-1-ab.d' && ln -s '$work/private/passwd' '$nbdir/.y.fdb.morvanfn-1-ab.d/passwd' && ln -s '$work/private' '$nbdir/.y.fdb.morvanfn-3-ef.d'"
    mkdir "$nbdir/.y.fdb.morvanfn-2-cd.d"
    ln -s "$work/private/shadow" "$nbdir/.y.fdb.morvanfn-2-cd.d/shadow"
    ln -s "$work/private" "$nbdir/.y.fdb.morvanfn-2-cd.d/dir"
    if tool restore "$work/names.fbk" "$nbdir/y.fdb" > "$work/leftovers.log" 2>&1; then s=0; else s=$?; fi
    expect "leftovers: root's removed as links, the neighbour's left, nothing followed" \
        "$s $(ls "$work/private" | tr '\n' ' ')$([ -d "$nbdir/.y.fdb.morvanfn-2-cd.d" ] && echo kept) $([ -d "$nbdir/.y.fdb.morvanfn-1-ab.d" ] && echo theirs-kept)" \
        "0 passwd shadow victim.fdb  theirs-kept"
    expect "only what was removed is said" "$(grep -c 'removed .*left by an earlier run' "$work/leftovers.log") $(grep -c 'morvanfn-1-ab\|morvanfn-3-ef' "$work/leftovers.log")" "1 0"
    # A temporary directory all may write (sticky): the neighbour's run root.
    mkdir -p "$work/tmp"
    chmod 1777 "$work/tmp"
    as_nb "mkdir '$work/tmp/morvanfn-upgrade-1-ab' && ln -s '$work/private/passwd' '$work/tmp/morvanfn-upgrade-1-ab/passwd'"
    if TMPDIR=$work/tmp tool check "$work/code-check.fdb" > "$work/tmpdir.log" 2>&1; then s=0; else s=$?; fi
    expect "a sticky TMPDIR: the neighbour's run root left, root's files kept" \
        "$s $([ -L "$work/tmp/morvanfn-upgrade-1-ab/passwd" ] && echo theirs-kept) $(ls "$work/private" | tr '\n' ' ')" \
        "0 theirs-kept passwd shadow victim.fdb "
    # The same-machine upgrade run by another user than root (the engine's
    # own account, say): the old directory hidden in a user namespace.
    chmod 644 "$work/samebox.fbk"
    cp "$evil/evil.so" "$work/oldudf/morvanfn.so"
    if as_nb "MORVANFN_EVIL_MARK='$nbdir/evil-ran' '$build/morvanfn-upgrade' --firebird '$FB_LIB' --udr '$work/modules/libmorvanfn_udr.so' restore '$work/samebox.fbk' '$nbdir/samebox.fdb' > '$nbdir/samebox.log' 2>&1"; then s=0; else s=$?; fi
    expect "this library by the old server's path, run by another user: switched, nothing loaded from there" \
        "$s $(grep -c 'the engine sees .*/oldudf empty' "$nbdir/samebox.log") $([ -e "$nbdir/evil-ran" ] && echo ran || echo 'never ran') $(value "$nbdir/samebox.fdb" "SELECT COUNT(*) FROM T WHERE OLD_PAD(N, 5) = '00007';")" \
        "0 1 never ran 1"
    cp "$build/morvanfn.so" "$work/oldudf/"
    rm -rf "$nbdir" "$work/tmp"
    userdel "$nb" 2> /dev/null || true
    trap - EXIT
fi

echo "restore safety on $FB_ENGINE: $([ $failed = 0 ] && echo passed || echo FAILED)"
[ $failed = 0 ]
