#!/bin/sh
# Makes the emulated board's root file system, an initramfs (gzipped newc
# cpio): Debian's own armel packages (busybox-static, and the C and C++
# runtime, SDL 1.2, SDL_image and SDL_ttf with what they link against) with
# the board image unpacked at / (so /opt/tstat/...), busybox's applet links,
# the key map tool and /init (scripts/board-vm/init).
#
# The packages are unpacked by mmdebstrap from this machine's Debian release
# and apt sources into a tree kept outside the checkout
# (${XDG_CACHE_HOME:-$HOME/.cache}/tstat/board-vm-packages, or
# $TSTAT_VM_CACHE/board-vm-packages) and made anew only when the package
# list changes. Of that tree the file system takes busybox and the shared
# libraries the application loads (its NEEDED entries followed through the
# tree, the way the dynamic loader resolves them), nothing of /usr/share:
# no documentation, manual pages or locales.
#
# Usage: make-rootfs.sh BOARD-IMAGE OUT
#   BOARD-IMAGE  build-board-armel/tstat-board-image.tar.gz (make board-image)
#   OUT          the initramfs to write, e.g. build-board-vm/rootfs.cpio.gz
# Environment: CROSS_COMPILE (default arm-linux-gnueabi-).
set -eu

if [ "$#" -ne 2 ]; then
    echo "usage: make-rootfs.sh BOARD-IMAGE OUT" >&2
    exit 2
fi
image=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
: "${CROSS_COMPILE:=arm-linux-gnueabi-}"
cache=${TSTAT_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tstat}
tree=$cache/board-vm-packages

if [ ! -f "$image" ]; then
    echo "make-rootfs.sh: no board image $image (make board-image)" >&2
    exit 1
fi

# busybox-static for the shell and the tools; the libraries the application
# is linked against, whose dependencies mmdebstrap adds.
PACKAGES="busybox-static libc6 libgcc-s1 libstdc++6 libsdl1.2debian libsdl-image1.2 libsdl-ttf2.0-0"

stamp="$tree/.tstat-packages"
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$PACKAGES" ]; then
    suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
    . "$here/../lib/apt-sources.sh"
    sources=$(apt_sources make-rootfs.sh)
    echo "Unpacking the board's armel packages into $tree (Debian $suite)"
    rm -rf "$tree" "$tree.new"
    mkdir -p "$cache"
    include=$(echo "$PACKAGES" | tr -s ' ' ',')
    # shellcheck disable=SC2086
    mmdebstrap --quiet --variant=extract --arch=armel --include="$include" \
        "$suite" "$tree.new" $sources
    echo "$PACKAGES" >"$tree.new/.tstat-packages"
    mv "$tree.new" "$tree"
fi

stage=$(mktemp -d "${TMPDIR:-/tmp}/tstat-rootfs.XXXXXX")
trap 'rm -rf "$stage"' EXIT

tar -xzf "$image" -C "$stage"
app=$stage/opt/tstat/tstat
if [ ! -x "$app" ]; then
    echo "make-rootfs.sh: $image holds no opt/tstat/tstat" >&2
    exit 1
fi

