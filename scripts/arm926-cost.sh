#!/bin/sh
# Counts the instructions that the board's core (an ARM926EJ-S, under
# `qemu-arm -cpu arm926`) executes for the main loop's measured bodies: one
# idle pass with the main page shown, one full redraw of the main page, the
# pass in a new clock second (/1) and in a new minute, which draws the time
# again (/60), and a key press on the main page up to the flipped frame of the
# hold page. The armel build
# of the benchmark (make test-armel) brackets each body with calls of
# tstat_cost_mark; qemu logs every translated block (in_asm) and every block
# it executes (exec, nochain), and the counter sums the instructions of the
# blocks run between two marks. Prints, per body, the fewest, the median and
# the most instructions over the runs of the body.
#
# Usage: arm926-cost.sh [BUILD-DIR]   (default: build-test-armel)
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-test-armel}
bench=$build/bench/bench_main_loop
sysroot=$here/build-armel-sysroot
if [ ! -x "$bench" ]; then
    echo "arm926-cost.sh: no $bench (make test-armel builds it)" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkfifo "$work/log"

count() {
    awk '
        /^IN:/ { block = 1; first = ""; n = 0; next }
        block && /^0x[0-9a-f]+:/ { if (first == "") first = substr($1, 3, 8); n++; next }
        block && /^$/ { if (first != "") size[first] = n; block = 0; next }
        /^Trace / {
            pc = $0; sub(/^[^[]*\[[0-9a-f]+\//, "", pc); pc = substr(pc, 1, 8)
            if ($NF == "tstat_cost_mark") {
                if (inside) runs[++nruns] = total
                inside = !inside; total = 0
            } else if (inside) {
                total += size[pc]
            }
        }
        END {
            if (nruns == 0) { print "no marked runs"; exit 1 }
            for (i = 1; i <= nruns; i++)
                for (j = i + 1; j <= nruns; j++)
                    if (runs[j] < runs[i]) { t = runs[i]; runs[i] = runs[j]; runs[j] = t }
            printf "%d runs: fewest %d, median %d, most %d instructions\n",
                nruns, runs[1], runs[int((nruns + 1) / 2)], runs[nruns]
        }' "$work/log"
}

cd "$build/data"
for body in IdleMainLoopPassOnTheMainPage FullMainPageRedraw MainLoopPassInANewSecond/1 \
    MainLoopPassInANewSecond/60 KeyPressToHoldPageFrame; do
    count >"$work/result" &
    QEMU_LD_PREFIX=$sysroot SDL_VIDEODRIVER=dummy \
        qemu-arm -cpu arm926 -d in_asm,exec,nochain -D "$work/log" "$bench" \
        --benchmark_filter="^BM_$body\$" --benchmark_min_time=0.000001 --benchmark_repetitions=3 >/dev/null
    wait
    printf '%-30s %s\n' "$body" "$(cat "$work/result")"
done
