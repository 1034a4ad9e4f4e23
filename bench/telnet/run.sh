#!/bin/sh
# The main window's telnet client under a 10 MB flood without line ends, 10 MB of ordinary
# lines and an option storm from a server that never reads (offscreen platform unless DISPLAY
# is set). Reference: busybox telnet taking the same streams.
#   bench/telnet/run.sh [BUILD_DIR]      (default: build/bench-telnet, configured as Release)
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${1:-$ROOT/build/bench-telnet}
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$BUILD_DIR" telnet_bench >/dev/null
for mode in flood lines storm; do
    "$BUILD_DIR/bench/telnet/telnet_bench" $mode
done
