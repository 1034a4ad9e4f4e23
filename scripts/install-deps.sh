#!/usr/bin/env bash
# Installs the Debian packages listed in deps/<set>.txt that are not there yet.
# Usage: scripts/install-deps.sh build [test bench ...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
pkgs=()
for set in "$@"; do
  for f in "$here"/deps/"$set"*.txt; do
    [ -f "$f" ] || continue
    while read -r p _; do
      [ -n "$p" ] && [ "${p:0:1}" != "#" ] && pkgs+=("$p")
    done < "$f"
  done
done
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
