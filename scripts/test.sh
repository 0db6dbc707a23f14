#!/usr/bin/env bash
# Builds and runs every test. Usage: scripts/test.sh [default|sanitize|clang]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}

scripts/deps.sh
scripts/validator.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j "$(nproc)"
