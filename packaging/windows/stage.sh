#!/bin/sh
# Lays out what one architecture's installer holds (msi.sh), from a Windows
# build: the two modules, the installer's checks, and for Program
# Files\morvanfn the upgrade tool, the SQL scripts and the DBA's guide.
# usage: stage.sh WIN_BUILD_DIR STAGE
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: stage.sh WIN_BUILD_DIR STAGE} stage=${2:?usage: stage.sh WIN_BUILD_DIR STAGE}
rm -rf "$stage"
mkdir -p "$stage/tool"
cp "$build/morvanfn_udr.dll" "$build/morvanfn.dll" "$build/checks.dll" "$stage/"
cp "$build/morvanfn-upgrade.exe" "$top/sql/declare.sql" "$top/sql/declare_null.sql" "$top/sql/declare_udr.sql" \
    "$top/sql/drop.sql" "$build/sql/check.sql" "$build/sql/switch_to_udr.sql" "$top/doc/guide.md" "$stage/tool/"
