#include "modeler/exporters.h"

#include <algorithm>
#include <filesystem>

#include "modeler/json_export.h"

namespace modeler {

std::vector<std::string> exportFormatNames() {
    return {"json"};
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
    return std::nullopt;
}

std::optional<std::string> exportScene(Scene &scene, const std::string &path, ExportFormat format) {
    switch (format) {
        case ExportFormat::Json:
            return writeJson(scene, path);
        default:
            return path + ": this format is not available";
    }
}

}  // namespace modeler
