"""The host library's C API (varlobooks/host_api.h) as ctypes declarations.

Nothing here is for callers: the package's classes wrap it.
"""

import ctypes
import os
import sys

from . import _where

c_char_p = ctypes.c_char_p
c_size_t = ctypes.c_size_t
c_int = ctypes.c_int
c_int64 = ctypes.c_int64
c_void_p = ctypes.c_void_p
POINTER = ctypes.POINTER

OK = 0
INVALID_ARGUMENT = 1
LOAD_FAILED = 2
SESSION_INVALID = 3
ACTION_FAILED = 4
TOOL_FAULT = 5
WRITE_FAILED = 6
INTERNAL_ERROR = 7

STATUS_NAMES = {
    INVALID_ARGUMENT: "invalid argument",
    LOAD_FAILED: "load failed",
    SESSION_INVALID: "session invalid",
    ACTION_FAILED: "action failed",
    TOOL_FAULT: "tool fault",
    WRITE_FAILED: "write failed",
    INTERNAL_ERROR: "internal error",
}

MessageFunc = ctypes.CFUNCTYPE(None, c_void_p, c_char_p)


class SessionOptions(ctypes.Structure):
    _fields_ = [
        ("images", c_char_p),
        ("merge", c_int),
        ("warning", MessageFunc),
        ("report", MessageFunc),
        ("data", c_void_p),
    ]


class Summary(ctypes.Structure):
    _fields_ = [
        ("books", c_size_t),
        ("points", c_size_t),
        ("polygons", c_size_t),
        ("textured_books", c_size_t),
        ("unloaded_images", c_size_t),
    ]


class Layer(ctypes.Structure):
    _fields_ = [
        ("points", POINTER(ctypes.c_double)),
        ("point_count", c_size_t),
        ("polygons", POINTER(ctypes.c_uint32)),
        ("polygon_count", c_size_t),
        ("corners", POINTER(ctypes.c_uint32)),
        ("corner_count", c_size_t),
        ("surface_count", c_size_t),
        ("map_count", c_size_t),
    ]


class VertexMap(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_char * 5),
        ("name", c_char_p),
        ("dimension", c_int),
        ("corner_values", POINTER(ctypes.c_float)),
        ("corner_set", POINTER(ctypes.c_uint8)),
        ("corner_count", c_size_t),
        ("point_values", POINTER(ctypes.c_float)),
        ("point_set", POINTER(ctypes.c_uint8)),
        ("point_count", c_size_t),
    ]


class Model(ctypes.Structure):
    _fields_ = [
        ("name", c_char_p),
        ("mesh_count", c_size_t),
        ("material_count", c_size_t),
        ("image_count", c_size_t),
    ]


class Mesh(ctypes.Structure):
    _fields_ = [
        ("name", c_char_p),
        ("positions", POINTER(ctypes.c_float)),
        ("normals", POINTER(ctypes.c_float)),
        ("uvs", POINTER(ctypes.c_float)),
        ("vertex_count", c_size_t),
        ("primitive_count", c_size_t),
    ]


class Primitive(ctypes.Structure):
    _fields_ = [
        ("material", c_size_t),
        ("indices", POINTER(ctypes.c_uint32)),
        ("index_count", c_size_t),
    ]


class Material(ctypes.Structure):
    _fields_ = [
        ("name", c_char_p),
        ("colour", ctypes.c_double * 3),
        ("has_image", c_int),
        ("image", c_size_t),
    ]


class Image(ctypes.Structure):
    _fields_ = [
        ("name", c_char_p),
        ("mime_type", c_char_p),
        ("extension", c_char_p),
        ("bytes", POINTER(ctypes.c_ubyte)),
        ("size", c_size_t),
    ]


class Control(ctypes.Structure):
    _fields_ = [
        ("label", c_char_p),
        ("control_class", c_char_p),
        ("kind", c_char_p),
        ("value", c_char_p),
        ("choice_count", c_size_t),
    ]


def _library_path():
    """Where the host library is: $VARLOBOOKS_HOST_LIBRARY, else where the
    build or the package that installed this put it."""
    given = os.environ.get("VARLOBOOKS_HOST_LIBRARY")
    if given:
        return given
    name = "libvarlobooks_host.dll" if sys.platform == "win32" else "libvarlobooks_host.so"
    here = os.path.dirname(os.path.abspath(__file__))
    tried = []
    for folder in _where.LIBRARY_FOLDERS:
        candidate = os.path.normpath(os.path.join(here, folder, name))
        if os.path.isfile(candidate):
            return candidate
        tried.append(candidate)
    raise OSError(
        "varlobooks: the host library %s is not where this package expects it (%s); "
        "set VARLOBOOKS_HOST_LIBRARY to its path" % (name, ", ".join(tried))
    )


