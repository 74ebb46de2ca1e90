#!/bin/sh
# The module on a small stack.  The engine may call a function with little
# of its thread's stack left (at the bottom of a deep recursion of
# procedures or triggers, on a small thread stack), and it has no guard:
# a call that takes more stack than is left kills the server process.  So
# the module's calls must need no more stack than the engine's own
# functions doing the same work, whatever the declaration.
#
# The embedded engine runs each statement on isql's main thread, whose
# stack `ulimit -s` sets ($MORVANFN_STACK_KB, default 8192 KB, as a server
# thread's).  For each text function, at the largest declaration and with
# the longest texts, a chain of procedures calls the built-in function, the
# UDF or the UDR at its bottom, and the deepest chain that still gives the
# right value is found by bisection: a call that takes more stack dies
# higher up.  At the built-in's depth little stack is left, so the UDR must
# reach within DEPTH_SLACK levels of it.  The levels it falls short, at the
# stack a level takes, are what its call takes beyond the built-in's.
# Nothing is timed.
#
# usage: firebird.sh ENGINE run sh stack_test.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
[ -n "${FB_ENGINE:-}" ] || { echo "run me through scripts/firebird.sh ENGINE run"; exit 1; }
work=$build/stacktest/$FB_ENGINE
root=$work/root
stack=${MORVANFN_STACK_KB:-8192}
# Where a process's stack starts moves by a few KB from run to run (its
# environment, the kernel's randomisation), a level takes about 1.8 KB: the
# built-in and the UDR each move by a few levels.
DEPTH_SLACK=10

rm -rf "$work"
mkdir -p "$work"
. "$here/engine_root.sh"
engine_root "$root" "$build" udf
db=$work/stack.fdb

# The largest declarations each kind of function allows.
isql-fb -q -m > "$work/create.out" 2>&1 <<SQL
CREATE DATABASE '$db' DEFAULT CHARACTER SET NONE;
DECLARE EXTERNAL FUNCTION U_STRLEN VARCHAR(32765) RETURNS SMALLINT BY VALUE
    ENTRY_POINT '_fn_strlen' MODULE_NAME 'morvanfn';
DECLARE EXTERNAL FUNCTION U_STRCAT CSTRING(16382), CSTRING(16382), CSTRING(32764)
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_strcat' MODULE_NAME 'morvanfn';
DECLARE EXTERNAL FUNCTION U_FULLCAT CSTRING(16382), CSTRING(16382), CSTRING(32764)
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_fullcat' MODULE_NAME 'morvanfn';
DECLARE EXTERNAL FUNCTION U_PAD INTEGER, INTEGER, CSTRING(255)
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_pad' MODULE_NAME 'morvanfn';
CREATE FUNCTION R_STRLEN (s VARCHAR(32765)) RETURNS SMALLINT
    EXTERNAL NAME 'morvanfn_udr!fn_strlen' ENGINE UDR;
CREATE FUNCTION R_STRCAT (a VARCHAR(32765), b VARCHAR(32765)) RETURNS VARCHAR(32765)
    EXTERNAL NAME 'morvanfn_udr!fn_strcat' ENGINE UDR;
CREATE FUNCTION R_FULLCAT (a VARCHAR(32765), b VARCHAR(32765)) RETURNS VARCHAR(32765)
    EXTERNAL NAME 'morvanfn_udr!fn_fullcat' ENGINE UDR;
CREATE FUNCTION R_PAD (v INTEGER, w INTEGER) RETURNS VARCHAR(32765)
    EXTERNAL NAME 'morvanfn_udr!fn_pad' ENGINE UDR;
COMMIT;
SQL
if [ -s "$work/create.out" ]; then cat "$work/create.out"; exit 1; fi

# What each function computes at the bottom, the same way for all three
# kinds, and the value it gives.
bottom() { # kind function
    a="LPAD('', 16000, 'a')" b="LPAD('', 16000, 'b')" x="RPAD('x', 16000)" long="LPAD('', 32765, 'a')"
    case $1$2 in
        BSTRLEN) echo "OCTET_LENGTH($long)" ;;
        BSTRCAT) echo "CHAR_LENGTH(TRIM(TRAILING FROM $x) || TRIM(TRAILING FROM $b))" ;;
        BFULLCAT) echo "CHAR_LENGTH($a || $b)" ;;
        BPAD) echo "CHAR_LENGTH(LPAD(7, 255, '0'))" ;;
        ?STRLEN) echo "$1_STRLEN($long)" ;;
        ?STRCAT) echo "CHAR_LENGTH($1_STRCAT($x, $b))" ;;
        ?FULLCAT) echo "CHAR_LENGTH($1_FULLCAT($a, $b))" ;;
        ?PAD) echo "CHAR_LENGTH($1_PAD(7, 255))" ;;
    esac
}
value() {
    case $1 in STRLEN) echo 32765 ;; STRCAT) echo 16001 ;; FULLCAT) echo 32000 ;; PAD) echo 255 ;; esac
}
functions="STRLEN STRCAT FULLCAT PAD"

