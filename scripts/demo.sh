#!/bin/sh
# The quick look: builds morvanfn if needed, starts an embedded Firebird on a
# throwaway database, declares the functions with sql/declare.sql and shows
# each of them applied to sample values.  Touches no system configuration.
# usage: scripts/demo.sh [BUILD_DIR]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}

# The machine's own Debian Firebird (the first line its suite has), its
# programs and layout from the one script that knows them.
if [ -z "${FB_ENGINE:-}" ]; then
    sh "$top/scripts/deps.sh" build engine
    engine=$(sh "$top/scripts/firebird.sh" list debian | head -n 1)
    [ -n "$engine" ] || { echo "this machine's suite has no Firebird (Debian: firebird3.0-server-core or firebird4.0-server-core)" >&2; exit 1; }
    exec sh "$top/scripts/firebird.sh" "$engine" run sh "$0" "$@"
fi
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMORVANFN_TESTS=OFF > /dev/null
cmake --build "$build" --target morvanfn > /dev/null

root=$build/demo
rm -rf "$root"
sh "$top/scripts/firebird.sh" "$FB_ENGINE" root "$root" "$build"
export FIREBIRD="$root" FIREBIRD_LOCK="$root/lock" FIREBIRD_TMP="$root/tmp" ISC_USER=SYSDBA
db=$root/demo.fdb
echo "CREATE DATABASE '$db';" | isql-fb -q
isql-fb -q -i "$top/sql/declare.sql" "$db"

echo "module:   $build/morvanfn.so"
echo "database: $db (embedded engine, private root $root)"
isql-fb -q "$db" <<'SQL'
SET HEADING ON;
SELECT CAST(call AS VARCHAR(34)) AS "CALL", CAST(result AS VARCHAR(28)) AS "RESULT" FROM (
    SELECT 1 AS k, 'FN_SHORTDATE()' AS call, FN_SHORTDATE() AS result FROM RDB$DATABASE
    UNION ALL SELECT 2, 'FN_CURRYR()', FN_CURRYR() FROM RDB$DATABASE
    UNION ALL SELECT 3, 'FN_STRLEN(''hello'')', FN_STRLEN('hello') FROM RDB$DATABASE
    UNION ALL SELECT 4, 'FN_STRLEN(<300 bytes>)', FN_STRLEN(LPAD('', 300, 'x')) FROM RDB$DATABASE
    UNION ALL SELECT 5, 'FN_STRCAT(''ab  '', ''cd '')', '''' || FN_STRCAT('ab  ', 'cd ') || '''' FROM RDB$DATABASE
    UNION ALL SELECT 6, 'FN_FULLCAT(''ab  '', ''cd '')', '''' || FN_FULLCAT('ab  ', 'cd ') || '''' FROM RDB$DATABASE
    UNION ALL SELECT 7, 'FN_PAD(7, 3)', FN_PAD(7, 3) FROM RDB$DATABASE
    UNION ALL SELECT 8, 'FN_PAD(-7, 3)', FN_PAD(-7, 3) FROM RDB$DATABASE
    UNION ALL SELECT 9, 'FN_PAD(123, 2)', FN_PAD(123, 2) FROM RDB$DATABASE
    UNION ALL SELECT 10, 'FN_PAD(5, -3)', FN_PAD(5, -3) FROM RDB$DATABASE
    UNION ALL SELECT 11, 'CHAR_LENGTH(FN_PAD(1, 100000))', CHAR_LENGTH(FN_PAD(1, 100000)) FROM RDB$DATABASE
    UNION ALL SELECT 12, 'FN_PAD(NULL, 3)', FN_PAD(NULL, 3) FROM RDB$DATABASE
) ORDER BY k;
SQL
