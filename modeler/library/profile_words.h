// The plug-in profile as the data the host's parts are handed: the
// exports' look, the summary's and the report's words, the image warning's
// hint. Only the program (and the tests) read the profile; the parts know
// no plug-in of their own.
#pragma once

#include "modeler/export/export_look.h"
#include "modeler/export/summary.h"
#include "modeler/plugin_profile.h"

namespace modeler {

inline ExportLook profileLook() {
    ExportLook look;
    look.generator = profile::kGeneratorName;
    look.sharedSurface = profile::kPagesSurface;
    look.sharedColour = profile::kPagesColour;
    look.plainMaterial = profile::kPlainMaterial;
    look.plainColour = profile::kPlainColour;
    look.imagesFolderSuffix = profile::kImagesFolderSuffix;
    return look;
}

inline SummaryWords profileSummaryWords() {
    return {profile::kShellNoun, profile::kTexturedShellsNoun};
}

}  // namespace modeler
