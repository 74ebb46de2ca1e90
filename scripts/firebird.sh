#!/bin/sh
# The one place that knows each Firebird engine: where its files live, which
# provider and which real programs belong to it, how a private root is laid
# out, and (for 4.0 on a machine without it) the Debian trixie root it runs in.
#
# usage: firebird.sh VERSION COMMAND ...     VERSION: 3.0, 4.0, 5.0 or win5.0
#   setup                 install the engine and a server binary, or make
#                         the trixie root (4.0)
#   version               print the engine's name and version, e.g. "Firebird 4.0.5"
#   run CMD [ARG ...]     run CMD with the engine's real programs (isql-fb, gbak)
#                         first on PATH and FB_VERSION, FB_LIB, FB_SERVER,
#                         FB_PROVIDER and FB_UDF_DIR set (FB_SERVER fetched
#                         first where MORVANFN_SERVER=yes); for 4.0
#                         outside trixie, inside the trixie root (as the
#                         caller, or as root with MORVANFN_RUN_AS=root)
#   root DIR UDF [LINE ...]
#                         make a private root in DIR (inside `run`): with FIREBIRD
#                         and FIREBIRD_LOCK pointing there the engine runs
#                         embedded, reads no system configuration and needs no
#                         server.  UDF is the UdfAccess value, "None" or
#                         directories separated by ';'; LINEs are more
#                         firebird.conf lines (default: embedded only).  UDR
#                         modules are looked for in $FB_UDR_MODULES, by
#                         default DIR/udr.
#
# Firebird 5.0 comes from PyPI (below), also kept outside the clone.
#
# The trixie root lives outside the clone ($MORVANFN_TRIXIE, default
# /var/cache/morvanfn/trixie), so later runs reuse it; it is made again when
# missing or broken.  `run` mounts what the root needs (proc, /dev, and the
# source tree at its own path) in a mount and process namespace of its own:
# when the command ends, every process inside (a server, say) is killed
# first and the mounts vanish with the namespace, however it ended.  /dev
# comes with what is mounted below it (/dev/pts, /dev/shm).  The
# machine itself never sees them, so deleting the root can never reach into
# /dev.
set -eu
version=${1:?usage: firebird.sh VERSION COMMAND ...}
command=${2:?usage: firebird.sh VERSION COMMAND ...}
shift 2
top=$(cd "$(dirname "$0")/.." && pwd)
trixie=${MORVANFN_TRIXIE:-/var/cache/morvanfn/trixie}
# What the trixie root holds: the 4.0 engine and server, a compiler to build
# the module there, and what the tests and the benchmark run.
trixie_packages="firebird4.0-server-core firebird4.0-utils firebird4.0-server firebird-dev libboost-dev
g++ cmake make faketime tzdata python3 gnuplot-nox"

# What setup fetches is kept outside the clone, for later runs.
if [ "$(id -u)" = 0 ]; then cache=/var/cache/morvanfn; else cache=${XDG_CACHE_HOME:-$HOME/.cache}/morvanfn; fi

# Firebird 5.0 is in no Debian suite: PyPI's firebird-embedded wheel holds
# the official Linux build's client, engine, UDR engine, intl and messages,
# but no programs.  Firebird 3.0's isql-fb and gbak drive it through its own
# client library (LD_LIBRARY_PATH), as they would any server.
firebird5_wheel=firebird_embedded-5.0.4.4-py3-none-manylinux_2_17_x86_64.whl
firebird5_sha256=4112cf5c25cea05d39d4f51c8ac54e0341d341b2099e8b2592a65e80a00463e4
# The same release's Windows x64 engine, run by wine: win5.0.  No isql.exe
# and no ib_util.dll come with it; the tests bring stand-ins of their own
# (tests/wine).
windows5_wheel=firebird_embedded-5.0.4.4-py3-none-win_amd64.whl
windows5_sha256=5abe82598d36e4cec180c1695c3106b7fb3b90da89cea91e6b9a3325df2afa05

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)
case $version in
    3.0) lib=/usr/lib/$multiarch/firebird/3.0 bin=/usr/bin provider=Engine12 server=/usr/sbin/firebird ;;
    4.0) lib=/usr/lib/$multiarch/firebird/4.0 bin=/usr/lib/firebird/4.0/bin provider=Engine13 server=$bin/firebird ;;
    5.0) lib=$cache/firebird5.0/firebird/embedded/runtime bin=/usr/bin provider=Engine13 server= ;;
    win5.0) lib=$cache/firebird5.0-win64/firebird/embedded/runtime bin= provider=Engine13 server= ;;
    *) echo "firebird.sh: unknown engine version $version (3.0, 4.0, 5.0 or win5.0)" >&2; exit 2 ;;
