#!/usr/bin/env bash
# Fails when any C++ file in the repository differs from what clang-format (Debian's, with the
# repository's .clang-format) makes of it, and names the files. Fix with clang-format -i.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
bad=()
for f in "${files[@]}"; do
  clang-format --style=file "$f" | cmp -s - "$f" || bad+=("$f")
done
if [ ${#bad[@]} -ne 0 ]; then
  printf 'not formatted: %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "format: ${#files[@]} files clean"
