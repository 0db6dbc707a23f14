#!/usr/bin/env bash
# The README's main job, run as a user would: it must write the three files,
# print one summary and give a glTF that the Khronos validator accepts.
set -euo pipefail
root=$1
out=$2
rm -rf "$out"
summary=$("$root/scripts/shelf.sh" "$out")
echo "$summary"
[[ $(head -n 1 <<<"$summary") =~ ^[0-9]+\ books,\ [0-9]+\ points,\ [0-9]+\ polygons,\ [0-9]+\ textured\ covers$ ]]
for file in shelf.glb shelf.obj shelf.mtl shelf.json; do
  [[ -s $out/$file ]] || { echo "missing $out/$file"; exit 1; }
done
node "$root/tools/validator/validate.js" "$out/shelf.glb" >/dev/null
grep -q '^map_Kd ' "$out/shelf.mtl"
echo "main job: ok"
