#!/bin/sh
# The restore road's cost: morvanfn-upgrade restore (metadata pass, restore,
# switch, expression indexes built with the UDR, check) against a plain
# restore of the same backup by the same engine's own service manager
# (gbak -se service_mgr -c, UDFs loading from the module's directory as the
# tool allows them), alternating, the median of each, and their ratio.
#
# The database: ROWS customers of about 200 bytes (a few hundred MB at the
# default 1,500,000), declare.sql's functions and an older declaration of
# FN_STRCAT with index-sized texts, and three expression indexes on them.
#
# usage: firebird.sh ENGINE run sh restore_bench.sh BUILD_DIR [ROWS] [REPEAT] [OUT_DIR]
#   BUILD_DIR holds morvanfn.so, libmorvanfn_udr.so and morvanfn-upgrade.
set -eu
build=$(cd "$1" && pwd)
rows=${2:-1500000} repeat=${3:-3}
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
[ -n "${FB_ENGINE:-}" ] || { echo "run me through scripts/firebird.sh ENGINE run"; exit 1; }
work=${4:-$build/bench/restore-$FB_ENGINE}
rm -rf "$work"
mkdir -p "$work/modules" "$work/out"
cp "$build/morvanfn.so" "$build/libmorvanfn_udr.so" "$work/modules/"
sh "$top/scripts/firebird.sh" "$FB_ENGINE" root "$work/root" "$work/modules" \
    "DefaultDbCachePages = 20000"
cp "$work/modules/libmorvanfn_udr.so" "$work/root/udr/"
export FIREBIRD="$work/root" FIREBIRD_LOCK="$work/root/lock" FIREBIRD_TMP="$work/root/tmp" ISC_USER=SYSDBA
db=$work/bench.fdb

echo "making a database of $rows rows with three expression indexes on the UDFs ..."
echo "CREATE DATABASE '$db' PAGE_SIZE 8192;" | isql-fb -q
isql-fb -q -i "$top/sql/declare.sql" "$db"
isql-fb -q "$db" <<SQL
DECLARE EXTERNAL FUNCTION JOIN60 CSTRING(60) CHARACTER SET NONE, CSTRING(40) CHARACTER SET NONE,
    CSTRING(100) CHARACTER SET NONE RETURNS PARAMETER 3 ENTRY_POINT '_fn_strcat' MODULE_NAME 'morvanfn';
CREATE TABLE customers (id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(60) CHARACTER SET NONE,
    city VARCHAR(40) CHARACTER SET NONE, n INTEGER, note VARCHAR(100) CHARACTER SET NONE);
COMMIT;
SET TERM ^;
EXECUTE BLOCK AS DECLARE i INTEGER = 0; BEGIN
    WHILE (i < $rows) DO BEGIN
        INSERT INTO customers VALUES (:i, 'customer ' || :i || '   ', 'city ' || MOD(:i, 997) || ' ',
            MOD(:i * 7919, 1000003), RPAD('note ' || :i, 90, '.'));
        i = i + 1;
    END
END^
SET TERM ;^
COMMIT;
CREATE INDEX customers_joined ON customers COMPUTED BY (JOIN60(name, city));
CREATE INDEX customers_padded ON customers COMPUTED BY (FN_PAD(n, 10));
CREATE INDEX customers_length ON customers COMPUTED BY (FN_STRLEN(note));
COMMIT;
SQL
gbak -b "$db" "$work/bench.fbk"
echo "database $(du -m "$db" | cut -f1) MB, backup $(du -m "$work/bench.fbk" | cut -f1) MB"
rm -f "$db"

# seconds COMMAND...: its elapsed time.
seconds() {
    start=$(date +%s.%N)
    "$@" > "$work/last.log" 2>&1 || { cat "$work/last.log"; exit 1; }
    awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f\n", b - a }'
}
plain= tool=
for i in $(seq "$repeat"); do
    rm -f "$work/out/plain.fdb"
    p=$(seconds gbak -se service_mgr -c "$work/bench.fbk" "$work/out/plain.fdb")
    rm -f "$work/out/plain.fdb" "$work/out/tool.fdb"
    # The tool exits 2 for what it leaves the DBA; here, nothing.
    t=$(seconds "$build/morvanfn-upgrade" --firebird "$FB_LIB" \
        --udr "$work/modules/libmorvanfn_udr.so" restore "$work/bench.fbk" "$work/out/tool.fdb")
    rm -f "$work/out/tool.fdb"
    echo "run $i: plain restore $p s, morvanfn-upgrade restore $t s"
    plain="$plain $p" tool="$tool $t"
done
median() { echo "$@" | tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
mp=$(median $plain) mt=$(median $tool)
echo "restore of $rows rows with three expression indexes on $FB_ENGINE: plain $mp s, morvanfn-upgrade $mt s," \
    "ratio $(awk -v t="$mt" -v p="$mp" 'BEGIN { printf "%.2f", t / p }') (median of $repeat, alternating)"
