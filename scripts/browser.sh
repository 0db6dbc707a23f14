#!/usr/bin/env bash
# Installs three.js and puppeteer-core (pinned in tools/browser/package-lock.json)
# for the test that opens the exports in headless Chromium. puppeteer-core
# downloads no browser: the test drives Debian's chromium-headless-shell.
set -euo pipefail
cd "$(dirname "$0")/../tools/browser"
if [[ ! -d node_modules/three || ! -d node_modules/puppeteer-core ]]; then
  export npm_config_cache=${npm_config_cache:-${HOME:-/tmp}/.npm}
  npm ci --no-audit --no-fund --loglevel=error >/dev/null
fi
