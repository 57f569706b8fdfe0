#!/bin/sh
# Starts the emulated board: qemu's "virt" machine (Cortex-A15, TCG) with the
# board's kernel and root file system, and the board's devices:
#   PL011 (ttyAMA0)              kernel messages and a service shell: a unix
#                                socket (or a pty: --console pty)
#   /dev/ttyS0, /dev/ttyS1       two PCI 16550 ports on ptys: the board's console
#                                (the application's output, the manufacturing
#                                fixture) and the coprocessor
#   /dev/fb0                     Cirrus VGA, 240 x 320 RGB565
#   /dev/input/event0            a USB keyboard on xHCI, id "keys" (keys by QMP)
#   /dev/mtdblock4, 5, 8         partitions of the second flash bank, a 64 MiB file
#   mtd9 "app"                   the application's slots: UBI (ubi.mtd=app), the
#                                UBIFS volume "slots" that tstat-update makes
#   /dev/mem 0xFFFFF000          the last page of guest RAM, in a shared file
#   /dev/rtc0                    PL031, started from --rtc-base
# and QMP on a unix socket. Once the host ends are known it writes them to
# the environment file (KEY=VALUE lines, sh syntax) and prints them, then
# waits for qemu to end; TERM, INT or HUP end qemu. The memory file is
# removed when qemu has ended; the flash file is kept.
#
# Usage: run-vm.sh [OPTIONS]
#   --dir DIR          run-time files (default build-board-vm/vm)      TSTAT_VM_DIR
#   --kernel FILE      zImage (default: make-kernel.sh's)               TSTAT_VM_KERNEL
#   --initrd FILE      initramfs (default build-board-vm/rootfs.cpio.gz) TSTAT_VM_INITRD
#   --flash FILE       the persistent flash bank, made erased when missing
#                      (default DIR/flash.img)                          TSTAT_VM_FLASH
#   --memory FILE      guest RAM, shared with the host (default
#                      /dev/shm/tstat-board-vm-<pid>.ram)               TSTAT_VM_MEMORY
#   --qmp PATH         QMP socket (default DIR/qmp.sock)                TSTAT_VM_QMP
#   --console PATH     console socket, or "pty" for a terminal program such
#                      as busybox microcom (default DIR/console.sock)   TSTAT_VM_CONSOLE
#   --rtc-base BASE    the RTC's start: utc, localtime or a date such as
#                      2026-01-15T06:00:00 (default utc)                TSTAT_VM_RTC_BASE
#   --append ARGS      more kernel command-line arguments               TSTAT_VM_APPEND
#   --paused           start with the CPU stopped until QMP "cont", so that
#                      the host can attach to the console and the serial
#                      lines before the first byte                     TSTAT_VM_PAUSED=1
#   --env FILE         the environment file (default DIR/vm.env)        TSTAT_VM_ENV
#   --factory FILE     write FILE (a factory-default image) into mtd4's place
#                      in the flash file before the start, the rest of the
#                      partition erased                                 TSTAT_VM_FACTORY
#   --layout           only print the flash layout (the _OFFSET and _SIZE
#                      lines below) and end
#
# qemu reads the whole flash file when it starts and writes each program and
# erase of the guest's back to it at once; what the host changes in the file
# while qemu runs, the guest does not see.
#
# The environment file: QEMU_PID, QMP, CONSOLE (the socket or the pty),
# CONSOLE_LOG (all the PL011's output), FIXTURE_TTY (guest ttyS0, the board's
# console), FIXTURE_LOG (all of its output),
# COPROCESSOR_TTY (guest ttyS1), FLASH, MEMORY, IO_PAGE_OFFSET (the I/O page
# in MEMORY), MTD4_OFFSET, MTD5_OFFSET, MTD8_OFFSET and their _SIZE (in
# FLASH), KEYS_DEVICE (the keyboard's QMP id), LOG (qemu's messages).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)

dir=${TSTAT_VM_DIR:-$top/build-board-vm/vm}
kernel=${TSTAT_VM_KERNEL:-}
initrd=${TSTAT_VM_INITRD:-$top/build-board-vm/rootfs.cpio.gz}
flash=${TSTAT_VM_FLASH:-}
memory=${TSTAT_VM_MEMORY:-}
qmp=${TSTAT_VM_QMP:-}
console=${TSTAT_VM_CONSOLE:-}
rtc_base=${TSTAT_VM_RTC_BASE:-utc}
append=${TSTAT_VM_APPEND:-}
env_file=${TSTAT_VM_ENV:-}
paused=${TSTAT_VM_PAUSED:-0}
factory=${TSTAT_VM_FACTORY:-}
layout=0

