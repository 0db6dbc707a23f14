#!/usr/bin/env bash
# Configures and builds a CMake preset, quietly: the build speaks only when
# it fails, and then says all it has to say. Usage: scripts/build.sh PRESET
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:?usage: scripts/build.sh PRESET}
[[ $preset == windows ]] || scripts/web.sh
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake --preset "$preset" && cmake --build --preset "$preset"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "the $preset build failed (its output is above)" >&2
  exit 1
fi
