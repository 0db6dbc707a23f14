#!/usr/bin/env bash
# Writes the page as static files to build/web-static/: index.html, the
# page's scripts, the tool and host compiled to WebAssembly, the pinned
# three.js and fflate, and the sample covers. Any static web host serves
# the folder as it is (python3 -m http.server, say, from inside it).
# Installs what it needs first (Debian's emscripten, the npm packages).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh web
scripts/web.sh
# Debian's emscripten finds its JavaScript tools (acorn) here, whichever
# Node.js runs them.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
cmake --preset web >/dev/null
cmake --build --preset web
rm -rf build/web-static
cp -r build/web/web-static build/web-static
echo "wrote build/web-static/ ($(du -sh build/web-static | cut -f1)); serve it with:" >&2
echo "  (cd build/web-static && python3 -m http.server 8000 --bind 127.0.0.1)" >&2
