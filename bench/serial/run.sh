#!/usr/bin/env bash
# Serial link figures: byte→watcher latency over a pseudo-terminal (median, p99), a 1 MB
# burst checked byte for byte, and the CPU share of a 10-second WaitTicks; each next to a
# plain poll()+read() reader on a second pseudo-terminal.
#
#   bench/serial/run.sh [BUILD_DIR]      (default: build/bench-serial, configured as Release)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build/bench-serial}

if [[ ! -f $build/build.ninja ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$build" serial_bench >/dev/null
"$build/bench/serial/serial_bench"
