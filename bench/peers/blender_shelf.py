# Books made inside Blender, timed in one Blender run: our add-on's
# operator (bpy.ops.mesh.varlobooks_shelf) against Blender 3.4's bundled
# Archimesh books, with and without materials, and against importing our
# .glb of the same shelf with Blender's glTF importer. By hand only, never
# in CI; it prints the table docs/PERFORMANCE.md quotes:
#   blender -b --factory-startup --python bench/peers/blender_shelf.py -- \
#     ADDON_ZIP MODELER COVERS OUT [ARCHIMESH_SECONDS]
# ARCHIMESH_SECONDS (default 120) caps each Archimesh run: past it the rate
# reached so far is reported. PEERS_ONLY_OURS=1 times the add-on alone.
import os
import subprocess
import sys
import time

import addon_utils
import bpy
import numpy

if not hasattr(numpy, "bool"):  # Blender 3.4's glTF importer still uses the alias
    numpy.bool = bool

args = sys.argv[sys.argv.index("--") + 1:]
addon_zip, modeler, covers, out = args[:4]
archimesh_cap = float(args[4]) if len(args) > 4 else 120.0
os.makedirs(out, exist_ok=True)
bpy.ops.preferences.addon_install(filepath=addon_zip)
SIZES = (300, 1000, 10000)
rows = []


def clear():
    bpy.ops.wm.read_factory_settings(use_empty=True)
    addon_utils.enable("archimesh", default_set=True)
    addon_utils.enable("varlobooks", default_set=True)


def length_for(books):
    """A box about that many books long (MaxSize 0.08: almost every book
    0.08 thick in a long box)."""
    return books * 0.08 * 0.99


def ours(books, images):
    clear()
    start = time.perf_counter()
    bpy.ops.mesh.varlobooks_shelf(box_min=(0, 0, 0), box_max=(length_for(books), 0.3, 0.5),
                                  seed=0, image_folder=covers if images else "")
    seconds = time.perf_counter() - start
    made = len(bpy.data.collections["bookshelf"].objects)
    return made, seconds


def archimesh(books, materials):
    clear()
    made = 0
    start = time.perf_counter()
    while made < books and time.perf_counter() - start < archimesh_cap:
        n = min(100, books - made)
        bpy.ops.mesh.archimesh_books(num=n, crt_mat=materials)
        made += n
    return made, time.perf_counter() - start


def glb_import(books):
    path = os.path.join(out, "shelf-%d.glb" % books)
    box = "0,0,0:%g,0.5,0.3" % length_for(books)
    subprocess.run([modeler, "-q", "fill", "--box", box, "--images", covers, "-o", path], check=True)
    clear()
    start = time.perf_counter()
    bpy.ops.import_scene.gltf(filepath=path)
    seconds = time.perf_counter() - start
    return len(bpy.data.meshes), seconds


def report(what, books, made, seconds):
    capped = " (stopped at the cap)" if made < books * 0.98 else ""
    line = "| %s | %d | %d | %.2f s | %.0f books/s%s |" % (what, books, made, seconds, made / seconds, capped)
    rows.append(line)
    print(line, flush=True)


ours(10, False)  # the library loaded once, as a user's first call does
for books in SIZES:
    report("varlobooks add-on, plain covers", books, *ours(books, False))
    report("varlobooks add-on, cover images", books, *ours(books, True))
only_ours = bool(os.environ.get("PEERS_ONLY_OURS"))
for books in () if only_ours else SIZES:
    report("Archimesh books", books, *archimesh(books, False))
    report("Archimesh books, its materials", books, *archimesh(books, True))
for books in () if only_ours else SIZES:
    report("our .glb, Blender's glTF importer", books, *glb_import(books))

print("\n| what | books asked | books made | seconds | rate |\n|---|---|---|---|---|")
print("\n".join(rows))
