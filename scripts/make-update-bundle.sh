#!/bin/sh
# Makes the update bundle that a download over the control bus carries to
# the board (the archive of SFLASH1): the board image's files under
# opt/tstat/, its MANIFEST and MANIFEST.sig, the MANIFEST's Ed25519
# signature with the signing key (scripts/signing-key.sh), as a ustar
# archive compressed with bzip2.
#
# Usage: make-update-bundle.sh TOOL BOARD-IMAGE OUT
#   TOOL         the build machine's tstat-update
#   BOARD-IMAGE  build-board-armel/tstat-board-image.tar.gz
#   OUT          e.g. build-board-armel/tstat-update.tar.bz2
# Environment: TSTAT_SIGNING_KEY (see signing-key.sh), TSTAT_BUNDLE_VERSION
# (the MANIFEST's version in the bundle; default the image's own) and
# TSTAT_BUNDLE_SECURITY (its security version; default the image's own: a
# maker's deliberate downgrade is an older image with a security version at
# least the boards' own).
set -eu

if [ "$#" -ne 3 ]; then
    echo "usage: make-update-bundle.sh TOOL BOARD-IMAGE OUT" >&2
    exit 2
fi
tool=$1
image=$2
out=$3
here=$(cd "$(dirname "$0")" && pwd)
key=$(sh "$here/signing-key.sh" "$tool")

stage=$(mktemp -d "${out}.stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT
tar -xzf "$image" -C "$stage"
set -- pack --key "$key"
[ -n "${TSTAT_BUNDLE_VERSION:-}" ] && set -- "$@" --version "$TSTAT_BUNDLE_VERSION"
[ -n "${TSTAT_BUNDLE_SECURITY:-}" ] && set -- "$@" --security "$TSTAT_BUNDLE_SECURITY"
"$tool" "$@" "$stage" "$out"
echo "Update bundle $out ($(wc -c <"$out") bytes, $(sed -n 's/^# version: //p' "$stage/opt/tstat/MANIFEST" | head -n1)${TSTAT_BUNDLE_VERSION:+ as $TSTAT_BUNDLE_VERSION}, signed with $key)"
