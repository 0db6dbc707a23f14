// How the exports name and show what a plug-in made. The program fills it
// from its plug-in profile; the exporters know no plug-in of their own, and
// the defaults here are neutral.
#pragma once

#include <array>
#include <string>

namespace modeler {

struct ExportLook {
    // Names the writer in each file's header ("# NAME: ..." in OBJ and MTL,
    // "NAME modeler VERSION" as the glTF's generator).
    std::string generator = "modeler";
    // A surface every shell shares, kept out of the shells' names and given
    // a material and colour of its own (a book's pages); empty for none.
    std::string sharedSurface;
    std::array<double, 3> sharedColour{0.8, 0.8, 0.8};
    // The one material of every surface without an image.
    std::string plainMaterial = "plain";
    std::array<double, 3> plainColour{0.5, 0.5, 0.5};
    // Beside an OBJ, the folder STEM + this holds its images.
    std::string imagesFolderSuffix = "_images";
};

}  // namespace modeler
