#!/bin/sh
# Planted-fault run: plants one small fault at a time in the sources (a
# comparison shifted or negated, && for ||, a constant off by one, a !
# dropped, true for false, return 0 made -1, a call statement removed; see
# tools/mutate), rebuilds the sanitizer build and runs the quick tests whose
# programs contain the changed code, and reports per file how many faults
# were planted, caught and survived, the survivors, and the score.
#
#   scripts/mutation.sh [-n COUNT|all] [-e] [-s SEED] [-j JOBS] [-x LABELS] [-o] [-k]
#                       [-r RESULTS] [-b DIR] [PATH...]
#   scripts/mutation.sh -c RESULTS... (one report of several runs' results.tsv)
#
# PATH: source files or directories (their .cpp files), relative to the
# repository; by default src/hvac src/config src/coproc src/korabus
# src/dispman src/menus src/pages src/mfgtest. -n: how many faults, spread
# over the files in proportion and chosen with the seed (-s, default 1);
# `all` plants every one (default 200); -e: COUNT faults for each PATH, so
# that a small file gets as many as a large directory. -j: build jobs. -x: the ctest labels left out
# (default 'scenario|browser': the quick tests). -o: only the tests of the
# file's own subsystem (tests/hvac for src/hvac), a quick lower bound of the
# score while tests of one directory are written. -k: every test of a fault
# runs, not only up to the first that fails, and the report ends with the
# test cases that catch no fault that no other case catches (the ones to
# weigh for removal); DIR/kills.tsv has each fault's failing cases. -r: plants
# again only the faults that survived in RESULTS (an earlier run's
# results.tsv), to try the tests written for them. -b: the work directory
# (default build-mutation): DIR/tree is a copy of the checkout, uncommitted
# changes included, that the faults are planted in (the checkout itself is
# never touched), DIR/build its sanitizer build, DIR/report.txt the report,
# DIR/results.tsv every fault's outcome and DIR/survivors.txt the survivors
# as FILE:LINE<TAB>ORIGINAL<TAB>MUTATED, the format of the equivalence list
# tests/mutation/equivalent.txt, whose faults are skipped. -c: the report of
# runs made side by side (each with its own -b), over their results files
# together, written to standard output. Exit status 0
# when the run completed, 1 when the unchanged tree fails to build or to
# pass the tests.
set -eu

count=200
seed=1
jobs=""
work="build-mutation"
quick='scenario|browser'
own=0
kill=0
again=""
each=0
combine=0
while getopts n:s:j:b:x:r:okech opt; do
    case $opt in
        n) count=$OPTARG ;;
        s) seed=$OPTARG ;;
        j) jobs=$OPTARG ;;
        b) work=$OPTARG ;;
        x) quick=$OPTARG ;;
        o) own=1 ;;
        k) kill=1 ;;
        e) each=1 ;;
        c) combine=1 ;;
        r) again=$(cd "$(dirname "$OPTARG")" && pwd)/$(basename "$OPTARG") ;;
        *)
            sed -n '2,36p' "$0" | sed 's/^# \{0,1\}//'
            exit 2
            ;;
    esac
done
shift $((OPTIND - 1))

