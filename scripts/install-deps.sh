#!/bin/sh
# Installs the Debian packages that building, running and testing tstat need,
# and only those that are missing, then the browser test's npm package
# (playwright-core, which drives Debian's chromium; it never downloads a
# browser) when tests/browser/node_modules is missing. Run as root, or as a
# user with password-less sudo; otherwise it lists what is missing and stops.
# `install-deps.sh fuzz` adds clang, its libFuzzer runtime and the LLVM
# coverage tools for `make fuzz`; `install-deps.sh board-vm` adds, to what
# armel needs, qemu-system-arm, Debian's kernel source and what building a
# kernel takes (`make board-vm`); `install-deps.sh armel` adds the cross
# compiler for ARMv5TE with soft float (armel), qemu-user to run its programs and
# mmdebstrap to make the target tree (scripts/make-armel-sysroot.sh);
# `install-deps.sh cluster` adds Slurm and MUNGE for `make test-cluster`.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)

# The browser test's package, from tests/browser/package-lock.json.
install_npm_packages() {
    if [ ! -d "$here/tests/browser/node_modules/playwright-core" ]; then
        echo "Installing the browser test's npm packages in tests/browser"
        (cd "$here/tests/browser" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund)
    fi
}

PACKAGES="g++ make cmake ninja-build pkg-config \
libsdl1.2-dev libsdl-image1.2-dev libsdl-ttf2.0-dev fonts-liberation \
libcairo2-dev libfreetype-dev libgtest-dev libgmock-dev libbenchmark-dev \
libmicrohttpd-dev libcli11-dev nlohmann-json3-dev chromium busybox-static \
libsodium-dev libbz2-dev bzip2 netcat-openbsd"
# Node.js may come from elsewhere than Debian, with its own npm.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
    PACKAGES="$PACKAGES nodejs npm"
fi
if [ "${1:-}" = fuzz ]; then
    PACKAGES="$PACKAGES clang libclang-rt-dev llvm"
fi
if [ "${1:-}" = armel ] || [ "${1:-}" = board-vm ]; then
    PACKAGES="$PACKAGES g++-arm-linux-gnueabi binutils-arm-linux-gnueabi qemu-user mmdebstrap"
fi
if [ "${1:-}" = cluster ]; then
    PACKAGES="$PACKAGES slurm-wlm munge"
fi
if [ "${1:-}" = board-vm ]; then
    PACKAGES="$PACKAGES qemu-system-arm linux-source-6.1 make flex bison bc libssl-dev libelf-dev cpio"
fi

missing=""
for pkg in $PACKAGES; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $pkg" ;;
    esac
done

if [ -z "$missing" ]; then
    install_npm_packages
    exit 0
fi

echo "Installing missing Debian packages:$missing"
if [ "$(id -u)" -eq 0 ]; then
    run=""
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    run="sudo -n"
else
    echo "These Debian packages are missing and this user cannot install them:" >&2
    echo "   $missing" >&2
    echo "Install them as root:  apt-get install -y$missing" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
# shellcheck disable=SC2086
if ! $run apt-get install -y --no-install-recommends $missing; then
    # The package lists may be stale or absent on a fresh machine.
    $run apt-get update
    $run apt-get install -y --no-install-recommends $missing
fi
install_npm_packages
