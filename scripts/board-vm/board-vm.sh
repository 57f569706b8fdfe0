#!/bin/sh
# The emulated board with the simulated world around it (`make board-vm`):
# boots the board image in qemu (run-vm.sh) with its CPU stopped, writes the
# factory image into its flash first when the flash is new, then runs
# `tstat-sim coproc` attached to the board: the coprocessor, the house and
# the building controller's console on the board's /dev/ttyS1, the keys and
# the screen through the emulator's machine protocol, the relays and the
# test pin through the board's I/O page. The simulator lets the board run
# once it is attached; when it ends (Ctrl-C, `quit`), the board is stopped.
#
# Usage: board-vm.sh [tstat-sim coproc options...]
# Environment: TSTAT_VM_DIR (run-time files, default build-board-vm/vm),
# TSTAT_VM_ROOT (the simulator's board root, default build-board-vm/root),
# TSTAT_VM_RTC_BASE (the board's clock at power-on, default utc) and the
# other TSTAT_VM_ variables of run-vm.sh.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
dir=${TSTAT_VM_DIR:-$top/build-board-vm/vm}
root=${TSTAT_VM_ROOT:-$top/build-board-vm/root}
sim=$top/build/bin/tstat-sim
mkdir -p "$dir" "$root"

for f in "$sim" "$top/build/bin/tstat-factory" "$top/build-board-vm/rootfs.cpio.gz"; do
    if [ ! -e "$f" ]; then
        echo "board-vm.sh: $f is missing (make board-vm makes it)" >&2
        exit 1
    fi
done

# A new flash holds the factory image the simulated board would hold.
factory=""
if [ ! -f "${TSTAT_VM_FLASH:-$dir/flash.img}" ]; then
    factory=$dir/factory.img
    "$top/build/bin/tstat-factory" -o "$factory" >/dev/null
fi

env_file=$dir/vm.env
rm -f "$env_file"
TSTAT_VM_DIR=$dir TSTAT_VM_ENV=$env_file TSTAT_VM_FACTORY=$factory \
    "$here/run-vm.sh" --paused >"$dir/run-vm.out" 2>&1 &
vm=$!
trap 'kill -TERM "$vm" 2>/dev/null; wait "$vm" 2>/dev/null' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

n=0
while [ ! -f "$env_file" ]; do
    if ! kill -0 "$vm" 2>/dev/null || [ "$n" -ge 300 ]; then
        cat "$dir/run-vm.out" >&2
        exit 1
    fi
    sleep 0.1
    n=$((n + 1))
done
# shellcheck disable=SC1090
. "$env_file"
echo "board-vm.sh: the board's console is $CONSOLE (its output in $CONSOLE_LOG),"
echo "board-vm.sh: the manufacturing fixture's port $FIXTURE_TTY"
status=0
TSTAT_ROOT=$root "$sim" coproc --root "$root" --coproc-line "$COPROCESSOR_TTY" --qmp "$QMP" \
    --io-page "$MEMORY@$IO_PAGE_OFFSET" --board-console "$FIXTURE_LOG" "$@" || status=$?
exit "$status"
