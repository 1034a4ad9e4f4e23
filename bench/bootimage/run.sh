#!/bin/sh
# The emergency image check against cksum of the same 16 MiB image, in one run: both read the
# whole file and compute a CRC over it. Prints the median milliseconds and the ratio; target:
# the check takes no longer than cksum.
#   bench/bootimage/run.sh [BUILD_DIR] [ROUNDS]   (default: build/bench-bootimage, Release)
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${1:-$ROOT/build/bench-bootimage}
ROUNDS=${2:-41}
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$BUILD_DIR" boot_image_bench >/dev/null
for tool in mkimage cksum; do
    command -v $tool >/dev/null || { echo "missing: $tool (deps/bench-bootimage.txt)"; exit 2; }
done

WORK=$(mktemp -d /tmp/stbmate-bootimagebench.XXXXXX)
trap 'rm -rf "$WORK"' EXIT INT TERM
head -c $((16 * 1024 * 1024 - 64)) /dev/urandom > "$WORK/data"
mkimage -A sh -O linux -T kernel -C gzip -a 84000000 -e 84000000 -n bench \
    -d "$WORK/data" "$WORK/emergency.ub" >/dev/null
cat "$WORK/emergency.ub" > /dev/null # page cache warm for both
"$BUILD_DIR/bench/bootimage/boot_image_bench" compare "$WORK/emergency.ub" "$ROUNDS"
