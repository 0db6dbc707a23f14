#include "modeler/services/service_tables.h"

#include <cstring>
#include <type_traits>

#include "host/services.h"
#include "host/xpanel.h"
#include "modeler/services/service_host.h"

namespace modeler {
namespace {

Host &host() {
    return Host::current();
}

// Every service the plug-in calls runs inside this: an exception (memory
// that ran out, mostly) becomes a fault on the host and the call's failure
// value (0 or null), never an exception in the plug-in's C code.
template <auto Service>
struct Guarded;
template <typename Result, typename... Args, Result (*Service)(Args...)>
struct Guarded<Service> {
    static Result call(Args... args) noexcept {
        try {
            return Service(args...);
        } catch (...) {
            try {
                host().fault("a host service failed (out of memory) and was refused");
            } catch (...) {
            }
            if constexpr (!std::is_void_v<Result>) return Result{};
        }
    }
};
template <auto Service>
constexpr auto guarded = &Guarded<Service>::call;

// ---- LWXPanel ----

Panel *panelOrFault(LWXPanelID id, const char *operation) {
    Panel *panel = host().panels().find(id);
    if (!panel) host().fault(std::string("LWXPanel ") + operation + ": unknown or destroyed panel");
    return panel;
}

LWXPanelID xpCreate(int type, LWXPanelControl *controls) {
    return host().panels().create(type, controls);
}

void xpDestroy(LWXPanelID id) {
    if (!host().panels().destroy(id)) host().fault("LWXPanel destroy: unknown or destroyed panel");
}

void xpDescribe(LWXPanelID id, LWXPanelDataDesc *data, LWXPanelGetFunc *get, LWXPanelSetFunc *set) {
    if (Panel *panel = panelOrFault(id, "describe"))
        host().panels().describe(*panel, data, get, set);
}

void xpHint(LWXPanelID id, uint32_t control, LWXPanelHint *hints) {
    if (Panel *panel = panelOrFault(id, "hint")) host().panels().hint(*panel, control, hints);
}

void xpFormSet(LWXPanelID id, uint32_t control, void *value) {
    if (Panel *panel = panelOrFault(id, "formSet")) host().panels().formSet(*panel, control, value);
}

void *xpFormGet(LWXPanelID id, uint32_t control) {
    Panel *panel = panelOrFault(id, "formGet");
    return panel ? host().panels().formGet(*panel, control) : nullptr;
}

int xpPost(LWXPanelID id) {
    Panel *panel = panelOrFault(id, "post");
    return panel ? host().panels().post(*panel) : 0;
}

const LWXPanelFuncs kXPanel = {1,
                               guarded<xpCreate>,
                               guarded<xpDestroy>,
                               guarded<xpDescribe>,
                               guarded<xpHint>,
                               guarded<xpFormSet>,
                               guarded<xpFormGet>,
                               guarded<xpPost>};

// ---- LWM: State Query 3 ----

const char *stateObject() {
    return host().scene().objectName().c_str();
}

const LWStateQueryFuncs kStateQuery = {guarded<stateObject>};

// ---- Surface Functions 4 ----

LWSurfaceID *surfByObject(const char *object) {
    Scene &scene = host().scene();
    if (!object || scene.objectName() != object) return nullptr;
    return reinterpret_cast<LWSurfaceID *>(scene.surfaceArray());
}

const char *surfName(LWSurfaceID id) {
    Scene &scene = host().scene();
    if (!scene.ownsSurface(id)) {
        host().fault("Surface Functions name: unknown surface");
        return nullptr;
    }
    return scene.surfaceName(*reinterpret_cast<Surface *>(id)).c_str();
}

int surfSetChannelTexture(LWSurfaceID id, const char *channel, LWTextureID texture) {
    Scene &scene = host().scene();
    if (!scene.ownsSurface(id) || !scene.ownsTexture(texture) || !channel || !*channel) {
        host().fault("Surface Functions setChannelTexture: unknown surface, texture or channel");
        return 0;
    }
    reinterpret_cast<Surface *>(id)->channels[channel] = reinterpret_cast<const Texture *>(texture);
    host().recordSceneCall("setChannelTexture " +
                           scene.surfaceName(*reinterpret_cast<Surface *>(id)) + " " + channel +
                           " " + reinterpret_cast<Texture *>(texture)->name);
    return 1;
}

const LWSurfaceFuncs kSurfaces = {guarded<surfByObject>, guarded<surfName>,
                                  guarded<surfSetChannelTexture>};

// ---- Texture Functions 3 ----

LWTxtrContextID txContextCreate(LWTxtrParamFuncs) {
    host().recordSceneCall("contextCreate");
    return static_cast<LWTxtrContextID>(host().scene().createContext());
}

void txContextDestroy(LWTxtrContextID context) {
    if (!host().scene().destroyContext(context)) {
        host().fault("Texture Functions contextDestroy: unknown or destroyed context");
    }
    host().recordSceneCall("contextDestroy");
}

LWTextureID txCreate(int returnType, const char *name, LWTxtrContextID context, void *) {
    Scene &scene = host().scene();
    if (!scene.ownsContext(context) || !name) {
        host().fault("Texture Functions create: unknown context or no name");
        return nullptr;
    }
    host().recordSceneCall("create " + std::to_string(returnType) + " " + name);
    return reinterpret_cast<LWTextureID>(&scene.createTexture(returnType, name));
}

LWTLayerID txLayerAdd(LWTextureID texture, int type) {
    Scene &scene = host().scene();
    if (!scene.ownsTexture(texture)) {
        host().fault("Texture Functions layerAdd: unknown texture");
        return nullptr;
    }
    host().recordSceneCall("layerAdd " + reinterpret_cast<Texture *>(texture)->name + " " +
                           std::to_string(type));
    return reinterpret_cast<LWTLayerID>(
        &scene.addTextureLayer(*reinterpret_cast<Texture *>(texture), type));
}

int txSetParam(LWTLayerID id, unsigned int tag, void *data) {
    Scene &scene = host().scene();
    if (!scene.ownsTextureLayer(id) || !data) {
        host().fault("Texture Functions setParam: unknown layer or no value");
        return 0;
    }
    auto &layer = *reinterpret_cast<TextureLayer *>(id);
    switch (tag) {
        case TXTAG_IMAGE: {
            void *image;
            std::memcpy(&image, data, sizeof image);
            if (!scene.ownsImage(image)) {
                host().fault("Texture Functions setParam: unknown image");
                return 0;
            }
            layer.image = static_cast<const Image *>(image);
            host().recordSceneCall("setParam image " + layer.image->path);
            return 1;
        }
        case TXTAG_PROJ: {
            int projection;
            std::memcpy(&projection, data, sizeof projection);
            layer.projection = projection;
            host().recordSceneCall("setParam projection " + std::to_string(projection));
            return 1;
        }
        case TXTAG_VMAP: {
            void *map;
            std::memcpy(&map, data, sizeof map);
            if (!scene.layer().ownsVertexMap(map)) {
                host().fault("Texture Functions setParam: unknown vertex map");
                return 0;
            }
            layer.uvMap = static_cast<const VertexMap *>(map);
            host().recordSceneCall("setParam vmap " + layer.uvMap->name());
            return 1;
        }
        default:
            return 0;
    }
}

const LWTextureFuncs kTextures = {guarded<txContextCreate>, guarded<txContextDestroy>,
                                  guarded<txCreate>, guarded<txLayerAdd>, guarded<txSetParam>};

// ---- LW Image List 6 ----

const Image *imageAt(std::size_t index) {
    const auto &images = host().scene().images();
    return index < images.size() ? images[index].get() : nullptr;
}

LWImageID imgFirst() {
    return reinterpret_cast<LWImageID>(const_cast<Image *>(imageAt(0)));
}

LWImageID imgNext(LWImageID id) {
    const std::size_t index = host().scene().imageIndex(id);
    if (index == host().scene().images().size()) {
        host().fault("LW Image List next: unknown image");
        return nullptr;
    }
    return reinterpret_cast<LWImageID>(const_cast<Image *>(imageAt(index + 1)));
}

const char *imgFilename(LWImageID id, int) {
    if (!host().scene().ownsImage(id)) {
        host().fault("LW Image List filename: unknown image");
        return nullptr;
    }
    return reinterpret_cast<const Image *>(id)->path.c_str();
}

LWImageID imgLoad(const char *path) {
    if (!path) return nullptr;
    host().recordSceneCall(std::string("load ") + path);
    std::string why;
    const Image *image = host().scene().loadImage(path, why);
    if (!image) {
        const std::string &hint = host().unloadedImageHint();
        host().warn(std::string(path) + ": " + why + (hint.empty() ? "" : "; " + hint));
    }
    return reinterpret_cast<LWImageID>(const_cast<Image *>(image));
}

const LWImageList kImages = {guarded<imgFirst>, guarded<imgNext>, guarded<imgFilename>,
                             guarded<imgLoad>};

// Services a tool may ask for but never calls: any non-null table does.
struct OpaqueService {
    const char *name;
};
const OpaqueService kSceneObjects{"Scene Objects 6"}, kSurfaceEditor{"SurfaceEditor Functions"},
    kMessages{"Info Messages 2"};

// The contract's pointers are writable; the tables are not.
void *handOut(const void *table) {
    return const_cast<void *>(table);
}

}  // namespace

void *serviceTable(std::string_view name) {
    if (name == LWXPANELFUNCS_GLOBAL) return handOut(&kXPanel);
    if (name == LWSTATEQUERYFUNCS_GLOBAL) return handOut(&kStateQuery);
    if (name == LWSURFACEFUNCS_GLOBAL) return handOut(&kSurfaces);
    if (name == LWTEXTUREFUNCS_GLOBAL) return handOut(&kTextures);
    if (name == LWIMAGELIST_GLOBAL) return handOut(&kImages);
    if (name == LWOBJECTFUNCS_GLOBAL) return handOut(&kSceneObjects);
    if (name == LWSURFEDFUNCS_GLOBAL) return handOut(&kSurfaceEditor);
    if (name == LWMESSAGEFUNCS_GLOBAL) return handOut(&kMessages);
    return nullptr;
}

}  // namespace modeler
