/*
 * libvarlobooks_host: the varlobooks host as a library. It loads the tool's
 * module as the modeller does, drives the tool with sessions (the language
 * of `modeler run`), and hands out what the tool made: the layer, the
 * asset model the exports write, and the exports themselves, as files or
 * bytes. `modeler`, its served page and the Python package all use it.
 *
 * Errors: every function that can fail returns a VarlobooksStatus; the
 * message of a handle's last failure is read with varlobooks_*_error. No
 * C++ exception ever leaves a function of this library.
 *
 * Threads: a module may be shared by sessions on any threads; a session,
 * and everything read from it, belongs to one thread at a time (calls on
 * one session must not overlap). Sessions share nothing but their module:
 * sessions on two threads give the same bytes as one after the other.
 *
 * Pointers: text given to a function is read during the call only, as
 * UTF-8 with a terminating NUL. Text and arrays handed out are owned by the
 * library; how long each lives is said where it is handed out.
 */
#ifndef VARLOBOOKS_HOST_API_H
#define VARLOBOOKS_HOST_API_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#if defined(VARLOBOOKS_HOST_BUILDING)
#define VARLOBOOKS_HOST_API __declspec(dllexport)
#else
#define VARLOBOOKS_HOST_API __declspec(dllimport)
#endif
#else
#define VARLOBOOKS_HOST_API __attribute__((visibility("default")))
#endif

/* Raised when a record or a function changes its meaning. */
#define VARLOBOOKS_HOST_API_VERSION 1

typedef enum VarlobooksStatus {
    VARLOBOOKS_OK = 0,
    /* A null pointer where one is needed, an unknown format or a number
     * out of range: nothing was done. */
    VARLOBOOKS_INVALID_ARGUMENT = 1,
    /* The module did not load, or holds no varlobooks tool. */
    VARLOBOOKS_LOAD_FAILED = 2,
    /* Session text that is not well formed, or a panel edit that does not
     * fit the tool's panel: checked whole before any action, so nothing
     * was done. The message is "FILE:LINE: ..." as `modeler run` says it. */
    VARLOBOOKS_SESSION_INVALID = 3,
    /* An action could not be done now (the message names its line); the
     * actions before it stay done. */
    VARLOBOOKS_ACTION_FAILED = 4,
    /* The plug-in broke the host contract. The session refuses every
     * further action: what follows could not be replayed. */
    VARLOBOOKS_TOOL_FAULT = 5,
    /* An export could not be written; no file it names was changed. */
    VARLOBOOKS_WRITE_FAILED = 6,
    /* Out of memory, or a fault of this library; the handle stays usable. */
    VARLOBOOKS_INTERNAL_ERROR = 7
} VarlobooksStatus;

/* The library's version ("1.1.0"); static text. */
VARLOBOOKS_HOST_API const char *varlobooks_host_version(void);
/* VARLOBOOKS_HOST_API_VERSION as this library was built with it. */
VARLOBOOKS_HOST_API int varlobooks_host_api_version(void);

/* --- Modules ------------------------------------------------------------ */

typedef struct VarlobooksModule VarlobooksModule;

/*
 * Loads and starts a module. path: the module's file, or null for the one
 * installed beside this library. A module that loads but holds no
 * varlobooks tool opens (its servers can be listed); a session of it fails
 * with VARLOBOOKS_LOAD_FAILED. *module is set whenever memory allows,
 * also on failure, when varlobooks_module_error says why; close it either
 * way. A module may be opened more than once; the system loads it once.
 */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_module_open(const char *path,
                                                            VarlobooksModule **module);
/* VARLOBOOKS_OK when the module holds the varlobooks tool; else
 * VARLOBOOKS_LOAD_FAILED, and varlobooks_module_error says what is missing. */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_module_check_tool(VarlobooksModule *module);
/* Closes the handle. Sessions and pages keep their module loaded: it is shut
 * down and unloaded when the handle is closed and the last of them freed,
 * in any order. Null is ignored. */
VARLOBOOKS_HOST_API void varlobooks_module_close(VarlobooksModule *module);
/* Why the last call on module failed, or "" when it did not. Valid until
 * the next call on module. */
