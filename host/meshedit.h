/*
 * The records a host and a mesh-edit tool ("MeshEditTool" class) share:
 * the tool's activation record, its callback table, the pointer event and
 * the mesh-edit operations handed to a build.
 *
 * Threading: every callback is called on the host's one thread, one at a
 * time, between activation and the return of done.
 */
#ifndef VARLOBOOKS_HOST_MESHEDIT_H
#define VARLOBOOKS_HOST_MESHEDIT_H

#include <stdint.h>

#include "wiredraw.h"
#include "xpanel.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The tool's own instance, opaque to the host. */
typedef void *LWInstance;

/* Four-character codes: the first letter in the most significant byte. */
typedef uint32_t LWID;
#define LWID_(a, b, c, d) \
    ((((uint32_t)(a)) << 24) | (((uint32_t)(b)) << 16) | (((uint32_t)(c)) << 8) | ((uint32_t)(d)))
#define LWVMAP_TXUV LWID_('T', 'X', 'U', 'V')

/* Opaque host handles of points and polygons in the edited layer. Null is
 * never a valid handle; a handle stays valid until the edit that made it is
 * taken back. */
typedef struct st_LWPnt *LWPntID;
typedef struct st_LWPol *LWPolID;

/* The host's private state of one build, passed first to every operation. */
typedef struct st_EDState *EDStateRef;

/* Status of a mesh-edit operation that reports one. */
typedef int EDError;
#define EDERR_NONE 0
#define EDERR_NOMEMORY 1 /* the host ran out of memory: the value was not set */
#define EDERR_BADARGS 4

/*
 * The mesh-edit operations of one build. The record and state are owned by
 * the host and valid only during the build call they are passed to. Texts
 * passed in are read during the call only; point lists likewise.
 */
typedef struct st_MeshEditOp {
    EDStateRef state;
    /* Adds a point at xyz (three doubles, model units). Null on failure. */
    LWPntID (*addPoint)(EDStateRef state, double *xyz);
    /* Adds a face with surface name surf over numPnt points. Null on failure. */
    LWPolID (*addFace)(EDStateRef state, const char *surf, int numPnt, const LWPntID *points);
    /* Sets the value of vertex map (type, name, dim) at point pnt for the
     * corner of polygon pol (pol null: the point's own value), creating the
     * map when needed. val holds dim floats. */
    EDError (*pntVPMap)(EDStateRef state, LWPntID pnt, LWPolID pol, LWID type, const char *name,
                        int dim, float *val);
    /* Returns the host's handle of vertex map (type, name, dim). The handle
     * is owned by the host and stays the same for the same map for as long
     * as the module is loaded. */
    void *(*selectVertexMap)(EDStateRef state, const char *name, LWID type, int dim);
} MeshEditOp;

/* A pointer event, owned by the host and valid during the callback only.
 * A callback may write into it (the drag constraint does); the host reads
 * nothing back. */
typedef struct st_ToolEvent {
    double position[3]; /* pointer position in model space */
    double delta[3];    /* pointer motion reported with the event */
    int viewAxis;       /* 0 X, 1 Y, 2 Z; negative: a view along none */
    int flags;          /* LWTOOLF_ bits */
} ToolEvent;

#define LWTOOLF_CONSTRAIN 1
#define LWTOOLF_HOLD_FIRST 2
#define LWTOOLF_HOLD_SECOND 4

/* Host events given to the event slot. */
#define LWTOOL_EVENT_DROP 0
#define LWTOOL_EVENT_RESET 1
#define LWTOOL_EVENT_ACTIVATE 2

/* Answers of LWMeshEditTool.test. */
#define LWT_TEST_NOTHING 0
#define LWT_TEST_UPDATE 1 /* run build; the answer sticks until end */
#define LWT_TEST_REJECT 3 /* take back the edit and end it without keeping */

/* Bits of LWToolFuncs.dirty's answer: what the host must draw again. */
#define LWT_DIRTY_WIREFRAME 1
#define LWT_DIRTY_HELPTEXT 2

/*
 * The tool's callbacks. The table is owned by the host; activation writes
 * the slots it provides and leaves the others as the host set them (null).
 * Every slot takes the instance first.
 */
typedef struct st_LWToolFuncs {
    /* Last call of an instance: the tool releases it. Required. */
    void (*done)(LWInstance);
    /* Draws the preview through the access, valid during the call. */
    void (*draw)(LWInstance, LWWireDrawAccess *);
    /* Help text for the pointer position; may stay null. */
    const char *(*help)(LWInstance, ToolEvent *);
    /* Non-zero when the preview must be redrawn. */
    int (*dirty)(LWInstance);
    /* Number of handles; the host asks handle only for indices below it. */
    int (*count)(LWInstance, ToolEvent *);
    /* Writes handle index's position to pos; returns its priority. */
    int (*handle)(LWInstance, ToolEvent *, int index, double pos[3]);
    /* A press that starts a handle drag. */
    int (*start)(LWInstance, ToolEvent *);
    /* Drag of handle index; returns the index of the handle being dragged. */
    int (*adjust)(LWInstance, ToolEvent *, int index);
    /* A press away from the handles. */
    int (*down)(LWInstance, ToolEvent *);
    /* A pointer move. */
    void (*move)(LWInstance, ToolEvent *);
    /* A release; may stay null. */
    void (*up)(LWInstance, ToolEvent *);
    /* Host events (LWTOOL_EVENT_ codes). */
    void (*event)(LWInstance, int code);
    /* Creates the numeric panel, owned by the host from then on; null: no
     * panel. May stay null when the tool has none. */
    LWXPanelID (*panel)(LWInstance);
} LWToolFuncs;

/*
 * The record a "MeshEditTool" activation fills. The host owns the record
 * and the tool table it points at; the instance belongs to the tool until
 * done returns.
 */
typedef struct st_LWMeshEditTool {
    LWInstance instance;
    LWToolFuncs *tool; /* set by the host before activation; never null */
    int (*test)(LWInstance);
    /* Builds the tool's result through op, valid during the call. 0: done. */
    int (*build)(LWInstance, MeshEditOp *op);
    /* Ends the current edit; keep is non-zero when the result is kept. */
    void (*end)(LWInstance, int keep);
} LWMeshEditTool;

#ifdef __cplusplus
}
#endif

#endif