esac
here_natively() {
    if [ "$version" = win5.0 ]; then [ -f "$lib/plugins/engine13.dll" ] && command -v wine > /dev/null; return; fi
    [ -f "$lib/plugins/lib$provider.so" ] && [ -x "$bin/isql-fb" ]
}

# fetch_wheel WHEEL SHA256 DIR: a firebird-embedded wheel from PyPI, checked
# and unpacked into DIR (its runtime in DIR/firebird/embedded/runtime).
fetch_wheel() {
    rm -rf "$3"
    mkdir -p "$3"
    python3 -m pip --version > /dev/null 2>&1 || sh "$top/scripts/deps.sh" pip
    platform=$(echo "$1" | sed 's/.*-py3-none-\(.*\)\.whl/\1/')
    python3 -m pip download --no-deps --only-binary=:all: --platform "$platform" --python-version 3.11 \
        -d "$3" "firebird-embedded==$(echo "$1" | cut -d- -f2)" > "$3/pip.log" 2>&1 ||
        { tail -n 5 "$3/pip.log" >&2; echo "could not fetch $1 from PyPI" >&2; return 1; }
    echo "$2  $3/$1" | sha256sum -c --quiet > /dev/null 2>&1 ||
        { echo "$1: not the recorded checksum $2" >&2; return 1; }
    python3 -m zipfile -e "$3/$1" "$3"
}

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# Firebird 3's server binary without installing its package, whose init
# script would start the system's service: unpacked once into the cache.
server3() {
    if [ -x /usr/sbin/firebird ]; then echo /usr/sbin/firebird; else echo "$cache/firebird3.0-server/usr/sbin/firebird"; fi
}

mirror() {
    # The archive the machine's own apt sources use.
    sed -n 's/^URIs: *\([^ ]*debian\)\/* *$/\1/p; s/^deb  *\(http[^ ]*debian\)\/* .*/\1/p' \
        /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null | head -n 1
}

# Nothing of ours is ever mounted in the root on the machine itself; should
# anything be (someone else's doing), the root is left alone.
mounted_in_root() { grep -q " $trixie/" /proc/mounts; }

trixie_ready() {
    [ -f "$trixie/.morvanfn-packages" ] && [ "$(cat "$trixie/.morvanfn-packages")" = "$trixie_packages" ] &&
        as_root chroot "$trixie" /usr/lib/firebird/4.0/bin/isql-fb -z < /dev/null > /dev/null 2>&1
}

# Runs CMD inside the trixie root, in namespaces of its own (see the top),
# as the user who called (so that what it writes in the clone is theirs),
# or as root with MORVANFN_RUN_AS=root (installing packages there).
in_trixie() {
    if ! as_root unshare --mount --propagation private true 2> /dev/null; then
        echo "Firebird $version: this machine gives no private mount namespace (in a chroot whose / is no mount point: run 'mount --bind DIR DIR' on its directory before entering it)" >&2
        return 1
    fi
    user=$(id -u):$(id -g) home=$HOME
    if [ "${MORVANFN_RUN_AS:-}" = root ]; then user=0:0 home=/root; fi
    as_root unshare --mount --pid --fork --propagation private sh -eu -c '
        root=$1 top=$2 cwd=$3 user=$4 home=$5; shift 5
        mount -t proc proc "$root/proc"
        mount --rbind /dev "$root/dev"
        mkdir -p "$root$top"
        mount --bind "$top" "$root$top"
        [ -d "$root$home" ] || home=/tmp
        exec chroot --userspec="$user" "$root" /usr/bin/env PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$home" LANG=C.UTF-8 \
            MORVANFN_IN_TRIXIE_ROOT=1 sh -c "cd \"\$0\" 2> /dev/null || cd /; exec \"\$@\"" "$cwd" "$@"' \
        sh "$trixie" "$top" "$PWD" "$user" "$home" "$@"
}

