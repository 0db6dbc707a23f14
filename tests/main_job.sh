#!/usr/bin/env bash
# The example shelf as the README's main job makes it, through the program
# already built: it must write the three files, print one summary and give a
# glTF that the Khronos validator accepts. Usage: main_job.sh ROOT MODELER OUT
set -euo pipefail
root=$1
modeler=$2
out=$3
rm -rf "$out"
summary=$("$modeler" run "$root/examples/shelf.session" \
  -o "$out/shelf.glb" -o "$out/shelf.obj" -o "$out/shelf.json")
echo "$summary"
[[ $(head -n 1 <<<"$summary") =~ ^[0-9]+\ books,\ [0-9]+\ points,\ [0-9]+\ polygons,\ [0-9]+\ textured\ covers$ ]]
for file in shelf.glb shelf.obj shelf.mtl shelf.json; do
  [[ -s $out/$file ]] || { echo "missing $out/$file"; exit 1; }
done
grep -q '^map_Kd ' "$out/shelf.mtl"
validator=$root/tools/validator/node_modules/gltf-validator
if [[ -d $validator ]] && command -v node >/dev/null; then
  node "$root/tools/validator/validate.js" "$out/shelf.glb" >/dev/null
elif [[ ${CI:-} == true ]]; then
  echo "the glTF validator is not installed (scripts/validator.sh)"; exit 1
else
  echo "skipped the glTF validator: not installed (scripts/validator.sh installs it)"
fi
echo "main job: ok"