VARLOBOOKS_HOST_API const char *varlobooks_module_error(const VarlobooksModule *module);
/* The module's file as opened, and its own version text ("varlobooks
 * 1.1.0"; "" when it exports none). Valid while the module is open. */
VARLOBOOKS_HOST_API const char *varlobooks_module_path(const VarlobooksModule *module);
VARLOBOOKS_HOST_API const char *varlobooks_module_version(const VarlobooksModule *module);
/* The module's servers: class and name of server index (0 to count - 1),
 * valid while the module is open. */
VARLOBOOKS_HOST_API size_t varlobooks_module_server_count(const VarlobooksModule *module);
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_module_server(const VarlobooksModule *module,
                                                              size_t index, const char **class_name,
                                                              const char **name);

/* --- Sessions ------------------------------------------------------------ */

typedef struct VarlobooksSession VarlobooksSession;

/* Told a message: data is the pointer given with the function; message is
 * valid during the call only. Called on the thread that called into the
 * session. */
typedef void VarlobooksMessageFunc(void *data, const char *message);

typedef struct VarlobooksSessionOptions {
    /* A folder that answers every image folder request of the tool, as
     * `modeler run --images`; null: requests are cancelled unless a
     * session's done line answers them. Copied. */
    const char *images;
    /* Nonzero: the asset model and the OBJ and glTF exports make one mesh
     * of the whole object instead of one per book. */
    int merge;
    /* Told each warning (a refused image, a value beyond single
     * precision), each once; null: the warnings are only kept
     * (varlobooks_session_warning). */
    VarlobooksMessageFunc *warning;
    /* Told what each action did ("FILE:LINE: ..." lines, as `modeler run
     * --verbose`); null: nothing is told. */
    VarlobooksMessageFunc *report;
    void *data; /* handed to warning and report */
} VarlobooksSessionOptions;

/*
 * A fresh host with the module's tool activated on it, as the modeller
 * activates it. options: null for the defaults (all zero). *session is set
 * whenever memory allows, also on failure (varlobooks_session_error says
 * why); free it either way.
 */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_new(VarlobooksModule *module,
                                                            const VarlobooksSessionOptions *options,
                                                            VarlobooksSession **session);
/* Ends the session, answering a request still open with a cancel. Null is
 * ignored. */
VARLOBOOKS_HOST_API void varlobooks_session_free(VarlobooksSession *session);
/* Why the last call on session failed, or "". Valid until the next call. */
VARLOBOOKS_HOST_API const char *varlobooks_session_error(const VarlobooksSession *session);

/*
 * Plays session text: one action a line, as `modeler run` reads a file
 * (see `modeler run --help`). The whole text is checked first (its words,
 * and its panel edits against the tool's panel); then its actions run in
 * order, each followed by the tool's update cycle, until one fails.
 * file: what messages call the text ("FILE:LINE: ..."); null: "session".
 * base_folder: what a relative "done folder" path is taken from; null: the
 * working folder.
 */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_play(VarlobooksSession *session,
                                                             const char *text, const char *file,
                                                             const char *base_folder);
/*
 * What `modeler fill` does: set the clock to seed, press at box[0..2],
 * move to box[3..5], make the panel edits (each "LABEL=VALUE", as fill's
 * --set), keep. The edits are checked before anything is done; an error
 * names the option ("--set ...").
 */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_fill(VarlobooksSession *session,
                                                             const double box[6], int64_t seed,
                                                             const char *const *edits,
                                                             size_t edit_count);
/* The seconds the tool's clock reads from now on (the seed of the next
 * press), as a session's "clock" line. */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_set_clock(VarlobooksSession *session,
                                                                  int64_t seconds);
/* Leaves the tool, as a session's "done" line: folder answers its image
 * folder request; null cancels it. */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_leave(VarlobooksSession *session,
                                                              const char *folder);
/* Leaves the tool if the session has not, as `modeler run` does at the
 * end: the request is answered with the options' images, else cancelled. */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_finish(VarlobooksSession *session);
