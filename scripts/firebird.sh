#!/bin/sh
# The one place that knows each Firebird engine: the table below says which
# engines there are and where each comes from; the rest says where an
# engine's files live, which provider and which real programs belong to it,
# and how a private root is laid out.  Tests, demo and benchmarks ask it.
#
# usage: firebird.sh ENGINE COMMAND ...
#        firebird.sh list [linux|windows-x64|windows-x86|debian|prerelease]
#        firebird.sh wine PROGRAM [ARG ...]
#        firebird.sh wineserver [ARG ...]
#   list                  the engines this machine can have, one name a line
#                         (the Debian ones only where its suite has them)
#   commit, prefix        a source engine's pinned commit, and where its
#                         build goes (scripts/firebird6.sh builds it)
#   setup                 fetch and unpack the engine (and Debian's server
#                         binary where MORVANFN_SERVER=yes), install what it
#                         needs; kept outside the clone
#   version               one line: name, version, platform, architecture and
#                         where from, e.g. "Firebird 4.0.7 (Linux x86-64, PyPI
#                         firebird-embedded 4.0.7.4)"
#   run CMD [ARG ...]     run CMD with FB_ENGINE, FB_LINE (3.0, 4.0, 5.0),
#                         FB_PLATFORM (linux, windows), FB_ARCH, FB_LIB (the
#                         engine's root), FB_PROVIDER, FB_SERVER (Debian's only)
#                         and FB_UDF_DIR set; for a Linux engine the real
#                         isql-fb and gbak first on PATH (Debian's own, never
#                         its wrappers), for a Windows engine wine's settings
#   root DIR UDF [LINE ...]
#                         make a private root in DIR (inside `run`): with
#                         FIREBIRD and FIREBIRD_LOCK pointing there the engine
#                         runs embedded, reads no system configuration and needs
#                         no server.  UDF is the UdfAccess value, "None" or
#                         directories separated by ';'; LINEs are more
#                         firebird.conf lines.  Only this engine's provider
#                         is loaded (embedded only) unless a LINE sets
#                         Providers; the client library may be another
#                         line's (Debian 13's is 4.0 alone), so it is always
#                         named.  UDR
#                         modules are looked for in $FB_UDR_MODULES, by default
#                         DIR/udr (DIR/plugins/udr on Windows).
#   wine PROGRAM ...      run a Windows program in the project's wine prefix
#                         (made first if need be), as the Windows builds'
#                         tests do
#   wineserver ARG ...    wine's server of that prefix (-k ends it)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)

# The engines.  A wheel is PyPI's firebird-embedded, pinned by version and
# SHA-256: the official build's client, engine, UDR engine, intl and
# messages, but no programs and no server.  Debian's engines are the host's
# own packages, for what needs a distribution's packaging (its server, the
# .deb); a line the host's suite lacks is not listed.  A source engine is a
# pre-release built here from FirebirdSQL/firebird at the commit given
# (scripts/firebird6.sh), its own programs included; listed once built.
#
# name      line platform arch   from
engines='
linux3.0   3.0 linux   x86-64 firebird_embedded-3.0.14.4-py3-none-manylinux_2_17_x86_64.whl c60514b834578f0fb035f57750e49fa5b9f73edabca02ff0e3852cc2ea4ae85c
linux4.0   4.0 linux   x86-64 firebird_embedded-4.0.7.4-py3-none-manylinux_2_17_x86_64.whl 84f9102547e9a605ba15dfe3b5d2b7fed9edc8042ebddb68b8624a2cce0ef8a0
linux5.0   5.0 linux   x86-64 firebird_embedded-5.0.4.4-py3-none-manylinux_2_17_x86_64.whl 4112cf5c25cea05d39d4f51c8ac54e0341d341b2099e8b2592a65e80a00463e4
win64-3.0  3.0 windows x64    firebird_embedded-3.0.14.4-py3-none-win_amd64.whl 775f70b35835f5474a1f89e9343492d39cde41bde6e89a7f1262cfeac734f521
win64-4.0  4.0 windows x64    firebird_embedded-4.0.7.4-py3-none-win_amd64.whl 7fb50edf19848f18506b39a8bdedff29d6d8a0c0da751879dec8b6267d2ce503
win64-5.0  5.0 windows x64    firebird_embedded-5.0.4.4-py3-none-win_amd64.whl 5abe82598d36e4cec180c1695c3106b7fb3b90da89cea91e6b9a3325df2afa05
win32-3.0  3.0 windows x86    firebird_embedded-3.0.14.4-py3-none-win32.whl ace72f6c5c02d8bf1bf386e7fd4e3197d20c35d533c3fb1548470d53a272d08c
win32-4.0  4.0 windows x86    firebird_embedded-4.0.7.4-py3-none-win32.whl 3ee95d1c0f7100eca55e22d3b9de42269ab81e2db3ca10113ee5de036adf2315
win32-5.0  5.0 windows x86    firebird_embedded-5.0.4.4-py3-none-win32.whl c483df7fd15faeb9851a341f89532dd9e902b7f9927c35b1ac5d929d5e6049a9
debian3.0  3.0 linux   x86-64 debian
debian4.0  4.0 linux   x86-64 debian
linux6.0   6.0 linux   x86-64 source f2a513ef2b3b012307e0c90e0330d0eb04e494cd
'

