#!/usr/bin/env bash
# modeler serve's page used by hand in headless Chromium (tools/browser/
# serve_page.js): a box pressed and pulled out, a handle dragged, a panel
# edit, keep, leave with a folder of covers, downloads; the downloaded
# session replays to the same .json. The screenshot is kept in OUT.
# Exit 77 (skipped) without the browser, the pinned npm packages or the
# built page, except in CI.
# Usage: serve_page.sh ROOT MODELER OUT
set -euo pipefail
root=$1 modeler=$2 out=$3
if [[ ! -x /usr/bin/chromium-headless-shell || ! -d $root/tools/browser/node_modules/puppeteer-core ]]; then
  echo "chromium-headless-shell or tools/browser's packages missing (scripts/browser.sh)"
  [[ ${CI:-} == true ]] && exit 1
  exit 77
fi
if [[ ! -f $(dirname "$modeler")/web/index.html ]]; then
  echo "the page was not built (scripts/web.sh installs its three.js)"
  [[ ${CI:-} == true ]] && exit 1
  exit 77
fi
node "$root/tools/browser/serve_page.js" "$modeler" "$root/examples" "$out"
