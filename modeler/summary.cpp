#include "modeler/summary.h"

#include "modeler/export_mesh.h"

namespace modeler {

SceneSummary summarizeScene(Scene &scene) {
    SceneSummary summary;
    const Layer &layer = scene.layer();
    const Shells shells = findShells(layer);
    summary.books = shells.count;
    summary.points = layer.points().size();
    summary.polygons = layer.polygons().size();
    std::vector<bool> textured(summary.books, false);
    const auto &surfaces = scene.surfaces();
    for (std::size_t p = 0; p < shells.ofPolygon.size(); ++p) {
        if (baseColorImage(*surfaces[layer.polygons()[p].surface]))
            textured[shells.ofPolygon[p]] = true;
    }
    for (bool t : textured)
        summary.texturedBooks += t;
    return summary;
}

std::string summarize(Scene &scene) {
    const SceneSummary s = summarizeScene(scene);
    return std::to_string(s.books) + " books, " + std::to_string(s.points) + " points, " +
           std::to_string(s.polygons) + " polygons, " + std::to_string(s.texturedBooks) +
           " textured covers";
}

}  // namespace modeler
