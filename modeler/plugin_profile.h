// All that the host knows of the plug-in it was made to run: which server
// to drive, where its module lies, and how to show what the tool makes.
// Everything else the host learns from the module itself.
#pragma once

#include <array>

namespace modeler::profile {

inline constexpr const char *kServerClass = "MeshEditTool";
inline constexpr const char *kServerName = "varlobooks";
// The module beside the program, or in ../lib/varlobooks/ once installed.
inline constexpr const char *kModuleName = "varlobooks";  // and the system's suffix
inline constexpr const char *kInstalledModuleFolder = "lib/varlobooks";
// Where the installed program finds its data (the served page's files).
inline constexpr const char *kInstalledDataFolder = "share/varlobooks";
// The object a served page edits, and the name of its downloads.
inline constexpr const char *kDefaultObjectName = "bookshelf";

// What the tool's closed shells are called in summaries and reports, and
// what the tool is called in the command's help.
inline constexpr const char *kShellNoun = "books";
inline constexpr const char *kShellNounSingular = "book";
inline constexpr const char *kTexturedShellsNoun = "textured covers";
// What a shell's image goes to, for the warning when none did.
inline constexpr const char *kImageTarget = "a cover";
// Names the writer in the exports' headers.
inline constexpr const char *kGeneratorName = "varlobooks";
// Beside an OBJ, the folder STEM_covers holds its images.
inline constexpr const char *kImagesFolderSuffix = "_covers";
inline constexpr const char *kToolTitle = "the varlobooks book tool";
// Panel edits as fill's help shows them.
inline constexpr const char *kPanelEditExamples =
    "\"Random Front=0.3\", Type=Softcover, Rotation=15 (degrees)";
// Why a tool that made nothing may have done so, for the warning.
inline constexpr const char *kEmptyResultHint =
    "is the box longer than MinSize along the axis, MaxSize above 0, and every value "
    "within single precision?";

// The surface the tool gives every book's pages, and the colour exports
// give it: paper.
inline constexpr const char *kPagesSurface = "bookpages";
inline constexpr std::array<double, 3> kPagesColour = {0.93, 0.90, 0.82};
// What becomes of a shell whose image could not be loaded, for the warning.
inline constexpr const char *kUnloadedImageHint = "books drawn to it keep a plain cover";
// A surface with no image of its own: a plain cover, and the material the
// exports give all of them.
inline constexpr std::array<double, 3> kPlainColour = {0.45, 0.42, 0.40};
inline constexpr const char *kPlainMaterial = "plain cover";

}  // namespace modeler::profile
