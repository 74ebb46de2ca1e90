# Sourced by the engine suites, inside `firebird.sh ENGINE run`.
#
# engine_root ROOT BUILD_DIR udf|udf;DIR...|None [LINE ...]
#   A private root for the engine that runs, with this build's modules in
#   it: the UDF module loadable (UdfAccess = Restrict on its directory, and
#   on the DIRs after udf;) or no UDF at all (None), the UDR module where
#   the UDR engine looks, and
#   FIREBIRD, FIREBIRD_LOCK, FIREBIRD_TMP and ISC_USER exported for it.
#   LINEs are more firebird.conf lines.  On a Windows engine BUILD_DIR is a
#   Windows build: morvanfn.dll goes into ROOT/udf, morvanfn_udr.dll into
#   ROOT/plugins/udr, and fbsql.exe (and, where the wheel has none, the
#   tests' ib_util.dll) beside the engine.
#
# fbsql [-utf8] [-create] DATABASE [SCRIPT ...]
#   On a Windows engine: the tests' fbsql.exe under wine in that root,
#   given Linux paths (wine's Z: is /), its output without CRs.
#
# rows FILE
#   The lines isql and fbsql print alike: each row's NAME value line and
#   each "Statement failed" line, in order.
#
# ok WHAT, fail WHAT, expect WHAT GOT PATTERN
#   A suite's checks, one line each; fail (and expect, when GOT does not
#   match the shell PATTERN) sets failed=1.
engine_root() {
    _root=$1 _build=$2 _udf=$3
    shift 3
    if [ "$FB_PLATFORM" = windows ]; then
        case $_udf in None) _access=None ;; *) _access=$_root/udf${_udf#udf} ;; esac
        sh "$(dirname "$here")/scripts/firebird.sh" "$FB_ENGINE" root "$_root" "$_access" "$@"
        mkdir -p "$_root/udf"
        cp "$_build/morvanfn.dll" "$_root/udf/"
        cp "$_build/morvanfn_udr.dll" "$_root/plugins/udr/"
        cp "$_build/fbsql.exe" "$_root/"
        [ -f "$_root/ib_util.dll" ] || cp "$_build/ib_util.dll" "$_root/"
        FIREBIRD_ROOT=$_root
        export FIREBIRD_ROOT
    else
        case $_udf in None) _access=None ;; *) _access=$_build${_udf#udf} ;; esac
        sh "$(dirname "$here")/scripts/firebird.sh" "$FB_ENGINE" root "$_root" "$_access" "$@"
        cp "$_build/libmorvanfn_udr.so" "$_root/udr/"
        FIREBIRD="$_root" FIREBIRD_LOCK="$_root/lock" FIREBIRD_TMP="$_root/tmp"
        export FIREBIRD FIREBIRD_LOCK FIREBIRD_TMP
    fi
    ISC_USER=SYSDBA
    export ISC_USER
    unset ISC_PASSWORD
}

# installed_root ROOT
#   A Windows engine's root whose modules an installer put there (the
#   installer test): used as it is, fbsql.exe beside the engine.
installed_root() {
    FIREBIRD_ROOT=$1 ISC_USER=SYSDBA
    export FIREBIRD_ROOT ISC_USER
    unset ISC_PASSWORD
}

rows() {
    awk '/^Statement failed, SQLSTATE = / { print; next }
         length($0) >= 32 && substr($0, 1, 32) ~ /^[A-Z][A-Z0-9_$]* +$/ { print }' "$1"
}

ok() { echo "ok     $1"; }
fail() { echo "FAILED $1"; failed=1; }
expect() { case $2 in $3) ok "$1: $2" ;; *) fail "$1: got '$2', want '$3'" ;; esac; }

windows_path() { printf 'Z:%s\n' "$1" | tr / '\\'; }

fbsql() {
    _args=
    for _a in "$@"; do
        case $_a in /*) _a=$(windows_path "$_a") ;; esac
        _args="$_args '$(printf '%s\n' "$_a" | sed "s/'/'\\\\''/g")'"
    done
    # Now and then wine fails to start a program at all ("Application could
    # not be started ... ShellExecuteEx failed"), before it runs: once more.
    _out=$( (cd "$FIREBIRD_ROOT" && eval "timeout 300 wine fbsql.exe $_args") 2>&1 | tr -d '\r')
    case $_out in
        "Application could not be started"*)
            sleep 1
            _out=$( (cd "$FIREBIRD_ROOT" && eval "timeout 300 wine fbsql.exe $_args") 2>&1 | tr -d '\r') ;;
    esac
    printf '%s\n' "$_out"
}
