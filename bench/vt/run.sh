#!/usr/bin/env bash
# Terminal throughput against libvterm, side by side in one run.
#
#   bench/vt/run.sh [BUILD_DIR]      (default: build/bench-vt, configured as Release)
#
# Streams: a wrapping plain log, ls --color style output, full-screen redraws (generated,
# fixed random start) and the recorded vttest session. For each: MB/s, best of 5 runs of >= 16 MB in
# 4096-byte slices, and callgrind instructions per byte of the feeding call alone.
# Needs the packages in deps/bench-terminal.txt.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build/bench-vt}

if [[ ! -f $build/build.ninja ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$build" vtfeed vterm_feed >/dev/null
vtfeed=$build/tools/vtfeed/vtfeed
vterm=$build/bench/vt/vterm_feed

streams=$build/bench-vt-streams
mkdir -p "$streams"
python3 "$here/gen_streams.py" "$streams"
cp "$root/tests/terminal/data/vttest_movements.bin" "$streams/vttest.bin"

instructions_per_byte() { # program file
    local out
    out=$(mktemp)
    valgrind --tool=callgrind --toggle-collect=feed_all --callgrind-out-file="$out" \
        "$1" -o "$2" >/dev/null 2>&1
    local ir
    ir=$(awk '/^totals:/ {print $2}' "$out")
    rm -f "$out"
    awk -v ir="$ir" -v n="$(stat -c %s "$2")" 'BEGIN { printf "%.1f", ir / n }'
}

printf '%-14s %9s %10s %10s %6s %9s %9s %6s\n' stream bytes "vtfeed" "libvterm" "ratio" \
    "vtf Ir/B" "vt Ir/B" "ratio"
printf '%-14s %9s %10s %10s %6s %9s %9s %6s\n' "" "" "MB/s" "MB/s" "" "" "" ""
for f in plain_log colour_ls redraw vttest; do
    file=$streams/$f.bin
    ours=$("$vtfeed" -t "$file" | cut -f3)
    theirs=$("$vterm" -t "$file" | cut -f3)
    ours_ir=$(instructions_per_byte "$vtfeed" "$file")
    theirs_ir=$(instructions_per_byte "$vterm" "$file")
    awk -v f="$f" -v n="$(stat -c %s "$file")" -v a="$ours" -v b="$theirs" \
        -v c="$ours_ir" -v d="$theirs_ir" \
        'BEGIN { printf "%-14s %9d %10.1f %10.1f %5.2fx %9.1f %9.1f %5.2fx\n",
                 f, n, a, b, a / b, c, d, d / c }'
done
