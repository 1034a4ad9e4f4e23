#!/usr/bin/env bash
# Builds the Debian package stbmate_<version>_<arch>.deb and puts it in the top folder, ready
# for `apt install ./stbmate_<version>_<arch>.deb`. Installs the missing Debian packages first.
# Usage: scripts/package.sh [build-dir]     (default build/package)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$here/build/package}
"$here/scripts/install-deps.sh" build test package
# Only the program and its port helper are built: the package needs nothing else, so cpack
# must not build "all".
cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
      -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
cmake --build "$dir" --target stbmate stbmate-port69
rm -f "$dir"/stbmate_*.deb
(cd "$dir" && cpack -G DEB)
deb=$(ls "$dir"/stbmate_*.deb)
cp "$deb" "$here/"
echo "$here/$(basename "$deb")"
