#!/bin/sh
# make test-cluster: a study on a real one-node Slurm cluster on this
# machine, against the same study run here.
#
# Installs Slurm and MUNGE when missing, starts munged, slurmctld and slurmd
# on localhost with a configuration written into a fresh folder (no cgroups:
# proctrack/linuxproc, task/none; ports of their own), then:
#  - runs a study of four short runs here (tstat-sim study --out local);
#  - submits the same study as one array job (--emit slurm cluster), and
#    cancels one array task while it runs, as a node that dies would;
#  - expects --merge to name the missing run and exit 1, resubmits only it
#    (--only-missing), and expects --merge to give results.csv, results.md,
#    results.json and the plots byte-identical to the local study;
#  - expects --emit of another study into that folder to be refused (exit 2)
#    leaving it as it was;
# and stops every daemon it started. Needs root (the daemons run as root).
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
sim="$here/build/bin/tstat-sim"
[ -x "$sim" ] || { echo "test-cluster: no $sim (make build first)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "test-cluster: needs root to run the Slurm daemons" >&2; exit 1; }
"$here/scripts/install-deps.sh" cluster

work=$(mktemp -d /tmp/tstat-cluster.XXXXXX)
chmod 755 "$work"
pids=""
passed=""
stop() {
    for pid in $pids; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in $pids; do
        while kill -0 "$pid" 2>/dev/null; do sleep 0.2; done
    done
    if [ -n "$passed" ]; then
        rm -rf "$work"
    else
        echo "test-cluster: its files are in $work" >&2
    fi
}
trap stop EXIT INT TERM

fail() {
    echo "test-cluster: FAILED: $*" >&2
    for log in "$work"/*.log; do
        echo "--- $log" >&2
        tail -20 "$log" >&2
    done
    exit 1
}

# MUNGE with a key and a socket of its own.
mkdir -p "$work/munge"
chmod 700 "$work/munge"
dd if=/dev/urandom of="$work/munge/munge.key" bs=1024 count=1 2>/dev/null
chmod 400 "$work/munge/munge.key"
socket="$work/munge/munge.socket"
munged --force --key-file="$work/munge/munge.key" --socket="$socket" \
    --pid-file="$work/munge/munged.pid" --log-file="$work/munged.log" \
    --seed-file="$work/munge/munged.seed"
pids="$(cat "$work/munge/munged.pid")"

# Slurm: this host as its only node, with all its processors.
host=$(hostname -s)
mkdir -p "$work/state" "$work/spool"
cat >"$work/slurm.conf" <<EOF
ClusterName=tstat-test
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=16817
SlurmdPort=16818
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$socket
CredType=cred/munge
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF="$work/slurm.conf"
slurmctld -i
sleep 1
pids="$pids $(cat "$work/slurmctld.pid")"
slurmd
sleep 1
pids="$pids $(cat "$work/slurmd.pid")"
for i in $(seq 1 60); do
    sinfo -h -o %T 2>/dev/null | grep -q idle && break
    [ "$i" -lt 60 ] || fail "the node never became idle: $(sinfo 2>&1)"
    sleep 1
done

# The study: two houses, the factory program and its constant baseline, a
# day each after two hours of warm-up: four runs.
study="--houses typical,tight --weather winter --equipment furnace --settings program \
    --days 1 --warmup 2 --weather-dir $here/sim/weather"
started=$(date +%s)
# shellcheck disable=SC2086
"$sim" study $study --out "$work/local" >"$work/local.log" 2>&1 || fail "the local study"
local_s=$(($(date +%s) - started))

# wait_for JOB: until the job has left the queue.
wait_for() {
    for i in $(seq 1 600); do
        [ -z "$(squeue -h -j "$1" 2>/dev/null)" ] && return 0
        sleep 1
    done
    fail "job $1 did not end"
}

started=$(date +%s)
# shellcheck disable=SC2086
"$sim" study $study --emit slurm "$work/cluster" >"$work/emit.log" 2>&1 || fail "--emit"
job=$(sed -n 's/.*submitted as Slurm job \([0-9]*\).*/\1/p' "$work/emit.log")
[ -n "$job" ] || fail "no job id: $(cat "$work/emit.log")"
# A node dies: the first array task to run is cancelled while it runs.
cancelled=""
for i in $(seq 1 600); do
    running=$(squeue -h -j "$job" -t RUNNING -o %i 2>/dev/null | head -1)
    if [ -n "$running" ]; then
        scancel "$running"
        cancelled=$running
        break
    fi
    sleep 0.1
done
[ -n "$cancelled" ] || fail "no array task was seen running"
wait_for "$job"
status=0
"$sim" study --merge "$work/cluster" >"$work/merge1.log" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "--merge of an incomplete study: exit status $status, not 1"
grep -q "no record of its end" "$work/merge1.log" || fail "--merge named no missing run"
missing=$(grep -c "no record of its end" "$work/merge1.log")

# shellcheck disable=SC2086
"$sim" study $study --emit slurm "$work/cluster" --only-missing >"$work/emit2.log" 2>&1 ||
    fail "--only-missing"
job=$(sed -n 's/.*submitted as Slurm job \([0-9]*\).*/\1/p' "$work/emit2.log")
[ -n "$job" ] || fail "no job id: $(cat "$work/emit2.log")"
wait_for "$job"
"$sim" study --merge "$work/cluster" >"$work/merge2.log" 2>&1 || fail "--merge"
cluster_s=$(($(date +%s) - started))
for f in results.csv results.md results.json $(cd "$work/local" && ls plots/*.png); do
    cmp "$work/local/$f" "$work/cluster/$f" || fail "$f differs from the local study's"
done

# Another study into the same folder is refused and changes nothing.
cp "$work/cluster/study.json" "$work/study-before.json"
status=0
# shellcheck disable=SC2086
"$sim" study $study --days 2 --emit slurm "$work/cluster" >"$work/emit3.log" 2>&1 || status=$?
[ "$status" -eq 2 ] || fail "--emit into another study's folder: exit status $status, not 2"
grep -q "holds another study" "$work/emit3.log" || fail "the refusal gave no reason"
cmp "$work/study-before.json" "$work/cluster/study.json" || fail "the earlier study changed"

echo "test-cluster: passed: 4 runs here in ${local_s} s; on Slurm (task $cancelled cancelled," \
    "$missing run named missing and resubmitted) in ${cluster_s} s; results byte-identical"
passed=1
