#!/bin/sh
# The Windows installer of this build's architecture, under wine, on one
# Windows engine, as a DBA (or a deployment tool) runs it silently:
#
#   no server registered and none named: said, nothing installed;
#   a server of the other architecture named: refused, naming the installer
#     to use, nothing installed;
#   the engine registered as Firebird's installer registers it
#     (DefaultInstance, in the registry view of this architecture): the
#     previous build installed with the UDF module, then this build over it
#     with no argument at all: the same server, the UDF module kept, the
#     previous build's own file gone;
#   the SQL suites (sql_regress.sh, declare_udr.sql and declare.sql) run on
#     the modules it installed, in that very root; morvanfn-upgrade finds
#     that server with no --firebird;
#   a running server holding the UDR module (tests/wine/hold.c): this build
#     refuses to replace the previous one, naming the server's service, and
#     changes nothing; once it is gone, this build goes over it;
#   the uninstall: nothing of ours is left (files, Program Files\morvanfn,
#     the Start-menu entry, our registry key); the database, firebird.conf
#     and another vendor's module in UDF are as they were;
#   no server registered, its root given (FIREBIRD_ROOT=...): the UDR module
#     alone goes there, and the uninstall takes it away.
#
#   and the installer itself: made twice, the same bytes; the modules' file
#   versions in its File table.
#
# usage: firebird.sh ENGINE run sh installer_test.sh WIN_BUILD_DIR
#   (ENGINE: win64-... or win32-..., the build's architecture)
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
[ "${FB_PLATFORM:-}" = windows ] || { echo "run me through scripts/firebird.sh ENGINE run, a Windows engine"; exit 1; }
work=$build/installertest/$FB_ENGINE
rm -rf "$work"
mkdir -p "$work"
failed=0
. "$here/engine_root.sh"

