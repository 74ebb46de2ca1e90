#!/bin/sh
# Makes the Windows installer of one architecture with wixl (Debian's
# msitools), from a staged directory:
#
#   STAGE/morvanfn_udr.dll   into the server's plugins\udr
#   STAGE/morvanfn.dll       into the server's UDF, only when chosen
#                            (INSTALL_UDF=1, or the UDF feature)
#   STAGE/checks.dll         the installer's checks (checks.c), not installed
#   STAGE/tool/*             into Program Files\morvanfn: morvanfn-upgrade.exe,
#                            the SQL scripts, the guide
#
# The server is found or named by checks.c's FindServer; our registry key
# remembers it (and whether the UDF module went in) for upgrades and the
# uninstall.  A newer version removes the older one first, then installs:
# nothing of the older one is left.  A Start-menu entry opens a command
# prompt in Program Files\morvanfn.  Nothing edits firebird.conf or touches a
# database.
#
# Reproducible: every GUID is derived from the version, architecture and
# file name, and wixl and msibuild run at a fixed time (SOURCE_DATE_EPOCH,
# else the version's own date below).
#
# usage: msi.sh x64|x86 VERSION STAGE OUT.msi
set -eu
arch=${1:?usage: msi.sh x64|x86 VERSION STAGE OUT.msi} version=${2:?} stage=${3:?} out=${4:?}
case $arch in
    x64) win64=yes programs=ProgramFiles64Folder system=System64Folder ;;
    x86) win64=no programs=ProgramFilesFolder system=SystemFolder ;;
    *) echo "msi.sh: x64 or x86, not $arch" >&2; exit 2 ;;
esac
for f in morvanfn_udr.dll morvanfn.dll checks.dll tool/morvanfn-upgrade.exe; do
    [ -f "$stage/$f" ] || { echo "msi.sh: no $stage/$f" >&2; exit 1; }
done

# Windows Installer compares the first three fields of a product's version
# alone: the last two of ours go into its third (2.0.0.3 is 2.0.3, 2.0.1.0
# is 2.0.1000), so that every release upgrades the one before.
msi_version=$(echo "$version" | awk -F. '{ printf "%d.%d.%d\n", $1, $2, $3 * 1000 + $4 }')

# A GUID that is always the same for the same words (a name-based UUID, SHA-1).
guid() {
    h=$(printf 'morvanfn %s' "$*" | sha1sum | cut -c1-32)
    printf '%s-%s-5%s-%x%s-%s\n' "$(echo "$h" | cut -c1-8)" "$(echo "$h" | cut -c9-12)" "$(echo "$h" | cut -c14-16)" \
        $(( (0x$(echo "$h" | cut -c17) & 3) | 8 )) "$(echo "$h" | cut -c18-20)" "$(echo "$h" | cut -c21-32)" | tr a-f A-F
}
# A DLL's or program's file version, from its version resource
# (VS_FIXEDFILEINFO: the signature, then MS and LS as 16-bit halves).
file_version() {
    at=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$1" | head -n 1 | cut -d: -f1)
    [ -n "$at" ] || { echo "msi.sh: $1 has no version resource" >&2; exit 1; }
    od -An -tu2 -j $((at + 8)) -N8 "$1" | awk '{ print $2 "." $1 "." $4 "." $3 }'
}
# A file name as a WiX identifier.
id() { printf 'f_%s\n' "$1" | tr -c 'A-Za-z0-9_\n' _; }

