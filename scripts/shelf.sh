#!/usr/bin/env bash
# The main job: builds, then fills the bundled example shelf, answers the
# tool's image folder request with the sample covers, and writes
# shelf.glb, shelf.obj (+ .mtl) and shelf.json. Usage: scripts/shelf.sh [OUT]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-out}

scripts/deps.sh
# The build speaks only when it fails, and then says all it has to say.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake --preset default && cmake --build --preset default; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "scripts/shelf.sh: the build failed (its output is above)" >&2
  exit 1
fi
build/default/bin/modeler run examples/shelf.session \
  -o "$out/shelf.glb" -o "$out/shelf.obj" -o "$out/shelf.json"
