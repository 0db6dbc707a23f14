"""varlobooks: random, UV-mapped shelves of books from Python.

The real varlobooks tool, loaded by its host library as the modeller loads
it, driven with the session language of ``modeler run``::

    import varlobooks
    shelf = varlobooks.fill(box=((0, 0, 0), (1, 0.5, 0.3)), seed=0,
                            Type="Both", Rotation=8, images="examples/covers")
    shelf.points        # the layer's points, as the JSON's "points"
    shelf.books         # per book: positions, normals, uvs, primitives
    shelf.save("shelf.glb")

    with varlobooks.Session() as s:
        s.play("activate\\npress 0 0 0\\nmove 1 0.5 0.3\\nset MaxSize 0.05\\nend keep")
        shelf = s.finish()

Arrays are NumPy arrays when NumPy is installed, else ``memoryview`` objects
of the same shape. Those of a finished session (what ``fill`` and
``Session.finish`` return) are views of the library's memory, kept alive by
the session; those of a session still in use are copies, as its next action
changes the scene under them.

Every error raises ``VarlobooksError`` with the library's message.
Sessions may run on several threads at once, one thread per session.
"""

import ctypes
import os
import threading
from collections import namedtuple

from . import _native

try:  # NumPy, when present, gets the arrays as its own
    import numpy as _numpy
except ImportError:  # pragma: no cover - depends on the environment
    _numpy = None

__all__ = [
    "VarlobooksError",
    "Module",
    "Session",
    "fill",
    "export_formats",
    "host_version",
    "Summary",
    "Book",
    "Primitive",
    "Material",
    "Image",
    "VertexMap",
    "Control",
]


class VarlobooksError(Exception):
    """A failure of the host library: ``status`` names its kind ("session
    invalid", "action failed", "tool fault", ...), the text is the
    library's message ("FILE:LINE: ..." for a session's line)."""

    def __init__(self, message, status=None):
        super().__init__(message)
        self.status = _native.STATUS_NAMES.get(status, status)


def _text(value):
    return value.decode("utf-8", "replace") if value is not None else None


def _bytes(value, what):
    if value is None:
        return None
    if isinstance(value, bytes):
        text = value
    else:
        text = os.fspath(value) if isinstance(value, os.PathLike) else str(value)
        text = text.encode("utf-8")
    if b"\0" in text:
        raise VarlobooksError("%s holds a NUL character" % what, _native.INVALID_ARGUMENT)
    return text


def host_version():
    """The host library's version ("1.1.0")."""
    return _text(_native.lib().varlobooks_host_version())


def export_formats():
    """The export formats' names: json, obj, gltf, glb."""
    lib = _native.lib()
    names = []
    while True:
        name = lib.varlobooks_export_format(len(names))
        if name is None:
            return names
        names.append(_text(name))


class Module:
    """A loaded plug-in module. ``path``: the module's file; None for the
    one installed beside the host library. Sessions of it may run on any
    threads; they keep it loaded after it is closed."""

    def __init__(self, path=None):
        lib = _native.lib()
        handle = ctypes.c_void_p()
        status = lib.varlobooks_module_open(_bytes(path, "path"), ctypes.byref(handle))
        self._handle = handle
        if status != _native.OK:
            message = _text(lib.varlobooks_module_error(handle))
            self.close()
            raise VarlobooksError(message, status)
        if lib.varlobooks_module_check_tool(handle) != _native.OK:
            message = _text(lib.varlobooks_module_error(handle))
            self.close()
            raise VarlobooksError(message, _native.LOAD_FAILED)

    @property
    def path(self):
        """The module's file as opened."""
        return _text(_native.lib().varlobooks_module_path(self._live()))

    @property
    def version(self):
        """The module's own version text ("varlobooks 1.1.0"), or ""."""
        return _text(_native.lib().varlobooks_module_version(self._live()))

    @property
    def servers(self):
        """The module's servers as (class, name) pairs."""
        lib = _native.lib()
        handle = self._live()
        found = []
        for index in range(lib.varlobooks_module_server_count(handle)):
            class_name, name = ctypes.c_char_p(), ctypes.c_char_p()
            lib.varlobooks_module_server(
                handle, index, ctypes.byref(class_name), ctypes.byref(name)
            )
            found.append((_text(class_name.value), _text(name.value)))
        return found

    def _live(self):
        if not self._handle:
            raise VarlobooksError("the module is closed", _native.INVALID_ARGUMENT)
        return self._handle

    def close(self):
        """Closes the module; it is unloaded once its sessions are gone too."""
        if getattr(self, "_handle", None):
            _native.lib().varlobooks_module_close(self._handle)
            self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:  # the interpreter is ending, or sessions remain
            pass


