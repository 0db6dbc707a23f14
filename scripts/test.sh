#!/usr/bin/env bash
# Builds and runs every test. Usage: scripts/test.sh [default|sanitize|clang|windows|web]
# web: installs emscripten, builds the static page (the tool in WebAssembly)
# and runs its browser test against the default build's modeler.
# windows: cross-builds with mingw-w64, runs the suite under wine, checks the
# DLL's exports and imports, and compares the example shelves with the Linux
# build's.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}

if [[ $preset == windows ]]; then
  scripts/deps.sh windows
  scripts/validator.sh
  export WINEDEBUG=-all
  cmake --preset windows >/dev/null
  cmake --build --preset windows
  scripts/check_dll.sh build/windows/bin/varlobooks.dll
  # The first run of wine makes its prefix; once, before tests run in
  # parallel. Its server then stays up until the lane ends: a wine process
  # that starts while the server of the last one is shutting down, or
  # while another process is starting one, can fail before it runs.
  wine cmd /c exit >/dev/null 2>&1 || true
  wineserver --wait  # a server already running is not made persistent
  wineserver --persistent
  trap 'wineserver --kill 2>/dev/null || true' EXIT
  # The prefix's services start with the server's first process and live
  # as long as it: started here, away from any test's output, which they
  # would otherwise hold open (and ctest wait on) until the lane ends.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  ctest --preset windows -j "$(nproc)"
  scripts/build.sh default
  scripts/compare_systems.sh
  exit
fi

if [[ $preset == web ]]; then
  scripts/deps.sh
  scripts/deps.sh web
  scripts/browser.sh
  scripts/web.sh
  # Configured again now that emscripten is here: the suite gains StaticPage.
  cmake --preset default >/dev/null
  cmake --build --preset default
  ctest --preset default -R '^StaticPage$' --output-on-failure
  exit
fi

scripts/deps.sh
scripts/validator.sh
scripts/browser.sh
scripts/web.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j "$(nproc)"
