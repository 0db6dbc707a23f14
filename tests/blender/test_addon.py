"""The Blender add-on in Blender itself: installed from the built zip into a
fresh profile, Add > Mesh > Shelf of Books run for a box and a seed, and
what it made checked against `modeler fill` of the same box.

Run by ctest as:
  blender -b --factory-startup --python-exit-code 1 --python test_addon.py -- ZIP MODELER COVERS OUT
"""

import json
import os
import re
import subprocess
import sys

import bpy
import numpy as np

ZIP, MODELER, COVERS, OUT = sys.argv[sys.argv.index("--") + 1:][:4]
os.makedirs(OUT, exist_ok=True)
failures = []


def check(ok, what):
    print(("ok: " if ok else "FAILED: ") + what)
    if not ok:
        failures.append(what)


def modeler_fill(box, seed, name):
    out = os.path.join(OUT, name)
    run = subprocess.run([MODELER, "fill", "--box", box, "--seed", str(seed), "--images", COVERS,
                          "-o", out], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    with open(out) as f:
        return json.load(f), run.stdout


def world_vertices(objects):
    found = []
    for obj in objects:
        co = np.empty(3 * len(obj.data.vertices), dtype=np.float32)
        obj.data.vertices.foreach_get("co", co)
        found.append(co.reshape(-1, 3).astype(np.float64) + np.array(obj.location))
    return np.concatenate(found)


def same_points(a, b, tolerance):
    """Whether every point of a lies within tolerance of one of b's, and
    every one of b's of one of a's, with as many of each."""
    if a.shape != b.shape:
        return False
    for one, other in ((a, b), (b, a)):
        for start in range(0, len(one), 512):
            block = one[start:start + 512]
            gaps = np.abs(block[:, None, :] - other[None, :, :]).max(axis=2).min(axis=1)
            if gaps.max() > tolerance:
                return False
    return True


def orphans():
    """Meshes, materials and images that nothing uses."""
    return [d.name for kind in (bpy.data.meshes, bpy.data.materials) for d in kind if d.users == 0] + [
        i.name for i in bpy.data.images if i.users == 0 and i.name not in ("Render Result", "Viewer Node")
    ]


bpy.ops.preferences.addon_install(filepath=ZIP)
bpy.ops.preferences.addon_enable(module="varlobooks")
check(hasattr(bpy.ops.mesh, "varlobooks_shelf"), "the add-on installs and registers its operator")

# The shelf of `modeler fill --box 0,0,0:1,0.5,0.3 --seed 4` with covers: in Blender's
# frame the box runs 1 along x, 0.3 along y (depth), 0.5 along z (up).
document, printed = modeler_fill("0,0,0:1,0.5,0.3", 4, "fill.json")
summary = re.match(r"(\d+) books, (\d+) points, (\d+) polygons, (\d+) textured covers", printed)
books, textured_books = int(summary.group(1)), int(summary.group(4))
result = bpy.ops.mesh.varlobooks_shelf(box_min=(0, 0, 0), box_max=(1, 0.3, 0.5), seed=4,
                                       image_folder=COVERS)
check(result == {"FINISHED"}, "the operator finishes")
shelf = bpy.data.collections["bookshelf"]
objects = list(shelf.objects)
check(len(objects) == books, "one object a book: %d, as modeler fill's %d" % (len(objects), books))

points = np.array(document["points"], dtype=np.float64)[:, [0, 2, 1]]  # (x, z, y)
ours = world_vertices(objects)
check(same_points(ours, points, 2e-6),
      "every book's world vertices are fill's points under (x, z, y), within single precision")

names = [o.name for o in objects]
check(len(set(names)) == len(names) and all(o.data.name.startswith(o.name.split(".")[0]) for o in objects),
      "each book is named as its cover surface, uniquely")
check(all([l.name for l in o.data.uv_layers] == ["bookpages", "bookcover"] for o in objects),
      "each book has the UV maps bookpages and bookcover")

# The UV values: every loop's "bookcover" value on a cover face is one of the map's values.
cover_values = {tuple(np.float32(v[2:4])) for m in document["vmaps"] if m["name"] == "bookcover"
                for v in m["values"]}
seen = set()
for obj in objects:
    uv = np.empty(2 * len(obj.data.loops), dtype=np.float32)
    obj.data.uv_layers["bookcover"].data.foreach_get("uv", uv)
    for polygon in obj.data.polygons:
        if obj.material_slots[polygon.material_index].material.name == "bookpages":
            continue
        for loop in polygon.loop_indices:
            seen.add((uv[2 * loop], uv[2 * loop + 1]))
check(seen and seen <= cover_values, "the bookcover values are the tool's (%d seen)" % len(seen))

textured = [o for o in objects if any(s.material and s.material.node_tree.nodes.get("Image Texture")
                                      for s in o.material_slots)]
check(len(textured) == books and textured_books == books,
      "every cover wears an image from the folder, as fill says")
images = {i.name for i in bpy.data.images} - {"Render Result", "Viewer Node"}
check(images and all(i.packed_file and i.size[0] > 0 for i in bpy.data.images if i.name in images),
      "the cover images are packed and decode (%d)" % len(images))
uv_nodes = [n for m in bpy.data.materials if m.node_tree for n in m.node_tree.nodes if n.type == "UVMAP"]
check(uv_nodes and all(n.uv_map == "bookcover" for n in uv_nodes),
      "cover images read the bookcover map")
check(all(o.data.use_auto_smooth for o in objects), "spines smooth, box edges sharp (auto smooth)")
base = min(v.co.z for v in objects[0].data.vertices)
check(abs(base) < 1e-6, "a book's origin is at its base")
check(not orphans(), "nothing is left unused: %s" % orphans()[:5])

# Redo: undo the run and run it again with another parameter, as the
# redo panel does; nothing of the first run stays.
bpy.ops.ed.undo_push(message="before")
counts = (len(bpy.data.objects), len(bpy.data.meshes), len(bpy.data.materials), len(bpy.data.images))
bpy.ops.mesh.varlobooks_shelf(box_min=(0, 0, 0), box_max=(1, 0.3, 0.5), seed=4, max_size=0.05)
bpy.ops.ed.undo_push(message="shelf")
bpy.ops.ed.undo()
undone = (len(bpy.data.objects), len(bpy.data.meshes), len(bpy.data.materials), len(bpy.data.images))
check(undone == counts, "undoing a run leaves nothing of it: %s, before %s" % (undone, counts))
bpy.ops.mesh.varlobooks_shelf(box_min=(0, 0, 0), box_max=(1, 0.3, 0.5), seed=4, max_size=0.05)
check(not orphans(), "a second run leaves nothing unused")

# One object for the shelf: every point in it.
bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.ops.preferences.addon_enable(module="varlobooks")
bpy.ops.mesh.varlobooks_shelf(box_min=(0, 0, 0), box_max=(1, 0.3, 0.5), seed=4, merge=True)
merged = list(bpy.data.collections["bookshelf"].objects)
check(len(merged) == 1 and same_points(world_vertices(merged), points, 2e-6),
      "One Object makes the whole shelf one object with every point")

# Fit to Active Object: the box is the active object's bounds in the world.
bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.ops.preferences.addon_enable(module="varlobooks")
bpy.ops.mesh.primitive_cube_add(size=1, location=(5, 2, 0.5))
bpy.context.active_object.scale = (2, 0.3, 1)
bpy.context.view_layer.update()
bpy.ops.mesh.varlobooks_shelf(fit_to_active=True, seed=1)
fitted = world_vertices(list(bpy.data.collections["bookshelf"].objects))
low, high = fitted.min(axis=0), fitted.max(axis=0)
# (a book may stand a hair past the box, as the tool places it)
check(low[0] >= 4 - 0.05 and high[0] <= 6 + 0.05 and low[2] >= -0.05 and high[2] <= 1 + 0.05
      and high[0] - low[0] > 1.5, "Fit to Active Object fills the active object's bounds (x %.2f..%.2f)"
      % (low[0], high[0]))

bpy.ops.wm.save_as_mainfile(filepath=os.path.join(OUT, "shelf.blend"))
if failures:
    print("%d checks failed" % len(failures))
    sys.exit(1)
