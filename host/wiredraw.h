/*
 * Wireframe drawing for a tool's preview. The access record and its data
 * are owned by the host and valid only during the draw call they are passed
 * to; every operation is called on the host's thread.
 */
#ifndef VARLOBOOKS_HOST_WIREDRAW_H
#define VARLOBOOKS_HOST_WIREDRAW_H

#ifdef __cplusplus
extern "C" {
#endif

/* A point for drawing: three floats, model coordinates. */
typedef float LWFVector[3];

/* Line styles. */
#define LWWIRE_SOLID 0
#define LWWIRE_DASH 1

typedef struct st_LWWireDrawAccess {
    void *data; /* the host's own; passed back first to every operation */
    /* Puts the pen at pos without drawing. */
    void (*moveTo)(void *data, LWFVector pos, int style);
    /* Draws from the pen to pos and leaves the pen there. */
    void (*lineTo)(void *data, LWFVector pos, int style);
    /* Draws a circle of radius rad (model units) around the pen. */
    void (*circle)(void *data, double rad, int style);
} LWWireDrawAccess;

#ifdef __cplusplus
}
#endif

#endif
