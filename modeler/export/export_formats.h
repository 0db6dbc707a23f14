// Writing the scene to a file in the format its name or --format asks for.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "modeler/export/asset_model.h"
#include "modeler/export/atomic_file.h"
#include "modeler/model/scene.h"

namespace modeler {

enum class ExportFormat { Json, Obj, Gltf, Glb };

struct ExportOptions {
    // OBJ and glTF: one mesh for the whole object instead of one per shell.
    bool merge = false;
    ExportLook look;
};

// The format named ("json", "obj", "gltf", "glb") or implied by path's
// extension; nullopt when neither says.
[[nodiscard]] std::optional<ExportFormat> exportFormatFor(const std::string &path,
                                                          const std::string &formatName = "");
std::vector<std::string> exportFormatNames();

// What the outputs of one run are written from, each made once and only
// when an output needs it: the layer's shells, and an asset model for each
// object name (the scene's object, else an output file's stem).
class SceneExports {
  public:
    SceneExports(const Scene &scene, const ExportOptions &options)
        : scene_(scene), options_(options) {}
    const Scene &scene() const { return scene_; }
    const ExportOptions &options() const { return options_; }
    const Shells &shells();
    // The model for the output at path.
    const AssetModel &assetFor(const std::string &path);

  private:
    const Scene &scene_;
    ExportOptions options_;
    std::optional<Shells> shells_;
    std::map<std::string, AssetModel> assets_;
};

// Stages the scene as path (and its companion files) in files; they replace
// their targets when files is committed. An error text on failure.
[[nodiscard]] std::optional<std::string> exportScene(SceneExports &exports, const std::string &path,
                                                     ExportFormat format, StagedFiles &files);
// The same for one output.
[[nodiscard]] std::optional<std::string> exportScene(const Scene &scene, const std::string &path,
                                                     ExportFormat format, StagedFiles &files,
                                                     const ExportOptions &options = {});

// exportScene and commit at once: every file of the export or none.
[[nodiscard]] std::optional<std::string> writeExport(const Scene &scene, const std::string &path,
                                                     ExportFormat format,
                                                     const ExportOptions &options = {});

}  // namespace modeler
