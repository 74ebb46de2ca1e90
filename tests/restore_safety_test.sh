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
#     exported CDPATH, a dangling link at the target, a linked directory.
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
value() { echo "SET LIST ON; $2" | isql-fb -q -m "$1" 2>&1 | awk 'NF >= 2 { $1 = ""; print substr($0, 2); exit }'; }
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
sh "$here/../scripts/firebird.sh" "$FB_ENGINE" root "$work/root" "$work/modules;$evil"
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

echo "restore safety on $FB_ENGINE: $([ $failed = 0 ] && echo passed || echo FAILED)"
[ $failed = 0 ]
