# Times Blender's own glTF importer on a shelf written by modeler, as an
# artist would bring it in. By hand only, never in CI:
#   modeler fill --box 0,0,0:800,0.5,0.3 --images examples/covers -o shelf.glb
#   blender -b --factory-startup --python bench/peers/blender_import.py -- shelf.glb [PROFILE]
# Prints the seconds (wall and CPU), the objects, meshes and materials made; with PROFILE,
# also the importer's functions that took the most time (cProfile).
import cProfile
import pstats
import sys
import time

import bpy
import numpy

# Debian 12 pairs Blender 3.4 with NumPy 1.24, which dropped the numpy.bool
# alias that Blender's glTF importer still uses: give it back.
if not hasattr(numpy, "bool"):
    numpy.bool = bool

args = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
if not args:
    sys.exit("usage: blender -b --factory-startup --python blender_import.py -- FILE.glb [PROFILE]")
path = args[0]
bpy.ops.wm.read_factory_settings(use_empty=True)
profiler = cProfile.Profile() if len(args) > 1 else None
start = time.perf_counter()
cpu_start = time.process_time()
if profiler:
    profiler.enable()
bpy.ops.import_scene.gltf(filepath=path)
if profiler:
    profiler.disable()
seconds = time.perf_counter() - start
# The importer runs on one thread: its CPU time is steadier than the wall's
# on a machine whose neighbours take a varying share.
cpu = time.process_time() - cpu_start
print(f"IMPORT {path}: {seconds:.1f} s ({cpu:.1f} s of CPU), {len(bpy.data.objects)} objects, "
      f"{len(bpy.data.meshes)} meshes, {len(bpy.data.materials)} materials", flush=True)
if profiler:
    pstats.Stats(profiler).sort_stats("cumulative").print_stats(25)