/* Whether the tool is still in use (not left). */
VARLOBOOKS_HOST_API int varlobooks_session_in_use(const VarlobooksSession *session);

/* The session text of every action done so far, which replays to the same
 * scene with `modeler run`. Valid until the next call on session. */
VARLOBOOKS_HOST_API const char *varlobooks_session_text(VarlobooksSession *session);
/* The warnings so far, in order; index from 0. Null past the last. Valid
 * until the session is freed. */
VARLOBOOKS_HOST_API const char *varlobooks_session_warning(const VarlobooksSession *session,
                                                           size_t index);

/* --- What the tool made ----------------------------------------------------
 * Everything below is read from the scene as it is: valid until the next
 * call that changes the session (play, fill, set_clock, leave, finish) or
 * frees it. */

typedef struct VarlobooksSummary {
    size_t books; /* closed shells of polygons */
    size_t points;
    size_t polygons;
    size_t textured_books;  /* books wearing a cover image */
    size_t unloaded_images; /* files asked for as images that were none */
} VarlobooksSummary;

/* The summary `modeler run` prints. line: when not null, set to that line
 * ("12 books, 296 points, ..."), valid until the session next changes. */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_summary(VarlobooksSession *session,
                                                                VarlobooksSummary *summary,
                                                                const char **line);

/*
 * The edited layer as the JSON export writes it. Arrays are the layer's own
 * memory, not copies:
 *   points:   point_count x (x, y, z), doubles, in layer order;
 *   polygons: polygon_count x (surface, first_corner, corner_count),
 *             surface indexing the surface names, corners into corners;
 *   corners:  corner_count point indices, each polygon's in its order.
 */
typedef struct VarlobooksLayer {
    const double *points;
    size_t point_count;
    const uint32_t *polygons;
    size_t polygon_count;
    const uint32_t *corners;
    size_t corner_count;
    size_t surface_count;
    size_t map_count;
} VarlobooksLayer;
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_layer(const VarlobooksSession *session,
                                                              VarlobooksLayer *layer);
/* The book of each polygon: shell_of_polygon[p], in 0 .. shell_count - 1,
 * for each polygon p of the layer (a book is a closed shell: polygons
 * joined through shared points). */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_shells(VarlobooksSession *session,
                                                               const uint32_t **shell_of_polygon,
                                                               size_t *shell_count);
/* The name of surface index of the layer. */
VARLOBOOKS_HOST_API const char *varlobooks_session_surface(const VarlobooksSession *session,
                                                           size_t index);

/*
 * A vertex map of the layer (a UV map: type "TXUV", dimension 2). Values of
 * dimension floats: per layer corner (corner_values, corner_set: 1 where
 * the corner has a value of its own, else 0) and per point (point_values,
 * point_set). A list shorter than the corners or points leaves the rest
 * unset.
 */
typedef struct VarlobooksVertexMap {
    char type[5]; /* four letters and NUL */
    const char *name;
    int dimension;
    const float *corner_values;
    const uint8_t *corner_set;
    size_t corner_count;
    const float *point_values;
    const uint8_t *point_set;
    size_t point_count;
} VarlobooksVertexMap;
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_vertex_map(const VarlobooksSession *session,
                                                                   size_t index,
                                                                   VarlobooksVertexMap *map);

/*
 * The asset model the OBJ and glTF exports write: right-handed (the
 * modeller's z negated), counter-clockwise triangles, one mesh a book (or
 * one in all when merged), each with its triangles grouped by material.
 */
typedef struct VarlobooksModel {
    const char *name;
    size_t mesh_count;
    size_t material_count;
    size_t image_count;
} VarlobooksModel;
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_model(VarlobooksSession *session,
                                                              VarlobooksModel *model);

typedef struct VarlobooksMesh {
    const char *name;       /* the book's cover surface */
    const float *positions; /* vertex_count x (x, y, z) */
    const float *normals;   /* vertex_count x unit (x, y, z) */
    const float *uvs;       /* vertex_count x (u, v), v up */
    size_t vertex_count;
    size_t primitive_count;
} VarlobooksMesh;
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_mesh(VarlobooksSession *session,
                                                             size_t index, VarlobooksMesh *mesh);