_default_module = None
_default_lock = threading.Lock()


def _installed_module():
    """The module beside the host library, loaded once and kept loaded."""
    global _default_module
    with _default_lock:
        if _default_module is None:
            _default_module = Module()
        return _default_module


Summary = namedtuple("Summary", "books points polygons textured_books unloaded_images line")
Summary.__doc__ = "What the scene holds, and the line modeler prints for it."
Primitive = namedtuple("Primitive", "material indices")
Primitive.__doc__ = "A book's triangles of one material: indices into its vertices."
Book = namedtuple("Book", "name positions normals uvs primitives")
Book.__doc__ = (
    "One mesh of the asset model (a book, or the whole shelf when merged): "
    "positions, normals (N x 3) and UVs (N x 2, v up) per vertex, right-handed "
    "as the exports write them, and its primitives."
)
Material = namedtuple("Material", "name colour image")
Material.__doc__ = "A surface's material: linear RGB colour, and its Image or None."
Image = namedtuple("Image", "name mime_type extension data")
Image.__doc__ = "A cover image as read: its file's stem, type, extension and bytes."
Control = namedtuple("Control", "label control_class kind value choices")
Control.__doc__ = (
    "A control of the tool's panel: its label (as set and fill take it), its "
    "class (float, distance, angle in degrees, integer, iChoice, axis, string), "
    "what its value must be in words, the tool's value now, and its choices."
)
VertexMap = namedtuple("VertexMap", "type name dimension corner_values corner_set point_values point_set")
VertexMap.__doc__ = (
    "A vertex map of the layer: values per layer corner and per point, with "
    "a 0/1 flag each for whether it is set."
)


