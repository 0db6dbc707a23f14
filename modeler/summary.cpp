#include "modeler/summary.h"

namespace modeler {

SceneSummary summarizeScene(Scene &scene) {
    SceneSummary summary;
    const Layer &layer = scene.layer();
    summary.books = countShells(layer);
    summary.points = layer.points().size();
    summary.polygons = layer.polygons().size();
    for (const auto &surface : scene.surfaces()) {
        auto it = surface->channels.find("BaseColor");
        if (it == surface->channels.end()) continue;
        for (const auto &textureLayer : it->second->layers) {
            if (textureLayer->image) {
                ++summary.texturedSurfaces;
                break;
            }
        }
    }
    return summary;
}

std::string summarize(Scene &scene) {
    const SceneSummary s = summarizeScene(scene);
    return std::to_string(s.books) + " books, " + std::to_string(s.points) + " points, " +
           std::to_string(s.polygons) + " polygons, " + std::to_string(s.texturedSurfaces) +
           " textured covers";
}

}  // namespace modeler