typedef struct VarlobooksPrimitive {
    size_t material;         /* into the model's materials */
    const uint32_t *indices; /* index_count / 3 triangles, into the mesh's vertices */
    size_t index_count;
} VarlobooksPrimitive;
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_primitive(VarlobooksSession *session,
                                                                  size_t mesh, size_t index,
                                                                  VarlobooksPrimitive *primitive);

typedef struct VarlobooksMaterial {
    const char *name; /* the surface's */
    double colour[3]; /* linear RGB; white under an image */
    int has_image;
    size_t image; /* into the model's images, when has_image */
} VarlobooksMaterial;
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_material(VarlobooksSession *session,
                                                                 size_t index,
                                                                 VarlobooksMaterial *material);

typedef struct VarlobooksImage {
    const char *name;           /* the source file's stem */
    const char *mime_type;      /* "image/png" or "image/jpeg" */
    const char *extension;      /* ".png" or ".jpg" */
    const unsigned char *bytes; /* the file as it was read */
    size_t size;
} VarlobooksImage;
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_image(VarlobooksSession *session,
                                                              size_t index, VarlobooksImage *image);

/* The material of the model that the layer's surface index wears;
 * VARLOBOOKS_INVALID_ARGUMENT when no polygon with area wears it. */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_surface_material(VarlobooksSession *session,
                                                                         size_t surface,
                                                                         size_t *material);

/* --- The tool's panel -------------------------------------------------------
 * The controls of the tool's panel as it describes them, with the values it
 * holds now: what a front end shows, and what a session's "set" lines take. */

typedef struct VarlobooksControl {
    const char *label;         /* as "set" takes it */
    const char *control_class; /* "float", "distance", "angle" (degrees), "integer",
                                 "iChoice", "axis", "string", ... */
    const char *kind;          /* what a value must be, in words ("a number", ...) */
    const char *value;         /* the tool's value, as "set" takes it */
    size_t choice_count;       /* for a choice: its names, by varlobooks_session_choice */
} VarlobooksControl;
/* The shown controls: count, then each. Valid until the session next changes. */
VARLOBOOKS_HOST_API size_t varlobooks_session_control_count(VarlobooksSession *session);
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_control(VarlobooksSession *session,
                                                                size_t index,
                                                                VarlobooksControl *control);
VARLOBOOKS_HOST_API const char *varlobooks_session_choice(VarlobooksSession *session,
                                                          size_t control, size_t choice);

/* --- Exports ------------------------------------------------------------- */

/* The export formats' names ("json", "obj", "gltf", "glb") by index from 0;
 * null past the last. Static text. */
VARLOBOOKS_HOST_API const char *varlobooks_export_format(size_t index);
/* The format format names (when not null) or else path's extension
 * implies, as one of the names above; null when neither says. */
VARLOBOOKS_HOST_API const char *varlobooks_export_format_for(const char *path, const char *format);

/*
 * Writes the scene to files, each whole or not at all, all together: when
 * one fails, no file is changed. formats[i]: "json", "obj", "gltf", "glb",
 * or null to go by paths[i]'s extension (formats itself may be null).
 * Companion files (.mtl, .bin, covers) go beside each.
 */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_export(VarlobooksSession *session,
                                                               const char *const *paths,
                                                               const char *const *formats,
                                                               size_t count);

/*
 * The same export in memory: the files it would write as name = bytes,
 * the first the one named name (a file name, no folder: "shelf.obj"), then
 * its companions named relative to it ("shelf.mtl", "shelf_covers/a.png").
 */
typedef struct VarlobooksFiles VarlobooksFiles;
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_session_export_files(VarlobooksSession *session,
                                                                     const char *name,
                                                                     const char *format,
                                                                     VarlobooksFiles **files);
/* The files of an export; they stay valid until freed, whatever becomes of
 * the session. */
