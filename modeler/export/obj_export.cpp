#include "modeler/export/obj_export.h"

#include <cstring>
#include <filesystem>
#include <map>

#include "modeler/export/export_mesh.h"
#include "modeler/export/number_text.h"
#include "modeler/plugin_profile.h"

namespace modeler {
namespace {

namespace fs = std::filesystem;

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

// Readers take map_Kd's file as the rest of its line, spaces and all; a
// name that would end the line or read as an option cannot stand there.
bool fitsMapLine(const std::string &path) {
    return !path.empty() && path.front() != '-' && path.find_first_of("\r\n") == std::string::npos;
}

// The points, right-handed.
void writeVertices(std::string &obj, const Layer &layer) {
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
}

// Every polygon in layer order, its UVs as vt lines shared where they are
// bit-identical. Returns which surfaces the polygons use.
std::vector<bool> writeFaces(std::string &obj, const Layer &layer) {
    std::map<std::pair<uint32_t, uint32_t>, std::size_t> uvIndex;
    std::string faces;
    std::vector<bool> usedSurface(layer.surfaceNames().size(), false);
    int64_t currentSurface = -1;
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
    return usedSurface;
}

void appendColour(std::string &mtl, const std::array<double, 3> &colour) {
    mtl += "Kd";
    for (double c : colour) {
        mtl += ' ';
        appendNumber(mtl, c);
    }
    mtl += '\n';
}

// One material for every surface a polygon uses.
std::string materials(const Scene &scene, const std::vector<bool> &usedSurface,
                      const fs::path &mtlFolder) {
    std::string mtl = "# varlobooks: one material per surface\n";
    const auto &names = scene.layer().surfaceNames();
    const auto &surfaces = scene.surfaces();
    for (uint32_t s = 0; s < surfaces.size(); ++s) {
        if (!usedSurface[s]) continue;
        mtl += "\nnewmtl " + materialName(names[s]) + "\n";
        const Image *image = baseColorImage(*surfaces[s]);
        const std::string map = image ? imagePathFromMtl(image->path, mtlFolder) : "";
        if (image && fitsMapLine(map)) {
            mtl += "Kd 1 1 1\nmap_Kd " + map + "\n";
        } else {
            appendColour(mtl, names[s] == profile::kPagesSurface ? profile::kPagesColour
                                                                 : profile::kPlainColour);
        }
    }
    return mtl;
}

}  // namespace

std::optional<std::string> writeObj(const Scene &scene, const std::string &path,
                                    StagedFiles &files) {
    const Layer &layer = scene.layer();
    fs::path mtlPath(path);
    mtlPath.replace_extension(".mtl");

    std::string obj =
        "# varlobooks: right-handed (the modeller's z negated), faces wound counter-clockwise\n";
    obj +=
        "mtllib " + mtlPath.filename().string() + "\no " + materialName(scene.objectName()) + "\n";
    obj.reserve(layer.points().size() * 40 + layer.corners().size() * 24);
    writeVertices(obj, layer);
    const std::vector<bool> usedSurface = writeFaces(obj, layer);
    if (auto error =
            files.stage(mtlPath.string(), materials(scene, usedSurface, mtlPath.parent_path()))) {
        return error;
    }
    return files.stage(path, obj);
}

}  // namespace modeler
