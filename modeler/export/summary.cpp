#include "modeler/export/summary.h"

#include "modeler/export/export_mesh.h"

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

std::string summaryLine(const SceneSummary &s, const SummaryWords &words) {
    return std::to_string(s.shells) + " " + words.shells + ", " + std::to_string(s.points) +
           " points, " + std::to_string(s.polygons) + " polygons, " +
           std::to_string(s.texturedShells) + " " + words.texturedShells +
           (s.unloadedImages == 0
                ? ""
                : ", " + std::to_string(s.unloadedImages) +
                      (s.unloadedImages == 1 ? " file" : " files") + " not loaded as images");
}

}  // namespace modeler
