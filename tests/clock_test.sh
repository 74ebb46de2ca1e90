#!/bin/sh
# FN_SHORTDATE and FN_CURRYR against the clock: the engine runs embedded under
# faketime at fixed instants and in given time zones, so the functions must
# read the local date (not UTC) when they are called.  Every instant lies in
# the past: a timed wait inside the engine that the fake clock does not
# translate then ends at once instead of lasting until the real clock gets
# there.
#
# On Firebird 4, where a session has a time zone of its own, the functions
# keep reading the server process's local date: one case sets the session
# zone to the other side of midnight and sees CURRENT_DATE move, not them.
#
# usage: firebird.sh ENGINE run sh clock_test.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$build/clocktest/$FB_ENGINE
root=$work/root

command -v faketime >/dev/null || { echo "faketime not found (Debian: apt-get install faketime)"; exit 1; }
[ -w /dev/shm ] || { echo "faketime needs a writable /dev/shm: as root, chmod 1777 /dev/shm (or mount a tmpfs there)"; exit 1; }
rm -rf "$work"
. "$here/engine_root.sh"
engine_root "$root" "$build" udf
db=$work/clock.fdb
echo "CREATE DATABASE '$db';" | isql-fb -q
isql-fb -q -i "$here/../sql/declare.sql" "$db"

failed=0 passed=0
# zone | local instant | FN_SHORTDATE() | FN_CURRYR() | the UTC year then
#      [| session time zone | CURRENT_DATE in it]
# The session's zone comes from the engine's DefaultTimeZone, in a second
# private root: Firebird 3's isql-fb, which drives 5.0, has no SET TIME ZONE.
check() {
    session= want="$3 $4 " conf=$root
    if [ $# -gt 5 ]; then
        session=$6 want="$want$7 " conf=$work/root-$6
        [ -d "$conf" ] || sh "$here/../scripts/firebird.sh" "$FB_ENGINE" root "$conf" "$build" \
            "DefaultTimeZone = $6"
    fi
    got=$(echo "SET LIST ON; SELECT FN_SHORTDATE() AS d, FN_CURRYR() AS y, CURRENT_DATE AS c FROM RDB\$DATABASE;" |
        FIREBIRD=$conf FIREBIRD_LOCK=$conf/lock TZ=$1 FAKETIME_DONT_FAKE_MONOTONIC=1 timeout 60 faketime "$2" isql-fb -q "$db" |
        awk -v s="$session" '$1 == "D" || $1 == "Y" || (s != "" && $1 == "C") { printf "%s ", $2 }')
    utc=$(TZ=$1 faketime "$2" date -u +%Y)
    if [ "$got" = "$want" ] && [ "$utc" = "$5" ]; then
        echo "ok     $1 $2 ${6:+session zone $6 }: $got(UTC year $utc)"
        passed=$((passed + 1))
    else
        echo "FAILED $1 $2 ${6:+session zone $6 }: got '$got' (UTC year $utc), want '$want' (UTC year $5)"
        failed=$((failed + 1))
    fi
}
check UTC        "2007-01-05 12:00:00" 07-01-05- 2007 2007
check UTC        "2000-02-29 09:15:00" 00-02-29- 2000 2000
check UTC        "1999-12-31 23:59:00" 99-12-31- 1999 1999
# 14 hours ahead of UTC: just past local midnight it is the new year here,
# still the old one in UTC.
check Etc/GMT-14 "2025-01-01 00:30:00" 25-01-01- 2025 2024
# 11 hours behind UTC: still the old year here, the new one in UTC.
check Etc/GMT+11 "2025-12-31 23:30:00" 25-12-31- 2025 2026
if [ "${FB_LINE%%.*}" -ge 4 ]; then
    # The session's zone is past midnight, the process's is not.
    check Etc/GMT+11 "2025-12-31 23:30:00" 25-12-31- 2025 2026 UTC 2026-01-01
fi
echo "clock on $FB_ENGINE: $passed passed, $failed failed"
[ "$failed" = 0 ]
