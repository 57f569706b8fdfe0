#!/bin/sh
# Runs every script of examples/ with the command its comment gives
# ("#   build/bin/tstat-sim run ..."), one after the other on one board root
# as a user would, for at most HOURS simulated hours, and checks that it
# exits 0, that its arguments passed the check before the run, and what it
# is meant to show: lines of the console (extended regular expressions) and
# pictures kept. Each command starts from a fresh board, so nothing of the
# example before it (a vacation, a hold) changes what it shows. Then the
# README's console client, as it shows it, on a simulator left running.
#
# Usage (from the top of the repository): examples_test.sh PATH/TO/tstat-sim
set -u
sim=$1
top=$(mktemp -d)
trap 'rm -rf "$top"' EXIT
failures=0

# NAME HOURS: runs the example.
check() {
    name=$1 hours=$2
    file=examples/$name.txt
    command=$(sed -n 's|^#   build/bin/tstat-sim run ||p' "$file")
    if [ -z "$command" ]; then
        echo "FAIL $name: no command in $file"
        failures=$((failures + 1))
        return
    fi
    # The example's own arguments, its length held to HOURS.
    eval "set -- $command"
    for arg; do
        shift
        case $arg in
        --hours) skip=1 ;;
        *) if [ "${skip:-0}" = 1 ]; then skip=0; else set -- "$@" "$arg"; fi ;;
        esac
    done
    out=$top/$name.out
    # A cross build's simulator runs under its emulator ($TSTAT_EMULATOR).
    ${TSTAT_EMULATOR:+"$TSTAT_EMULATOR"} "$sim" run "$@" --root "$top/board" --no-http --no-status --hours "$hours" >"$out" 2>&1
    status=$?
    if [ "$status" -ne 0 ]; then
        echo "FAIL $name: exit status $status"
        tail -20 "$out"
        failures=$((failures + 1))
        return
    fi
    echo "ok   $name"
}

# NAME EXPECTED...: lines of its console (a name ending .png: a picture kept).
expect() {
    name=$1
    shift
    for pattern in "$@"; do
        case $pattern in
        *.png)
            if [ ! -s "$top/board/sim/$pattern" ]; then
                echo "FAIL $name: no $pattern"
                failures=$((failures + 1))
            fi
            ;;
        *)
            if ! grep -Eq -- "$pattern" "$top/$name.out"; then
                echo "FAIL $name: no line matches: $pattern"
                failures=$((failures + 1))
            fi
            ;;
        esac
    done
}

check morning 2
expect morning 'tstat-sim: screen .*/mode-popup\.png$' mode-popup.png \
    '^07:30:00 coproc: line voltage reading 480 \(under-voltage\)' \
    '^07:35:00 coproc: line voltage reading 600$'
check cold-snap 7
expect cold-snap 'weather cold-snap\.csv from its hour 0, 48 h$' \
    '^06:00:00 house: indoor' first-dawn.png
check vacation 1
expect vacation '^08:00:1[0-9] tstat> reply "MD MV ' vacation.png
check download 0.5
expect download 'coproc: download complete'
check under-voltage 1
expect under-voltage '^06:20:00 coproc: line voltage reading 470 \(under-voltage\)' \
    under-voltage.png '^06:[0-9:]+ relays .*W1/E'

# The README's console: "nc 127.0.0.1 $(cat board/sim/console.port)", with
# two lines typed, the second of which ends the simulator.
root=$top/console
${TSTAT_EMULATOR:+"$TSTAT_EMULATOR"} "$sim" run --root "$root" --no-http --no-status \
    </dev/null >"$top/console.out" 2>&1 &
tries=0
while [ ! -s "$root/sim/console.port" ] && [ "$tries" -lt 300 ]; do
    sleep 0.1
    tries=$((tries + 1))
done
printf 'help\nquit\n' | timeout 60 nc 127.0.0.1 "$(cat "$root/sim/console.port")" \
    >"$top/nc.out" 2>&1
wait
if grep -q 'quit  *end the simulator' "$top/nc.out" &&
    grep -q 'quit from the console' "$top/console.out"; then
    echo "ok   the README's console"
else
    echo "FAIL the README's console:"
    cat "$top/nc.out"
    failures=$((failures + 1))
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures failures"
    exit 1
fi