arch=$FB_ARCH
version=$(sed -n 's/^ *VERSION \([0-9.]*\)$/\1/p' "$top/CMakeLists.txt" | head -n 1)
case $arch in
    x64) view=/reg:64 programs=$WINEPREFIX/drive_c/Program\ Files other=win32-${FB_ENGINE#*-} ;;
    *) view=/reg:32 programs=$WINEPREFIX/drive_c/Program\ Files\ \(x86\) other=win64-${FB_ENGINE#*-} ;;
esac
ours=$programs/morvanfn
# The Start menu's entry: all users' (Windows), or the user's (wine).
menu() { ls -d "$WINEPREFIX"/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/morvanfn \
    "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs/morvanfn 2> /dev/null || true; }
instances='HKLM\SOFTWARE\Firebird Project\Firebird Server\Instances'

# Two builds of the installer from this build: the previous version (with
# a file of its own) and this one.  (Wine forgets an upgrade's product once
# it upgrades again, so the chain is one upgrade long.)
sh "$top/packaging/windows/stage.sh" "$build" "$work/stage"
cp -R "$work/stage" "$work/stage-previous"
echo "a file only the previous version had" > "$work/stage-previous/tool/previous-notes.txt"
sh "$top/packaging/windows/msi.sh" "$arch" 2.0.0.2 "$work/stage-previous" "$work/previous.msi"
sh "$top/packaging/windows/msi.sh" "$arch" "$version" "$work/stage" "$work/this.msi"
sh "$top/packaging/windows/msi.sh" "$arch" "$version" "$work/stage" "$work/again.msi"
expect "made twice from the same files: the same installer, the modules' file versions in it" \
    "$(cmp -s "$work/this.msi" "$work/again.msi" && echo same) $(msiinfo export "$work/this.msi" File | awk -F '\t' '$1 == "udr" || $1 == "udf" { printf "%s %s ", $3, $5 }')" \
    "same morvanfn_udr.dll $version morvanfn.dll $version "

# msiexec NAME ARG ...: silent, logged to $work/NAME.log (as text, in
# $work/msi.txt too); its status.
msiexec() {
    log=$work/$1.log
    shift
    rm -f "$log"
    if wine msiexec "$@" /qn /l*v "$(windows_path "$log")" < /dev/null > /dev/null 2>&1; then s=0; else s=$?; fi
    tr -d '\000' < "$log" > "$work/msi.txt" 2> /dev/null || : > "$work/msi.txt"
    echo "$s"
}
said() { grep -c "$1" "$work/msi.txt" || true; }
registry() { wine reg "$@" $view < /dev/null > /dev/null 2>&1; }
# Nothing of ours anywhere: files, directory, menu, registry key.
nothing_of_ours() {
    n=0
    for f in "$root/plugins/udr/morvanfn_udr.dll" "$root/UDF/morvanfn.dll" "$ours"; do [ ! -e "$f" ] || n=$((n + 1)); done
    [ -z "$(menu)" ] || n=$((n + 1))
    registry query 'HKLM\SOFTWARE\morvanfn' && n=$((n + 1))
    echo "$n"
}
# What was there before, and stays: everything in the root but our modules.
theirs() {
    (cd "$root" && find . \( -path ./lock -o -path ./tmp \) -prune -o -type f ! -name morvanfn_udr.dll ! -name morvanfn.dll \
        ! -name firebird.log -print | sort | xargs md5sum)
}

# A clean prefix: no earlier run's product, no registered server.
for code in $(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s $view < /dev/null 2> /dev/null | tr -d '\r' |
        awk '/^HKEY/ { n = split($0, p, "\\"); key = p[n] } /DisplayName.*morvanfn/ { print key }'); do
    msiexec clean /x "$code" > /dev/null
done
registry delete "$instances" /f || true
registry delete 'HKLM\SOFTWARE\morvanfn' /f || true

# The server: this engine's runtime, its UDF directory allowed, a database
# (named in capitals, as the Windows engine writes a file name) and another
# vendor's UDF module in it.
root=$work/root
sh "$top/scripts/firebird.sh" "$FB_ENGINE" root "$root" "$root/UDF"
mkdir -p "$root/UDF"
cp "$build/fbsql.exe" "$root/"
[ -f "$root/ib_util.dll" ] || cp "$build/ib_util.dll" "$root/"
echo "another vendor's module" > "$root/UDF/vendor.dll"
installed_root "$root"
echo "CREATE TABLE T (N INTEGER);" > "$work/shop.sql"
fbsql -create "$root/SHOP.FDB" "$work/shop.sql" > "$work/shop.log" 2>&1
[ -f "$root/SHOP.FDB" ] || { cat "$work/shop.log"; fail "a database in the server's directory, to see it kept"; }
before=$(theirs)

expect "no server registered, none named: said, nothing installed" \
    "$(msiexec none /i "$(windows_path "$work/this.msi")") $(said 'No .* Firebird server is registered on this computer') $(nothing_of_ours)" \
    "[1-9]* 1 0"
sh "$top/scripts/firebird.sh" "$other" run sh "$top/scripts/firebird.sh" "$other" root "$work/other" None > /dev/null
expect "a server of the other architecture: refused, the installer to use named" \
    "$(msiexec other-arch /i "$(windows_path "$work/this.msi")" FIREBIRD_ROOT="$(windows_path "$work/other")") $(said "Use the $([ "$arch" = x64 ] && echo x86 || echo x64) installer") $(nothing_of_ours) $(ls "$work/other/plugins/udr" | grep -c morvanfn || true)" \
    "[1-9]* 1 0 0"

registry add "$instances" /v DefaultInstance /t REG_SZ /d "$(windows_path "$root")\\" /f
expect "the previous build, silently, with the UDF module, into the registered server" \
    "$(msiexec previous /i "$(windows_path "$work/previous.msi")" INSTALL_UDF=1) $([ -f "$root/plugins/udr/morvanfn_udr.dll" ] && echo udr) $([ -f "$root/UDF/morvanfn.dll" ] && echo udf) $(ls "$ours" | tr '\n' ' ')" \
    "0 udr udf check.sql declare.sql declare_null.sql declare_udr.sql drop.sql guide.md morvanfn-upgrade.exe previous-notes.txt switch_to_udr.sql "
# A running server holding the module: a service of that server, and a
# process that has the DLL loaded.
wine sc create FirebirdServerMorvanfnTest binPath= "$(windows_path "$root")\\firebird.exe -s MorvanfnTest" < /dev/null > /dev/null 2>&1 || true
mkfifo "$work/hold.in"
(cd "$root" && wine "$(windows_path "$build/hold.exe")" "$(windows_path "$root/plugins/udr/morvanfn_udr.dll")" < "$work/hold.in" > "$work/hold.out" 2>&1) &
holder=$!
exec 9> "$work/hold.in"
for i in $(seq 300); do grep -q held "$work/hold.out" 2> /dev/null && break; sleep 0.1; done
expect "the module held by a running server: this build refuses, naming its service, and changes nothing" \
    "$(msiexec held /i "$(windows_path "$work/this.msi")") $(said 'morvanfn_udr.dll is in use.*Stop the service FirebirdServerMorvanfnTest') $(cmp -s "$root/plugins/udr/morvanfn_udr.dll" "$build/morvanfn_udr.dll" && echo same) $(wine reg query 'HKLM\SOFTWARE\morvanfn' /v Version $view 2> /dev/null | tr -d '\r' | awk '/Version/ { print $3 }')" \
    "[1-9]* 1 same 2.0.0.2"
exec 9>&-
wait $holder || true
wine sc delete FirebirdServerMorvanfnTest < /dev/null > /dev/null 2>&1 || true
expect "released: this build over it, no argument: the same server, the UDF module kept, nothing of the previous one left" \
    "$(msiexec upgrade /i "$(windows_path "$work/this.msi")") $(cmp -s "$root/plugins/udr/morvanfn_udr.dll" "$build/morvanfn_udr.dll" && echo udr) $(cmp -s "$root/UDF/morvanfn.dll" "$build/morvanfn.dll" && echo udf) $([ -e "$ours/previous-notes.txt" ] && echo stale) $(ls "$ours" | wc -l) $([ -f "$(menu)/morvanfn command prompt.lnk" ] && echo menu)" \
    "0 udr udf  8 menu"

# The SQL suites on what it installed.
for declaration in declare_udr declare; do
    if MORVANFN_INSTALLED_ROOT=$root sh "$here/sql_regress.sh" "$build" "$top/sql/$declaration.sql" > "$work/$declaration.log" 2>&1; then
        ok "the SQL suite under $declaration.sql, on the installed modules: $(tail -n 1 "$work/$declaration.log")"
    else
        fail "the SQL suite under $declaration.sql, on the installed modules (see $work/$declaration.log)"
        tail -n 20 "$work/$declaration.log"
    fi
done

# The upgrade tool (tests/wine's driver: the very program) without
# --firebird: the server the installer went into, from the registry.
cp "$build/upgrade_driver.exe" "$root/SHOP.FDB" "$work/"
(cd "$work" && timeout 300 wine upgrade_driver.exe check "$(windows_path "$work/SHOP.FDB")" < /dev/null > "$work/tool.log" 2>&1) || true
expect "morvanfn-upgrade finds the server the installer went into" \
    "$(tr -d '\r' < "$work/tool.log" | grep -c "^morvanfn-upgrade: engine: W.-V$FB_LINE")" 1

expect "the uninstall: nothing of ours left, everything else as it was" \
    "$(msiexec uninstall /x "$(windows_path "$work/this.msi")") $(nothing_of_ours) $([ "$(theirs)" = "$before" ] && echo theirs-kept)" \
    "0 0 theirs-kept"
registry delete "$instances" /f || true
expect "no server registered, its root named: installed there, and uninstalled from there" \
    "$(msiexec named /i "$(windows_path "$work/this.msi")" FIREBIRD_ROOT="$(windows_path "$root")") $([ -f "$root/plugins/udr/morvanfn_udr.dll" ] && echo udr) $([ -f "$root/UDF/morvanfn.dll" ] && echo udf) $(msiexec named-uninstall /x "$(windows_path "$work/this.msi")") $(nothing_of_ours)" \
    "0 udr  0 0"

echo "installer on $FB_ENGINE: $([ $failed = 0 ] && echo passed || echo FAILED)"
[ $failed = 0 ]
