// What the Windows directory streams make of one found entry: its 8-bit
// name and type. Apart from the streams so that the naming rules can be
// checked with entries no file system of the test machine would give.
#pragma once

#include <windows.h>

#include "imagemaps/directory_stream.h"

namespace varlobooks {

// The entry's long name in 8-bit text, else its short name, else "?" with
// type 0; the type from the attributes.
void entryFromFound(const WIN32_FIND_DATAW &found, DirectoryEntry &entry);

}  // namespace varlobooks
