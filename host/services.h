/*
 * Global services a tool looks up by name: state query, surfaces, textures
 * and the image list. Every table is owned by the host and stays valid until
 * the module is unloaded. Every handle a function returns is owned by the
 * host; the tool never releases one. Texts returned are owned by the host
 * and valid until the next call of the same service unless said otherwise.
 * All calls happen on the host's one thread.
 */
#ifndef VARLOBOOKS_HOST_SERVICES_H
#define VARLOBOOKS_HOST_SERVICES_H

#ifdef __cplusplus
extern "C" {
#endif

#define LWSTATEQUERYFUNCS_GLOBAL "LWM: State Query 3"
#define LWSURFACEFUNCS_GLOBAL "Surface Functions 4"
#define LWTEXTUREFUNCS_GLOBAL "Texture Functions 3"
#define LWIMAGELIST_GLOBAL "LW Image List 6"
#define LWSURFEDFUNCS_GLOBAL "SurfaceEditor Functions"
#define LWOBJECTFUNCS_GLOBAL "Scene Objects 6"
#define LWMESSAGEFUNCS_GLOBAL "Info Messages 2"

/* "Scene Objects 6", "SurfaceEditor Functions" and "Info Messages 2" are
 * looked up as opaque tables: a host must answer them with a non-null
 * table, but a tool calls nothing in them. */

typedef struct st_LWStateQueryFuncs {
    /* Name of the object being edited; null when there is none. */
    const char *(*object)(void);
} LWStateQueryFuncs;

typedef struct st_LWSurface *LWSurfaceID;
typedef struct st_LWTexture *LWTextureID;
typedef struct st_LWTLayer *LWTLayerID;
typedef struct st_LWTxtrContext *LWTxtrContextID;
typedef struct st_LWImage *LWImageID;

typedef struct st_LWSurfaceFuncs {
    /* Null-terminated array of the surfaces of object objName, owned by the
     * host, valid until the next byObject; null when the object is unknown. */
    LWSurfaceID *(*byObject)(const char *objName);
    /* The surface's name, valid as long as the surface. */
    const char *(*name)(LWSurfaceID surf);
    /* Gives texture tex to channel ("BaseColor", ...) of surf, replacing the
     * texture the channel had. The texture belongs to the surface from then
     * on. Returns 1 when done, 0 for an unknown surface, texture or channel. */
    int (*setChannelTexture)(LWSurfaceID surf, const char *channel, LWTextureID tex);
} LWSurfaceFuncs;

/* Parameter callbacks of a texture context. A context whose three slots
 * are null has no parameters of its own. Passed by value. */
typedef struct st_LWTxtrParamFuncs {
    double (*paramEvaluate)(void *data, int param);
    void (*paramTime)(void *data, double time);
    const char *(*paramName)(void *data, int param);
} LWTxtrParamFuncs;

/* Texture return types and layer types. */
#define TRT_VECTOR 0
#define TRT_COLOR 1
#define TLT_IMAGE 0

/* Layer parameter tags of setParam. */
#define TXTAG_PROJ 4  /* int: projection */
#define TXTAG_IMAGE 9 /* LWImageID */
#define TXTAG_VMAP 10 /* vertex map handle from selectVertexMap */
#define TXPRJ_UV 5    /* projection through a UV map */

typedef struct st_LWTextureFuncs {
    /* A context, owned by the caller until contextDestroy. */
    LWTxtrContextID (*contextCreate)(LWTxtrParamFuncs funcs);
    void (*contextDestroy)(LWTxtrContextID ctx);
    /* A new texture (returnType TRT_), owned by the caller until it is
     * given to a surface channel. name is copied. userData may be null. */
    LWTextureID (*create)(int returnType, const char *name, LWTxtrContextID ctx, void *userData);
    /* A new layer of type layerType (TLT_) at the end of tex, owned by tex. */
    LWTLayerID (*layerAdd)(LWTextureID tex, int layerType);
    /* Sets parameter tag (TXTAG_) of layer from the value at data, read
     * during the call. Returns 1 when set, 0 for an unknown layer or tag. */
    int (*setParam)(LWTLayerID layer, unsigned int tag, void *data);
} LWTextureFuncs;

typedef struct st_LWImageList {
    /* First image of the scene's image list, null when it is empty. */
    LWImageID (*first)(void);
    /* The image after img, null after the last. */
    LWImageID (*next)(LWImageID img);
    /* The file path img was loaded from, as given to load, valid as long
     * as the image; frame selects a frame of a sequence (0 for a still). */
    const char *(*filename)(LWImageID img, int frame);
    /* Loads the file at path into the image list. Null when the file
     * cannot be read as an image. path is copied. */
    LWImageID (*load)(const char *path);
} LWImageList;

#ifdef __cplusplus
}
#endif

#endif
