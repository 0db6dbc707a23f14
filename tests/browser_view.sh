#!/usr/bin/env bash
# The example shelf's .glb and .obj opened by three.js's loaders in headless
# Chromium: no console error, no lines, a picture that is not blank.
# Screenshots are kept in OUT/shots. Exit 77 (skipped) without the browser
# or the pinned npm packages, except in CI.
# Usage: browser_view.sh ROOT MODELER OUT
set -euo pipefail
root=$1 modeler=$2 out=$3
if [[ ! -x /usr/bin/chromium-headless-shell || ! -d $root/tools/browser/node_modules/three ]]; then
  echo "chromium-headless-shell or tools/browser's packages missing (scripts/browser.sh)"
  [[ ${CI:-} == true ]] && exit 1
  exit 77
fi
rm -rf "$out"
"$modeler" run "$root/examples/shelf.session" -q -o "$out/shelf.glb" -o "$out/shelf.obj"
node "$root/tools/browser/view.js" "$out" shelf.glb shelf.obj --screenshots "$out/shots"
