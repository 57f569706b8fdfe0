#!/bin/sh
# Builds the emulated board's kernel: a zImage for qemu's "virt" machine
# from Debian's linux-source-6.1, allnoconfig plus kernel.config, every
# driver built in. The result is kept outside the checkout, keyed by the
# source package's version and the fragment's hash, so that a second run
# only prints its path:
#   ${XDG_CACHE_HOME:-$HOME/.cache}/tstat/board-vm-kernel/<version>-<hash>/zImage
# (TSTAT_VM_CACHE replaces ${XDG_CACHE_HOME:-$HOME/.cache}/tstat). The
# source is unpacked once per version beside it.
#
# Usage: make-kernel.sh          prints the zImage's path on the last line
# Environment: JOBS (parallel jobs, default 2), CROSS_COMPILE (default
# arm-linux-gnueabi-), LINUX_SOURCE (default /usr/src/linux-source-6.1.tar.xz).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
fragment=$here/kernel.config
tarball=${LINUX_SOURCE:-/usr/src/linux-source-6.1.tar.xz}
: "${CROSS_COMPILE:=arm-linux-gnueabi-}"
: "${JOBS:=2}"
cache=${TSTAT_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tstat}/board-vm-kernel

if [ ! -f "$tarball" ]; then
    echo "make-kernel.sh: $tarball is missing (apt-get install linux-source-6.1)" >&2
    exit 1
fi
version=$(dpkg-query -W -f='${Version}' linux-source-6.1 2>/dev/null || true)
if [ -z "$version" ]; then
    # Not from the package: the tarball's own contents decide.
    version=src-$(sha256sum "$tarball" | cut -c1-12)
fi
hash=$(sha256sum "$fragment" | cut -c1-12)
out=$cache/$version-$hash
if [ -f "$out/zImage" ]; then
    echo "$out/zImage"
    exit 0
fi

start=$(date +%s)
mkdir -p "$cache"
src=$cache/src-$version
if [ ! -f "$src/Makefile" ]; then
    echo "Unpacking $tarball into $src"
    rm -rf "$src" "$src.new"
    mkdir -p "$src.new"
    tar -xJf "$tarball" -C "$src.new" --strip-components=1
    mv "$src.new" "$src"
fi

build=$cache/build-$version-$hash
rm -rf "$build"
mkdir -p "$build"
kmake() {
    make -s -C "$src" O="$build" ARCH=arm CROSS_COMPILE="$CROSS_COMPILE" "$@"
}
kmake allnoconfig
ARCH=arm "$src/scripts/kconfig/merge_config.sh" -m -O "$build" "$build/.config" "$fragment" >/dev/null
kmake olddefconfig

# Every line of the fragment must have survived: a misspelt option or one
# whose dependencies are missing would otherwise vanish without a word.
lost=0
while IFS= read -r line; do
    case $line in
    CONFIG_*=*)
        if ! grep -qxF "$line" "$build/.config"; then
            echo "make-kernel.sh: $line did not survive: $(grep "^${line%%=*}=\|^# ${line%%=*} is not set" "$build/.config" || echo absent)" >&2
            lost=1
        fi
        ;;
    "# CONFIG_"*" is not set")
        name=${line#"# "}
        name=${name%" is not set"}
        if grep -q "^$name=" "$build/.config"; then
            echo "make-kernel.sh: $name should be unset: $(grep "^$name=" "$build/.config")" >&2
            lost=1
        fi
        ;;
    esac
done <"$fragment"
if [ "$lost" -ne 0 ]; then
    exit 1
fi

echo "Building the kernel $version ($hash) in $build with $JOBS jobs"
kmake -j"$JOBS" zImage

mkdir -p "$out.new"
cp "$build/arch/arm/boot/zImage" "$out.new/zImage"
cp "$build/.config" "$out.new/config"
rm -rf "$out"
mv "$out.new" "$out"
rm -rf "$build"
echo "Kernel built in $(($(date +%s) - start)) s: $(wc -c <"$out/zImage") bytes"
echo "$out/zImage"
