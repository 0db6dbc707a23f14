// One line that says what the scene holds: books, points, polygons and how
// many books wear a cover image.
#pragma once

#include <string>

#include "modeler/scene.h"

namespace modeler {

struct SceneSummary {
    std::size_t books = 0;  // closed shells of polygons
    std::size_t points = 0;
    std::size_t polygons = 0;
    std::size_t texturedBooks = 0;  // shells with a face whose BaseColor has an image
};

SceneSummary summarizeScene(Scene &scene);
std::string summarize(Scene &scene);

}  // namespace modeler
