#!/usr/bin/env bash
# Installs the Khronos glTF validator (npm package gltf-validator, pinned in
# tools/validator/package-lock.json) for the tests that check our glTF files.
set -euo pipefail
cd "$(dirname "$0")/../tools/validator"
if [[ ! -d node_modules/gltf-validator ]]; then
  # npm keeps its cache under HOME, which a bare CI environment may not set.
  export npm_config_cache=${npm_config_cache:-${HOME:-/tmp}/.npm}
  npm ci --no-audit --no-fund --loglevel=error >/dev/null
fi
