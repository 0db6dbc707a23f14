#!/usr/bin/env bash
# The main job: builds, then fills the bundled example shelf, answers the
# tool's image folder request with the sample covers, and writes
# shelf.glb, shelf.obj (+ .mtl) and shelf.json. Usage: scripts/shelf.sh [OUT]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-out}

scripts/deps.sh
scripts/build.sh default
build/default/bin/modeler run examples/shelf.session \
  -o "$out/shelf.glb" -o "$out/shelf.obj" -o "$out/shelf.json"
