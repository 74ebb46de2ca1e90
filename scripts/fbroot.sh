#!/bin/sh
# Makes a private Firebird root: the engine, its messages and character sets
# linked from the system's installation, and a firebird.conf of our own.  With
# FIREBIRD and FIREBIRD_LOCK pointing here, isql-fb runs the engine embedded in
# its own process, reads no system configuration and needs no server.
#
# usage: fbroot.sh ROOT UDF_DIRS [CONF_LINE ...]
#   UDF_DIRS   UdfAccess value: "None", or directories separated by ';'
#   CONF_LINE  further firebird.conf lines (default: embedded only)
# UDR modules are looked for in $FB_UDR_DIR, by default ROOT/udr.
set -eu
root=$1 udf=$2
shift 2

fbdir=
for d in /usr/lib/x86_64-linux-gnu/firebird/3.0 /usr/lib/*/firebird/3.0 /usr/lib/firebird/3.0 /opt/firebird; do
    if [ -f "$d/plugins/libEngine12.so" ]; then fbdir=$d; break; fi
done
if [ -z "$fbdir" ]; then
    echo "fbroot: the Firebird 3 engine is not installed (Debian: apt-get install firebird3.0-server-core firebird3.0-utils)" >&2
    exit 1
fi

mkdir -p "$root/plugins" "$root/lock" "$root/tmp" "$root/udr"
ln -sfn "$fbdir/firebird.msg" "$root/firebird.msg"
ln -sfn "$fbdir/intl" "$root/intl"
for f in "$fbdir"/plugins/*; do ln -sfn "$f" "$root/plugins/"; done

case $udf in
    None) access=None ;;
    *) access="Restrict $udf" ;;
esac
{
    echo "UdfAccess = $access"
    echo "TempDirectories = $root/tmp"
    if [ $# -eq 0 ]; then echo "Providers = Engine12"; fi
    for line in "$@"; do echo "$line"; done
} > "$root/firebird.conf"

cat > "$root/plugins.conf" <<CONF
Plugin = UDR {
	Module = \$(dir_plugins)/udr_engine
	Config = UDR_config
}
Config = UDR_config {
	path = ${FB_UDR_DIR:-$root/udr}
}
CONF
