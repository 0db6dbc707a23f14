#!/usr/bin/env bash
# Installs the three.js that modeler serve's page uses, and the fflate that
# the static page zips downloads with (pinned in
# modeler/serve/web/package-lock.json); the build copies it beside the
# program, so the page loads nothing from elsewhere.
set -euo pipefail
cd "$(dirname "$0")/../modeler/serve/web"
if [[ ! -f node_modules/three/build/three.module.min.js || ! -f node_modules/fflate/esm/browser.js ]]; then
  export npm_config_cache=${npm_config_cache:-${HOME:-/tmp}/.npm}
  npm ci --no-audit --no-fund --loglevel=error >/dev/null
fi
