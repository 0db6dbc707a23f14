#include "modeler/obj_export.h"

#include <charconv>
#include <cstring>
#include <filesystem>
#include <map>

#include "modeler/atomic_file.h"
#include "modeler/export_mesh.h"

namespace modeler {
namespace {

namespace fs = std::filesystem;

template <typename Number>
void appendNumber(std::string &out, Number value) {
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, end);
}

// Material names are single words in OBJ and MTL.
std::string materialName(const std::string &surface) {
    std::string name = surface;
    for (char &c : name) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') c = '_';
    }
    return name;
}

std::string imagePathFromMtl(const std::string &image, const fs::path &mtlFolder) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(image, ec);
    if (ec) return image;
    const fs::path relative = fs::relative(absolute, fs::absolute(mtlFolder, ec), ec);
    return ec || relative.empty() ? absolute.string() : relative.generic_string();
}

}  // namespace

std::optional<std::string> writeObj(Scene &scene, const std::string &path) {
    const Layer &layer = scene.layer();
    const fs::path objPath(path);
    fs::path mtlPath = objPath;
    mtlPath.replace_extension(".mtl");

    std::string obj =
        "# varlobooks: right-handed (the modeller's z negated), faces wound counter-clockwise\n";
    obj +=
        "mtllib " + mtlPath.filename().string() + "\no " + materialName(scene.objectName()) + "\n";
    obj.reserve(layer.points().size() * 40 + layer.corners().size() * 24);
    for (const Point &p : layer.points()) {
        const auto q = toRightHanded(p);
        obj += "v ";
        appendNumber(obj, q[0]);
        obj += ' ';
        appendNumber(obj, q[1]);
        obj += ' ';
        appendNumber(obj, q[2]);
        obj += '\n';
    }
    // UV values are shared between faces where they are bit-identical.
    std::map<std::pair<uint32_t, uint32_t>, std::size_t> uvIndex;
    std::string faces;
    std::vector<bool> usedSurface(layer.surfaceNames().size(), false);
    long currentSurface = -1;
    forEachExportPolygon(layer, [&](const ExportPolygon &polygon) {
        if (polygon.surface != currentSurface) {
            currentSurface = polygon.surface;
            faces += "usemtl " + materialName(layer.surfaceNames()[polygon.surface]) + "\n";
        }
        usedSurface[polygon.surface] = true;
        const bool line = polygon.corners.size() < 3;
        faces += line ? "l" : "f";
        for (const ExportCorner &corner : polygon.corners) {
            faces += ' ';
            appendNumber(faces, corner.point + 1);
            if (line || !corner.hasUV) continue;
            uint32_t u, v;
            std::memcpy(&u, &corner.u, 4);
            std::memcpy(&v, &corner.v, 4);
            auto [it, added] = uvIndex.try_emplace({u, v}, uvIndex.size() + 1);
            if (added) {
                obj += "vt ";
                appendNumber(obj, corner.u);
                obj += ' ';
                appendNumber(obj, corner.v);
                obj += '\n';
            }
            faces += '/';
            appendNumber(faces, it->second);
        }
        faces += '\n';
    });
    obj += faces;

    std::string mtl = "# varlobooks: one material per surface\n";
    const auto &surfaces = scene.surfaces();
    for (uint32_t s = 0; s < surfaces.size(); ++s) {
        if (!usedSurface[s]) continue;
        mtl += "\nnewmtl " + materialName(layer.surfaceNames()[s]) + "\n";
        if (const Image *image = baseColorImage(*surfaces[s])) {
            mtl +=
                "Kd 1 1 1\nmap_Kd " + imagePathFromMtl(image->path, mtlPath.parent_path()) + "\n";
        } else {
            mtl += "Kd 0.8 0.78 0.72\n";
        }
    }

    AtomicFile mtlFile(mtlPath.string());
    AtomicFile objFile(path);
    if (mtlFile.error()) return mtlFile.error();
    if (objFile.error()) return objFile.error();
    mtlFile.write(mtl);
    objFile.write(obj);
    if (auto error = mtlFile.commit()) return error;
    return objFile.commit();
}

}  // namespace modeler