wxs=$(mktemp)
trap 'rm -f "$wxs"' EXIT
{
cat <<EOF
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$(guid product "$version" "$arch")" Name="morvanfn $version ($arch)" Language="1033"
           Version="$msi_version" Manufacturer="morvanfn developers" UpgradeCode="$(guid upgrade "$arch")">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"
             Description="morvanfn: SQL functions for Firebird, $arch" Comments="UDR and UDF modules for a Firebird server, with morvanfn-upgrade"/>
    <MajorUpgrade DowngradeErrorMessage="A newer morvanfn is installed: uninstall it first to go back to $version."/>
    <Media Id="1" Cabinet="morvanfn.cab" EmbedCab="yes"/>

    <Property Id="INSTALLED_ROOT">
      <RegistrySearch Id="installed_root" Root="HKLM" Key="SOFTWARE\\morvanfn" Name="FirebirdRoot" Type="raw" Win64="$win64"/>
    </Property>
    <Property Id="INSTALLED_UDF">
      <RegistrySearch Id="installed_udf" Root="HKLM" Key="SOFTWARE\\morvanfn" Name="UdfModule" Type="raw" Win64="$win64"/>
    </Property>
    <Binary Id="checks" SourceFile="checks.dll"/>
    <CustomAction Id="FindServer" BinaryKey="checks" DllEntry="FindServer" Execute="immediate" Return="check"/>
    <CustomAction Id="ChooseUdf" Property="INSTALLLEVEL" Value="1000"/>
    <InstallUISequence>
      <Custom Action="FindServer" After="AppSearch"/>
      <Custom Action="ChooseUdf" After="FindServer">INSTALL_UDF = "1"</Custom>
    </InstallUISequence>
    <InstallExecuteSequence>
      <Custom Action="FindServer" After="AppSearch"/>
      <Custom Action="ChooseUdf" After="FindServer">INSTALL_UDF = "1"</Custom>
    </InstallExecuteSequence>

    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="FIREBIRD_ROOT" Name="Firebird">
        <Directory Id="FB_PLUGINS" Name="plugins">
          <Directory Id="FB_UDR" Name="udr">
            <Component Id="udr" Guid="$(guid component udr "$arch")" Win64="$win64">
              <File Id="udr" Name="morvanfn_udr.dll" Source="morvanfn_udr.dll" KeyPath="yes"/>
            </Component>
          </Directory>
        </Directory>
        <Directory Id="FB_UDF" Name="UDF">
          <Component Id="udf" Guid="$(guid component udf "$arch")" Win64="$win64">
            <File Id="udf" Name="morvanfn.dll" Source="morvanfn.dll" KeyPath="yes"/>
            <RegistryValue Root="HKLM" Key="SOFTWARE\\morvanfn" Name="UdfModule" Type="string" Value="[FB_UDF]morvanfn.dll"/>
          </Component>
        </Directory>
      </Directory>
      <Directory Id="$programs">
        <Directory Id="INSTALLDIR" Name="morvanfn">
          <Component Id="server" Guid="$(guid component server "$arch")" Win64="$win64">
            <RegistryValue Root="HKLM" Key="SOFTWARE\\morvanfn" Name="FirebirdRoot" Type="string" Value="[FIREBIRD_ROOT]" KeyPath="yes"/>
            <RegistryValue Root="HKLM" Key="SOFTWARE\\morvanfn" Name="Version" Type="string" Value="$version"/>
          </Component>
EOF
for f in "$stage"/tool/*; do
    n=$(basename "$f")
    cat <<EOF
          <Component Id="$(id "$n")" Guid="$(guid component tool "$n" "$arch")" Win64="$win64">
            <File Id="$(id "$n")" Name="$n" Source="tool/$n" KeyPath="yes"/>
          </Component>
EOF
done
cat <<EOF
        </Directory>
      </Directory>
      <Directory Id="ProgramMenuFolder">
        <Directory Id="MENU" Name="morvanfn">
          <Component Id="menu" Guid="$(guid component menu "$arch")" Win64="$win64">
            <Shortcut Id="prompt" Name="morvanfn command prompt" Description="A command prompt where morvanfn-upgrade and the SQL scripts are"
                      Target="[$system]cmd.exe" Arguments="/k cd /d &quot;[INSTALLDIR]&quot;" WorkingDirectory="INSTALLDIR"/>
            <RemoveFolder Id="MENU" On="uninstall"/>
            <RegistryValue Root="HKLM" Key="SOFTWARE\\morvanfn" Name="StartMenu" Type="integer" Value="1" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>

    <Feature Id="UDR" Title="UDR module, morvanfn-upgrade and the SQL scripts" Level="1">
      <ComponentRef Id="udr"/>
      <ComponentRef Id="server"/>
      <ComponentRef Id="menu"/>
EOF
for f in "$stage"/tool/*; do echo "      <ComponentRef Id=\"$(id "$(basename "$f")")\"/>"; done
cat <<EOF
    </Feature>
    <Feature Id="UDF" Title="UDF module (needs UdfAccess in firebird.conf)" Level="1000">
      <ComponentRef Id="udf"/>
    </Feature>
  </Product>
</Wix>
EOF
} > "$wxs"

# Fixed times: the same sources make the same installer.
when=$(date -u -d "@${SOURCE_DATE_EPOCH:-1765195200}" '+%Y-%m-%d %H:%M:%S')
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
rm -f "$out"
# wixl reads the files named relative to where it runs.
(cd "$stage" && TZ=UTC faketime "$when" wixl -a "$arch" -o "$out" "$wxs")
TZ=UTC faketime "$when" msibuild "$out" -s "morvanfn $version ($arch)" "morvanfn developers" "$([ "$arch" = x64 ] && echo x64 || echo Intel);1033" \
    "{$(guid package "$version" "$arch")}"
# wixl leaves the File table's versions empty: Windows Installer compares
# them when a file is already there.
for f in udr:morvanfn_udr.dll udf:morvanfn.dll f_morvanfn_upgrade_exe:tool/morvanfn-upgrade.exe; do
    TZ=UTC faketime "$when" msibuild "$out" -q "UPDATE \`File\` SET \`Version\` = '$(file_version "$stage/${f#*:}")' WHERE \`File\` = '${f%%:*}'"
done
