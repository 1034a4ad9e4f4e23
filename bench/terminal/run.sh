#!/usr/bin/env bash
# The terminal window under a flood, against xterm, side by side in one run.
#
#   bench/terminal/run.sh [BUILD_DIR] [ROUNDS]   (default: build/bench-terminal, Release; 3)
#   RATES=1,10 (multiples of 115200 baud) chooses the rates; HISTORY=N sets stbmate's
#   HistoryLines and PREFILL=N writes N lines before the flood (a full history to scroll through).
#
# On a private Xvfb display, 10 s of 78-character lines through a pseudo-terminal at 115200
# baud (paced writes every 10 ms) and at ten times that, to the stbmate program (the pty as its
# port) and to xterm (`xterm -e cat` on the same kind of pty, same font and size). Prints the
# CPU ticks of each (utime+stime, 100 a second), their ratio, and the p99 and worst delay of a
# 10 ms timer during the same flood, taken from terminal_lateness_probe: the real main window
# with a timer of the harness's own, since the program carries no measuring code.
# Needs the packages in deps/bench-terminal.txt. Other load on the machine shows as spread
# between rounds.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build/bench-terminal}
rounds=${2:-3}

for tool in Xvfb xterm python3; do
    command -v $tool >/dev/null || { echo "missing: $tool (deps/bench-terminal.txt)"; exit 2; }
done
if [[ ! -f $build/build.ninja ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$build" stbmate terminal_lateness_probe >/dev/null

fdfile=$(mktemp)
cleanup() {
    [[ -n ${xvfb_pid:-} ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -f "$fdfile"
}
trap cleanup EXIT INT TERM
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [[ -s $fdfile ]] && break; sleep 0.1; done
display=:$(tr -d '\n' <"$fdfile")

python3 "$here/flood.py" --display "$display" --rounds "$rounds" --rates "${RATES:-1,10}" \
    --stbmate "$build/app/stbmate" --probe "$build/bench/terminal/terminal_lateness_probe" \
    --ini "$root/app/stbmate.ini" --history "${HISTORY:-0}" --prefill "${PREFILL:-0}"
