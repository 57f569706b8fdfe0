#!/bin/sh
# The board's start script against a stand-in tstat, in a temporary
# directory: starts through links, a missing application, restart pauses and
# their back-off, one copy per device (stale and nonsense pid files, starts
# at once), and stopping with nothing left behind.
#
# Usage: tstat_start_test.sh PATH/TO/tstat-start
# TSTAT_START_SHELL names the shell that runs the script (e.g. "busybox sh");
# without it the script runs under sh and, where busybox is installed, again
# under busybox sh with busybox's commands first in its PATH.
set -u
script=$(cd "$(dirname "$1")" && pwd -P)/$(basename "$1")
# No core files from the stand-in's crashes (dash and busybox sh know -c).
# shellcheck disable=SC3045
ulimit -c 0
top=$(cd "$(mktemp -d)" && pwd -P)
failures=0

# Ends the scripts and applications still running in the temporary
# directory: those whose working directory is in it.
cleanup() {
    for file in "$top"/*/*.pid "$top"/*/*/starts; do
        [ -f "$file" ] || continue
        while read -r first second _; do
            running=${second:-$first}
            case $(readlink "/proc/$running/cwd" 2>/dev/null) in
            "$top"/*) kill -KILL "$running" 2>/dev/null ;;
            esac
        done <"$file"
    done
    rm -rf "$top"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() {
    echo "FAIL ($shell): $*"
    failures=$((failures + 1))
}

# now: cs is the time since boot in hundredths of a second.
now() {
    read -r up _ </proc/uptime
    cs=${up%.*}${up#*.}
}

# within SECONDS COMMAND...: polls COMMAND until it succeeds or SECONDS pass.
within() {
    now
    deadline=$((cs + $1 * 100))
    shift
    until "$@"; do
        now
        [ "$cs" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}

starts() {
    if [ -f "$tmp/$1/starts" ]; then wc -l <"$tmp/$1/starts"; else echo 0; fi
}
has_starts() { [ "$(starts "$1")" -ge "$2" ]; }
# app_pid NAME N: the pid of the application's Nth start.
app_pid() { sed -n "$2p" "$tmp/$1/starts" | cut -d' ' -f2; }
said() { grep -qF -- "$2" "$tmp/$1.out"; }
ended() { [ -s "$tmp/$1.rc" ]; }
gone() { ended "$1" && ! kill -0 "$2" 2>/dev/null; }
# pid_file_of DEVICE: the pid file the script keeps for DEVICE.
pid_file_of() { echo "$tmp/run/tstat-start.$(printf '%s' "${1#/}" | tr / _).pid"; }
# refused_but_one TRIAL: all but one of the race's starts have ended;
# winner is the pid of the one running.
refused_but_one() {
    winner=""
    for s in 1 2; do
        ended "race$1.$s" || winner="$winner${winner:+ }$(cat "$tmp/race$1.$s.pid")"
    done
    case $winner in '' | *' '*) return 1 ;; esac
}

# app NAME: a copy of the script beside a stand-in tstat that logs each start
# (time, pid, device) to starts and then does what TSTAT_TEST_MODE says.
app() {
    mkdir -p "$tmp/$1"
    cp "$script" "$tmp/$1/tstat-start"
    cat >"$tmp/$1/tstat" <<'EOF'
#!/bin/sh
read -r up _ </proc/uptime
echo "${up%.*}${up#*.} $$ $1" >>starts
case $TSTAT_TEST_MODE in
crash) kill -SEGV $$ ;;
fail) exit 3 ;;
ignore) trap '' TERM; exec sleep 60 ;;
run) exec sleep 60 ;;
esac
exit 0
EOF
    chmod +x "$tmp/$1/tstat"
}

# run NAME SCRIPT DEVICE [VAR=VALUE...]: starts SCRIPT (a path from $tmp) in
# the background with the environment given; pid is its pid, NAME.out gets
# its output and NAME.rc its exit status.
run() {
    run_name=$1
    run_path=$2
    run_device=$3
    shift 3
    [ -e "$run_device" ] || : >"$run_device"
    (
        cd "$tmp" || exit 1
        # shellcheck disable=SC2086
        env PATH="$path_dirs" TSTAT_RUN_DIR="$tmp/run" "$@" $shell "$run_path" "$run_device" \
            >"$tmp/$run_name.out" 2>&1 &
        echo $! >"$tmp/$run_name.pid"
        wait $! 2>/dev/null
        echo $? >"$tmp/$run_name.rc"
    ) &
    within 5 test -s "$tmp/$run_name.pid" || fail "$run_name did not start"
    pid=$(cat "$tmp/$run_name.pid")
}

output() { tail -n 3 "$tmp/$1.out"; }

# expect_end NAME SECONDS STATUS: NAME ends within SECONDS with STATUS.
expect_end() {
    if ! within "$2" ended "$1"; then
        fail "$1 still running after $2 s: $(output "$1")"
    elif [ "$(cat "$tmp/$1.rc")" != "$3" ]; then
        fail "$1 ended with $(cat "$tmp/$1.rc"), not $3: $(output "$1")"
    fi
}

expect_said() {
    said "$1" "$2" || fail "$1 did not say '$2': $(output "$1")"
}

# suite SHELL: every case, with SHELL running the script.
suite() {
    shell=$1
    suites=$((suites + 1))
    tmp=$top/$suites
    now
    began=$cs
    mkdir -p "$tmp/run" "$tmp/dev" "$tmp/bin"
    : >"$tmp/dev/lock"
    ln -s lock "$tmp/dev/lock-link"
    path_dirs=$PATH
    if [ "$shell" = "busybox sh" ]; then
        mkdir "$tmp/busybox"
        busybox --install -s "$tmp/busybox"
        path_dirs=$tmp/busybox:$PATH
    fi

    # Crashes in a row: the pauses between starts double from 1 s.
    app crash
    run crash crash/tstat-start "$tmp/dev/crash" TSTAT_TEST_MODE=crash TSTAT_RESTART_DELAY=1

    # Started directly and through links; status 0 ends the script.
    app ok
    ln -s "$tmp/ok/tstat-start" "$tmp/bin/absolute"
    ln -s ../ok/tstat-start "$tmp/bin/relative"
    ln -s relative "$tmp/bin/chain"
    n=0
    for path in ok/tstat-start "$tmp/bin/absolute" bin/relative bin/chain; do
        n=$((n + 1))
        run "ok$n" "$path" "$tmp/dev/ok" TSTAT_TEST_MODE=ok
        expect_end "ok$n" 5 0
        expect_said "ok$n" "tstat-start: tstat ended (status 0)"
        [ "$(starts ok)" -eq "$n" ] || fail "through $path: $(starts ok) starts, not $n"
    done

    # No executable tstat: one message, a failure status, no retries.
    app missing
    rm "$tmp/missing/tstat"
    app unexecutable
    chmod -x "$tmp/unexecutable/tstat"
    for name in missing unexecutable; do
        run "$name" "$name/tstat-start" "$tmp/dev/ok"
        expect_end "$name" 5 1
        expect_said "$name" "tstat-start: no executable tstat in $tmp/$name"
    done

    # The restart pause: not a number or below 1 s gets a message, and a
    # failing application is started at most 3 times in 2 s.
    delays="abc:is not a whole number of seconds; using the default 2 s
-1:is not a whole number of seconds; using the default 2 s
0:is below the minimum of 1 s; using 1 s
1:"
    while IFS=: read -r value message; do
        app "delay$value"
        run "delay$value" "delay$value/tstat-start" "$tmp/dev/delay$value" TSTAT_TEST_MODE=fail \
            TSTAT_RESTART_DELAY="$value"
    done <<END
$delays
END
    sleep 2
    while IFS=: read -r value message; do
        count=$(starts "delay$value")
        if [ "$count" -lt 1 ] || [ "$count" -gt 3 ]; then
            fail "TSTAT_RESTART_DELAY=$value: $count starts in 2 s"
        fi
        expect_said "delay$value" "tstat ended with status 3; starting it again in"
        if [ -n "$message" ]; then
            expect_said "delay$value" "tstat-start: TSTAT_RESTART_DELAY=$value $message"
        elif said "delay$value" TSTAT_RESTART_DELAY; then
            fail "TSTAT_RESTART_DELAY=$value: $(output "delay$value")"
        fi
        kill "$(cat "$tmp/delay$value.pid")"
        expect_end "delay$value" 5 0
    done <<END
$delays
END

    # One copy per device, whatever link names it; another device runs.
    app lock
    run lock lock/tstat-start "$tmp/dev/lock" TSTAT_TEST_MODE=run
    holder=$pid
    within 5 has_starts lock 1 || fail "the first copy did not start tstat"
    for device in lock lock-link; do
        run "second-$device" lock/tstat-start "$tmp/dev/$device" TSTAT_TEST_MODE=run
        expect_end "second-$device" 5 1
        expect_said "second-$device" \
            "tstat is already running on $tmp/dev/$device (tstat-start pid $holder)"
    done
    run other lock/tstat-start "$tmp/dev/other" TSTAT_TEST_MODE=run
    within 5 has_starts lock 2 || fail "another device was refused: $(output other)"
    [ "$(starts lock)" -eq 2 ] || fail "a second copy started tstat"
    for name in lock other; do
        kill "$(cat "$tmp/$name.pid")"
        expect_end "$name" 5 0
    done

    # The pid file of a killed copy is taken over, also when its pid has
    # gone to another process since, or when it holds no positive pid (0,
    # -1 and a negative group id each name running processes to kill -0).
    stale_file=$(pid_file_of "$tmp/dev/stale")
    group=$(cut -d' ' -f5 /proc/$$/stat)
    n=2
    for content in "" "" "$$ 1" 0 -1 "-$group 1"; do
        n=$((n + 1))
        [ -z "$content" ] || echo "$content" >"$stale_file"
        run "stale$n" lock/tstat-start "$tmp/dev/stale" TSTAT_TEST_MODE=run
        within 5 has_starts lock "$n" || fail "pid file '$content' kept stale$n: $(output "stale$n")"
        kill -KILL "$pid" "$(app_pid lock "$n")"
        within 5 ended "stale$n"
    done

    # Two starts at once on a stale pid file, on a file system where
    # removing a file is slow: one runs, the other is refused.
    app race
    mkdir "$tmp/slow"
    cat >"$tmp/slow/rm" <<'EOF'
#!/bin/sh
sleep 0.3
PATH=${PATH#*:} exec rm "$@"
EOF
    chmod +x "$tmp/slow/rm"
    for trial in 1 2; do
        echo "$$ 1" >"$(pid_file_of "$tmp/dev/race")"
        for s in 1 2; do
            run "race$trial.$s" race/tstat-start "$tmp/dev/race" TSTAT_TEST_MODE=run \
                PATH="$tmp/slow:$path_dirs"
        done
        within 5 has_starts race "$trial" || fail "race $trial: nothing started"
        within 5 refused_but_one "$trial" || fail "race $trial: still running: $winner"
        [ "$(starts race)" -eq "$trial" ] || fail "race $trial: $(starts race) starts in all"
        # shellcheck disable=SC2086
        kill -KILL $winner "$(app_pid race "$trial")"
    done

    # Stopping: an application that ignores SIGTERM is killed after the
    # grace period of 1 s, one that heeds it ends at once (several times:
    # nothing of the script's may outlive it and kill later).
    row=0
    while IFS=: read -r signal mode least most; do
        row=$((row + 1))
        name=stop$row-$mode
        app "$name"
        run "$name" "$name/tstat-start" "$tmp/dev/$name" TSTAT_TEST_MODE="$mode" TSTAT_STOP_GRACE=1
        within 5 has_starts "$name" 1 || fail "$name: tstat did not start"
        now
        sent=$cs
        kill "-$signal" "$pid"
        within 5 gone "$name" "$(app_pid "$name" 1)"
        now
        if [ $((cs - sent)) -lt "$least" ] || [ $((cs - sent)) -gt "$most" ]; then
            fail "SIG$signal to $name: ended after $((cs - sent))/100 s"
        fi
        expect_end "$name" 0 0
        expect_said "$name" "tstat-start: SIG$signal received; stopping tstat"
    done <<END
TERM:ignore:100:200
HUP:run:0:100
TERM:run:0:100
HUP:run:0:100
TERM:run:0:100
HUP:run:0:100
TERM:run:0:100
END

    # SIGTERM cuts the longest pause short; longer ones are cut to it.
    while IFS=: read -r value message; do
        app "pause$value"
        run "pause$value" "pause$value/tstat-start" "$tmp/dev/pause$value" TSTAT_TEST_MODE=fail \
            TSTAT_RESTART_DELAY="$value"
        within 5 said "pause$value" "starting it again in 3600 s" || fail "pause$value: no pause"
        [ -z "$message" ] || expect_said "pause$value" "TSTAT_RESTART_DELAY=$value $message"
        now
        sent=$cs
        kill "$pid"
        expect_end "pause$value" 5 0
        now
        [ $((cs - sent)) -le 100 ] || fail "pause$value: ended $((cs - sent))/100 s after SIGTERM"
    done <<END
3600:
3601:is above the maximum of 3600 s; using 3600 s
END

    # Back to the crashes: pauses of 1, 2 and 4 s, with the failures counted.
    within 15 has_starts crash 4 || fail "crash: $(starts crash) starts"
    gaps=$(awk 'NR > 1 { printf "%d ", $1 - last } { last = $1 }' "$tmp/crash/starts")
    # shellcheck disable=SC2086
    set -- $gaps
    for least in 100 200 400; do
        [ "${1:-0}" -ge "$least" ] || fail "crash: gaps $gaps, wanted at least $least/100 s"
        shift
    done
    expect_said crash "status 139 (signal 11); starting it again in 4 s (failed 3 times in a row)"
    kill "$(cat "$tmp/crash.pid")"
    expect_end crash 5 0

    # Seconds after the clean stops, nothing of theirs killed anything.
    for out in "$tmp"/stop*-run.out; do
        ! grep -q "killing it" "$out" || fail "$out: $(tail -n 3 "$out")"
    done

    now
    echo "$shell: $((cs - began))/100 s"
}

suites=0
if [ -n "${TSTAT_START_SHELL:-}" ]; then
    suite "$TSTAT_START_SHELL"
else
    suite sh
    if command -v busybox >/dev/null; then
        suite "busybox sh"
    fi
fi
if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "all passed"
