#!/bin/sh
# Our TFTP server against tftpd-hpa, side by side in one run: the same busybox tftp client
# fetches the same 64 MiB file from each on loopback, at block sizes 512 and 1468 (what a boot
# loader asks for, and our server's cap). Prints MB/s per round for each and the ratio per
# block size. Run as root (tftpd-hpa chroots).
#   bench/tftp/run.sh [BUILD_DIR] [ROUNDS]      (default: build/bench-tftp, configured as Release)
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${1:-$ROOT/build/bench-tftp}
ROUNDS=${2:-3}
SIZE_MB=64
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$BUILD_DIR" tftp_bench_server >/dev/null
SERVER="$BUILD_DIR/bench/tftp/tftp_bench_server"
for tool in in.tftpd busybox python3; do
    command -v $tool >/dev/null || { echo "missing: $tool (deps/bench-tftp.txt)"; exit 2; }
done

WORK=$(mktemp -d /tmp/stbmate-tftpbench.XXXXXX)
cleanup() {
    [ -n "${OUR_PID:-}" ] && kill "$OUR_PID" 2>/dev/null || true
    [ -n "${HPA_PID:-}" ] && kill "$HPA_PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

mkdir -p "$WORK/srv"
head -c $((SIZE_MB * 1024 * 1024)) /dev/urandom > "$WORK/srv/emergency.ub"
chmod 755 "$WORK" "$WORK/srv"; chmod 644 "$WORK/srv/emergency.ub"
cat "$WORK/srv/emergency.ub" > /dev/null # page cache warm for both

# Server and client share one CPU (the last): each block is then a hand-over on that CPU whose
# cost is the server's own work. Unpinned, a round depended on where the scheduler put the pair
# (a cross-CPU wake-up per block costs more than the server does) and on whatever else ran.
PIN=""
if command -v taskset >/dev/null; then
    PIN="taskset -c $(($(nproc) - 1))"
fi

$PIN "$SERVER" "$WORK/srv/emergency.ub" 0 > "$WORK/our.out" 2>/dev/null &
OUR_PID=$!
for _ in 1 2 3 4 5 6 7 8 9 10; do grep -qs PORT "$WORK/our.out" && break; sleep 0.2; done
OUR_PORT=$(awk '/PORT/ {print $2}' "$WORK/our.out")

# tftpd-hpa in the foreground on a free loopback port of its own, never the system's port 69.
HPA_PORT=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
$PIN in.tftpd -L -a "127.0.0.1:$HPA_PORT" -s "$WORK/srv" &
HPA_PID=$!
sleep 0.3

speed() { # PORT BLKSIZE -> MB/s; a short or failed download counts as 0
    rm -f "$WORK/got"
    start=$(date +%s.%N)
    $PIN busybox tftp -g -r emergency.ub -l "$WORK/got" -b "$2" 127.0.0.1 "$1" 2>/dev/null || true
    end=$(date +%s.%N)
    size=$(stat -c %s "$WORK/got" 2>/dev/null || echo 0)
    awk -v s="$start" -v e="$end" -v size="$size" -v want=$((SIZE_MB * 1024 * 1024)) \
        'BEGIN { if (size != want) print 0; else printf "%.1f", size / 1048576 / (e - s) }'
}

for BLKSIZE in 512 1468; do
    echo "blksize $BLKSIZE"
    echo "round  ours MB/s  tftpd-hpa MB/s"
    OURS_TOTAL=0; HPA_TOTAL=0
    i=1
    while [ $i -le "$ROUNDS" ]; do
        # Alternate who goes first, so neither always gets the quieter moment.
        if [ $((i % 2)) -eq 1 ]; then
            O=$(speed "$OUR_PORT" $BLKSIZE); H=$(speed "$HPA_PORT" $BLKSIZE)
        else
            H=$(speed "$HPA_PORT" $BLKSIZE); O=$(speed "$OUR_PORT" $BLKSIZE)
        fi
        printf '%5d  %9s  %14s\n' "$i" "$O" "$H"
        OURS_TOTAL=$(awk -v a="$OURS_TOTAL" -v b="$O" 'BEGIN { print a + b }')
        HPA_TOTAL=$(awk -v a="$HPA_TOTAL" -v b="$H" 'BEGIN { print a + b }')
        i=$((i + 1))
    done
    awk -v o="$OURS_TOTAL" -v h="$HPA_TOTAL" -v n="$ROUNDS" -v b="$BLKSIZE" 'BEGIN {
        printf "mean   %9.1f  %14.1f\nratio ours/tftpd-hpa at blksize %d: %.2f (target >= 1.00)\n",
               o / n, h / n, b, (h > 0 ? o / h : 0) }'
done
