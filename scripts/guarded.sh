#!/usr/bin/env bash
# Runs a command (the test suite) where this machine's own serial ports and console cannot be
# reached: in a private mount namespace /dev/ttyS* and /dev/console are covered by /dev/null,
# so a test that reaches for COM1 writes into nothing instead of the machine's console.
# Needs root (the tests do anyway); asks sudo otherwise.
# Usage: scripts/guarded.sh COMMAND [ARGS...]
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; }
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# shellcheck disable=SC2016
exec $sudo unshare --mount --propagation private bash -c '
  for d in /dev/ttyS* /dev/console; do
    [ -e "$d" ] || continue
    mount --bind /dev/null "$d" || { echo "cannot cover $d" >&2; exit 1; }
  done
  exec "$@"' guarded "$@"
