#!/usr/bin/env bash
# Installs what is missing, builds stbmate and starts it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh" build
cmake -S "$here" -B "$here/build/release" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$here/build/release" --target stbmate
exec "$here/build/release/app/stbmate" "$@"