make_trixie() {
    command -v debootstrap > /dev/null || sh "$top/scripts/deps.sh" trixie
    url=$(mirror)
    [ -n "$url" ] || { echo "no Debian archive in the machine's apt sources" >&2; return 1; }
    if mounted_in_root; then
        echo "something is mounted in $trixie: not touching it" >&2; return 1
    fi
    if [ -d "$trixie" ] && ! as_root chroot "$trixie" /bin/true 2> /dev/null; then
        echo "the trixie root at $trixie is broken: making it again"
        as_root rm -rf "$trixie"
    fi
    if [ ! -x "$trixie/usr/bin/apt-get" ]; then
        echo "making a Debian trixie root in $trixie from $url (about a minute)"
        as_root rm -rf "$trixie"
        as_root mkdir -p "$trixie"
        as_root debootstrap --variant=minbase trixie "$trixie" "$url" > "$cache/trixie.log" 2>&1 ||
            { tail -n 20 "$cache/trixie.log" >&2; return 1; }
    fi
    # Nothing installed in the root may start a service.
    printf '#!/bin/sh\nexit 101\n' | as_root tee "$trixie/usr/sbin/policy-rc.d" > /dev/null
    as_root chmod 755 "$trixie/usr/sbin/policy-rc.d"
    echo "installing Firebird 4.0 and the build tools in the trixie root"
    MORVANFN_RUN_AS=root in_trixie sh -c "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $(echo $trixie_packages)" \
        >> "$cache/trixie.log" 2>&1 || { tail -n 20 "$cache/trixie.log" >&2; return 1; }
    echo "$trixie_packages" | as_root tee "$trixie/.morvanfn-packages" > /dev/null
}

setup() {
    # One setup at a time, whoever asks (tests run in parallel).
    mkdir -p "$cache"
    exec 9> "$cache/setup.lock"
    flock 9
    case $version in
        3.0)
            sh "$top/scripts/deps.sh" engine || return 1
            # The server binary only for those who run a server.
            if [ "${1:-}" = server ] && [ ! -x "$(server3)" ]; then
                rm -rf "$cache/firebird3.0-server"
                mkdir -p "$cache/firebird3.0-server"
                (cd "$cache/firebird3.0-server" &&
                    { apt-get download firebird3.0-server || { as_root apt-get update -qq && apt-get download firebird3.0-server; }; } > /dev/null 2>&1 &&
                    dpkg-deb -x firebird3.0-server_*.deb .) ||
                    { echo "could not unpack firebird3.0-server's server binary" >&2; return 1; }
            fi ;;
        5.0)
            sh "$top/scripts/deps.sh" engine || return 1
            [ -f "$lib/plugins/lib$provider.so" ] ||
                fetch_wheel "$firebird5_wheel" "$firebird5_sha256" "$cache/firebird5.0" || return 1 ;;
        win5.0)
            sh "$top/scripts/deps.sh" windows || return 1
            [ -f "$lib/plugins/engine13.dll" ] ||
                fetch_wheel "$windows5_wheel" "$windows5_sha256" "$cache/firebird5.0-win64" || return 1 ;;
        4.0)
            if here_natively; then return 0; fi
            as_root mkdir -p "$(dirname "$trixie")"
            trixie_ready || make_trixie
            trixie_ready || { echo "the trixie root at $trixie does not run Firebird 4.0 (log: $cache/trixie.log)" >&2; return 1; }
            ;;
    esac
    flock -u 9
}