# Chains of procedures, D_<kind>_<function>_0 to _7 calling each other in
# turn down to level 0: eight, since the engine allows one procedure 1,000
# levels of recursion.
{
    echo "SET TERM ^;"
    for f in $functions; do
        for kind in B U R; do
            p=D_${kind}_$f
            for i in 0 1 2 3 4 5 6 7; do
                echo "CREATE PROCEDURE ${p}_$i (n INTEGER) RETURNS (v INTEGER) AS BEGIN v = 0; END^"
            done
            for i in 0 1 2 3 4 5 6 7; do
                echo "ALTER PROCEDURE ${p}_$i (n INTEGER) RETURNS (v INTEGER) AS BEGIN"
                echo "  IF (n > 0) THEN EXECUTE PROCEDURE ${p}_$(((i + 1) % 8))(n - 1) RETURNING_VALUES v;"
                echo "  ELSE v = $(bottom $kind $f); END^"
            done
        done
    done
    echo "SET TERM ;^"
    echo "COMMIT;"
} > "$work/chains.sql"
isql-fb -q -m -i "$work/chains.sql" "$db" > "$work/chains.out" 2>&1
if [ -s "$work/chains.out" ]; then cat "$work/chains.out"; exit 1; fi

# reaches KIND FUNCTION N: the chain N levels deep gives the right value.
# The chain runs once at level 0 first: an attachment's first call of a UDR
# loads the module and makes the routine's instance, which is the engine's
# work and happens once, not the call's.
reaches() {
    echo "SET LIST ON; EXECUTE PROCEDURE D_$1_$2_0(0); EXECUTE PROCEDURE D_$1_$2_0($3);" > "$work/query.sql"
    got=$( { (ulimit -c 0; ulimit -s "$stack"; exec isql-fb -q -i "$work/query.sql" "$db"); } 2> /dev/null |
        awk '$1 == "V" { v = v $2 " " } END { print v }') 2> /dev/null || true
    [ "$got" = "$(value "$2") $(value "$2") " ]
}
# deepest KIND FUNCTION: the deepest chain that reaches, to one level.
deepest() {
    lo=0 hi=7999
    reaches "$1" "$2" 0 || { echo "none"; return; }
    while [ $((hi - lo)) -gt 1 ]; do
        mid=$(((lo + hi) / 2))
        if reaches "$1" "$2" $mid; then lo=$mid; else hi=$mid; fi
    done
    echo $lo
}

failed=0 passed=0
echo "deepest chain on a $stack KB stack, and the stack (KB) a call takes beyond the built-in's:"
for f in $functions; do
    d_b=$(deepest B $f) d_u=$(deepest U $f) d_r=$(deepest R $f)
    case "$d_b$d_u$d_r" in
        *[!0-9]*) echo "FAILED FN_$f: a chain gives no value (built-in $d_b, UDF $d_u, UDR $d_r)"
                  failed=$((failed + 1)); continue ;;
    esac
    beyond() { echo $(((d_b - $1) * stack / d_b)); }
    printf '  FN_%-8s built-in %5d levels   UDF %5d (%3d KB)   UDR %5d (%3d KB)\n' \
        $f "$d_b" "$d_u" "$(beyond "$d_u")" "$d_r" "$(beyond "$d_r")"
    if [ "$d_r" -ge $((d_b - DEPTH_SLACK)) ]; then
        echo "ok     FN_$f: the UDR reaches within $DEPTH_SLACK levels of the built-in"; passed=$((passed + 1))
    else
        echo "FAILED FN_$f: the UDR dies $((d_b - d_r)) levels above the built-in"; failed=$((failed + 1))
    fi
done
echo "stack on $FB_ENGINE: $passed passed, $failed failed"
[ "$failed" = 0 ]
