#!/bin/sh
# The upgrade road on a Windows engine under wine, as Windows DBAs take it:
# the upgrade test's database (tests/upgrade/database.sql, owned by ALICE)
# made under the UDF by the Windows Firebird 3.0 of the same architecture,
# its path module in an older installation's directory (C:\Firebird_2_5_...,
# no blank: the engine reads a module name up to its first), and backed up
# there; then, with that directory gone as on a new server, restored by this engine
# with morvanfn-upgrade (tests/wine's driver: the very program, the engine
# made to run under wine) and served with UdfAccess = None.  Each time the
# dependents' rows and failures are those recorded (tests/upgrade/
# dependents.out), and the owner is ALICE.  The database also has an ON
# CONNECT trigger that fails any attachment as ALICE (as the tool's are), and
# grants to a user named with ESC and CR: the restore goes through, and the
# name reaches the output as escapes.
#
# usage: firebird.sh ENGINE run sh upgrade_windows_test.sh WIN_BUILD_DIR
#   (ENGINE: win64-... or win32-...)
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
[ "${FB_PLATFORM:-}" = windows ] || { echo "run me through scripts/firebird.sh ENGINE run, a Windows engine"; exit 1; }
work=$build/upgradetest/$FB_ENGINE
old=${FB_ENGINE%-*}-3.0
rm -rf "$work"
mkdir -p "$work"
failed=0
. "$here/engine_root.sh"
# The older installation's UDF directory, in wine's C: (one per engine:
# engines run side by side).
legacy_windows="C:\\Firebird_2_5_$FB_ENGINE\\UDF"
legacy=$WINEPREFIX/drive_c/Firebird_2_5_$FB_ENGINE/UDF

# 1. The old server: Windows Firebird 3.0 of this architecture.
rm -rf "$(dirname "$legacy")"
mkdir -p "$legacy"
cp "$build/morvanfn.dll" "$legacy/"
# A Windows server knows morvanfn.dll; it refuses a module path with a blank
# at DECLARE already (it reads the name up to the blank, a path it does not
# allow), so no Windows DBA has such a declaration.
sed "s|@LEGACY_MODULE@|$(printf '%s' "$legacy_windows" | sed 's/\\/\\\\/g')\\\\morvanfn.dll|; s|'morvanfn.so'|'morvanfn.dll'|;
     s|'C:.Program Files.Firebird.Firebird_3_0.UDF.morvanfn.dll'|'morvanfn.dll'|" \
    "$here/upgrade/database.sql" > "$work/database.sql"
esc=$(printf '\033') cr=$(printf '\r')
cat > "$work/hostile.sql" <<SQL
SET TERM ^;
CREATE TRIGGER NOT_THE_TOOL ON CONNECT AS DECLARE x INTEGER; BEGIN
    IF (CURRENT_USER = 'ALICE') THEN
        x = CAST('the tool fired NOT_THE_TOOL' AS INTEGER);
END^
SET TERM ;^
GRANT SELECT ON CUSTOMERS TO USER "U${cr}morvanfn-upgrade: done${esc}[2J";
COMMIT;
SQL
cat > "$work/old.sh" <<EOF
set -eu
here=$here
. "\$here/engine_root.sh"
# The old server also loads UDFs from the older installation's directory.
engine_root "$work/old" "$build" 'udf;$legacy_windows'

db="$work/LEGACY.FDB"
fbsql -utf8 -user ALICE -create "\$db" "$top/sql/declare.sql"
fbsql -utf8 -user ALICE "\$db" "$work/database.sql"
fbsql -utf8 -user ALICE "\$db" "$here/upgrade/dependents.sql" > "$work/udf.out" || true
fbsql -utf8 -user ALICE "\$db" "$work/hostile.sql"
fbsql -backup "\$db" "$work/LEGACY.FBK"
EOF
sh "$top/scripts/firebird.sh" "$old" run sh "$work/old.sh" > "$work/old.log" 2>&1 || { cat "$work/old.log"; exit 1; }
rows "$here/upgrade/dependents.out" > "$work/expected.rows"
rows "$work/udf.out" > "$work/udf.rows"
if diff -u "$work/expected.rows" "$work/udf.rows"; then ok "every dependent under the UDF on $old"; else fail "dependents under the UDF on $old"; fi
[ -s "$work/LEGACY.FBK" ] || { echo "no backup made on $old"; cat "$work/old.log"; exit 1; }
rm -rf "$(dirname "$legacy")"

# 2. This engine, with the tool.
engine_root "$work/new" "$build" udf
cp "$build/upgrade_driver.exe" "$work/new/"
win() { windows_path "$1"; }
(cd "$work/new" && timeout 600 wine upgrade_driver.exe --firebird "$(win "$work/new")" \
    --udr "$(win "$work/new/plugins/udr/morvanfn_udr.dll")" \
    restore "$(win "$work/LEGACY.FBK")" "$(win "$work/RESTORED.FDB")") 2>&1 | tr -d '\r' > "$work/restore.out" && s=0 || s=$?
cat "$work/restore.out"
status=$(sed -n 's/^morvanfn-upgrade: done: .*/done/p' "$work/restore.out")
expect "restored, naming OLD_DATE and NEVER_PAD for the DBA" "$status $(grep -c 'UNSAFE' "$work/restore.out")" "done 2"
expect "the path module's directory, gone, holds nothing to load" "$(grep -c 'whose directory holds nothing to load' "$work/restore.out")" 1
expect "made for the run, open to administrators alone, and removed" \
    "$(grep -c "^morvanfn-upgrade: made C:.Firebird_2_5_$FB_ENGINE for this run" "$work/restore.out") $([ -e "$(dirname "$legacy")" ] && echo left || echo removed)" "1 removed"
expect "the owner kept" "$(grep -c '^morvanfn-upgrade: database owner: ALICE$' "$work/restore.out")" 1
expect "the engine named from the engine" "$(grep -c '^morvanfn-upgrade: engine: WI-V' "$work/restore.out")" 1
expect "indexes active" "$(grep -c '^morvanfn-upgrade: indexes: [0-9]* active, 0 inactive' "$work/restore.out")" 1
expect "a name with ESC and CR shown as escapes, one done line" \
    "$(LC_ALL=C tr -d '\n' < "$work/restore.out" | LC_ALL=C tr -dc '\000-\037\177' | wc -c) $(grep -c -F 'U\x0dmorvanfn-upgrade: done\x1b[2J' "$work/restore.out") $(grep -c '^morvanfn-upgrade: done' "$work/restore.out")" "0 1 1"
expect "no attachment of the tool fired the database's trigger" "$(grep -c 'NOT_THE_TOOL' "$work/restore.out")" 0
printf 'UdfAccess = None\nProviders = Engine1%s\n' "$([ "$FB_LINE" = 3.0 ] && echo 2 || echo 3)" > "$work/new/firebird.conf"
fbsql -utf8 "$work/RESTORED.FDB" "$here/upgrade/dependents.sql" > "$work/udr.out" || true
rows "$work/udr.out" > "$work/udr.rows"
if diff -u "$work/expected.rows" "$work/udr.rows"; then ok "every dependent restored on $FB_ENGINE, UdfAccess = None"; else fail "dependents on $FB_ENGINE"; fi
echo "upgrade on $FB_ENGINE: $([ $failed = 0 ] && echo passed || echo FAILED)"
[ $failed = 0 ]
