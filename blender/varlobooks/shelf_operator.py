"""The operator bpy.ops.mesh.varlobooks_shelf: the tool's eleven parameters
as properties (named after the panel's labels in snake case, with the
choices and defaults the tool's own panel gives), the box, the seed, the
image folder; each run fills the box through the host library and builds
the shelf (build_shelf)."""

import os
import re

import bpy
from bpy.props import BoolProperty, EnumProperty, FloatProperty, FloatVectorProperty
from bpy.props import IntProperty, StringProperty
from mathutils import Vector

import numpy as np

from . import build_shelf, host

# The tool's axes are the modeller's, y up; a Blender user names Blender's
# axes, z up. Each Blender axis and the tool's name for it.
BLENDER_AXIS_TO_TOOL = {"X": "X", "Y": "Z", "Z": "Y"}
# A shelf at the 3D cursor when no box is given: 1 long, 0.3 deep, 0.5 high.
DEFAULT_BOX_SIZE = Vector((1.0, 0.3, 0.5))


def property_name(label):
    """A panel label in snake case: "Random Front" -> random_front,
    "MaxSize" -> max_size."""
    words = re.sub(r"(?<=[a-z0-9])(?=[A-Z])", " ", label.strip()).split()
    return "_".join(word.lower() for word in words)


def _number(text, kind):
    try:
        return kind(text)
    except ValueError:
        return kind()


def tool_properties():
    """One property per control of the tool's panel, its default the value
    the tool holds when activated; and each property's label."""
    controls = host.Session().controls
    made, labels = {}, {}
    for c in controls:
        name = property_name(c.label)
        labels[name] = c.label
        description = "The tool's %s: %s" % (c.label, c.kind)
        if c.control_class == "axis":
            items = [(a, a, "Blender's %s axis (the tool's %s)" % (a, BLENDER_AXIS_TO_TOOL[a]))
                     for a in ("X", "Y", "Z")]
            tool_to_blender = {v: k for k, v in BLENDER_AXIS_TO_TOOL.items()}
            made[name] = EnumProperty(name=c.label, items=items, description="The axis the books stand along",
                                      default=tool_to_blender.get(c.value, "X"))
        elif c.choices:
            items = [(choice, choice, "") for choice in c.choices]
            default = c.value if c.value in c.choices else c.choices[0]
            made[name] = EnumProperty(name=c.label, items=items, description=description, default=default)
        elif c.control_class == "integer":
            made[name] = IntProperty(name=c.label, description=description,
                                     default=_number(c.value, int), min=1, soft_max=32)
        elif c.control_class == "string":
            made[name] = StringProperty(name=c.label, description=description, default=c.value)
        elif c.control_class == "angle":
            made[name] = FloatProperty(name=c.label + " (degrees)", description=description,
                                       default=_number(c.value, float), soft_min=-90, soft_max=90)
        else:
            made[name] = FloatProperty(name=c.label, description=description,
                                       default=_number(c.value, float), min=0.0, soft_max=1.0,
                                       precision=3, step=1)
    return made, labels


class MESH_OT_varlobooks_shelf(bpy.types.Operator):
    """Fill a box with a row of random, UV-mapped books"""

    bl_idname = "mesh.varlobooks_shelf"
    bl_label = "Shelf of Books"
    bl_options = {"REGISTER", "UNDO"}

    box_min: FloatVectorProperty(name="Box Min", subtype="XYZ", unit="LENGTH",
                                 description="The box's first corner")
    box_max: FloatVectorProperty(name="Box Max", subtype="XYZ", unit="LENGTH",
                                 default=tuple(DEFAULT_BOX_SIZE), description="The box's far corner")
    fit_to_active: BoolProperty(name="Fit to Active Object", default=False,
                                description="Take the box from the active object's bounds in the world")
    seed: IntProperty(name="Seed", default=0, min=0,
                      description="The seconds the tool's clock reads: the same seed, the same shelf")
    image_folder: StringProperty(name="Image Folder", subtype="DIR_PATH", default="",
                                 description="A folder of cover images (empty: plain covers)")
    merge: BoolProperty(name="One Object", default=False,
                        description="One object for the whole shelf instead of one per book")

    labels = {}

    def invoke(self, context, event):
        if not self.fit_to_active:
            cursor = context.scene.cursor.location
            self.box_min = cursor
            self.box_max = cursor + DEFAULT_BOX_SIZE
        return self.execute(context)

    def box(self, context):
        if self.fit_to_active and context.active_object is not None:
            obj = context.active_object
            corners = [obj.matrix_world @ Vector(c) for c in obj.bound_box]
            return (tuple(min(c[i] for c in corners) for i in range(3)),
                    tuple(max(c[i] for c in corners) for i in range(3)))
        return tuple(self.box_min), tuple(self.box_max)

    def edits(self):
        edits = {}
        for name, label in self.labels.items():
            value = getattr(self, name)
            if name == "axis":
                value = BLENDER_AXIS_TO_TOOL[value]
            if isinstance(value, float):
                # Blender keeps single precision: 0.08 comes back as
                # 0.0799999982. Its shortest text is what the user typed.
                value = str(np.float32(value))
            edits[label] = str(value)
        return edits

    def execute(self, context):
        folder = bpy.path.abspath(self.image_folder) if self.image_folder else None
        if folder and not os.path.isdir(folder):
            self.report({"ERROR"}, "Image Folder: %s is not a folder" % folder)
            return {"CANCELLED"}
        low, high = self.box(context)
        try:
            shelf = host.fill(box=build_shelf.box_to_modeller(low, high), seed=self.seed,
                              images=folder, edits=self.edits())
        except host.VarlobooksError as error:
            self.report({"ERROR"}, str(error))
            return {"CANCELLED"}
        collection = bpy.data.collections.new("bookshelf")
        context.scene.collection.children.link(collection)
        objects = build_shelf.build(shelf, collection, merge=self.merge)
        for warning in shelf.warnings:
            self.report({"WARNING"}, warning)
        if not objects:
            self.report({"WARNING"}, "The tool made no books: is the box longer than MinSize "
                                     "along the axis, and MaxSize above 0?")
        for obj in context.view_layer.objects.selected:
            obj.select_set(False)
        for obj in objects:
            obj.select_set(True)
        if objects:
            context.view_layer.objects.active = objects[0]
        return {"FINISHED"}


def make_operator():
    """The operator class with the tool's parameters added, read from the
    tool's own panel description."""
    properties, labels = tool_properties()
    annotations = MESH_OT_varlobooks_shelf.__annotations__
    for name, prop in properties.items():
        annotations[name] = prop
    MESH_OT_varlobooks_shelf.labels = labels
    return MESH_OT_varlobooks_shelf
