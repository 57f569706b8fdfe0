# Sourced by the scripts that unpack Debian armel packages with mmdebstrap.
# apt_sources NAME: prints the machine's own apt source files, so that a tree
# comes from the same archive (and the same snapshot) as the host's packages;
# with none, says so as NAME and fails.
apt_sources() {
    found=""
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        if [ -f "$f" ] && grep -qE '^[[:space:]]*(deb|Types:)' "$f"; then
            found="$found $f"
        fi
    done
    if [ -z "$found" ]; then
        echo "$1: no apt sources found in /etc/apt" >&2
        return 1
    fi
    echo "$found"
}