VARLOBOOKS_HOST_API size_t varlobooks_files_count(const VarlobooksFiles *files);
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_files_get(const VarlobooksFiles *files,
                                                          size_t index, const char **name,
                                                          const unsigned char **bytes,
                                                          size_t *size);
VARLOBOOKS_HOST_API void varlobooks_files_free(VarlobooksFiles *files);

/* --- Pages ----------------------------------------------------------------
 * The tool used by hand, one gesture at a time, as `modeler serve`'s page
 * uses it: a session whose lines come from a person, with the clock set
 * at each press, leaving through the tool's own form, and the page's view
 * of it all. One thread at a time per page, as for sessions. */

typedef struct VarlobooksPage VarlobooksPage;

/*
 * A page on a fresh host with the tool activated and object_name given to
 * the edited object (and the downloads). images: the folder whose folders
 * the leaving form offers; null or "": none. *page is set whenever memory
 * allows, also on failure; free it either way.
 */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_page_new(VarlobooksModule *module,
                                                         const char *images,
                                                         const char *object_name,
                                                         VarlobooksPage **page);
VARLOBOOKS_HOST_API void varlobooks_page_free(VarlobooksPage *page);
VARLOBOOKS_HOST_API const char *varlobooks_page_error(const VarlobooksPage *page);
/* The seconds a gesture's clock is set to: now(data), instead of the
 * calendar's; null restores the calendar. */
VARLOBOOKS_HOST_API void varlobooks_page_set_wall_clock(VarlobooksPage *page,
                                                        int64_t (*now)(void *data), void *data);

/* One session line a person's gesture made (press, move, drag, set, end,
 * event); begins_gesture: a press of the pointer that reads the clock. */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_page_act(VarlobooksPage *page, const char *line,
                                                         int begins_gesture);
/* Takes back the last step (a press and its pull, a handle drag, a panel
 * edit, keep, discard) by playing the session without it on a fresh host;
 * redo plays it again. */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_page_undo(VarlobooksPage *page);
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_page_redo(VarlobooksPage *page);
/* Plays a page's session again (as varlobooks_page_session_text wrote it)
 * on a fresh host, with the steps of undo where the state's "steps" said:
 * a reload of the page, or a page taking the tool back. */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_page_replay(VarlobooksPage *page, const char *text,
                                                            const size_t *steps, size_t step_count);
/* Starts leaving the tool; when the tool posts its form, the page's state
 * shows it until varlobooks_page_answer_form. */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_page_leave(VarlobooksPage *page);
/* folder: one of the folder names the form offers; null cancels. */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_page_answer_form(VarlobooksPage *page,
                                                                 const char *folder);

/* What the page shows, as the members of a JSON object ("{...}"): the
 * tool's state, panel, handles, preview, materials, warnings and
 * "meshVersion". Valid until the next call on page. */
VARLOBOOKS_HOST_API const char *varlobooks_page_state(VarlobooksPage *page);
/* Whether the page shows the tool (not its form, or leaving). */
VARLOBOOKS_HOST_API int varlobooks_page_shows_tool(VarlobooksPage *page);
VARLOBOOKS_HOST_API uint64_t varlobooks_page_mesh_version(const VarlobooksPage *page);
/* The layer as the page draws it: one binary block (see the page's
 * script). Valid until the next call on page. */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_page_mesh(VarlobooksPage *page,
                                                          const unsigned char **bytes,
                                                          size_t *size);
/* The image of the model's image index, as read. Valid until the next call
 * on page. */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_page_texture(VarlobooksPage *page, size_t index,
                                                             VarlobooksImage *image);
/* The export a download button makes: the files of the format's export
 * named after the object ("bookshelf.glb"; an OBJ with its .mtl and
 * covers). */
VARLOBOOKS_HOST_API VarlobooksStatus varlobooks_page_download(VarlobooksPage *page,
                                                              const char *format,
                                                              VarlobooksFiles **files);
/* The session of everything done on the page, for `modeler run`. Valid
 * until the next call on page. */
VARLOBOOKS_HOST_API const char *varlobooks_page_session_text(VarlobooksPage *page);

#ifdef __cplusplus
}
#endif

#endif
