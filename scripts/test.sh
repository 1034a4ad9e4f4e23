#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole suite.
# Usage: scripts/test.sh            plain build, warnings as errors
#        scripts/test.sh asan       AddressSanitizer + UndefinedBehaviorSanitizer
#        scripts/test.sh tsan       ThreadSanitizer
#        scripts/test.sh tsan-threads  ThreadSanitizer, only the tests labelled threads (CI)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-plain}
"$here/scripts/install-deps.sh" build test
case "$mode" in
  plain) san=""; type=RelWithDebInfo ;;
  asan)  san=address; type=Debug ;;
  tsan)  san=thread; type=Debug ;;
  tsan-threads) san=thread; type=Debug ;;
  *) echo "unknown mode $mode (plain, asan, tsan, tsan-threads)" >&2; exit 2 ;;
esac
dir="$here/build/test-${mode%-threads}"
# ccache, where installed, only speeds up rebuilds on a developer's machine.
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=$type -DSTBMATE_WERROR=ON \
      -DSTBMATE_SANITIZE="$san" "${launcher[@]}"
target=(); only=()
if [ "$mode" = tsan-threads ]; then target=(--target stbmate_thread_tests); only=(-L threads); fi
cmake --build "$dir" "${target[@]}"
cd "$dir"
"$here/scripts/guarded.sh" ctest --output-on-failure --timeout 300 -j"$(nproc)" "${only[@]}"
