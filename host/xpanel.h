/*
 * The "LWXPanel" service: panels described by tables of controls, data
 * descriptions and hint words. A view panel (type 1) holds no values: the
 * host reads and writes them through the get and set callbacks. A form
 * panel (type 2) holds its values; the tool reads them with formGet.
 *
 * Threading: the host's thread only. post blocks that thread until the user
 * answers the panel.
 */
#ifndef VARLOBOOKS_HOST_XPANEL_H
#define VARLOBOOKS_HOST_XPANEL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LWXPANELFUNCS_GLOBAL "LWXPanel"

#define LWXP_VIEW 1
#define LWXP_FORM 2

/* A panel, owned by the host. The creator destroys a form panel; a view
 * panel returned from a tool's panel slot belongs to the host. */
typedef struct st_LWXPanel *LWXPanelID;

/* One pointer-sized hint word: a tag, an id (in the low 32 bits), a number
 * or a pointer to text or to a null-terminated list of texts. */
typedef uintptr_t LWXPanelHint;

/* One control: id, label and control class ("integer", "float", "angle",
 * "string", "axis", "iPopChoice", "sFileName", ...). A table ends with a
 * row whose id is 0 and whose texts are null. The table and its texts are
 * the caller's and must live as long as the panel. */
typedef struct st_LWXPanelControl {
    uint32_t cid;
    const char *label;
    const char *ctrlclass;
} LWXPanelControl;

/* One value: id, name and data type ("integer": int; "float" and "angle":
 * double, angles in radians; "string": NUL-terminated text). Ended and owned
 * as the control table. */
typedef struct st_LWXPanelDataDesc {
    uint32_t vid;
    const char *name;
    const char *datatype;
} LWXPanelDataDesc;

/* View panels: the address of value vid of instance inst in the
 * representation of its data type, or null for an id the tool does not
 * serve. The host reads it at once and keeps no pointer. */
typedef void *LWXPanelGetFunc(void *inst, uint32_t vid);
/* View panels: stores the value at value (same representation). Returns
 * non-zero when the value was taken, 0 when it was refused or not served. */
typedef int LWXPanelSetFunc(void *inst, uint32_t vid, void *value);

/* Hint tags this host reads. A hint list is a sequence of a tag and its
 * arguments, ended by a 0 where a tag would come. */
#define XPHINT_HIDE 0x3D000E01u          /* cid: the control is not shown */
#define XPHINT_POPUP_CHOICES 0x3D014503u /* cid, null-terminated list of texts */
#define XPHINT_LABEL 0x3D000B03u         /* id (0: the panel), text: title or label */
#define XPHINT_CONTROL_LIST 0x3D021481u  /* ids ended by 0 */
#define XPHINT_FILE_REQUEST 0x3D019105u  /* cid, requester mode, requester title */

typedef struct st_LWXPanelFuncs {
    int version;
    /* Creates a panel of type LWXP_VIEW or LWXP_FORM. Null on failure. */
    LWXPanelID (*create)(int type, LWXPanelControl *controls);
    /* Destroys a panel; the handle is invalid afterwards. */
    void (*destroy)(LWXPanelID panel);
    /* Describes the values; get and set are null for a form panel. */
    void (*describe)(LWXPanelID panel, LWXPanelDataDesc *data, LWXPanelGetFunc *get,
                     LWXPanelSetFunc *set);
    /* Applies hints to control id (0: the whole panel). The list is read
     * during the call; texts it points at must live as long as the panel. */
    void (*hint)(LWXPanelID panel, uint32_t id, LWXPanelHint *hints);
    /* Form panels: sets value cid (copied). */
    void (*formSet)(LWXPanelID panel, uint32_t cid, void *value);
    /* Form panels: the value cid, owned by the panel, valid until destroy;
     * null when it has none. */
    void *(*formGet)(LWXPanelID panel, uint32_t cid);
    /* Shows a form panel modally: non-zero when confirmed, 0 when cancelled. */
    int (*post)(LWXPanelID panel);
} LWXPanelFuncs;

#ifdef __cplusplus
}
#endif

#endif