usage() {
    sed -n '2,/^set -eu/{/^set -eu/d;s/^# \{0,1\}//;p;}' "$0" >&2
    exit 2
}
while [ "$#" -gt 0 ]; do
    case $1 in
    --paused | --layout)
        [ "$1" = --paused ] && paused=1 || layout=1
        shift
        continue
        ;;
    esac
    [ "$#" -ge 2 ] || usage
    case $1 in
    --dir) dir=$2 ;;
    --kernel) kernel=$2 ;;
    --initrd) initrd=$2 ;;
    --flash) flash=$2 ;;
    --memory) memory=$2 ;;
    --qmp) qmp=$2 ;;
    --console) console=$2 ;;
    --rtc-base) rtc_base=$2 ;;
    --append) append=$2 ;;
    --env) env_file=$2 ;;
    --factory) factory=$2 ;;
    *) usage ;;
    esac
    shift 2
done

# The flash: qemu's virt machine has two 64 MiB CFI banks with 256 KiB
# erase blocks, seen by the kernel as one 128 MiB device. The first bank has
# no file (its contents do not outlive qemu) and holds the filler partitions
# mtd0-3; the second is FLASH and holds the board's regions.
bank=$((64 * 1024 * 1024))
block=$((256 * 1024))
mtd4_offset=0
mtd4_size=$block
mtd5_offset=$((mtd4_offset + mtd4_size))
mtd5_size=$((2 * block))
mtd8_offset=$((mtd5_offset + mtd5_size + 2 * block))
mtd8_size=$block
# The application's two slots: 64 erase blocks, of which UBI keeps 4 for
# itself and UBIFS about 12 for its index, journal and reserve.
mtd9_offset=$((mtd8_offset + mtd8_size))
mtd9_size=$((64 * block))
# The rest, unused by the board: the tests put files there for its shell.
mtd10_offset=$((mtd9_offset + mtd9_size))
mtd10_size=$((bank - mtd10_offset))
parts="16M(boot),16M(kernel),16M(rootfs),16M(spare),$((mtd4_size / 1024))k(factory)ro"
parts="$parts,$((mtd5_size / 1024))k(user),$((block / 1024))k(spare6),$((block / 1024))k(spare7)"
parts="$parts,$((mtd8_size / 1024))k(serial),$((mtd9_size / 1024))k(app),-(data)"
mtdparts="mtdparts=0.flash:$parts"
hex() {
    printf '0x%X' "$1"
}
print_layout() {
    for n in 4 5 8 9 10; do
        eval "echo MTD${n}_OFFSET=\$(hex \$mtd${n}_offset)"
        eval "echo MTD${n}_SIZE=\$(hex \$mtd${n}_size)"
    done
}
if [ "$layout" = 1 ]; then
    print_layout
    exit 0
fi

mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
: "${flash:=$dir/flash.img}"
: "${memory:=/dev/shm/tstat-board-vm-$$.ram}"
: "${qmp:=$dir/qmp.sock}"
: "${console:=$dir/console.sock}"
: "${env_file:=$dir/vm.env}"
log=$dir/qemu.log

if [ -z "$kernel" ]; then
    kernel=$("$here/make-kernel.sh" | tail -n1)
fi
for f in "$kernel" "$initrd"; do
    if [ ! -f "$f" ]; then
        echo "run-vm.sh: $f is missing" >&2
        exit 1
    fi
done

if [ ! -f "$flash" ]; then
    echo "Making the erased flash bank $flash"
    dd if=/dev/zero bs=1048576 count=64 2>/dev/null | tr '\000' '\377' >"$flash.new"
    mv "$flash.new" "$flash"
fi
if [ "$(wc -c <"$flash")" -ne "$bank" ]; then
    echo "run-vm.sh: $flash is not $bank bytes" >&2
    exit 1
fi
if [ -n "$factory" ]; then
    if [ ! -f "$factory" ] || [ "$(wc -c <"$factory")" -gt "$mtd4_size" ]; then
        echo "run-vm.sh: $factory is missing or larger than mtd4 ($mtd4_size bytes)" >&2
        exit 1
    fi
    { cat "$factory"; dd if=/dev/zero bs="$mtd4_size" count=1 2>/dev/null | tr '\000' '\377'; } |
        head -c "$mtd4_size" |
        dd of="$flash" bs=4096 seek=$((mtd4_offset / 4096)) conv=notrunc 2>/dev/null
