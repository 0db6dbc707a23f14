#include "modeler/export/export_formats.h"

#include <algorithm>
#include <filesystem>

#include "modeler/export/asset_model.h"
#include "modeler/export/gltf_export.h"
#include "modeler/export/json_export.h"
#include "modeler/export/obj_export.h"

namespace modeler {

std::vector<std::string> exportFormatNames() {
    return {"json", "obj", "gltf", "glb"};
}

std::optional<ExportFormat> exportFormatFor(const std::string &path,
                                            const std::string &formatName) {
    std::string name = formatName;
    if (name.empty()) {
        name = std::filesystem::path(path).extension().string();
        if (!name.empty()) name.erase(0, 1);
    }
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (name == "json") return ExportFormat::Json;
    if (name == "obj") return ExportFormat::Obj;
    if (name == "gltf") return ExportFormat::Gltf;
    if (name == "glb") return ExportFormat::Glb;
    return std::nullopt;
}

std::optional<std::string> exportScene(const Scene &scene, const std::string &path,
                                       ExportFormat format, StagedFiles &files,
                                       const ExportOptions &options) {
    if (format == ExportFormat::Json) return writeJson(scene, path, files);
    // The object's name, else the file's.
    const std::string name =
        scene.hasObjectName() ? scene.objectName() : std::filesystem::path(path).stem().string();
    const AssetModel asset = buildAssetModel(scene, {options.merge, name});
    switch (format) {
        case ExportFormat::Obj:
            return writeObj(asset, path, files);
        case ExportFormat::Gltf:
            return writeGltf(asset, path, false, options.merge, files);
        case ExportFormat::Glb:
            return writeGltf(asset, path, true, options.merge, files);
        case ExportFormat::Json:
            break;
    }
    return path + ": unknown format";
}

std::optional<std::string> writeExport(const Scene &scene, const std::string &path,
                                       ExportFormat format, const ExportOptions &options) {
    StagedFiles files;
    if (auto error = exportScene(scene, path, format, files, options)) return error;
    return files.commit();
}

}  // namespace modeler
