/* The host library's C API used from C11, as a C program would: every
 * call's status and message, what it hands out, and the null and wrong
 * arguments a caller may pass. Usage: host_api_c MODULE SCRATCH_FOLDER */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "varlobooks/host_api.h"

static int failures = 0;

#define CHECK(condition)                                                            \
    do {                                                                            \
        if (!(condition)) {                                                         \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                             \
        }                                                                           \
    } while (0)

static int startsWith(const char *text, const char *prefix) {
    return text && strncmp(text, prefix, strlen(prefix)) == 0;
}

static void checkModuleErrors(const char *scratch) {
    char missing[1024];
    VarlobooksModule *module = NULL;
    snprintf(missing, sizeof missing, "%s/no-such-module.so", scratch);
    CHECK(varlobooks_module_open(missing, &module) == VARLOBOOKS_LOAD_FAILED);
    CHECK(module != NULL && strstr(varlobooks_module_error(module), "no-such-module") != NULL);
    CHECK(varlobooks_module_check_tool(module) == VARLOBOOKS_LOAD_FAILED);
    VarlobooksSession *session = NULL;
    CHECK(varlobooks_session_new(module, NULL, &session) == VARLOBOOKS_INVALID_ARGUMENT);
    varlobooks_session_free(session);
    varlobooks_module_close(module);
    CHECK(varlobooks_module_open(NULL, NULL) == VARLOBOOKS_INVALID_ARGUMENT);
    varlobooks_module_close(NULL);
}

static void checkNullArguments(VarlobooksSession *session) {
    VarlobooksSummary summary;
    CHECK(varlobooks_session_play(NULL, "activate", NULL, NULL) == VARLOBOOKS_INVALID_ARGUMENT);
    CHECK(varlobooks_session_play(session, NULL, NULL, NULL) == VARLOBOOKS_INVALID_ARGUMENT);
    CHECK(strstr(varlobooks_session_error(session), "null") != NULL);
    CHECK(varlobooks_session_fill(session, NULL, 0, NULL, 0) == VARLOBOOKS_INVALID_ARGUMENT);
    CHECK(varlobooks_session_summary(session, NULL, NULL) == VARLOBOOKS_INVALID_ARGUMENT);
    CHECK(varlobooks_session_summary(NULL, &summary, NULL) == VARLOBOOKS_INVALID_ARGUMENT);
    CHECK(varlobooks_session_export(session, NULL, NULL, 1) == VARLOBOOKS_INVALID_ARGUMENT);
    CHECK(varlobooks_session_mesh(session, 100000, &(VarlobooksMesh){0}) ==
          VARLOBOOKS_INVALID_ARGUMENT);
    CHECK(varlobooks_session_surface(session, 100000) == NULL);
    CHECK(varlobooks_session_warning(session, 100000) == NULL);
    CHECK(varlobooks_files_count(NULL) == 0);
    CHECK(varlobooks_export_format_for("a.GLB", NULL) != NULL &&
          strcmp(varlobooks_export_format_for("a.GLB", NULL), "glb") == 0);
    CHECK(varlobooks_export_format_for("a.txt", NULL) == NULL);
    CHECK(strcmp(varlobooks_session_error(NULL), "") != 0);
    varlobooks_session_free(NULL);
}

static void checkSessionErrors(VarlobooksModule *module) {
    VarlobooksSession *session = NULL;
    CHECK(varlobooks_session_new(module, NULL, &session) == VARLOBOOKS_OK);
    CHECK(varlobooks_session_play(session, "activate\nfly 1 2 3\n", "t.session", NULL) ==
          VARLOBOOKS_SESSION_INVALID);
    CHECK(startsWith(varlobooks_session_error(session), "t.session:2: expected an action"));
    CHECK(strcmp(varlobooks_session_text(session), "") == 0); /* checked whole: nothing done */
    CHECK(varlobooks_session_play(session, "activate\nset Colour red\n", NULL, NULL) ==
          VARLOBOOKS_SESSION_INVALID);
    CHECK(startsWith(varlobooks_session_error(session), "session:2: expected a panel label"));
    const char *edits[] = {"MaxSize"};
    const double box[6] = {0, 0, 0, 1, 0.5, 0.3};
    CHECK(varlobooks_session_fill(session, box, 0, edits, 1) == VARLOBOOKS_SESSION_INVALID);
    CHECK(startsWith(varlobooks_session_error(session), "--set: expected LABEL=VALUE"));
    CHECK(varlobooks_session_play(session, "activate\npress 0 0 0\nmove 1 1 1\ndrag 42 0 0 0\n",
                                  NULL, NULL) == VARLOBOOKS_ACTION_FAILED);
    CHECK(startsWith(varlobooks_session_error(session), "session:4: no handle 42"));
    CHECK(startsWith(varlobooks_session_text(session), "activate\npress 0 0 0\nmove 1 1 1\n"));
    CHECK(varlobooks_session_in_use(session));
    CHECK(varlobooks_session_leave(session, NULL) == VARLOBOOKS_OK);
    CHECK(!varlobooks_session_in_use(session));
    varlobooks_session_free(session);
}

