#!/bin/sh
# The functions in a real multi-threaded server: Debian's firebird server
# runs with a private root, port and security database, and four isql-fb
# clients call every function over TCP at once, each with arguments of its
# own, each checking its results against the engine's built-in functions.
# Afterwards the server must still answer; then it is ended by its pid.
# Every wait is bounded, so that a server that stops answering fails the test
# instead of holding it up.
#
# usage: firebird.sh ENGINE run sh server_test.sh BUILD_DIR [PORT]
set -eu
build=$(cd "$1" && pwd)
# Below Linux's ephemeral range (32768 and up), where no outgoing connection
# can hold the port.
port=${2:-$((20000 + $$ % 12000))}
here=$(cd "$(dirname "$0")" && pwd)
work=$build/servertest/$FB_ENGINE
root=$work/root
clients=4
rows=50000
password=morvanfn-test

[ -x "${FB_SERVER:-}" ] || { echo "no Firebird server binary (${FB_SERVER:-run me through scripts/firebird.sh ENGINE run})"; exit 1; }
rm -rf "$work"
mkdir -p "$work"
sh "$here/../scripts/firebird.sh" "$FB_ENGINE" root "$root" "$build" \
    "RemoteServicePort = $port" "RemoteBindAddress = 127.0.0.1" "SecurityDatabase = $root/security.fdb" \
    "Providers = Remote, $FB_PROVIDER"
export FIREBIRD="$root" FIREBIRD_LOCK="$root/lock" FIREBIRD_TMP="$root/tmp"

# The security database and the test database, made embedded before the
# server starts.
embedded() { ISC_USER=SYSDBA isql-fb -q -m "$@"; }
printf "CREATE DATABASE '%s';\nCREATE USER SYSDBA PASSWORD '%s' USING PLUGIN Srp;\nCOMMIT;\n" \
    "$root/security.fdb" "$password" | embedded
db=$work/test.fdb
echo "CREATE DATABASE '$db';" | embedded
embedded -i "$here/../sql/declare.sql" "$db"

"$FB_SERVER" > "$work/server.log" 2>&1 &
server=$!
trap 'kill -9 $server 2>/dev/null || true' EXIT
# remote SECONDS [ISQL ARGS]: a client over TCP that may run SECONDS at most.
remote() {
    limit=$1; shift
    timeout -k 5 "$limit" isql-fb -q -m -user SYSDBA -password "$password" "inet://127.0.0.1:$port/$db" "$@"
}
ready=no
for i in $(seq 100); do
    if echo "SELECT 1 FROM RDB\$DATABASE;" | remote 10 > /dev/null 2>&1; then ready=yes; break; fi
    kill -0 $server 2>/dev/null || break
    sleep 0.2
done
if [ $ready = no ]; then
    echo "the server did not answer on port $port:"; cat "$work/server.log"; exit 1
fi

# Client c: its own widths, values and texts over $rows rows.  Texts compare
# with a '|' after them, since '=' ignores trailing blanks.
client_sql() {
    cat <<SQL
SET LIST ON;
SELECT COUNT(*) AS calls,
       SUM(IIF(FN_PAD(v, w) || '|' = CASE WHEN CHAR_LENGTH(v) >= w THEN CAST(v AS VARCHAR(11))
                                          WHEN v < 0 THEN '-' || LPAD(-v, w - 1, '0')
                                          ELSE LPAD(v, w, '0') END || '|', 0, 1)
         + IIF(FN_STRLEN(a) = OCTET_LENGTH(a), 0, 1)
         + IIF(FN_STRCAT(a, b) || '|' = TRIM(TRAILING FROM a) || TRIM(TRAILING FROM b) || '|', 0, 1)
         + IIF(FN_FULLCAT(a, b) || '|' = a || b || '|', 0, 1)
         + IIF(FN_CURRYR() - EXTRACT(YEAR FROM CURRENT_DATE) IN (0, 1), 0, 1)
         + IIF(CHAR_LENGTH(FN_SHORTDATE()) = 9, 0, 1)) AS wrong
FROM (
    WITH RECURSIVE r AS (SELECT 0 AS i FROM RDB\$DATABASE UNION ALL SELECT i + 1 FROM r WHERE i < 999),
         s AS (SELECT r1.i * 1000 + r2.i AS i FROM r r1 CROSS JOIN r r2 WHERE r1.i * 1000 + r2.i < $rows)
    SELECT MOD(i * 7919 + $1 * 104729, 2000000) * (1 - 2 * MOD(i, 2)) AS v,
           MOD(i + $1 * 37, 40) AS w,
           RPAD('c$1-' || i, MOD(i, 17) + $1 + 5, ' ') AS a,
           LPAD(i, MOD(i, 9) + 1, ' ') || RPAD('', $1, ' ') AS b
    FROM s);
SQL
}
pids=
for c in $(seq $clients); do
    client_sql "$c" | remote 600 > "$work/client$c.out" 2>&1 &
    pids="$pids $!"
done
status=0
for p in $pids; do wait "$p" || status=1; done

failed=0
for c in $(seq $clients); do
    calls=$(awk '$1 == "CALLS" {print $2}' "$work/client$c.out")
    wrong=$(awk '$1 == "WRONG" {print $2}' "$work/client$c.out")
    if [ "$calls" = "$rows" ] && [ "$wrong" = 0 ]; then
        echo "ok     client $c: $rows rows, 6 functions a row, 0 wrong"
    else
        echo "FAILED client $c:"; cat "$work/client$c.out"; failed=1
    fi
done
if echo "SELECT FN_PAD(1, 3) FROM RDB\$DATABASE;" | remote 60 | grep -q 001; then
    echo "ok     the server still answers"
else
    echo "FAILED the server no longer answers"; failed=1
fi
# The server now and then misses a SIGTERM and runs on, idle: seen with no
# function of ours ever called.  Its shutdown is not under test, so after
# 10 s it is killed.
kill $server
(sleep 10; kill -9 $server) > /dev/null 2>&1 &
watchdog=$!
if wait $server; then code=0; else code=$?; fi
kill $watchdog 2>/dev/null || true
[ $code != 137 ] || echo "note   the server missed SIGTERM and was killed"
trap - EXIT
[ $status = 0 ] && [ $failed = 0 ]
