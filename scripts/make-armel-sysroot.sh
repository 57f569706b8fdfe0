#!/bin/sh
# Makes the target tree (sysroot) of the armel builds: Debian's own armel
# packages of the libraries tstat, its simulator and its tests build against,
# unpacked (not installed) by mmdebstrap from this machine's Debian release
# and apt sources. The cross compiler links against it and qemu-arm loads its
# shared libraries from it. A tree made from the same package list is kept;
# a changed list makes it anew.
#
# Usage: make-armel-sysroot.sh [DIR]   (default: build-armel-sysroot/)
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
root=${1:-$here/build-armel-sysroot}

# The C and C++ runtime, SDL 1.2 with SDL_image and SDL_ttf (the
# application), libsodium and libbz2 (the installer of update bundles),
# cairo, FreeType, libmicrohttpd, CLI11 and nlohmann-json (the simulator),
# and the test and benchmark frameworks.
PACKAGES="libc6-dev libstdc++-12-dev libsdl1.2-dev libsdl-image1.2-dev libsdl-ttf2.0-dev \
libsodium-dev libbz2-dev \
libcairo2-dev libfreetype-dev libmicrohttpd-dev libcli11-dev nlohmann-json3-dev \
libgtest-dev libgmock-dev libbenchmark-dev"

stamp="$root/.tstat-packages"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$PACKAGES" ]; then
    exit 0
fi

suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
. "$(dirname "$0")/lib/apt-sources.sh"
sources=$(apt_sources make-armel-sysroot.sh)

echo "Making the armel target tree in $root (Debian $suite)"
rm -rf "$root" "$root.new"
include=$(echo "$PACKAGES" | tr -s ' ' ',')
# shellcheck disable=SC2086
mmdebstrap --quiet --variant=extract --arch=armel --include="$include" \
    "$suite" "$root.new" $sources
# qemu-arm looks up every absolute path in the tree before the machine's
# own file system, so the tree keeps nothing but libraries, headers and
# pkg-config and CMake package files: no /dev, /etc, /tmp or fonts that would
# hide the host's.
find "$root.new" -mindepth 1 -maxdepth 1 ! -name lib ! -name usr -exec rm -rf {} +
find "$root.new/usr" -mindepth 1 -maxdepth 1 ! -name lib ! -name include ! -name share -exec rm -rf {} +
find "$root.new/usr/share" -mindepth 1 -maxdepth 1 ! -name pkgconfig ! -name cmake -exec rm -rf {} +
echo "$PACKAGES" >"$root.new/.tstat-packages"
mv "$root.new" "$root"