# What setup fetches is kept outside the clone, for later runs.
if [ "$(id -u)" = 0 ]; then cache=/var/cache/morvanfn; else cache=${XDG_CACHE_HOME:-$HOME/.cache}/morvanfn; fi
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)

# debian_has LINE: the host's suite has that Firebird line.
debian_has() {
    [ -d "/usr/lib/$multiarch/firebird/$1/plugins" ] ||
        [ -n "$(apt-cache policy "firebird$1-server-core" 2>/dev/null | sed -n 's/^ *Candidate: *\([^(]\)/\1/p')" ]
}
# Debian's real programs of a line: /usr/bin holds them for 3.0 on bookworm,
# and wrappers that ignore FIREBIRD elsewhere (trixie).
debian_bin() {
    if [ -x "/usr/lib/firebird/$1/bin/isql-fb" ]; then echo "/usr/lib/firebird/$1/bin"; else echo /usr/bin; fi
}
# The programs that drive the wheels, through each wheel's own client
# library: those of the host's oldest Debian line.
driver_line() { if debian_has 3.0; then echo 3.0; else echo 4.0; fi; }

# One wine prefix for every Windows program, outside the clone: a 64-bit
# one runs the 32-bit engines too.
wine_prefix=$cache/wine
wine_env() {
    WINEPREFIX=$wine_prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
    export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
    if [ ! -f "$wine_prefix/system.reg" ]; then
        mkdir -p "$cache"
        exec 8> "$cache/wine.lock"
        flock 8
        if [ ! -f "$wine_prefix/system.reg" ]; then
            echo "making wine's prefix in $wine_prefix (once)" >&2
            wineboot -i > "$cache/wineboot.log" 2>&1 || { tail -n 5 "$cache/wineboot.log" >&2; return 1; }
            wineserver -w
        fi
        flock -u 8
    fi
    # A wineserver that outlives each program a while: starting one is most
    # of what a short program costs under wine.  A new one's first program
    # starts wine's services, which live as long as the server: that program
    # is this one, with streams of its own, or they would keep a test's
    # output open, and the test waiting, until the server ends.
    if wineserver -p300 < /dev/null > /dev/null 2>&1; then
        wine cmd /c exit < /dev/null > /dev/null 2>&1 || true
    fi
}
if [ "${1:-}" = wine ]; then
    shift
    sh "$top/scripts/deps.sh" windows
    wine_env
    exec wine "$@"
fi
if [ "${1:-}" = wineserver ]; then
    shift
    WINEPREFIX=$wine_prefix
    export WINEPREFIX
    [ ! -d "$wine_prefix" ] || exec wineserver "$@"
    exit 0
fi

if [ "${1:-}" = list ]; then
    echo "$engines" | while read -r name line platform arch from sha256; do
        [ -n "$name" ] || continue
        if [ "$from" = debian ] && ! debian_has "$line"; then continue; fi
        if [ "$from" = source ] && [ ! -f "$cache/firebird$line/$sha256/plugins/libEngine14.so" ]; then continue; fi
        case ${2:-} in
            '') ;;
            linux) [ "$platform" = linux ] && [ "$from" != debian ] && [ "$from" != source ] || continue ;;
            prerelease) [ "$from" = source ] || continue ;;
            debian) [ "$from" = debian ] || continue ;;
            windows-*) [ "$platform-$arch" = "${2}" ] || continue ;;
        esac
        echo "$name"
    done
    exit 0
fi

engine=${1:?usage: firebird.sh ENGINE COMMAND ... (firebird.sh list names them)}
command=${2:?usage: firebird.sh ENGINE COMMAND ...}
shift 2
row=$(echo "$engines" | awk -v n="$engine" '$1 == n')
[ -n "$row" ] || { echo "firebird.sh: no engine $engine (firebird.sh list names them)" >&2; exit 2; }
read -r _ line platform arch from sha256 <<ROW
$row
ROW
if [ "$from" = debian ]; then
    lib=/usr/lib/$multiarch/firebird/$line bin=$(debian_bin "$line")
    server=$cache/firebird$line-server/server
