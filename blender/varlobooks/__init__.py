"""varlobooks for Blender: Add > Mesh > Shelf of Books.

The real varlobooks tool, run by its host library inside Blender: a row of
random, UV-mapped books fills a box, one object per book, with cover
images from a folder. The operator's redo panel rebuilds the shelf on every
change, as the tool rebuilds on every panel edit in the modeller.
"""

bl_info = {
    "name": "varlobooks: Shelf of Books",
    "author": "varlobooks developers",
    "version": (1, 1, 0),
    "blender": (3, 4, 0),
    "location": "View3D > Add > Mesh > Shelf of Books",
    "description": "Fills a box with a row of random, UV-mapped books with cover images",
    "doc_url": "https://github.com/varlobooks/varlobooks#the-tool-inside-blender",
    "category": "Add Mesh",
}

import bpy

from . import shelf_operator


def menu_entry(self, context):
    self.layout.operator(shelf_operator.MESH_OT_varlobooks_shelf.bl_idname, icon="MESH_CUBE")


def register():
    bpy.utils.register_class(shelf_operator.make_operator())
    bpy.types.VIEW3D_MT_mesh_add.append(menu_entry)


def unregister():
    bpy.types.VIEW3D_MT_mesh_add.remove(menu_entry)
    bpy.utils.unregister_class(shelf_operator.MESH_OT_varlobooks_shelf)
