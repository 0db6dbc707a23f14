# Renders a shelf made by the Blender add-on, for the README: Blender's
# Cycles on the CPU, headless.
#   blender -b --factory-startup --python tools/blender_render.py -- ADDON_ZIP COVERS OUT.png
import math
import sys

import bpy
from mathutils import Vector

addon_zip, covers, out = sys.argv[sys.argv.index("--") + 1:][:3]
bpy.ops.preferences.addon_install(filepath=addon_zip)
bpy.ops.preferences.addon_enable(module="varlobooks")
bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.ops.preferences.addon_enable(module="varlobooks")
scene = bpy.context.scene

bpy.ops.mesh.varlobooks_shelf(box_min=(0, 0, 0), box_max=(1.2, 0.3, 0.42), seed=7,
                              image_folder=covers, rotation=6.0)
bpy.ops.mesh.primitive_plane_add(size=6, location=(0.6, 0.15, 0))
floor = bpy.context.active_object
floor.data.materials.append(bpy.data.materials.new("floor"))
floor.data.materials[0].diffuse_color = (0.55, 0.5, 0.45, 1)

camera = bpy.data.objects.new("camera", bpy.data.cameras.new("camera"))
scene.collection.objects.link(camera)
camera.location = (1.55, -1.35, 0.75)
direction = Vector((0.6, 0.15, 0.2)) - camera.location
camera.rotation_euler = direction.to_track_quat("-Z", "Y").to_euler()
camera.data.lens = 40
scene.camera = camera

sun = bpy.data.objects.new("sun", bpy.data.lights.new("sun", "SUN"))
sun.data.energy = 3.5
sun.rotation_euler = (math.radians(50), math.radians(10), math.radians(30))
scene.collection.objects.link(sun)
world = bpy.data.worlds.new("world")
world.color = (0.8, 0.8, 0.82)
scene.world = world
world.use_nodes = True
world.node_tree.nodes["Background"].inputs["Strength"].default_value = 0.6

scene.render.engine = "CYCLES"
scene.cycles.device = "CPU"
scene.cycles.samples = 48
scene.cycles.use_denoising = False
scene.render.resolution_x, scene.render.resolution_y = 960, 540
scene.render.image_settings.color_mode = "RGB"
scene.render.image_settings.compression = 100
scene.render.filepath = out
bpy.ops.render.render(write_still=True)