# ---- Report ------------------------------------------------------------------------------
# Per file and directory: planted, caught, survived, not viable, equivalent and
# the score; then the survivors (also written to SURVIVORS), the flaky tests
# and the totals. The results (results.tsv lines) come on standard input.
report() { # survivors
    awk -F'\t' -v survivors="$1" '
        function add(k, o) { planted[k]++; n[k, o]++ }
        function row(label, k,    scored) {
            scored = n[k, "caught"] + n[k, "survived"]
            printf "%-40s %7d %6d %8d %10d %10d %6s\n", label, planted[k], n[k, "caught"],
                   n[k, "survived"], n[k, "not-viable"], n[k, "equivalent"],
                   scored ? sprintf("%d%%", 100 * n[k, "caught"] / scored) : "-"
        }
        {
            outcome = $4; sub(/ .*/, "", outcome)
            dir = $1; sub(/\/[^\/]*$/, "", dir)
            if (!($1 in planted)) files[++nf] = $1
            if (!(dir in planted)) dirs[++nd] = dir
            add($1, outcome); add(dir, outcome); add("", outcome)
            time[outcome == "equivalent" ? "skip" : "run"] += $5
            if (match($4, /\(flaky: [^)]*\)/)) {
                nflaky = split(substr($4, RSTART + 8, RLENGTH - 9), names, " ")
                for (j = 1; j <= nflaky; j++) flaky[names[j]]++
            }
            if (outcome == "survived") {
                surv[++ns] = sprintf("%s:%d  %s\n    %s\n    %s", $1, $2, $3, $6,
                                     $7 == "" ? "(removed)" : $7)
                print $1 ":" $2 "\t" $6 "\t" $7 > survivors
            }
        }
        END {
            if (ns == 0) printf "" > survivors
            printf "%-40s %7s %6s %8s %10s %10s %6s\n", "file", "planted", "caught", "survived",
                   "not viable", "equivalent", "score"
            for (i = 1; i <= nf; i++) row(files[i], files[i])
            print ""
            for (i = 1; i <= nd; i++) row(dirs[i], dirs[i])
            row("total", "")
            print ""
            print "Survivors (a test is missing, or the change is equivalent):"
            for (i = 1; i <= ns; i++) print surv[i]
            for (t in flaky) {
                if (!shown++) print "\nTests that failed once and passed when run again (not counted):"
                printf "    %s, for %d faults\n", t, flaky[t]
            }
            run = planted[""] - n["", "equivalent"]
            printf "\n%d faults planted, %.1f s each on average\n", run, run ? time["run"] / run : 0
            scored = n["", "caught"] + n["", "survived"]
            printf "Score: %d of %d caught (%s)\n", n["", "caught"], scored,
                   scored ? sprintf("%.1f%%", 100 * n["", "caught"] / scored) : "-"
        }'
}

