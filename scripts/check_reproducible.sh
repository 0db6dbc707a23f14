#!/usr/bin/env bash
# Builds the packages a second time, in another folder whose path has a
# space, and checks that every file is byte for byte the one that
# scripts/package.sh wrote under build/packages.
# Usage: scripts/check_reproducible.sh   (after scripts/package.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
first=$(realpath build/packages)
[[ -f $first/SHA256SUMS ]] || { echo "check_reproducible.sh: run scripts/package.sh first" >&2; exit 1; }
second_root=$(mktemp -d)/"second build"
trap 'rm -rf "$(dirname "$second_root")"' EXIT
scripts/package.sh "$second_root" 2>/dev/null
differ=0
for file in "$first"/*; do
  name=$(basename "$file")
  if cmp -s "$file" "$second_root/packages/$name"; then
    echo "check_reproducible.sh: $name: identical"
  else
    echo "check_reproducible.sh: $name: differs between two builds of the same commit" >&2
    differ=1
  fi
done
exit "$differ"
