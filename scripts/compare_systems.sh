#!/usr/bin/env bash
# Plays every example session with the Linux build and with the Windows
# build under wine, and compares the JSON exports (tools/compare). Needs
# build/default and build/windows (scripts/test.sh and scripts/test.sh
# windows build them). Usage: scripts/compare_systems.sh [OUT]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/compare-systems}
export WINEDEBUG=-all
rm -rf "$out"
mkdir -p "$out/linux" "$out/windows"

status=0
for session in examples/*.session; do
  name=$(basename "$session" .session)
  build/default/bin/modeler run "$session" -q -o "$out/linux/$name.json"
  wine build/windows/bin/modeler.exe run "$session" -q -o "$out/windows/$name.json"
  echo -n "$name: "
  node tools/compare/compare_shelves.js "$out/linux/$name.json" "$out/windows/$name.json" || status=1
done
exit $status
