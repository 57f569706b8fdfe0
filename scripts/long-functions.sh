#!/bin/sh
# Lists the C++ functions longer than a limit (60 lines unless -n says
# otherwise), longest first, as FILE:LINE: NAME (N lines), and exits 1 when
# there are any. A function's length runs from its opening brace to its
# closing one; the lines of braced value lists inside it (tables of cases,
# of items, of expected values) do not count, so a flat list is never
# reported for its length. Lambdas count with the function they are in,
# also those in a list.
#
# Usage: scripts/long-functions.sh [-n LINES] [PATH...]
#   PATH: files or directories (their .cpp and .h files); by default src,
#   sim, lib, tools and tests of the repository.
set -eu

limit=60
if [ "${1:-}" = -n ]; then
    limit=$2
    shift 2
fi
top=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -eq 0 ]; then
    cd "$top"
    set -- src sim lib tools tests
fi

# shellcheck disable=SC2016
find "$@" \( -name node_modules -prune \) -o -type f \( -name '*.cpp' -o -name '*.h' \) -print |
    sort | xargs awk -v limit="$limit" '
# Strips comments, string and character literals (raw strings too) from a
# line, carrying an open block comment or raw string over to the next line.
function clean(line,    out, i, c, n, end) {
    out = ""
    i = 1
    n = length(line)
    while (i <= n) {
        if (inComment) {
            end = index(substr(line, i), "*/")
            if (end == 0) return out
            i += end + 1
            inComment = 0
            continue
        }
        if (rawEnd != "") {
            end = index(substr(line, i), rawEnd)
            if (end == 0) return out
            i += end + length(rawEnd) - 1
            rawEnd = ""
            out = out "\"\""
            continue
        }
        c = substr(line, i, 1)
        if (substr(line, i, 2) == "//") return out
        if (substr(line, i, 2) == "/*") { inComment = 1; i += 2; continue }
        if (c == "R" && substr(line, i + 1, 1) == "\"" && substr(line, i - 1, 1) !~ /[A-Za-z0-9_]/) {
            end = index(substr(line, i + 2), "(")
            rawEnd = ")" substr(line, i + 2, end - 1) "\""
            i += end + 2
            continue
        }
        if (c == "\"" || c == "\047") {
            i++
            while (i <= n && substr(line, i, 1) != c) {
                if (substr(line, i, 1) == "\\") i++
                i++
            }
            out = out c c
            i++
            continue
        }
        out = out c
        i++
    }
    return out
}

function trim(s) {
    sub(/^[ \t]+/, "", s)
    sub(/[ \t]+$/, "", s)
    return s
}

# What a brace opens, from the text before it since the last ; { or }: S a
# namespace or type, F a function, B a block of a function, L a value list.
function kindOf(h, top) {
    h = trim(h)
    # The body of a lambda is code, also in a list.
    if (h ~ /\][ \t]*(\([^)]*\))?[ \t]*(mutable)?[ \t]*(->[^{]*)?$/) return "B"
    if (top == "L") return "L"
    if (top == "F" || top == "B") {
        if (h == "" || h ~ /\)$/ || h ~ /(^|[^A-Za-z0-9_])(else|do|try|mutable|noexcept|const)$/ ||
            h ~ /:$/ || h ~ /\).*->/ || h ~ /^(struct|class|union|enum)[ \t]/) return "B"
        return "L"
    }
    if (h ~ /(^|[ \t])(namespace|struct|class|union|enum)([ \t]|$)/ && h !~ /\(/) return "S"
    if (h ~ /^extern/ || h == "") return "S"
    if (h ~ /[=,(]$/ || h !~ /\)/) return "L"
    return "F"
}

function nameOf(h,    head, name) {
    h = trim(h)
    if (match(h, /TEST(_F|_P)?\([^)]*\)/)) return substr(h, RSTART, RLENGTH)
    head = h
    sub(/\(.*/, "", head)
    if (match(head, /[A-Za-z_~][A-Za-z0-9_:~<>]*$/)) return substr(head, RSTART, RLENGTH)
    return h
}

FNR == 1 {
    depth = 0
    hdr = ""
    inComment = 0
    rawEnd = ""
    fn = 0
}

{
    text = clean($0)
    startTop = depth > 0 ? kind[depth] : "S"
    for (i = 1; i <= length(text); i++) {
        c = substr(text, i, 1)
        if (c == "{") {
            k = kindOf(hdr, depth > 0 ? kind[depth] : "S")
            kind[++depth] = k
            if (k == "F") {
                fn = depth
                fnStart = FNR
                fnName = nameOf(hdr)
                listLines = 0
            }
            hdr = ""
        } else if (c == "}") {
            if (depth > 0 && depth == fn) {
                n = FNR - fnStart + 1 - listLines
                if (n > limit) printf "%d\t%s:%d: %s (%d lines)\n", n, FILENAME, fnStart, fnName, n
                fn = 0
            }
            if (depth > 0) depth--
            hdr = ""
        } else if (c == ";") {
            hdr = ""
        } else {
            hdr = hdr c
        }
    }
    hdr = hdr " "
    endTop = depth > 0 ? kind[depth] : "S"
    if (fn > 0 && FNR > fnStart && (startTop == "L" || endTop == "L")) listLines++
}
' | sort -t "$(printf '\t')" -k1,1nr | cut -f2- | {
    found=0
    while IFS= read -r line; do
        echo "$line"
        found=1
    done
    [ "$found" = 0 ]
}
