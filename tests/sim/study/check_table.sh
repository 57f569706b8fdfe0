#!/bin/sh
# The check misses no control change: each setting a study can set, changed
# on part of the regression study (check.json: the typical house on the
# winter day), must make `tstat-sim study --check baseline.json` fail naming
# a figure; the same part unchanged must pass; a study in Celsius, one of
# other conditions and one naming a house of no value are refused (exit
# status 2).
# Two cases run at a time, each a study of one run.
# Usage: check_table.sh TSTAT_SIM SOURCE_DIR WORK_DIR
set -u
sim=$1
src=$2
work=$3
base="$src/tests/sim/study/baseline.json"
rm -rf "$work"
mkdir -p "$work"
running=0

# case NAME EXPECTED-STATUS EXPECTED-TEXT EQUIPMENT SETTING-JSON [EXTRA-KEYS]
case_() {
    name=$1 expected=$2 text=$3 equipment=$4 setting=$5 extra=${6:-}
    cat >"$work/$name.json" <<JSON
{"houses": ["typical"], "weather": ["winter"], "equipment": ["$equipment"],
 "settings": [$setting], "days": [2], "start": "2026-01-12 00:00", "warmup_hours": 6,
 "seed": 5, "baseline": ""$extra}
JSON
    "$sim" study "$work/$name.json" --check "$base" --out "$work/$name" \
        --weather-dir "$src/sim/weather" >"$work/$name.log" 2>&1
    status=$?
    if [ "$status" -ne "$expected" ] || ! grep -q -- "$text" "$work/$name.log"; then
        echo "FAIL $name: exit status $status (expected $expected), \"$text\" not found"
        tail -5 "$work/$name.log"
        touch "$work/$name.failed"
    else
        echo "ok   $name: $(grep -m1 -- "$text" "$work/$name.log")"
    fi
}

# Runs a case in the background, two at a time.
start() {
    case_ "$@" &
    running=$((running + 1))
    if [ "$running" -ge 2 ]; then
        wait
        running=0
    fi
}

program='{"name": "program"'
start unchanged 0 "every figure within its tolerance" furnace "$program}"
start differential 1 "moved from" furnace "$program, \"factory\": [\"--differential\", \"1\"]}"
start cycle-rate 1 "moved from" furnace "$program, \"factory\": [\"--cycle-rate\", \"5\"]}"
start recovery 1 "moved from" furnace "$program, \"factory\": [\"--recovery\", \"off\"]}"
start balance-point 1 "moved from" heatpump "$program, \"factory\": [\"--balance-point\", \"20\"]}"
start program 1 "moved from" furnace "$program, \"script\": [\"+0:00:10 command PG D1 SP1 HT70 HM35 DM55 C78 T0530\", \"+0:00:20 command PG D2 SP1 HT70 HM35 DM55 C78 T0530\"]}"
start celsius 2 "in C, this study's in F\|in F, this study's in C" furnace "$program, \"factory\": [\"--scale\", \"C\"]}"
start other-study 2 "another study: its warmup_hours differs" furnace "$program}" ', "warmup_hours": 5'
wait
# A name of no value on the command line stops the study before any run.
"$sim" study --houses mansion --out "$work/mansion" >"$work/mansion.log" 2>&1
status=$?
if [ "$status" -ne 2 ] || ! grep -q -- "--houses: " "$work/mansion.log" || [ -d "$work/mansion/runs" ]; then
    echo "FAIL mansion: exit status $status (expected 2), or a run started"
    touch "$work/mansion.failed"
fi
# The comparison table is printed too, and results.csv holds the one run.
grep -q "^| program |" "$work/unchanged.log" &&
    grep -q "^typical_winter_furnace_program_2d,typical,winter,furnace,program,2,5,F," \
        "$work/unchanged/results.csv" || {
    echo "FAIL unchanged: no comparison table printed, or no row of the run in results.csv"
    touch "$work/unchanged.failed"
}
! ls "$work"/*.failed >/dev/null 2>&1
