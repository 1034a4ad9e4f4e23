#!/bin/sh
# The format engine against the tools it stands on, side by side in one run:
#  1. quick FAT32 format of a 4 GiB image: our engine (checks, claim, mkfs.fat, read-back of
#     the new volume) against mkfs.fat -F 32 -n USB run directly; target overhead < 10 %.
#  2. the full format's read pass over a loop device against dd reading the same device, both
#     with direct I/O and 4 MiB blocks; target >= 0.90 of dd's throughput.
# Run as root (losetup).
#   bench/format/run.sh [BUILD_DIR] [ROUNDS] [READ_MB]   (default: build/bench-format, Release)
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${1:-$ROOT/build/bench-format}
ROUNDS=${2:-5}
READ_MB=${3:-1024}
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$BUILD_DIR" format_bench >/dev/null
BENCH="$BUILD_DIR/bench/format/format_bench"
for tool in mkfs.fat dd losetup python3; do
    command -v $tool >/dev/null || { echo "missing: $tool (deps/bench-format.txt)"; exit 2; }
done

WORK=$(mktemp -d /tmp/stbmate-formatbench.XXXXXX)
LOOP=
cleanup() {
    [ -n "$LOOP" ] && losetup -d "$LOOP" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

now() { python3 -c 'import time; print(time.monotonic())'; }
elapsed() { # command... -> seconds
    T0=$(now); "$@" >/dev/null 2>&1; T1=$(now)
    python3 -c "print(f'{$T1 - $T0:.4f}')"
}

truncate -s 4G "$WORK/stick.img"
mkfs.fat -F 32 -n USB "$WORK/stick.img" >/dev/null
echo "quick format of a 4 GiB image (seconds)"
echo "round  ours     mkfs.fat"
OURS=0; REF=0; i=1
while [ $i -le "$ROUNDS" ]; do
    if [ $((i % 2)) -eq 1 ]; then
        O=$(elapsed "$BENCH" quick "$WORK/stick.img"); M=$(elapsed mkfs.fat -F 32 -n USB "$WORK/stick.img")
    else
        M=$(elapsed mkfs.fat -F 32 -n USB "$WORK/stick.img"); O=$(elapsed "$BENCH" quick "$WORK/stick.img")
    fi
    printf '%5d  %-7s  %s\n' "$i" "$O" "$M"
    OURS=$(python3 -c "print($OURS + $O)"); REF=$(python3 -c "print($REF + $M)")
    i=$((i + 1))
done
python3 -c "print(f'overhead ours/mkfs.fat: {($OURS / $REF - 1) * 100:+.1f} % (target < 10 %)')"

# Real data behind the loop device, so neither read meets holes.
dd if=/dev/urandom of="$WORK/data.img" bs=4M count=$((READ_MB / 4)) status=none
LOOP=$(losetup -f --show "$WORK/data.img")
echo "read pass over $READ_MB MiB on $LOOP (MB/s)"
echo "round  ours     dd"
OURS=0; REF=0; i=1
while [ $i -le "$ROUNDS" ]; do
    if [ $((i % 2)) -eq 1 ]; then
        O=$(elapsed "$BENCH" read "$LOOP"); D=$(elapsed dd if="$LOOP" of=/dev/null bs=4M iflag=direct)
    else
        D=$(elapsed dd if="$LOOP" of=/dev/null bs=4M iflag=direct); O=$(elapsed "$BENCH" read "$LOOP")
    fi
    printf '%5d  %-7.0f  %.0f\n' "$i" "$(python3 -c "print($READ_MB * 1.048576 / $O)")" \
        "$(python3 -c "print($READ_MB * 1.048576 / $D)")"
    OURS=$(python3 -c "print($OURS + $O)"); REF=$(python3 -c "print($REF + $D)")
    i=$((i + 1))
done
python3 -c "print(f'throughput ratio ours/dd: {$REF / $OURS:.2f} (target >= 0.90)')"
