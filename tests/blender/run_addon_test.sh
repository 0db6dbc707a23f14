#!/usr/bin/env bash
# The Blender add-on tested in Debian's Blender (test_addon.py), installed
# from the built zip into a fresh profile. Exit 77 (skipped) where Blender
# is not installed, except in CI.
# Usage: run_addon_test.sh ROOT ZIP MODELER OUT
set -euo pipefail
root=$1 zip=$2 modeler=$3 out=$4
if ! command -v blender >/dev/null; then
  echo "Blender is not installed (scripts/deps.sh installs Debian's)"
  [[ ${CI:-} == true ]] && exit 1
  exit 77
fi
rm -rf "$out"
mkdir -p "$out/profile"
# A profile of its own: the add-on is installed there, not in the user's.
export BLENDER_USER_CONFIG=$out/profile/config BLENDER_USER_SCRIPTS=$out/profile/scripts
exec blender -b --factory-startup --python-exit-code 1 \
  --python "$root/tests/blender/test_addon.py" -- "$zip" "$modeler" "$root/examples/covers" "$out"