elif [ "$from" = source ]; then
    lib=$cache/firebird$line/$sha256 bin=$cache/firebird$line/$sha256/names server=
else
    wheel=$cache/wheels/${from%.whl}
    lib=$wheel/firebird/embedded/runtime bin=$(debian_bin "$(driver_line)") server=
fi
case $line in 3.0) provider=Engine12 ;; 6.0) provider=Engine14 ;; *) provider=Engine13 ;; esac
if [ "$platform" = windows ]; then engine_file=$lib/plugins/$(echo "$provider" | tr E e).dll; else engine_file=$lib/plugins/lib$provider.so; fi
# The official Linux builds of 3.0 and 4.0 ask for libtommath.so.0 (Debian
# ships .so.1, the same interface) and 3.0 for libncurses.so.5, of which it
# uses nothing: links of those names in a directory of their own.
compat=$cache/compat

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# fetch_wheel: the engine's wheel from PyPI, checked and unpacked.
fetch_wheel() {
    rm -rf "$wheel"
    mkdir -p "$wheel"
    python3 -m pip --version > /dev/null 2>&1 || sh "$top/scripts/deps.sh" pip
    tag=$(echo "$from" | sed 's/.*-py3-none-\(.*\)\.whl/\1/')
    python3 -m pip download --no-deps --only-binary=:all: --platform "$tag" --python-version 3.11 \
        -d "$wheel" "firebird-embedded==$(echo "$from" | cut -d- -f2)" > "$wheel/pip.log" 2>&1 ||
        { tail -n 5 "$wheel/pip.log" >&2; echo "could not fetch $from from PyPI" >&2; return 1; }
    echo "$sha256  $wheel/$from" | sha256sum -c --quiet > /dev/null 2>&1 ||
        { echo "$from: not the recorded checksum $sha256" >&2; rm -rf "$wheel"; return 1; }
    python3 -m zipfile -e "$wheel/$from" "$wheel"
    rm -f "$wheel/$from"
}