static void checkModel(VarlobooksSession *session, const VarlobooksSummary *summary) {
    VarlobooksModel model;
    CHECK(varlobooks_session_model(session, &model) == VARLOBOOKS_OK);
    CHECK(model.mesh_count == summary->books);
    for (size_t m = 0; m < model.mesh_count; ++m) {
        VarlobooksMesh mesh;
        CHECK(varlobooks_session_mesh(session, m, &mesh) == VARLOBOOKS_OK);
        CHECK(mesh.vertex_count > 0 && mesh.primitive_count > 0 && mesh.name[0] != '\0');
        for (size_t p = 0; p < mesh.primitive_count; ++p) {
            VarlobooksPrimitive primitive;
            CHECK(varlobooks_session_primitive(session, m, p, &primitive) == VARLOBOOKS_OK);
            CHECK(primitive.material < model.material_count && primitive.index_count % 3 == 0);
            for (size_t i = 0; i < primitive.index_count; ++i)
                CHECK(primitive.indices[i] < mesh.vertex_count);
        }
    }
    VarlobooksMaterial material;
    CHECK(varlobooks_session_material(session, 0, &material) == VARLOBOOKS_OK);
    CHECK(strcmp(material.name, "bookpages") == 0 && !material.has_image);
}

static void checkLayer(VarlobooksSession *session, const VarlobooksSummary *summary) {
    VarlobooksLayer layer;
    CHECK(varlobooks_session_layer(session, &layer) == VARLOBOOKS_OK);
    CHECK(layer.point_count == summary->points && layer.polygon_count == summary->polygons);
    for (size_t p = 0; p < layer.polygon_count; ++p) {
        const uint32_t *polygon = layer.polygons + 3 * p;
        CHECK(polygon[0] < layer.surface_count && polygon[1] + polygon[2] <= layer.corner_count);
    }
    int uvs = 0;
    for (size_t m = 0; m < layer.map_count; ++m) {
        VarlobooksVertexMap map;
        CHECK(varlobooks_session_vertex_map(session, m, &map) == VARLOBOOKS_OK);
        if (strcmp(map.type, "TXUV") == 0 && map.dimension == 2 && map.corner_count > 0) ++uvs;
    }
    CHECK(uvs == 2); /* "bookpages" and "bookcover" */
}

static void checkExports(VarlobooksSession *session, const char *scratch) {
    VarlobooksFiles *files = NULL;
    CHECK(varlobooks_session_export_files(session, "s.glb", NULL, &files) == VARLOBOOKS_OK);
    CHECK(varlobooks_files_count(files) == 1);
    const char *name = NULL;
    const unsigned char *bytes = NULL;
    size_t size = 0;
    CHECK(varlobooks_files_get(files, 0, &name, &bytes, &size) == VARLOBOOKS_OK);
    CHECK(strcmp(name, "s.glb") == 0 && size > 12 && memcmp(bytes, "glTF", 4) == 0);

    char path[1024];
    snprintf(path, sizeof path, "%s/s.glb", scratch); /* the same stem names the model */
    const char *paths[] = {path};
    CHECK(varlobooks_session_export(session, paths, NULL, 1) == VARLOBOOKS_OK);
    FILE *file = fopen(path, "rb");
    CHECK(file != NULL);
    if (file) {
        unsigned char *read = malloc(size + 1);
        CHECK(read && fread(read, 1, size + 1, file) == size && memcmp(read, bytes, size) == 0);
        free(read);
        fclose(file);
    }
    varlobooks_files_free(files);

    const char *formats[] = {"xyz"};
    CHECK(varlobooks_session_export(session, paths, formats, 1) == VARLOBOOKS_INVALID_ARGUMENT);
    CHECK(strstr(varlobooks_session_error(session), "no format") != NULL);
    CHECK(varlobooks_session_export_files(session, "a/b.json", NULL, &files) ==
          VARLOBOOKS_INVALID_ARGUMENT);
    CHECK(files == NULL);
}

/* One shelf's .glb, made on whatever thread calls. */
typedef struct Shelf {
    VarlobooksModule *module;
    int64_t seed;
    unsigned char *bytes;
    size_t size;
} Shelf;