def _declare(lib):
    def fn(name, restype, *argtypes):
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = list(argtypes)

    Status = c_int
    ModuleP = c_void_p
    SessionP = c_void_p
    FilesP = c_void_p
    fn("varlobooks_host_version", c_char_p)
    fn("varlobooks_host_api_version", c_int)
    fn("varlobooks_module_open", Status, c_char_p, POINTER(ModuleP))
    fn("varlobooks_module_check_tool", Status, ModuleP)
    fn("varlobooks_module_close", None, ModuleP)
    fn("varlobooks_module_error", c_char_p, ModuleP)
    fn("varlobooks_module_path", c_char_p, ModuleP)
    fn("varlobooks_module_version", c_char_p, ModuleP)
    fn("varlobooks_module_server_count", c_size_t, ModuleP)
    fn("varlobooks_module_server", Status, ModuleP, c_size_t, POINTER(c_char_p), POINTER(c_char_p))
    fn("varlobooks_session_new", Status, ModuleP, POINTER(SessionOptions), POINTER(SessionP))
    fn("varlobooks_session_free", None, SessionP)
    fn("varlobooks_session_error", c_char_p, SessionP)
    fn("varlobooks_session_play", Status, SessionP, c_char_p, c_char_p, c_char_p)
    fn(
        "varlobooks_session_fill",
        Status,
        SessionP,
        POINTER(ctypes.c_double),
        c_int64,
        POINTER(c_char_p),
        c_size_t,
    )
    fn("varlobooks_session_set_clock", Status, SessionP, c_int64)
    fn("varlobooks_session_leave", Status, SessionP, c_char_p)
    fn("varlobooks_session_finish", Status, SessionP)
    fn("varlobooks_session_in_use", c_int, SessionP)
    fn("varlobooks_session_text", c_char_p, SessionP)
    fn("varlobooks_session_warning", c_char_p, SessionP, c_size_t)
    fn("varlobooks_session_summary", Status, SessionP, POINTER(Summary), POINTER(c_char_p))
    fn("varlobooks_session_layer", Status, SessionP, POINTER(Layer))
    fn("varlobooks_session_surface", c_char_p, SessionP, c_size_t)
    fn("varlobooks_session_shells", Status, SessionP, POINTER(POINTER(ctypes.c_uint32)), POINTER(c_size_t))
    fn("varlobooks_session_surface_material", Status, SessionP, c_size_t, POINTER(c_size_t))
    fn("varlobooks_session_control_count", c_size_t, SessionP)
    fn("varlobooks_session_control", Status, SessionP, c_size_t, POINTER(Control))
    fn("varlobooks_session_choice", c_char_p, SessionP, c_size_t, c_size_t)
    fn("varlobooks_session_vertex_map", Status, SessionP, c_size_t, POINTER(VertexMap))
    fn("varlobooks_session_model", Status, SessionP, POINTER(Model))
    fn("varlobooks_session_mesh", Status, SessionP, c_size_t, POINTER(Mesh))
    fn("varlobooks_session_primitive", Status, SessionP, c_size_t, c_size_t, POINTER(Primitive))
    fn("varlobooks_session_material", Status, SessionP, c_size_t, POINTER(Material))
    fn("varlobooks_session_image", Status, SessionP, c_size_t, POINTER(Image))
    fn("varlobooks_export_format", c_char_p, c_size_t)
    fn("varlobooks_export_format_for", c_char_p, c_char_p, c_char_p)
    fn("varlobooks_session_export", Status, SessionP, POINTER(c_char_p), POINTER(c_char_p), c_size_t)
    fn("varlobooks_session_export_files", Status, SessionP, c_char_p, c_char_p, POINTER(FilesP))
    fn("varlobooks_files_count", c_size_t, FilesP)
    fn(
        "varlobooks_files_get",
        Status,
        FilesP,
        c_size_t,
        POINTER(c_char_p),
        POINTER(POINTER(ctypes.c_ubyte)),
        POINTER(c_size_t),
    )
    fn("varlobooks_files_free", None, FilesP)
    return lib


_lib = None


def lib():
    """The loaded host library, declared; loaded on first use."""
    global _lib
    if _lib is None:
        _lib = _declare(ctypes.CDLL(_library_path()))
    return _lib