# Debian's server binary without installing its package, whose init script
# would start the system's service: unpacked once into the cache.
fetch_server() {
    rm -rf "${server%/server}"
    mkdir -p "${server%/server}"
    (cd "${server%/server}" &&
        { apt-get download "firebird$line-server" || { as_root apt-get update -qq && apt-get download "firebird$line-server"; }; } > /dev/null 2>&1 &&
        dpkg-deb -x firebird"$line"-server_*.deb unpacked && rm -f ./*.deb) ||
        { echo "could not unpack firebird$line-server's server binary" >&2; return 1; }
    # The real binary, not a wrapper: the ELF file among the candidates.
    for f in "${server%/server}/unpacked/usr/lib/firebird/$line/bin/firebird" "${server%/server}/unpacked/usr/sbin/firebird"; do
        if [ -f "$f" ] && head -c 4 "$f" | grep -q ELF; then ln -sf "$f" "$server"; return 0; fi
    done
    echo "firebird$line-server has no server binary where expected" >&2
    return 1
}

setup() {
    mkdir -p "$cache"
    # One setup at a time, whoever asks (tests run in parallel).
    exec 9> "$cache/setup.lock"
    flock 9
    if [ "$platform" = windows ]; then
        sh "$top/scripts/deps.sh" windows || return 1
    else
        sh "$top/scripts/deps.sh" engine || return 1
    fi
    if [ "$from" = source ]; then
        [ -f "$engine_file" ] || { echo "Firebird $line is not built here: scripts/firebird6.sh SOURCE_DIR (FirebirdSQL/firebird at $sha256)" >&2; return 1; }
    elif [ "$from" = debian ]; then
        [ -f "$engine_file" ] || { echo "Firebird $line is not installed here (Debian: firebird$line-server-core)" >&2; return 1; }
        if [ "${MORVANFN_SERVER:-}" = yes ] && [ ! -x "$server" ]; then fetch_server || return 1; fi
    else
        [ -f "$engine_file" ] || fetch_wheel || return 1
    fi
    if [ "$platform" = linux ] && [ ! -e "$compat/libtommath.so.0" ]; then
        mkdir -p "$compat"
        ln -sf "/usr/lib/$multiarch/libtommath.so.1" "$compat/libtommath.so.0"
        ln -sf "/usr/lib/$multiarch/libncurses.so.6" "$compat/libncurses.so.5"
    fi
    flock -u 9
    if [ "$platform" = windows ]; then wine_env || return 1; fi
}

version() {
    # The engine's own build string: LI-V4.0.7.3231, WI-V5.0.4.1701, ...
    build=$(grep -aoE "(LI|WI)-[VT]$(echo "$line" | sed 's/\./\\./')\.[0-9]+" "$engine_file" 2>/dev/null | head -n 1 | sed 's/.*-[VT]//')
    case $platform-$arch in
        windows-*) where="Windows $arch, under $(wine --version 2>/dev/null || echo wine)" ;;
        *) where="Linux $arch" ;;
    esac
    if [ "$from" = source ]; then
        how="pre-release, built here from FirebirdSQL/firebird at $(echo "$sha256" | cut -c1-8)"
    elif [ "$from" = debian ]; then
        how="Debian's firebird$line $(dpkg-query -W -f '${Version}' "firebird$line-server-core" 2>/dev/null)"
    else
        how="PyPI firebird-embedded $(echo "$from" | cut -d- -f2)"
    fi
    echo "Firebird ${build:-$line (not installed)} ($where, $how)"
}

case $command in
    setup) setup ;;
    commit) echo "$sha256" ;;
    prefix) echo "$lib" ;;
    version) version ;;
    run)
        setup || { echo "Firebird $engine: not available here (see above)" >&2; exit 1; }
        FB_ENGINE=$engine FB_LINE=$line FB_PLATFORM=$platform FB_ARCH=$arch FB_LIB=$lib FB_PROVIDER=$provider
        FB_SERVER=$server FB_UDF_DIR=$lib/UDF
        # No program here reads a terminal; some print the terminal's
        # troubles when its type is unknown to them.  The clients read
        # non-ASCII names through the locale: one that has them.
        TERM=dumb LANG=C.UTF-8 LC_ALL=
        export FB_ENGINE FB_LINE FB_PLATFORM FB_ARCH FB_LIB FB_PROVIDER FB_SERVER FB_UDF_DIR TERM LANG LC_ALL
        if [ "$platform" != windows ]; then
            PATH=$bin:$PATH
            if [ "$from" = source ]; then LD_LIBRARY_PATH=$lib/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}; export LD_LIBRARY_PATH
            elif [ "$from" != debian ]; then LD_LIBRARY_PATH=$lib:$compat${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}; export LD_LIBRARY_PATH; fi
            export PATH
        fi
        echo "engine: $engine: $(version)"
        exec "$@" ;;
    root)
        root=${1:?root DIR UDF [LINE ...]} udf=${2:?root DIR UDF [LINE ...]}
        shift 2
        [ -f "$engine_file" ] || { echo "Firebird $engine is not set up here: use 'firebird.sh $engine run'" >&2; exit 1; }
        mkdir -p "$root/lock" "$root/tmp"
        if [ "$platform" = windows ]; then
            # The whole runtime: fbclient.dll finds its engine beside it.
            # UdfAccess names Windows paths: wine's Z: is /.
            cp -RLl "$lib/." "$root/" 2>/dev/null || cp -RL "$lib/." "$root/"
            # What is written here is this root's own, never the wheel's
            # file behind a hard link.
            rm -f "$root/firebird.conf" "$root/plugins.conf" "$root/firebird.log"
            cp "$lib/plugins.conf" "$root/plugins.conf"
            mkdir -p "$root/plugins/udr"
            case $udf in None) access=None ;; *) access="Restrict $(printf '%s\n' "$udf" | sed 's#\(^\|;\)/#\1Z:/#g' | tr / '\\')" ;; esac
        else
            mkdir -p "$root/plugins" "$root/udr"
            # Copies, not symbolic links: Firebird 4 refuses a module reached
            # through a link.  Hard links where the file system allows them.
            for f in "$lib/firebird.msg" "$lib/intl" "$lib/tzdata"; do
                [ ! -e "$f" ] || cp -RLl "$f" "$root/" 2>/dev/null || cp -RL "$f" "$root/"
            done
            for f in "$lib"/plugins/*.so; do cp -l "$f" "$root/plugins/" 2>/dev/null || cp "$f" "$root/plugins/"; done
            case $udf in None) access=None ;; *) access="Restrict $udf" ;; esac
        fi
        {
            printf 'UdfAccess = %s\n' "$access"
            [ "$platform" = windows ] || printf 'TempDirectories = %s\n' "$root/tmp"
            case "$*" in *Providers*) ;; *) printf 'Providers = %s\n' "$provider" ;; esac
            for l in "$@"; do printf '%s\n' "$l"; done
        } > "$root/firebird.conf"
        if [ "$platform" = linux ]; then
            cat > "$root/plugins.conf" <<CONF
Plugin = UDR {
	Module = \$(dir_plugins)/udr_engine
	Config = UDR_config
}
Config = UDR_config {
	path = ${FB_UDR_MODULES:-$root/udr}
}
CONF
        fi ;;
    *) echo "firebird.sh: unknown command $command" >&2; exit 2 ;;
esac
