#include "modeler/export/summary.h"

#include "modeler/export/export_mesh.h"
#include "modeler/plugin_profile.h"

namespace modeler {

SceneSummary summarizeScene(const Scene &scene, const Shells &shells) {
    SceneSummary summary;
    const Layer &layer = scene.layer();
    summary.shells = shells.count;
    summary.points = layer.points().size();
    summary.polygons = layer.polygons().size();
    std::vector<bool> textured(summary.shells, false);
    const auto &surfaces = scene.surfaces();
    for (std::size_t p = 0; p < shells.ofPolygon.size(); ++p) {
        if (baseColorImage(*surfaces[layer.polygons()[p].surface]))
            textured[shells.ofPolygon[p]] = true;
    }
    for (bool t : textured)
        summary.texturedShells += t;
    summary.unloadedImages = scene.unloadedImages().size();
    return summary;
}

std::string summaryLine(const SceneSummary &s) {
    return std::to_string(s.shells) + " " + profile::kShellNoun + ", " + std::to_string(s.points) +
           " points, " + std::to_string(s.polygons) + " polygons, " +
           std::to_string(s.texturedShells) + " textured covers" +
           (s.unloadedImages == 0
                ? ""
                : ", " + std::to_string(s.unloadedImages) +
                      (s.unloadedImages == 1 ? " file" : " files") + " not loaded as images");
}

}  // namespace modeler