# in_tree PATH: prints where PATH of the package tree really is, its links
# followed within the tree (an absolute target is a path in the tree, not on
# this machine); prints nothing when there is no such file.
in_tree() {
    path=$1
    hops=0
    while [ -L "$tree$path" ] && [ "$hops" -lt 20 ]; do
        target=$(readlink "$tree$path")
        case $target in
        /*) path=$target ;;
        *) path=$(dirname "$path")/$target ;;
        esac
        hops=$((hops + 1))
    done
    if [ -f "$tree$path" ]; then
        echo "$path"
    fi
}

# The dynamic loader's search for a library: the multiarch directories, then
# /lib and /usr/lib, and the run paths the libraries name (libpulse's
# private directory).
libdirs="/lib/arm-linux-gnueabi /usr/lib/arm-linux-gnueabi /lib /usr/lib"
needed() {
    "${CROSS_COMPILE}readelf" -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
}
runpath() {
    "${CROSS_COMPILE}readelf" -d "$1" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]/\2/p' | tr ':' ' '
}

# Every library the application loads, breadth first, each copied as a plain
# file under the name the loader looks for.
interp=$("${CROSS_COMPILE}readelf" -l "$app" | sed -n 's/.*Requesting program interpreter: \(.*\)]/\1/p')
found=$(in_tree "$interp")
if [ -z "$found" ]; then
    echo "make-rootfs.sh: the loader $interp is not in $tree" >&2
    exit 1
fi
mkdir -p "$stage$(dirname "$interp")"
cp "$tree$found" "$stage$interp"
# The installer of update bundles runs on the same libraries.
queue="$(needed "$app") $(needed "$stage/opt/tstat/tstat-update" | tr '\n' ' ')"
done_list=" "
missing=""
while [ -n "$queue" ]; do
    set -- $queue
    lib=$1
    shift
    queue="$*"
    case $done_list in *" $lib "*) continue ;; esac
    done_list="$done_list$lib "
    found=""
    for dir in $libdirs; do
        found=$(in_tree "$dir/$lib")
        if [ -n "$found" ]; then
            mkdir -p "$stage$dir"
            cp "$tree$found" "$stage$dir/$lib"
            queue="$queue $(needed "$tree$found" | tr '\n' ' ')"
            for extra in $(runpath "$tree$found"); do
                case " $libdirs " in *" $extra "*) ;; *) libdirs="$libdirs $extra" ;; esac
            done
            break
        fi
    done
    if [ -z "$found" ]; then
        missing="$missing $lib"
    fi
done
if [ -n "$missing" ]; then
    echo "make-rootfs.sh: not in the package tree:$missing" >&2
    exit 1
fi

# busybox and its applets, where Debian's busybox puts them (/sbin/hwclock,
# /bin/date, ...). The list comes from the armel busybox itself when this
# machine can run it, else from this machine's busybox of the same version.
mkdir -p "$stage/bin" "$stage/sbin" "$stage/usr/bin" "$stage/usr/sbin"
cp "$tree/bin/busybox" "$stage/bin/busybox"
applets=""
if command -v qemu-arm >/dev/null 2>&1; then
    applets=$(qemu-arm "$tree/bin/busybox" --list-full 2>/dev/null || true)
fi
if [ -z "$applets" ]; then
    armel=$(strings "$tree/bin/busybox" | grep -m1 '^BusyBox v' || true)
    host=$(busybox 2>/dev/null | head -n1 || true)
    if [ -n "$armel" ] && [ "${host#"$armel"}" != "$host" ]; then
        applets=$(busybox --list-full)
    else
        echo "make-rootfs.sh: cannot list busybox's applets (install qemu-user)" >&2
        exit 1
    fi
fi
for applet in $applets; do
    case $applet in
    bin/busybox | */linuxrc | linuxrc | */init | init) continue ;;
    esac
    dir=$(dirname "$applet")
    rel=$(echo "$dir" | sed 's|[^/][^/]*|..|g')
    mkdir -p "$stage/$dir"
    [ -e "$stage/$applet" ] || ln -s "$rel/bin/busybox" "$stage/$applet"
done
for tool in sbin/hwclock bin/date bin/sh; do
    if [ ! -L "$stage/$tool" ]; then
        echo "make-rootfs.sh: busybox has no $tool" >&2
        exit 1
    fi
done

# The key map tool, and /init.
"${CROSS_COMPILE}gcc" -static -Os -Wall -Wextra -o "$stage/sbin/keymap" "$here/keymap.c"
"${CROSS_COMPILE}strip" "$stage/sbin/keymap"
cp "$here/init" "$stage/init"
chmod 0755 "$stage/init"

# What the programs expect of a root file system: a root user, the hardware
# clock kept in UTC, the directories for run-time files, and where the
# application's slots are mounted.
mkdir -p "$stage/dev" "$stage/proc" "$stage/sys" "$stage/tmp" "$stage/run" "$stage/root" \
    "$stage/etc" "$stage/var" "$stage/slots"
ln -s ../run "$stage/var/run"
chmod 1777 "$stage/tmp"
echo "root:x:0:0:root:/root:/bin/sh" >"$stage/etc/passwd"
echo "root:x:0:" >"$stage/etc/group"
printf '0.0 0 0.0\n0\nUTC\n' >"$stage/etc/adjtime"

mkdir -p "$(dirname "$out")"
(cd "$stage" && find . -mindepth 1 | LC_ALL=C sort |
    cpio --quiet -o -H newc -R 0:0 --reproducible) | gzip -n -9 >"$out.new"
mv "$out.new" "$out"
echo "Root file system $out: $(wc -c <"$out") bytes compressed, $(du -sk "$stage" | cut -f1) KiB unpacked"