fi

# Guest RAM is 3 GiB at 0x40000000, so its last page is at 0xFFFFF000: the
# I/O controller's page the application maps through /dev/mem. The kernel
# uses only the first 512 MiB (mem=512M) and leaves that page alone. The
# file starts out zero.
io_page_offset=$((0xFFFFF000 - 0x40000000))
rm -f "$memory"
: >"$memory"
rm -f "$qmp" "$log" "$dir/ttyS0.log"
[ "$console" = pty ] || rm -f "$console"

# The board's console is /dev/ttyS0, as on the board, where the application's
# output goes and the manufacturing fixture works; the kernel's messages and
# a service shell are on the PL011 too (the last console= is /dev/console).
cmdline="console=ttyAMA0 console=ttyS0,115200 mem=512M panic=-1 video=VGA-1:240x320-16 $mtdparts ubi.mtd=app${append:+ $append}"

# Everything the console prints also goes to DIR/console.log, from the first
# byte, whether or not a client is attached. A client that attaches must keep
# reading: qemu's PL011 waits until each byte is taken, and stops the whole
# machine while the socket's buffer is full.
console_log=$dir/console.log
rm -f "$console_log"
if [ "$console" = pty ]; then
    set -- -chardev "pty,id=console,logfile=$console_log" -serial chardev:console
else
    set -- -chardev "socket,id=console,path=$console,server=on,wait=off,logfile=$console_log" \
        -serial chardev:console
fi
if [ "$paused" = 1 ]; then
    set -- "$@" -S
fi

qpid=""
cleanup() {
    if [ -n "$qpid" ] && kill -0 "$qpid" 2>/dev/null; then
        kill -TERM "$qpid" 2>/dev/null || true
        wait "$qpid" 2>/dev/null || true
    fi
    rm -f "$memory"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

qemu-system-arm -M virt,highmem=off -cpu cortex-a15 -m 3072 \
    -object "memory-backend-file,id=ram,size=3G,mem-path=$memory,share=on" \
    -machine memory-backend=ram \
    -kernel "$kernel" -initrd "$initrd" -append "$cmdline" \
    -nodefaults -nographic -no-reboot \
    "$@" \
    -qmp "unix:$qmp,server=on,wait=off" \
    -drive "if=pflash,unit=1,format=raw,file=$flash" \
    -device cirrus-vga,romfile=,addr=0x1 \
    -chardev "pty,id=fixture,logfile=$dir/ttyS0.log" -device pci-serial,chardev=fixture,addr=0x2 \
    -chardev pty,id=coprocessor -device pci-serial,chardev=coprocessor,addr=0x3 \
    -device qemu-xhci,id=xhci,addr=0x4 -device usb-kbd,id=keys,bus=xhci.0 \
    -rtc "base=$rtc_base" \
    </dev/null >"$log" 2>&1 &
qpid=$!

# qemu names each pty on its standard output once it has made them.
pty_of() {
    sed -n "s/^char device redirected to \(.*\) (label $1)\$/\1/p" "$log"
}
n=0
while [ -z "$(pty_of coprocessor)" ] || [ ! -S "$qmp" ]; do
    if ! kill -0 "$qpid" 2>/dev/null || [ "$n" -ge 100 ]; then
        echo "run-vm.sh: qemu did not start:" >&2
        cat "$log" >&2
        exit 1
    fi
    sleep 0.1
    n=$((n + 1))
done

cat >"$env_file.new" <<EOF
QEMU_PID=$qpid
QMP=$qmp
CONSOLE=$([ "$console" = pty ] && pty_of console || echo "$console")
CONSOLE_LOG=$console_log
FIXTURE_TTY=$(pty_of fixture)
FIXTURE_LOG=$dir/ttyS0.log
COPROCESSOR_TTY=$(pty_of coprocessor)
KEYS_DEVICE=keys
FLASH=$flash
MEMORY=$memory
IO_PAGE_OFFSET=$(hex "$io_page_offset")
$(print_layout)
LOG=$log
EOF
mv "$env_file.new" "$env_file"
cat "$env_file"

status=0
wait "$qpid" || status=$?
qpid=""
exit "$status"
