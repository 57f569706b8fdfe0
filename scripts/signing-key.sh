#!/bin/sh
# The key that signs update bundles. TSTAT_SIGNING_KEY names a maker's own
# secret key file (made with `tstat-update keygen KEY`); without it, a
# development key pair is made on first use outside the checkout, beside the
# emulated board's kernel:
#   ${TSTAT_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tstat}/signing/development.key
# and its .pub. Boards that run an image made with the development key
# accept bundles signed by whoever holds that file: it is for development
# only.
#
# Usage: signing-key.sh TOOL              prints the secret key's path
#        signing-key.sh TOOL --public OUT writes its public key to OUT (only
#                                         when it differs, so that nothing
#                                         depending on OUT is made again)
# TOOL is the build machine's tstat-update.
set -eu

if [ "$#" -ne 1 ] && { [ "$#" -ne 3 ] || [ "$2" != --public ]; }; then
    echo "usage: signing-key.sh TOOL [--public OUT]" >&2
    exit 2
fi
tool=$1
if [ -n "${TSTAT_SIGNING_KEY:-}" ]; then
    key=$TSTAT_SIGNING_KEY
    if [ ! -f "$key" ]; then
        echo "signing-key.sh: TSTAT_SIGNING_KEY=$key is not a file" >&2
        exit 1
    fi
else
    dir=${TSTAT_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tstat}/signing
    key=$dir/development.key
    if [ ! -f "$key" ]; then
        mkdir -p "$dir"
        chmod 0700 "$dir"
        rm -f "$key.new" "$key.new.pub"
        "$tool" keygen "$key.new"
        mv "$key.new.pub" "$key.pub"
        mv "$key.new" "$key"
        echo "signing-key.sh: made the development signing key $key" >&2
    fi
fi
if [ "$#" -eq 1 ]; then
    echo "$key"
    exit 0
fi
out=$3
"$tool" pubkey "$key" >"$out.new"
if cmp -s "$out.new" "$out"; then
    rm -f "$out.new"
else
    mv "$out.new" "$out"
fi
