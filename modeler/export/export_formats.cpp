#include "modeler/export/export_formats.h"

#include <algorithm>
#include <filesystem>

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

const Shells &SceneExports::shells() {
    if (!shells_) shells_ = findShells(scene_.layer());
    return *shells_;
}

const AssetModel &SceneExports::assetFor(const std::string &path) {
    // The object's name, else the file's.
    const std::string name =
        scene_.hasObjectName() ? scene_.objectName() : std::filesystem::path(path).stem().string();
    auto it = assets_.find(name);
    if (it == assets_.end())
        it = assets_
                 .emplace(name,
                          buildAssetModel(scene_, shells(), {options_.merge, name, options_.look}))
                 .first;
    return it->second;
}

std::optional<std::string> exportScene(SceneExports &exports, const std::string &path,
                                       ExportFormat format, StagedFiles &files) {
    const bool merge = exports.options().merge;
    switch (format) {
        case ExportFormat::Json:
            return writeJson(exports.scene(), path, files);
        case ExportFormat::Obj:
            return writeObj(exports.assetFor(path), path, files);
        case ExportFormat::Gltf:
            return writeGltf(exports.assetFor(path), path, false, merge, files);
        case ExportFormat::Glb:
            return writeGltf(exports.assetFor(path), path, true, merge, files);
    }
    return path + ": unknown format";
}

std::optional<std::string> exportScene(const Scene &scene, const std::string &path,
                                       ExportFormat format, StagedFiles &files,
                                       const ExportOptions &options) {
    SceneExports exports(scene, options);
    return exportScene(exports, path, format, files);
}

std::optional<std::string> writeExport(const Scene &scene, const std::string &path,
                                       ExportFormat format, const ExportOptions &options) {
    StagedFiles files;
    if (auto error = exportScene(scene, path, format, files, options)) return error;
    return files.commit();
}

}  // namespace modeler