static void *makeShelf(void *data) {
    Shelf *shelf = data;
    VarlobooksSession *session = NULL;
    VarlobooksFiles *files = NULL;
    const double box[6] = {0, 0, 0, 3, 0.5, 0.3};
    const unsigned char *bytes = NULL;
    if (varlobooks_session_new(shelf->module, NULL, &session) == VARLOBOOKS_OK &&
        varlobooks_session_fill(session, box, shelf->seed, NULL, 0) == VARLOBOOKS_OK &&
        varlobooks_session_export_files(session, "t.glb", NULL, &files) == VARLOBOOKS_OK &&
        varlobooks_files_get(files, 0, NULL, &bytes, &shelf->size) == VARLOBOOKS_OK) {
        shelf->bytes = malloc(shelf->size);
        if (shelf->bytes) memcpy(shelf->bytes, bytes, shelf->size);
    }
    varlobooks_files_free(files);
    varlobooks_session_free(session);
    return NULL;
}

/* Sessions of one module on two threads at once give the bytes each gives
 * alone: each host has its own clock, scene and builds. */
static void checkThreads(VarlobooksModule *module) {
    enum { kShelves = 4 };
    Shelf alone[kShelves], together[kShelves];
    pthread_t threads[kShelves];
    for (int i = 0; i < kShelves; ++i) {
        alone[i] = (Shelf){module, i % 2 ? 1000 : 7, NULL, 0};
        together[i] = alone[i];
        makeShelf(&alone[i]);
    }
    CHECK(
        alone[0].bytes && alone[1].bytes &&
        (alone[0].size != alone[1].size || memcmp(alone[0].bytes, alone[1].bytes, alone[0].size)));
    for (int i = 0; i < kShelves; ++i)
        CHECK(pthread_create(&threads[i], NULL, makeShelf, &together[i]) == 0);
    for (int i = 0; i < kShelves; ++i)
        pthread_join(threads[i], NULL);
    for (int i = 0; i < kShelves; ++i) {
        CHECK(together[i].bytes && together[i].size == alone[i].size &&
              memcmp(together[i].bytes, alone[i].bytes, alone[i].size) == 0);
        free(alone[i].bytes);
        free(together[i].bytes);
    }
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: host_api_c MODULE SCRATCH_FOLDER\n");
        return 2;
    }
    CHECK(varlobooks_host_api_version() == VARLOBOOKS_HOST_API_VERSION);
    CHECK(varlobooks_host_version()[0] != '\0');
    checkModuleErrors(argv[2]);

    VarlobooksModule *module = NULL;
    if (varlobooks_module_open(argv[1], &module) != VARLOBOOKS_OK) {
        fprintf(stderr, "cannot open %s: %s\n", argv[1], varlobooks_module_error(module));
        return 1;
    }
    CHECK(varlobooks_module_check_tool(module) == VARLOBOOKS_OK);
    CHECK(startsWith(varlobooks_module_version(module), "varlobooks "));
    CHECK(varlobooks_module_server_count(module) >= 1);
    checkSessionErrors(module);
    checkThreads(module);

    VarlobooksSession *session = NULL;
    CHECK(varlobooks_session_new(module, NULL, &session) == VARLOBOOKS_OK);
    checkNullArguments(session);
    const char *edits[] = {"Type=Both", "Rotation=8"};
    const double box[6] = {0, 0, 0, 1, 0.5, 0.3};
    CHECK(varlobooks_session_fill(session, box, 0, edits, 2) == VARLOBOOKS_OK);
    CHECK(varlobooks_session_finish(session) == VARLOBOOKS_OK);
    VarlobooksSummary summary;
    const char *line = NULL;
    CHECK(varlobooks_session_summary(session, &summary, &line) == VARLOBOOKS_OK);
    CHECK(summary.books > 0 && strstr(line, " books, ") != NULL);
    checkLayer(session, &summary);
    checkModel(session, &summary);
    checkExports(session, argv[2]);
    const char *text = varlobooks_session_text(session);
    CHECK(startsWith(text, "clock 0\nactivate\npress 0 0 0\nmove 1 0.5 0.3\n"));
    CHECK(strstr(text, "set Type Both\nset Rotation 8\nend keep\ndone cancel\n") != NULL);
    /* A session keeps its module loaded after the module's handle is closed. */
    VarlobooksSession *last = NULL;
    CHECK(varlobooks_session_new(module, NULL, &last) == VARLOBOOKS_OK);
    varlobooks_module_close(module);
    CHECK(varlobooks_session_fill(last, box, 3, NULL, 0) == VARLOBOOKS_OK);
    CHECK(varlobooks_session_summary(last, &summary, NULL) == VARLOBOOKS_OK && summary.books > 0);
    varlobooks_session_free(last);
    varlobooks_session_free(session);
    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
