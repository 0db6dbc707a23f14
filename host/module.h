/*
 * Module descriptor, server list and global lookup: how a host finds and
 * starts the servers of a plug-in module.
 *
 * Threading: the host makes every call named here on its one thread, one
 * call at a time. Nothing here is thread-safe and nothing needs to be.
 */
#ifndef VARLOBOOKS_HOST_MODULE_H
#define VARLOBOOKS_HOST_MODULE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Values of the descriptor's first three words that a host accepts. */
#define MODULE_SYNC_WORD 0x04121994u
#define MODULE_SYSTEM_VERSION 3u
#define MODULE_MACHINE_TYPE 0x300u

/* Name of the one data symbol a module exports for the host to find. */
#define MODULE_DESCRIPTOR_SYMBOL "_mod_descrip"

/*
 * Optional, an extension of this contract that the modeller itself ignores:
 * a module may also export a data symbol of this name, a constant
 * NUL-terminated ASCII text naming the module and its version, such as
 * "varlobooks 1.1.0", at most MODULE_VERSION_MAX_LENGTH characters. It lies
 * in the module's read-only data and lives as long as the module is loaded.
 * A host shows it to people (modeler --version) and decides nothing by it.
 */
#define MODULE_VERSION_SYMBOL "_mod_version"
#define MODULE_VERSION_MAX_LENGTH 127

/* Marks what a module exports: a DLL export on Windows, a symbol of default
 * visibility elsewhere (a module built with hidden visibility exports only
 * what is so marked). */
#if defined(_WIN32)
#define MODULE_EXPORT __declspec(dllexport)
#else
#define MODULE_EXPORT __attribute__((visibility("default")))
#endif

/* Results of an activation function. On any result but AFUNC_OK the host
 * must treat the record it passed as untouched and must not call any slot of
 * it; there is no instance to release. */
#define AFUNC_OK 0
#define AFUNC_BADVERSION 1
#define AFUNC_BADGLOBAL 2 /* a service the server requires is missing */
#define AFUNC_NOMEMORY 5  /* the server could not allocate its instance */

/*
 * The host's global lookup: returns the service table registered under
 * serviceName, or null when the host does not offer it. useMode is 0 for a
 * lookup that is kept for the life of the module. The table is owned by the
 * host and stays valid until the module is unloaded; the caller never
 * releases it. serviceName is read during the call only.
 */
typedef void *GlobalFunc(const char *serviceName, int useMode);

/*
 * A server's activation. version is the host's interface version (a server
 * may ignore it); global is the lookup above, valid until the module is
 * unloaded; local is the class-specific record the server fills (for
 * "MeshEditTool" an LWMeshEditTool, see meshedit.h), owned by the host;
 * serverData is the tag information of the server record, may be null.
 */
typedef int ActivateFunc(int version, GlobalFunc *global, void *local, void *serverData);

/* One entry of a module's server list. The strings and the activation
 * function are owned by the module and live as long as it is loaded. The
 * list ends with an entry whose four pointers are all null. */
typedef struct st_ServerRecord {
    const char *className;  /* for example "MeshEditTool" */
    const char *name;       /* the server's name, unique within its class */
    ActivateFunc *activate; /* never null in a real entry */
    void *tagInfo;          /* null when the server has no tag information */
} ServerRecord;

/*
 * The record the exported symbol _mod_descrip names. The host reads it with
 * the platform's natural alignment and checks the first three words before
 * it calls anything. startup runs once after loading; what it returns (null
 * means failure: the host must unload the module without calling shutdown)
 * is handed back to shutdown, which runs once before unloading.
 * serverDefs points at the module's own list, valid while it is loaded.
 */
typedef struct st_ModuleDescriptor {
    uint32_t sysSync;    /* MODULE_SYNC_WORD */
    uint32_t sysVersion; /* MODULE_SYSTEM_VERSION */
    uint32_t sysMachine; /* MODULE_MACHINE_TYPE */
    void *(*startup)(void);
    void (*shutdown)(void *moduleData);
    ServerRecord *serverDefs;
} ModuleDescriptor;

#ifdef __cplusplus
}
#endif

#endif