if [ "$combine" = 1 ]; then
    [ $# -gt 0 ] || { echo "mutation: -c wants results files" >&2; exit 2; }
    cat "$@" | report /dev/null
    exit 0
fi
number_or_empty() { # name value
    case $2 in
        *[!0-9]*)
            echo "mutation: $1 wants a number, not '$2'" >&2
            exit 2
            ;;
    esac
}
[ "$count" = all ] || number_or_empty -n "$count"
number_or_empty -s "$seed"
number_or_empty -j "$jobs"
if [ $# -eq 0 ]; then
    set -- src/hvac src/config src/coproc src/korabus src/dispman src/menus src/pages src/mfgtest
fi

source=$(cd "$(dirname "$0")/.." && pwd)
cd "$source"
mkdir -p "$work"
work=$(cd "$work" && pwd)
tree=$work/tree
bdir=$work/build
run=$work/run
rm -rf "$run"
mkdir -p "$tree" "$run/nm" "$run/files"
tab=$(printf '\t')
ninja_jobs=${jobs:+-j$jobs}

say() { printf '%s\n' "$*" >&2; }

# ---- The copy of the checkout -------------------------------------------------
# Every file git would commit, as it is now; a file is copied only when it
# differs, so the build redoes only what changed since the last run.
say "mutation: copying the checkout to $tree"
git -c core.quotePath=false ls-files --cached --others --exclude-standard |
    while IFS= read -r f; do
        case $work/ in "$source/$f"/*) continue ;; esac
        [ -f "$f" ] || continue
        printf '%s\n' "$f"
        if ! cmp -s "$f" "$tree/$f"; then
            mkdir -p "$tree/$(dirname "$f")"
            cp "$f" "$tree/$f"
        fi
    done | LC_ALL=C sort >"$run/files.txt"
(cd "$tree" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$run/present.txt"
LC_ALL=C comm -13 "$run/files.txt" "$run/present.txt" | while IFS= read -r f; do
    rm -f "$tree/$f"
done

# ---- The sanitizer build of the copy -------------------------------------------
# Configured on every run: a new directory is found by a glob at configure time.
launcher=""
if command -v ccache >/dev/null 2>&1; then
    launcher="-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
fi
# shellcheck disable=SC2086
cmake -S "$tree" -B "$bdir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTSTAT_SANITIZE=ON \
    $launcher >"$run/configure.log" 2>&1 || {
    cat "$run/configure.log" >&2
    exit 1
}
say "mutation: building $bdir"
# shellcheck disable=SC2086
if ! ninja -C "$bdir" $ninja_jobs >"$run/build.log" 2>&1; then
    tail -n 30 "$run/build.log" >&2
    say "mutation: the unchanged tree does not build"
    exit 1
fi

# ---- The faults ------------------------------------------------------------------
sample=""
[ "$count" = all ] || sample="--sample $count --seed $seed"
equivalent=tests/mutation/equivalent.txt
[ -f "$tree/$equivalent" ] && sample="$sample --equivalent $tree/$equivalent"
if [ -n "$again" ]; then
    # The survivors of an earlier run, skipped where the equivalence list now
    # names them (its entries: file:line, original, changed; the line ignored).
    awk -F'\t' -v OFS='\t' '
        FILENAME == ARGV[1] { if ($0 !~ /^#/ && NF >= 2) {
                                  f = $1; sub(/:[0-9]+$/, "", f); eq[f SUBSEP $2 SUBSEP $3] = 1 }
                              next }
        $4 ~ /^survived/ { print $1, $2, $3, (($1 SUBSEP $6 SUBSEP $7) in eq ? "equivalent" : "run"),
                                 $6, $7 }' "$tree/$equivalent" "$again" |
        while IFS="$tab" read -r file line op status original mutated; do
            # The line as it stands now: still at its number, or else the one
            # line of the file with its text (none or several: not planted).
            # The text goes through the environment: awk -v would turn a
            # backslash sequence such as '\0' into the character it names.
            line=$(want="$original" awk -v was="$line" '
                { t = $0; gsub(/^[ \t]+|[ \t]+$/, "", t) }
                t == ENVIRON["want"] { if (NR == was) same = 1; n++; at = NR }
                END { print (same ? was : n == 1 ? at : 0) }' "$tree/$file")
            printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$file" "$line" "$op" "$status" "$original" "$mutated"
        done >"$run/mutants.tsv"
    set -- "survivors of $again"
elif [ "$each" = 1 ]; then
    for path in "$@"; do
        # shellcheck disable=SC2086
        "$bdir/bin/tstat-mutate" list --root "$tree" $sample "$path"
    done >"$run/mutants.tsv"
else
    # shellcheck disable=SC2086
    "$bdir/bin/tstat-mutate" list --root "$tree" $sample "$@" >"$run/mutants.tsv"
fi
total=$(wc -l <"$run/mutants.tsv")

# ---- The quick tests: name, executable, home directory under tests/ ---------------
ctest --test-dir "$bdir" -N -V -LE "$quick" 2>/dev/null | awk -v bdir="$bdir/" '
    / Test command: / { sub(/^[0-9]+: Test command: /, ""); split($0, w, " ");
                        exe = w[1]; gsub(/"/, "", exe); sub("^" bdir, "", exe) }
    /^ *Test +#[0-9]+: / { print $NF "\t" exe }' >"$run/tests.tsv"
find "$bdir/tests" -name CTestTestfile.cmake | while IFS= read -r f; do
    home=${f#"$bdir/tests/"}
    home=${home%%/*}
    sed -n 's/^add_test(\[=\[\([^]]*\)\]=\].*/\1/p' "$f" | sed "s/\$/$tab$home/"
done | LC_ALL=C sort >"$run/homes.tsv"

say "mutation: running the quick tests on the unchanged tree"
# A test that failed by chance (timing, on a loaded machine) passes when run
# again; one that fails twice stops the run.
if ! ctest --test-dir "$bdir" -LE "$quick" >"$run/baseline.log" 2>&1 &&
    ! ctest --test-dir "$bdir" --rerun-failed >"$run/baseline-again.log" 2>&1; then
    grep -E 'Failed|Timeout|Exception' "$run/baseline-again.log" >&2 || true
    say "mutation: the unchanged tree fails its quick tests; see $run/baseline-again.log"
    exit 1
fi
# name, executable, home, baseline seconds
awk -F'\t' -v OFS='\t' '
    FILENAME == ARGV[1] { home[$1] = $2; next }
    FILENAME == ARGV[2] { if (match($0, /Test +#[0-9]+: [^ ]+ /)) {
                              split(substr($0, RSTART, RLENGTH), w, " "); name = w[3]
                              secs = $0; sub(/ sec.*/, "", secs); sub(/.* /, "", secs)
                              time[name] = secs } next }
    { print $1, $2, ($1 in home ? home[$1] : "-"), ($1 in time ? time[$1] : 1) }
' "$run/homes.tsv" "$run/baseline.log" "$run/tests.tsv" >"$run/quick.tsv"

# The symbols each test's executables define: its own, and the programs it
# starts (those it depends on in the build).
while IFS="$tab" read -r name exe _home _secs; do
    {
        printf '%s\n' "$exe"
        ninja -C "$bdir" -t inputs "$exe" 2>/dev/null | grep '^bin/' || true
    } | while IFS= read -r program; do
        key=$(printf '%s' "$program" | tr '/' '_')
        if [ ! -f "$run/nm/$key" ]; then
            nm -P --defined-only "$bdir/$program" 2>/dev/null | awk '{print $1}' |
                LC_ALL=C sort -u >"$run/nm/$key"
        fi
        cat "$run/nm/$key"
    done | LC_ALL=C sort -u >"$run/nm/test.$name"
done <"$run/quick.tsv"

# The objects a source file is compiled into (a header: every object that
# includes it), and the quick tests whose executables contain one of them,
# those of the file's own subsystem first, each group fastest first.
prepare_file() { # file key
    ninja -C "$bdir" -t deps | awk -v a="../tree/$1" -v b="$tree/$1" '
        /^[^ ]/ { object = $1; sub(/:$/, "", object); next }
        { path = $1; if (path == a || path == b) print object }' | LC_ALL=C sort -u \
        >"$run/files/$2.objects"
    : >"$run/files/$2.symbols"
    all=0
    while IFS= read -r object; do
        nm -P -g --defined-only "$bdir/$object" |
            awk '$2 ~ /^[TDBR]$/ && $1 ~ /^(_Z|[A-Za-z])/ {print $1}' >"$run/files/$2.own"
        [ -s "$run/files/$2.own" ] || all=1
        cat "$run/files/$2.own" >>"$run/files/$2.symbols"
    done <"$run/files/$2.objects"
    LC_ALL=C sort -u -o "$run/files/$2.symbols" "$run/files/$2.symbols"
    sub=${1#src/}
    sub=${sub#lib/}
    sub=${sub%%/*}
    while IFS="$tab" read -r name exe home secs; do
        if [ "$all" = 1 ] ||
            [ -n "$(LC_ALL=C comm -12 "$run/files/$2.symbols" "$run/nm/test.$name" | head -n 1)" ]; then
            group=1
            [ "$home" = "$sub" ] && group=0
            [ "$own" = 1 ] && [ "$group" = 1 ] && continue
            printf '%s\t%s\t%s\t%s\n' "$group" "$secs" "$name" "$exe"
        fi
    done <"$run/quick.tsv" | sort -t "$tab" -k1,1n -k2,2g >"$run/files/$2.tests"
}

# ---- Planting -----------------------------------------------------------------------
planted=""
restore() {
    if [ -n "$planted" ]; then
        cp "$run/pristine" "$tree/$planted"
        planted=""
    fi
}
trap 'restore' EXIT
trap 'restore; say "mutation: interrupted; $tree is restored"; exit 130' INT TERM HUP

# Runs one test; its status.
run_test() { # name seconds-allowed
    ctest --test-dir "$bdir" -R "^$1\$" --timeout "$2" >"$run/mutant.log" 2>&1
}

# Runs one test to its end and notes in kills.tsv each of its cases that
# failed (the test's own name when it is not a GoogleTest program or it
# timed out); its status.
kill_test() { # name seconds-allowed
    ctest --test-dir "$bdir" -R "^$1\$" --timeout "$2" --output-on-failure \
        >"$run/mutant.log" 2>&1 && return 0
    cases=$(sed -n 's/^\[  FAILED  \] \([A-Za-z_][^ ,]*\).*/\1/p' "$run/mutant.log" | sort -u)
    grep -q 'Timeout' "$run/mutant.log" && cases=""
    printf '%s\n' "${cases:-$1}" | sed "s/^/$number$tab$1$tab/" >>"$run/kills.tsv"
    return 1
}

# Runs the tests of a planted fault in order up to the first failure; prints
# "caught TEST", "caught TEST (time-out)", "caught TEST (build)" or "survived".
# The tests of the file's own subsystem are built one at a time, so a fault
# they catch costs only their build; the others are built together. A test
# that fails is run again: one that then passes failed by chance (a test
# that depends on timing, on a loaded machine), is noted as flaky and does
# not count.
run_tests() { # key
    others=$(awk -F'\t' '$1 == 1 {print $4}' "$run/files/$1.tests")
    built=""
    flaky=""
    first=""
    while IFS="$tab" read -r group secs name exe <&4; do
        if [ "$group" = 0 ]; then
            # shellcheck disable=SC2086
            ninja -C "$bdir" $ninja_jobs "$exe" >"$run/mutant.log" 2>&1 || {
                echo "caught $name (build)"
                return
            }
        elif [ -z "$built" ]; then
            built=1
            # shellcheck disable=SC2086
            ninja -C "$bdir" $ninja_jobs $others >"$run/mutant.log" 2>&1 || {
                echo "caught (build)"
                return
            }
        fi
        limit=$(awk -v s="$secs" 'BEGIN { t = 5 * s + 10; printf "%d", t < 20 ? 20 : t }')
        if [ "$kill" = 1 ]; then
            kill_test "$name" "$limit" && continue
            [ -n "$first" ] || first="caught $name"
            continue
        fi
        run_test "$name" "$limit" && continue
        if grep -q 'Timeout' "$run/mutant.log"; then
            echo "caught $name (time-out)${flaky:+ (flaky:$flaky)}"
            return
        fi
        cp "$run/mutant.log" "$run/caught.log"
        if run_test "$name" "$limit"; then
            flaky="$flaky $name"
            continue
        fi
        echo "caught $name${flaky:+ (flaky:$flaky)}"
        return
    done 4<"$run/files/$1.tests"
    if [ -n "$first" ]; then
        echo "$first"
        return
    fi
    echo "survived${flaky:+ (flaky:$flaky)}"
}

say "mutation: $total faults in $*"
: >"$run/results.tsv"
: >"$run/kills.tsv"
number=0
while IFS="$tab" read -r file line op status original mutated <&3; do
    number=$((number + 1))
    key=$(printf '%s' "$file" | tr '/.' '__')
    [ -f "$run/files/$key.tests" ] || prepare_file "$file" "$key"
    start=$(date +%s)
    if [ "$status" = equivalent ]; then
        outcome="equivalent"
    elif [ ! -s "$run/files/$key.objects" ]; then
        outcome="not-viable (not built)"
    else
        cp "$tree/$file" "$run/pristine"
        planted=$file
        # shellcheck disable=SC2046,SC2086
        if ! "$bdir/bin/tstat-mutate" apply "$tree/$file" "$line" "$original" "$mutated" \
            >"$run/mutant.log" 2>&1; then
            # Planted again (-r) after the line changed or went.
            outcome="not-viable (line changed)"
        elif ! ninja -C "$bdir" $ninja_jobs $(cat "$run/files/$key.objects") >"$run/mutant.log" 2>&1; then
            outcome="not-viable"
        else
            outcome=$(run_tests "$key")
        fi
        restore
    fi
    seconds=$(($(date +%s) - start))
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$file" "$line" "$op" "$outcome" "$seconds" \
        "$original" "$mutated" >>"$run/results.tsv"
    say "[$number/$total] $file:$line $op: $outcome (${seconds}s)"
done 3<"$run/mutants.tsv"

# ---- Report ------------------------------------------------------------------------------
report "$work/survivors.txt" <"$run/results.tsv" | tee "$work/report.txt"
cp "$run/results.tsv" "$work/results.tsv"

# ---- With -k: the cases that catch nothing alone --------------------------------------
if [ "$kill" = 1 ]; then
    cp "$run/kills.tsv" "$work/kills.tsv"
    # Every case of the tests that ran, from the programs' own lists.
    cut -f3 "$run/files/"*.tests | LC_ALL=C sort -u | while IFS= read -r name; do
        exe=$(awk -F'\t' -v n="$name" '$1 == n {print $2; exit}' "$run/quick.tsv")
        "$bdir/$exe" --gtest_list_tests 2>/dev/null | awk -v n="$name" -v OFS='\t' '
            /^[^ ]/ { suite = $1; next }
            /^  / { print n, suite $1 }' || true
    done >"$run/cases.tsv"
    # The instances of a parameterised case (Zones/ScheduleTest.Hold/0 and /1)
    # count as the one case they are: each always fails with its twin.
    awk -F'\t' '
        function one(c) { sub(/^[A-Za-z0-9_]+\//, "", c); sub(/\/[0-9]+$/, "", c); return c }
        FILENAME == ARGV[1] {
            key = $2 "\t" one($3)
            if (!(($1, key) in seen)) { seen[$1, key]; killers[$1] = killers[$1] "|" key; n[key]++ }
            next
        }
        { key = $1 "\t" one($2); if (!(key in listed)) { listed[key]; all[++na] = key } }
        END {
            for (f in killers) {
                k = split(substr(killers[f], 2), c, "|")
                if (k == 1) alone[c[1]]++
            }
            for (i = 1; i <= na; i++) {
                split(all[i], w, "\t")
                printf "%6d %6d  %s %s\n", n[all[i]], alone[all[i]], w[1], w[2]
            }
        }' "$run/kills.tsv" "$run/cases.tsv" | sort -k2,2n -k1,1n >"$run/cases-caught.txt"
    {
        printf '\nTest cases by the faults they catch, and catch alone (those that catch\n'
        printf 'none alone are the ones to weigh for removal):\n'
        cat "$run/cases-caught.txt"
    } | tee -a "$work/report.txt"
fi
