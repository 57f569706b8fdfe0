#!/bin/sh
# Packs the board image: a gzipped tarball that unpacks onto the board's root
# file system. Everything lies under opt/tstat/, the application's working
# directory:
#   tstat          the application, stripped
#   tstat-start    the start script (see packaging/tstat-start)
#   tstat-update   the installer of update bundles (src/update), stripped
#   update-key.pub the public key update bundles must be signed with
#   images/ fonts/ the data the screens name (images/zeph.glyph among them)
#   MANIFEST       the version and its security version (packaging/
#                  security-version), the target, the shared libraries the
#                  board must provide, the directories, the executables'
#                  modes, and the SHA-256 of every other file, in
#                  `sha256sum -c` form relative to the board's root
# The tarball is reproducible: sorted, owned by root, dated by the commit.
#
# Usage: make-board-image.sh OUT TSTAT DATA-DIR START-SCRIPT INSTALLER PUBLIC-KEY
# Environment: STRIP and READELF of the target's binutils; TSTAT_TARGET and
# TSTAT_LIBRARIES (text for the manifest).
set -eu

out=$1
tstat=$2
data=$3
start=$4
installer=$5
public_key=$6
here=$(cd "$(dirname "$0")/.." && pwd)
: "${STRIP:=strip}"
: "${READELF:=readelf}"

version=$(git -C "$here" describe --always --dirty 2>/dev/null || echo unknown)
security=$(tr -d ' \n' <"$here/packaging/security-version")
epoch=$(git -C "$here" log -1 --format=%ct 2>/dev/null || echo 0)

stage=$(mktemp -d "${out}.stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT
app="$stage/opt/tstat"
mkdir -p "$app"
chmod 0755 "$stage/opt" "$app"
"$STRIP" --strip-all -o "$app/tstat" "$tstat"
chmod 0755 "$app/tstat"
cp "$start" "$app/tstat-start"
chmod 0755 "$app/tstat-start"
"$STRIP" --strip-all -o "$app/tstat-update" "$installer"
chmod 0755 "$app/tstat-update"
cp "$public_key" "$app/update-key.pub"
chmod 0644 "$app/update-key.pub"
cp -R "$data/images" "$data/fonts" "$app/"
find "$app/images" "$app/fonts" -type d -exec chmod 0755 {} +
find "$app/images" "$app/fonts" -type f -exec chmod 0644 {} +

{
    echo "# tstat board image: unpack onto the board's root file system (tar -xzf IMAGE -C /)"
    echo "# and start /opt/tstat/tstat-start [DEVICE]; check it with"
    echo "#   cd / && grep -v '^#' opt/tstat/MANIFEST | sha256sum -c"
    echo "# version: $version"
    echo "# security: $security"
    echo "# target: ${TSTAT_TARGET:-unknown}"
    echo "# built with: ${TSTAT_LIBRARIES:-unknown}"
    echo "# needs: $("$READELF" -d "$app/tstat" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')"
    (cd "$stage" && find opt/tstat -mindepth 1 -type d | LC_ALL=C sort | sed 's/^/# directory: /')
    (cd "$stage" && find opt/tstat -type f -perm -0100 | LC_ALL=C sort | sed 's/^/# mode: 0755 /')
    (cd "$stage" && find opt -type f ! -name MANIFEST -print0 | LC_ALL=C sort -z | xargs -0 sha256sum)
} >"$app/MANIFEST"
chmod 0644 "$app/MANIFEST"

tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" \
    -C "$stage" -cf - opt | gzip -n -9 >"$out.new"
mv "$out.new" "$out"
echo "Board image $out ($(wc -c <"$out") bytes, version $version)"