class Session:
    """A use of the tool on a fresh host, with the tool activated.

    ``module``: a Module (default: the one installed beside the library);
    ``images``: a folder that answers every image folder request, as
    ``modeler run --images``; ``merge``: one mesh for the whole shelf in
    the model and the OBJ and glTF exports; ``on_warning`` and ``on_report``:
    called with each warning and with what each action did.
    """

    def __init__(self, module=None, images=None, merge=False, on_warning=None, on_report=None):
        self._handle = None
        self._module = module if module is not None else _installed_module()
        self._finished = False
        self._keep = []  # what the library may call or read while this lives
        lib = _native.lib()
        options = _native.SessionOptions()
        self._images = _bytes(images, "images")
        options.images = self._images
        options.merge = 1 if merge else 0
        if on_warning is not None:
            options.warning = _native.MessageFunc(lambda _, text: on_warning(_text(text)))
            self._keep.append(options.warning)
        if on_report is not None:
            options.report = _native.MessageFunc(lambda _, text: on_report(_text(text)))
            self._keep.append(options.report)
        handle = ctypes.c_void_p()
        status = lib.varlobooks_session_new(
            self._module._live(), ctypes.byref(options), ctypes.byref(handle)
        )
        self._handle = handle
        if status != _native.OK:
            message = _text(lib.varlobooks_session_error(handle))
            self._free()
            raise VarlobooksError(message, status)

    # -- doing ------------------------------------------------------------

    def _check(self, status):
        if status != _native.OK:
            raise VarlobooksError(
                _text(_native.lib().varlobooks_session_error(self._handle)), status
            )

    def _changing(self):
        if not self._handle:
            raise VarlobooksError("the session is closed", _native.INVALID_ARGUMENT)
        if self._finished:
            raise VarlobooksError(
                "the session is finished: its results are being read", _native.INVALID_ARGUMENT
            )
        return self._handle

    def play(self, text, file=None, base_folder=None):
        """Plays session text, one action a line (see ``modeler run --help``):
        checked whole, then played until an action fails. ``file`` names it
        in messages; a relative "done folder" is taken from ``base_folder``."""
        handle = self._changing()
        self._check(
            _native.lib().varlobooks_session_play(
                handle, _bytes(text, "text"), _bytes(file, "file"), _bytes(base_folder, "folder")
            )
        )
        return self

    def fill(self, box, seed=0, edits=None, **more):
        """What ``modeler fill`` does: the clock set to ``seed``, a press at
        the box's first corner, a move to the other, the panel edits, keep.
        Edits are labels and values (``{"Random Front": 0.3}``, or keywords,
        an underscore for a space: ``Random_Front=0.3``); numbers as the
        panel shows them (Rotation in degrees), choices by name."""
        handle = self._changing()
        corners = [float(v) for corner in box for v in corner]
        if len(corners) != 6:
            raise VarlobooksError(
                "box: expected two corners of three numbers", _native.INVALID_ARGUMENT
            )
        given = dict(edits or {})
        given.update({label.replace("_", " "): value for label, value in more.items()})
        texts = [_bytes("%s=%s" % (label, _value_text(value)), "edit") for label, value in given.items()]
        array = (ctypes.c_char_p * max(1, len(texts)))(*texts)
        self._check(
            _native.lib().varlobooks_session_fill(
                handle, (ctypes.c_double * 6)(*corners), int(seed), array, len(texts)
            )
        )
        return self

    def set_clock(self, seconds):
        """The seconds the tool's clock reads from now on: the next press's seed."""
        self._check(_native.lib().varlobooks_session_set_clock(self._changing(), int(seconds)))
        return self

    def leave(self, folder=None):
        """Leaves the tool; ``folder`` answers its image folder request, None cancels it."""
        self._check(_native.lib().varlobooks_session_leave(self._changing(), _bytes(folder, "folder")))
        return self

    def finish(self):
        """Leaves the tool if still in use (answering with ``images``), and
        ends the session's changes: its arrays are then views, not copies.
        Returns the session."""
        if not self._finished:
            self._check(_native.lib().varlobooks_session_finish(self._changing()))
            self._finished = True
        return self

    # -- reading ------------------------------------------------------------

    def _live(self):
        if not self._handle:
            raise VarlobooksError("the session is closed", _native.INVALID_ARGUMENT)
        return self._handle

    @property
    def in_use(self):
        """Whether the tool is still in use (not left)."""
        return bool(_native.lib().varlobooks_session_in_use(self._live()))

    @property
    def text(self):
        """Every action so far as session text that replays to the same scene."""
        return _text(_native.lib().varlobooks_session_text(self._live()))

    @property
    def warnings(self):
        """The warnings so far, in order."""
        lib = _native.lib()
        found = []
        while True:
            text = lib.varlobooks_session_warning(self._live(), len(found))
            if text is None:
                return found
            found.append(_text(text))

    @property
    def summary(self):
        """Books, points, polygons, textured books, unloaded images, and the line."""
        summary = _native.Summary()
        line = ctypes.c_char_p()
        self._check(
            _native.lib().varlobooks_session_summary(
                self._live(), ctypes.byref(summary), ctypes.byref(line)
            )
        )
        return Summary(
            summary.books,
            summary.points,
            summary.polygons,
            summary.textured_books,
            summary.unloaded_images,
            _text(line.value),
        )

    def _layer(self):
        layer = _native.Layer()
        self._check(_native.lib().varlobooks_session_layer(self._live(), ctypes.byref(layer)))
        return layer

    @property
    def points(self):
        """The layer's points (N x 3 doubles), in layer order, as the JSON's "points"."""
        layer = self._layer()
        return self._array(layer.points, ctypes.c_double, (layer.point_count, 3))

    @property
    def polygons(self):
        """Per polygon: (surface index, first corner, corner count)."""
        layer = self._layer()
        return self._array(layer.polygons, ctypes.c_uint32, (layer.polygon_count, 3))

    @property
    def corners(self):
        """The point index of every polygon corner, polygon after polygon."""
        layer = self._layer()
        return self._array(layer.corners, ctypes.c_uint32, (layer.corner_count,))

    @property
    def surfaces(self):
        """The surface names polygons index."""
        lib = _native.lib()
        layer = self._layer()
        return [_text(lib.varlobooks_session_surface(self._live(), i)) for i in range(layer.surface_count)]

    @property
    def shells(self):
        """The book of each polygon (N numbers from 0), and how many books."""
        numbers = ctypes.POINTER(ctypes.c_uint32)()
        count = ctypes.c_size_t()
        self._check(
            _native.lib().varlobooks_session_shells(
                self._live(), ctypes.byref(numbers), ctypes.byref(count)
            )
        )
        polygons = self._layer().polygon_count
        return self._array(numbers, ctypes.c_uint32, (polygons,)), count.value

    @property
    def surface_materials(self):
        """Per surface of the layer, the index in ``materials`` of the
        material it wears (None when no polygon with area wears it)."""
        lib = _native.lib()
        found = []
        for index in range(self._layer().surface_count):
            material = ctypes.c_size_t()
            status = lib.varlobooks_session_surface_material(
                self._live(), index, ctypes.byref(material)
            )
            found.append(material.value if status == _native.OK else None)
        return found

    @property
    def controls(self):
        """The tool's panel: its shown controls with the values it holds now."""
        lib = _native.lib()
        handle = self._live()
        found = []
        for index in range(lib.varlobooks_session_control_count(handle)):
            c = _native.Control()
            self._check(lib.varlobooks_session_control(handle, index, ctypes.byref(c)))
            choices = [_text(lib.varlobooks_session_choice(handle, index, j)) for j in range(c.choice_count)]
            found.append(
                Control(_text(c.label), _text(c.control_class), _text(c.kind), _text(c.value), choices)
            )
        return found

    @property
    def vertex_maps(self):
        """The layer's vertex maps (UV maps: type "TXUV", dimension 2)."""
        lib = _native.lib()
        found = []
        for index in range(self._layer().map_count):
            m = _native.VertexMap()
            self._check(lib.varlobooks_session_vertex_map(self._live(), index, ctypes.byref(m)))
            d = m.dimension
            found.append(
                VertexMap(
                    _text(m.type),
                    _text(m.name),
                    d,
                    self._array(m.corner_values, ctypes.c_float, (m.corner_count, d)),
                    self._array(m.corner_set, ctypes.c_uint8, (m.corner_count,)),
                    self._array(m.point_values, ctypes.c_float, (m.point_count, d)),
                    self._array(m.point_set, ctypes.c_uint8, (m.point_count,)),
                )
            )
        return found

    def _model(self):
        model = _native.Model()
        self._check(_native.lib().varlobooks_session_model(self._live(), ctypes.byref(model)))
        return model

    @property
    def images(self):
        """The cover images the materials use."""
        lib = _native.lib()
        found = []
        for index in range(self._model().image_count):
            image = _native.Image()
            self._check(lib.varlobooks_session_image(self._live(), index, ctypes.byref(image)))
            data = self._array(image.bytes, ctypes.c_ubyte, (image.size,), raw=True)
            found.append(
                Image(_text(image.name), _text(image.mime_type), _text(image.extension), data)
            )
        return found

    @property
    def materials(self):
        """The model's materials: pages, plain covers, one per cover image."""
        lib = _native.lib()
        images = self.images
        found = []
        for index in range(self._model().material_count):
            m = _native.Material()
            self._check(lib.varlobooks_session_material(self._live(), index, ctypes.byref(m)))
            found.append(
                Material(_text(m.name), tuple(m.colour), images[m.image] if m.has_image else None)
            )
        return found

    @property
    def books(self):
        """The asset model's meshes as the exports write them: one a book
        (or one in all when merged), each with its primitives."""
        lib = _native.lib()
        materials = self.materials
        found = []
        for index in range(self._model().mesh_count):
            mesh = _native.Mesh()
            self._check(lib.varlobooks_session_mesh(self._live(), index, ctypes.byref(mesh)))
            n = mesh.vertex_count
            primitives = []
            for p in range(mesh.primitive_count):
                prim = _native.Primitive()
                self._check(
                    lib.varlobooks_session_primitive(self._live(), index, p, ctypes.byref(prim))
                )
                indices = self._array(prim.indices, ctypes.c_uint32, (prim.index_count,))
                primitives.append(Primitive(materials[prim.material], indices))
            found.append(
                Book(
                    _text(mesh.name),
                    self._array(mesh.positions, ctypes.c_float, (n, 3)),
                    self._array(mesh.normals, ctypes.c_float, (n, 3)),
                    self._array(mesh.uvs, ctypes.c_float, (n, 2)),
                    primitives,
                )
            )
        return found

    def _array(self, pointer, ctype, shape, raw=False):
        """A view of count values at pointer (a copy while the session may
        change), shaped; NumPy's when present, else a memoryview. raw: bytes
        as a memoryview whatever is installed."""
        count = 1
        for size in shape:
            count *= size
        if count == 0 or not pointer:
            block = (ctype * 0)()
        else:
            block = (ctype * count).from_address(ctypes.addressof(pointer.contents))
            if self._finished:
                block._session = self  # the memory lives as long as the session
            else:
                block = (ctype * count).from_buffer_copy(block)
        if raw:
            return memoryview(block).cast("B")
        if _numpy is not None:
            return _numpy.ctypeslib.as_array(block).reshape(shape)
        return memoryview(block).cast("B").cast(_FORMATS[ctype], shape)

    # -- writing ------------------------------------------------------------

    def save(self, *paths, format=None):
        """Writes the scene to each path (.json, .obj, .gltf, .glb, or as
        ``format`` says), all or none: when one fails, no file changes."""
        if not paths:
            raise VarlobooksError("save: give at least one path", _native.INVALID_ARGUMENT)
        texts = [_bytes(path, "path") for path in paths]
        path_array = (ctypes.c_char_p * len(texts))(*texts)
        format_array = (ctypes.c_char_p * len(texts))(*([_bytes(format, "format")] * len(texts)))
        self._check(
            _native.lib().varlobooks_session_export(
                self._live(), path_array, format_array, len(texts)
            )
        )

    def export(self, name, format=None):
        """The files ``save(name)`` would write, in memory: a dict from each
        file's name (``name`` first, then its companions) to its bytes."""
        lib = _native.lib()
        files = ctypes.c_void_p()
        self._check(
            lib.varlobooks_session_export_files(
                self._live(), _bytes(name, "name"), _bytes(format, "format"), ctypes.byref(files)
            )
        )
        try:
            out = {}
            for index in range(lib.varlobooks_files_count(files)):
                file_name = ctypes.c_char_p()
                data = ctypes.POINTER(ctypes.c_ubyte)()
                size = ctypes.c_size_t()
                lib.varlobooks_files_get(
                    files, index, ctypes.byref(file_name), ctypes.byref(data), ctypes.byref(size)
                )
                out[_text(file_name.value)] = ctypes.string_at(data, size.value)
            return out
        finally:
            lib.varlobooks_files_free(files)

    # -- lifetime -------------------------------------------------------------

    def close(self):
        """Ends a session still in use. A finished session ends when neither
        it nor any view of its arrays is referenced any more."""
        if not self._finished:
            self._free()

    def _free(self):
        if getattr(self, "_handle", None):
            _native.lib().varlobooks_session_free(self._handle)
            self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        try:
            self._free()
        except Exception:  # the interpreter is ending: its modules are gone
            pass


def _value_text(value):
    return value if isinstance(value, str) else repr(value)


_FORMATS = {
    ctypes.c_double: "d",
    ctypes.c_float: "f",
    ctypes.c_uint32: "I",
    ctypes.c_uint8: "B",
}


def fill(box, seed=0, images=None, merge=False, module=None, edits=None, **more):
    """One box filled with books, as ``modeler fill``: returns the finished
    Session, whose points, books, summary and save() give the result.

    ``box``: two corners ((x0, y0, z0), (x1, y1, z1)); ``seed``: the seconds
    the press reads; ``images``: a folder of cover images; panel edits as
    keywords (``Type="Both", Rotation=8``) or ``edits={"Random Front": 0.3}``.
    """
    session = Session(module=module, images=images, merge=merge)
    try:
        session.fill(box, seed, edits, **more)
        return session.finish()
    except BaseException:
        session._free()
        raise
