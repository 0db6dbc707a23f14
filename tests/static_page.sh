#!/usr/bin/env bash
# The page as static files (scripts/web-static.sh builds it: the tool in
# WebAssembly) used by hand in headless Chromium from a static server
# (tools/browser/static_page.js); its sessions and links replay to the same
# bytes as modeler run. Prints the figures: page ready, fill speed against
# native. Exit 77 (skipped) without emscripten or the browser, except in CI.
# Usage: static_page.sh ROOT MODELER PYTHONPATH OUT
set -euo pipefail
root=$1 modeler=$2 python=$3 out=$4
skip() {
  echo "$1"
  [[ ${CI:-} == true ]] && exit 1
  exit 77
}
command -v em++ >/dev/null || skip "no emscripten (scripts/deps.sh web installs it)"
[[ -x /usr/bin/chromium-headless-shell && -d $root/tools/browser/node_modules/puppeteer-core ]] ||
  skip "chromium-headless-shell or tools/browser's packages missing (scripts/browser.sh)"
"$root/scripts/web-static.sh"
node "$root/tools/browser/static_page.js" "$root/build/web-static" "$modeler" "$root/examples/covers" \
  "$out" "$python"
