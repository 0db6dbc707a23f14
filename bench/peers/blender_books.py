# The peers a user would otherwise reach for, timed in one Blender run:
# Blender 3.4's bundled Archimesh add-on making books, and Blender's own
# OBJ and glTF exporters writing a shelf of the same size. By hand only,
# never in CI:
#   blender -b --factory-startup --python bench/peers/blender_books.py -- OUT_FOLDER
import os
import sys
import time

import addon_utils
import bpy

out = sys.argv[sys.argv.index("--") + 1] if "--" in sys.argv else "/tmp/peers"
os.makedirs(out, exist_ok=True)
addon_utils.enable("archimesh", default_set=True)


def clear():
    bpy.ops.wm.read_factory_settings(use_empty=True)
    addon_utils.enable("archimesh", default_set=True)


def books_per_second(total, per_call, with_materials=False):
    """Archimesh makes up to per_call books an operator call, each call a new
    object; calls repeat until total books stand."""
    clear()
    made = 0
    start = time.perf_counter()
    while made < total:
        n = min(per_call, total - made)
        bpy.ops.mesh.archimesh_books(num=n, crt_mat=with_materials)
        made += n
    seconds = time.perf_counter() - start
    return made / seconds, seconds


def export_speed(writer, path):
    """MB/s of one export: the file and, for OBJ, its MTL."""
    start = time.perf_counter()
    writer(path)
    seconds = time.perf_counter() - start
    mtl = os.path.splitext(path)[0] + ".mtl"
    size = os.path.getsize(path) + (os.path.getsize(mtl) if path.endswith(".obj") else 0)
    return size / seconds / 1e6, size, seconds


for total in () if os.environ.get("PEERS_EXPORTS_ONLY") else (300, 1000):
    rate, seconds = books_per_second(total, 100)
    print(f"PEER archimesh books {total}: {rate:.1f} books/s ({seconds:.2f} s)", flush=True)
if not os.environ.get("PEERS_EXPORTS_ONLY"):
    rate, seconds = books_per_second(100, 100, with_materials=True)
    print(f"PEER archimesh books 100 with materials: {rate:.1f} books/s ({seconds:.2f} s)", flush=True)

# A shelf of 1,000 books, written by Blender's exporters.
books_per_second(1000, 100)
obj = os.path.join(out, "peer_shelf.obj")
# The C++ OBJ writer Blender 3.4 brings (File > Export > Wavefront).
rate, size, seconds = export_speed(lambda p: bpy.ops.wm.obj_export(filepath=p), obj)
print(f"PEER blender obj: {rate:.1f} MB/s ({size} bytes in {seconds:.2f} s)")
glb = os.path.join(out, "peer_shelf.glb")
rate, size, seconds = export_speed(
    lambda p: bpy.ops.export_scene.gltf(filepath=p, export_format="GLB"), glb)
print(f"PEER blender glb: {rate:.1f} MB/s ({size} bytes in {seconds:.2f} s)")
