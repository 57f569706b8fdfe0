#!/bin/sh
# Runs every libFuzzer target of a fuzz build for a given time each, merges
# the new inputs that add coverage into the repository's seed corpora, and
# prints one line per target: inputs run, speed, coverage, corpus size and
# findings. Then it replays each merged corpus through a build with clang's
# source coverage (BUILD_DIR/coverage) and prints the lines of each source
# file under src/ that the corpus reaches. With -s (a smoke run, as `make
# test-fuzz` makes) the seed corpora are only read: nothing is merged into
# them and no coverage build is made.
#
#   scripts/fuzz-campaign.sh [-s] [-t SECONDS] [-b BUILD_DIR] [TARGET...]
#
# The targets are those the build declared (BUILD_DIR/fuzz/targets.tsv, written
# by `cmake --preset fuzz`); naming some runs only those. Each target runs
# from BUILD_DIR/fuzz with its seed corpus and dictionary; a crash, leak,
# time-out or memory blow-up stops that target and is kept under
# BUILD_DIR/fuzz-findings/TARGET/. Exit status 0 when no target found anything.
set -eu

seconds=${FUZZ_TIME:-180}
build="build-fuzz"
smoke=0
while getopts st:b:h opt; do
    case $opt in
        s) smoke=1 ;;
        t) seconds=$OPTARG ;;
        b) build=$OPTARG ;;
        *)
            sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'
            exit 2
            ;;
    esac
done
shift $((OPTIND - 1))

case $seconds in
    '' | *[!0-9]*)
        echo "fuzz-campaign: the time must be whole seconds, not '$seconds'" >&2
        exit 2
        ;;
esac
manifest=$build/fuzz/targets.tsv
if [ ! -f "$manifest" ]; then
    echo "fuzz-campaign: no $manifest: configure and build the fuzz preset first" >&2
    exit 2
fi
build=$(cd "$build" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)

work=$build/fuzz-work
rm -rf "$work"
mkdir -p "$work"
table=$work/table
: >"$table"
status=0
tab=$(printf '\t')

targets=" $* "

# Keeps the named targets (all when none are named).
wanted() {
    [ "$targets" = "  " ] && return 0
    case $targets in
        *" $1 "*) return 0 ;;
    esac
    return 1
}

# The value of libFuzzer's final statistic $1 in log $2.
stat() {
    sed -n "s/^stat::$1: *//p" "$2" | tail -n 1
}

# Builds the targets with clang's source coverage and the stand-alone
# driver, replays each merged corpus and prints the lines of every file under
# src/ that the corpus reaches.
sourceCoverage() {
    cov=$build/coverage
    launcher=""
    command -v ccache >/dev/null 2>&1 && launcher=ccache
    names=$(cut -f 1 "$table" | tr '\n' ' ')
    echo "Source lines each corpus reaches (build with source coverage in $cov):"
    # $names is a list of target names.
    # shellcheck disable=SC2086
    if ! cmake -S "$source" -B "$cov" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_C_COMPILER_LAUNCHER="$launcher" -DCMAKE_CXX_COMPILER_LAUNCHER="$launcher" \
        -DCMAKE_C_FLAGS="-fprofile-instr-generate -fcoverage-mapping" \
        -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" \
        -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" >"$work/coverage-build.log" 2>&1 ||
        ! cmake --build "$cov" --target $names >>"$work/coverage-build.log" 2>&1; then
        echo "  (the coverage build failed: $work/coverage-build.log)"
        return
    fi
    while IFS="$tab" read -r name rest; do
        dir=$work/$name
        corpus=$(awk -F "$tab" -v n="$name" '$1 == n { print $3 }' "$manifest")
        (cd "$cov/fuzz" && LLVM_PROFILE_FILE="$dir/replay.profraw" "./$name" --runs=0 "$corpus") \
            </dev/null >"$dir/replay.log" 2>&1 || true
        llvm-profdata merge -sparse "$dir/replay.profraw" -o "$dir/replay.profdata" 2>>"$dir/replay.log" ||
            continue
        # Columns: file, regions, missed, cover, functions, missed, executed,
        # lines, missed, cover, ... (files named from the repository's root).
        llvm-cov report "$cov/fuzz/$name" -instr-profile="$dir/replay.profdata" \
            2>>"$dir/replay.log" | awk -v target="$name" '
            $1 ~ /^src\// && $8 != $9 {
                printf "  %-20s %-34s %4d of %4d lines  %6s\n", target, $1, $8 - $9, $8, $10
            }'
    done <"$table"
}

