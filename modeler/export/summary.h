// One line that says what the scene holds: the tool's shells (books),
// points, polygons and how many shells wear a cover image.
#pragma once

#include <string>

#include "modeler/model/scene.h"

namespace modeler {

struct SceneSummary {
    std::size_t shells = 0;  // closed shells of polygons
    std::size_t points = 0;
    std::size_t polygons = 0;
    std::size_t texturedShells = 0;  // shells with a face whose BaseColor has an image
    std::size_t unloadedImages = 0;  // files asked for as images that were none
};

// shells: the layer's, as findShells gives them.
SceneSummary summarizeScene(const Scene &scene, const Shells &shells);
// What the summary line calls the tool's shells and its textured ones (the
// program's profile says: "books", "textured covers").
struct SummaryWords {
    std::string shells = "shells";
    std::string texturedShells = "textured shells";
};
// The summary as the line the command prints.
std::string summaryLine(const SceneSummary &summary, const SummaryWords &words);

}  // namespace modeler