case $command in
    setup) setup server ;;
    version)
        if [ "$version" = 4.0 ] && ! here_natively; then
            trixie_ready || { echo "Firebird 4.0 (no trixie root yet)"; exit 0; }
            in_trixie sh "$top/scripts/firebird.sh" 4.0 version; exit
        fi
        if [ "$version" = 5.0 ]; then
            grep -ao 'LI-V5\.[0-9]*\.[0-9]*' "$lib/plugins/lib$provider.so" 2>/dev/null | sed -n '1s/LI-V/Firebird /p'
            exit
        fi
        if [ "$version" = win5.0 ]; then
            echo "$(grep -ao 'WI-V5\.[0-9]*\.[0-9]*' "$lib/plugins/engine13.dll" 2>/dev/null | sed -n '1s/WI-V/Firebird /p') (Windows x64, $(wine --version 2>/dev/null))"
            exit
        fi
        "$bin/isql-fb" -z < /dev/null 2>/dev/null | sed -n 's/.*-V\([0-9]*\.[0-9]*\.[0-9]*\).*/Firebird \1/p' | head -n 1 ;;
    run)
        if [ "$version" = 4.0 ] && ! here_natively; then
            setup || { echo "Firebird 4.0: no trixie root to run in (see above)" >&2; exit 1; }
            in_trixie sh "$top/scripts/firebird.sh" 4.0 run "$@"; exit
        fi
        if [ "$version" = 3.0 ]; then setup ${MORVANFN_SERVER:+server}; server=$(server3); fi
        if [ "$version" = win5.0 ]; then
            setup || exit 1
            FB_VERSION=$version FB_LIB=$lib WINEDEBUG=-all
            export FB_VERSION FB_LIB WINEDEBUG
            echo "engine: $(sh "$0" "$version" version)"
            exec "$@"
        fi
        if [ "$version" = 5.0 ]; then
            setup || exit 1
            LD_LIBRARY_PATH=$lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
            export LD_LIBRARY_PATH
        fi
        # The clients read non-ASCII names through the locale: one that has them.
        FB_VERSION=$version FB_LIB=$lib FB_SERVER=$server FB_PROVIDER=$provider FB_UDF_DIR=$lib/UDF PATH=$bin:$PATH
        LANG=C.UTF-8 LC_ALL=
        export FB_VERSION FB_LIB FB_SERVER FB_PROVIDER FB_UDF_DIR PATH LANG LC_ALL
        echo "engine: $(sh "$0" "$version" version)"
        exec "$@" ;;
    root)
        root=${1:?root DIR UDF [LINE ...]} udf=${2:?root DIR UDF [LINE ...]}
        shift 2
        here_natively || { echo "Firebird $version is not installed here: use 'firebird.sh $version run'" >&2; exit 1; }
        if [ "$version" = win5.0 ]; then
            # The whole runtime: fbclient.dll finds its engine beside it.
            # UdfAccess names a Windows path: wine's Z: is /.
            mkdir -p "$root"
            cp -RLl "$lib/." "$root/" 2>/dev/null || cp -RL "$lib/." "$root/"
            mkdir -p "$root/lock" "$root/tmp" "$root/plugins/udr"
            case $udf in None) access=None ;; *) access="Restrict Z:$(echo "$udf" | tr / '\\')" ;; esac
            printf 'UdfAccess = %s\nProviders = Engine13\n' "$access" > "$root/firebird.conf"
            exit
        fi
        mkdir -p "$root/plugins" "$root/lock" "$root/tmp" "$root/udr"
        # Copies, not symbolic links: Firebird 4 refuses a module reached
        # through a link.  Hard links where the file system allows them.
        for f in "$lib/firebird.msg" "$lib/intl" "$lib/tzdata"; do
            [ ! -e "$f" ] || cp -RLl "$f" "$root/" 2>/dev/null || cp -RL "$f" "$root/"
        done
        for f in "$lib"/plugins/*.so; do cp -l "$f" "$root/plugins/" 2>/dev/null || cp "$f" "$root/plugins/"; done
        case $udf in
            None) access=None ;;
            *) access="Restrict $udf" ;;
        esac
        {
            echo "UdfAccess = $access"
            echo "TempDirectories = $root/tmp"
            if [ $# -eq 0 ]; then echo "Providers = $provider"; fi
            for line in "$@"; do echo "$line"; done
        } > "$root/firebird.conf"
        cat > "$root/plugins.conf" <<CONF
Plugin = UDR {
	Module = \$(dir_plugins)/udr_engine
	Config = UDR_config
}
Config = UDR_config {
	path = ${FB_UDR_MODULES:-$root/udr}
}
CONF
        ;;
    *) echo "firebird.sh: unknown command $command" >&2; exit 2 ;;
esac