ran=0
while IFS="$tab" read -r name bin corpus dict; do
    wanted "$name" || continue
    ran=$((ran + 1))
    if [ ! -x "$bin" ]; then
        echo "fuzz-campaign: $bin is not built" >&2
        status=1
        continue
    fi
    dir=$work/$name
    findings=$build/fuzz-findings/$name
    rm -rf "$findings"
    mkdir -p "$dir/new" "$findings" "$corpus"
    dictarg=${dict:+-dict=$dict}
    echo "== $name: ${seconds}s" >&2

    # New inputs go to the first directory; the seed corpus is only read.
    # A target that ends otherwise than by its time (a finding, or one that
    # cannot run at all) fails the run; its log's end is shown.
    if ! (cd "$build/fuzz" && "$bin" -max_total_time="$seconds" -timeout=25 \
        -print_final_stats=1 -artifact_prefix="$findings/" ${dictarg:+"$dictarg"} "$dir/new" \
        "$corpus") </dev/null >"$dir/fuzz.log" 2>&1; then
        status=1
        echo "   $name failed; the end of $dir/fuzz.log:" >&2
        tail -n 20 "$dir/fuzz.log" | sed 's/^/     /' >&2
    fi
    runs=$(stat number_of_executed_units "$dir/fuzz.log")
    speed=$(stat average_exec_per_sec "$dir/fuzz.log")

    # Only inputs that reach edges the corpus does not yet reach join it
    # (hit counts alone do not count, or every run would add hundreds).
    before=$(find "$corpus" -type f | wc -l)
    if [ "$smoke" -eq 0 ]; then
        (cd "$build/fuzz" && "$bin" -merge=1 -use_counters=0 "$corpus" "$dir/new") \
            </dev/null >"$dir/merge.log" 2>&1 || true
    fi
    after=$(find "$corpus" -type f | wc -l)

    # Coverage of the merged corpus.
    (cd "$build/fuzz" && "$bin" -runs=0 "$corpus") </dev/null >"$dir/cover.log" 2>&1 || true
    inited=$(grep -m 1 'INITED' "$dir/cover.log" || true)
    cov=$(echo "$inited" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
    ft=$(echo "$inited" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
    size=$(echo "$inited" | sed -n 's/.* corp: [0-9]*\/\([^ ]*\).*/\1/p')
    found=$(find "$findings" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
        -o -name 'oom-*' \) | wc -l)
    [ "$found" -eq 0 ] || status=1

    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "${runs:-?}" "${speed:-?}" \
        "${cov:-?}" "${ft:-?}" "$after" "${size:-?}" "$found" >>"$table"
    if [ "$found" -ne 0 ]; then
        echo "   findings kept in $findings:" >&2
        find "$findings" -type f | sed 's/^/     /' >&2
    fi
    echo "   $((after - before)) new corpus entries" >&2
done <"$manifest"

if [ "$ran" -eq 0 ]; then
    echo "fuzz-campaign: no such target:$targets" >&2
    exit 2
fi

echo
printf '%-20s %11s %8s %6s %8s %7s %8s %8s\n' target inputs exec/s edges features corpus \
    bytes findings
while IFS="$tab" read -r name runs speed cov ft count size found; do
    printf '%-20s %11s %8s %6s %8s %7s %8s %8s\n' "$name" "$runs" "$speed" "$cov" "$ft" "$count" \
        "$size" "$found"
done <"$table"
echo
[ "$smoke" -eq 1 ] || sourceCoverage
echo
echo "Logs: $work/TARGET/{fuzz,merge,cover,replay}.log; seed corpora: tests/fuzz/corpus/TARGET"
exit $status
