#!/bin/sh
# Builds Firebird 6.0 (pre-release: no binary of it is published) from its
# public source, at the commit the engine table pins, into the cache outside
# the clone, where scripts/firebird.sh finds it as the engine linux6.0.
#
# usage: scripts/firebird6.sh SOURCE_DIR
#   SOURCE_DIR: FirebirdSQL/firebird at that commit (a git work tree is
#   checked; Android's files and extern/icu, whose archives the public
#   mirror lacks, are not needed; extern/icu/tzdata is).  The tree is copied
#   and built elsewhere: it is left as it is.  About 13 minutes on 2 cores;
#   nothing is done when that commit's build is already there.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
src=$(cd "${1:?usage: firebird6.sh SOURCE_DIR}" && pwd)
commit=$(sh "$top/scripts/firebird.sh" linux6.0 commit)
prefix=$(sh "$top/scripts/firebird.sh" linux6.0 prefix)
if [ -x "$prefix/bin/isql" ] && [ -f "$prefix/plugins/libEngine14.so" ]; then
    echo "Firebird 6.0 at ${commit%"${commit#????????}"} is built: $prefix"
    exit 0
fi
if git -C "$src" rev-parse HEAD > /dev/null 2>&1; then
    head=$(git -C "$src" rev-parse HEAD)
    [ "$head" = "$commit" ] || { echo "firebird6.sh: $src is at $head, not the pinned $commit" >&2; exit 1; }
else
    echo "firebird6.sh: $src is not a git work tree: taken as commit $commit" >&2
fi
[ -f "$src/src/jrd/jrd.cpp" ] && [ -d "$src/extern/icu/tzdata" ] ||
    { echo "firebird6.sh: $src is not Firebird's source tree (with extern/icu/tzdata)" >&2; exit 1; }
sh "$top/scripts/deps.sh" firebird6

work=${prefix%/*}/build-$commit
rm -rf "$work"
mkdir -p "$work"
# The tree, without git's files and the parts this build does not use.
(cd "$src" && tar --exclude=./.git --exclude=./android --exclude='./extern/icu/[!t]*' -cf - .) | (cd "$work" && tar -xf -)
# g++ 12 has no <format>: the interface generator (cloop) then takes
# header-only {fmt}'s format, which is what <format> was made from.
if ! echo '#include <format>' | g++ -std=c++20 -x c++ -fsyntax-only - 2> /dev/null; then
    cat > "$work/extern/cloop/src/cloop/format_compat.h" <<'EOF'
#define FMT_HEADER_ONLY
#include <fmt/format.h>
namespace std { using fmt::format; }
EOF
    sed -i 's|#include <format>|#include "format_compat.h"|' \
        "$work/extern/cloop/src/cloop/Expr.cpp" "$work/extern/cloop/src/cloop/Lexer.cpp" "$work/extern/cloop/src/cloop/Parser.cpp"
fi
start=$(date +%s)
echo "building Firebird 6.0 at $commit in $work (about 13 minutes on 2 cores)"
(
    cd "$work"
    NOCONFIGURE=1 ./autogen.sh > "$work/autogen.log" 2>&1
    ./configure --with-system-re2 --with-system-editline > "$work/configure.log" 2>&1
    make -j"$(nproc 2>/dev/null || echo 2)" > "$work/make.log" 2>&1
) || { tail -n 30 "$work"/*.log >&2; echo "firebird6.sh: the build failed (logs in $work)" >&2; exit 1; }
rm -rf "$prefix"
cp -a "$work/gen/Release/firebird" "$prefix"
# The names the project's scripts call Firebird's programs by (Debian's).
mkdir -p "$prefix/names"
ln -sf ../bin/isql "$prefix/names/isql-fb"
for p in gbak gfix gstat gsec; do ln -sf "../bin/$p" "$prefix/names/$p"; done
echo "$commit" > "$prefix/COMMIT"
rm -rf "$work"
echo "Firebird 6.0 built in $(( $(date +%s) - start )) s: $prefix"
