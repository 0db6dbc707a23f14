"""Blender data from a finished varlobooks session: one mesh object a book
(or one for the shelf), its origin at the book's base, the UV maps
"bookpages" and "bookcover", and the materials and cover images.

The modeller's frame is left-handed with y up; Blender's is right-handed
with z up. A point (x, y, z) of the modeller is (x, z, y) in Blender, as
Blender's glTF importer places our .glb, and each polygon's corners are
reversed so that its face still faces out.
"""

import math

import bpy
import numpy as np

# Faces meeting at this angle or less shade smooth across their edge: a
# round spine, not a box's edge. The same rule as the exports' normals.
SMOOTH_ANGLE = math.radians(61.0)
ROUGHNESS = 0.85
UV_MAPS = ("bookpages", "bookcover")


def to_blender(points):
    """Modeller points (N x 3) as Blender's (x, z, y)."""
    return np.ascontiguousarray(np.asarray(points, dtype=np.float64)[:, [0, 2, 1]])


def box_to_modeller(low, high):
    """A box given in Blender's frame, as the tool's two corners."""
    return ((low[0], low[2], low[1]), (high[0], high[2], high[1]))


def _corner_uvs(vertex_map, corners):
    """The map's value at each layer corner: the corner's own, else its
    point's, else (0, 0)."""
    count = len(corners)
    uvs = np.zeros((count, 2), dtype=np.float32)
    if vertex_map is None:
        return uvs
    point_set = np.asarray(vertex_map.point_set, dtype=bool)
    if len(point_set):
        inside = corners < len(point_set)
        chosen = np.zeros(count, dtype=bool)
        chosen[inside] = point_set[corners[inside]]
        uvs[chosen] = np.asarray(vertex_map.point_values)[corners[chosen]]
    corner_set = np.asarray(vertex_map.corner_set, dtype=bool)
    kept = min(count, len(corner_set))
    own = corner_set[:kept]
    uvs[:kept][own] = np.asarray(vertex_map.corner_values)[:kept][own]
    return uvs


class Materials:
    """The shelf's Blender materials, made once each: one per material of
    the tool's model (pages, plain cover, one per cover image)."""

    def __init__(self, session, prefix):
        self.session_materials = session.materials
        self.prefix = prefix
        self.made = {}
        self.images = {}

    def get(self, index):
        if index not in self.made:
            self.made[index] = self._make(self.session_materials[index])
        return self.made[index]

    def _image(self, image):
        if image.name not in self.images:
            data = bytes(image.data)
            made = bpy.data.images.new(image.name + image.extension, 8, 8)
            made.pack(data=data, data_len=len(data))
            made.source = "FILE"
            made.filepath_raw = "//" + image.name + image.extension
            self.images[image.name] = made
        return self.images[image.name]

    def _make(self, material):
        made = bpy.data.materials.new(self.prefix + material.name)
        made.use_nodes = True
        nodes = made.node_tree.nodes
        shader = nodes.get("Principled BSDF")
        shader.inputs["Roughness"].default_value = ROUGHNESS
        colour = tuple(material.colour) + (1.0,)
        shader.inputs["Base Color"].default_value = colour
        made.diffuse_color = colour
        if material.image is not None:
            texture = nodes.new("ShaderNodeTexImage")
            texture.image = self._image(material.image)
            texture.location = (-400, 300)
            uv = nodes.new("ShaderNodeUVMap")
            uv.uv_map = "bookcover"
            uv.location = (-650, 300)
            links = made.node_tree.links
            links.new(uv.outputs["UV"], texture.inputs["Vector"])
            links.new(texture.outputs["Color"], shader.inputs["Base Color"])
        return made


def build(session, collection, merge=False, material_prefix=""):
    """Makes the session's shelf in collection; returns its objects."""
    points = to_blender(session.points)
    polygons = np.asarray(session.polygons, dtype=np.int64)
    corners = np.asarray(session.corners, dtype=np.int64)
    if len(polygons) == 0:
        return []
    surfaces = session.surfaces
    maps = {m.name: m for m in session.vertex_maps if m.type == "TXUV" and m.dimension == 2}
    uvs = {name: _corner_uvs(maps.get(name), corners) for name in UV_MAPS}
    surface_material = session.surface_materials
    materials = Materials(session, material_prefix)
    pages = [i for i, name in enumerate(surfaces) if name == "bookpages"]

    shell_of, shell_count = session.shells
    shell_of = np.zeros(len(polygons), dtype=np.int64) if merge else np.asarray(shell_of, np.int64)
    shell_count = 1 if merge else shell_count
    order = np.argsort(shell_of, kind="stable")
    bounds = np.searchsorted(shell_of[order], np.arange(shell_count + 1))

    # Every polygon's loops in shell order, its corners reversed.
    counts = polygons[order, 2]
    firsts = polygons[order, 1]
    loop_starts = np.concatenate(([0], np.cumsum(counts)))
    within = np.arange(loop_starts[-1]) - np.repeat(loop_starts[:-1], counts)
    loop_corner = np.repeat(firsts + counts - 1, counts) - within
    loop_point = corners[loop_corner]
    loop_uvs = {name: uvs[name][loop_corner] for name in UV_MAPS}
    # Each polygon's material in the model, -1 for none (no area).
    material_of = np.array([-1 if m is None else m for m in surface_material] or [-1])
    polygon_material = material_of[polygons[order, 0]]

    made = []
    for shell in range(shell_count):
        a, b = bounds[shell], bounds[shell + 1]
        if a == b:
            continue
        la, lb = loop_starts[a], loop_starts[b]
        used, vertex_of_loop = np.unique(loop_point[la:lb], return_inverse=True)
        vertices = points[used]
        low, high = vertices.min(axis=0), vertices.max(axis=0)
        origin = np.array([(low[0] + high[0]) / 2, (low[1] + high[1]) / 2, low[2]])
        book_surfaces = polygons[order[a:b], 0]
        cover = next((surfaces[s] for s in book_surfaces if s not in pages), None)
        name = "bookshelf" if merge else (cover or "book_%d" % shell)

        mesh = bpy.data.meshes.new(name)
        mesh.vertices.add(len(vertices))
        mesh.vertices.foreach_set("co", (vertices - origin).astype(np.float32).ravel())
        mesh.loops.add(lb - la)
        mesh.loops.foreach_set("vertex_index", vertex_of_loop.astype(np.int32))
        mesh.polygons.add(b - a)
        mesh.polygons.foreach_set("loop_start", (loop_starts[a:b] - la).astype(np.int32))
        mesh.polygons.foreach_set("loop_total", counts[a:b].astype(np.int32))
        slots, slot_of = np.unique(polygon_material[a:b], return_inverse=True)
        for slot in slots:
            mesh.materials.append(materials.get(int(slot)) if slot >= 0 else None)
        mesh.polygons.foreach_set("material_index", slot_of.astype(np.int32))
        mesh.polygons.foreach_set("use_smooth", np.ones(b - a, dtype=bool))
        for map_name in UV_MAPS:
            layer = mesh.uv_layers.new(name=map_name)
            layer.data.foreach_set("uv", loop_uvs[map_name][la:lb].ravel())
        mesh.use_auto_smooth = True
        mesh.auto_smooth_angle = SMOOTH_ANGLE
        mesh.update(calc_edges=True)

        obj = bpy.data.objects.new(name, mesh)
        obj.location = origin
        collection.objects.link(obj)
        made.append(obj)
    return made
