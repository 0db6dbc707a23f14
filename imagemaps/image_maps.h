// The step that runs when the tool is left: ask for an image folder and give
// every cover surface of the last build a random image from it.
#pragma once

#include <string>
#include <vector>

#include "host/services.h"

namespace varlobooks {

struct BookTool;

inline constexpr uint32_t kImageFolderId = 0x8001;

// Offers the folder request and applies the image maps when it is confirmed.
// Does nothing without the panel service or when a service the step needs
// was not obtained. Continues tool.random from the last build. Throws
// nothing: a failed allocation ends the step early.
void offerImageMaps(BookTool &tool) noexcept;

// The names of every entry of folder that is not a folder, in listing order;
// empty when the folder cannot be listed.
std::vector<std::string> listImageFolder(const char *folder);

// The image of the host's list loaded from exactly path, else a new load of
// it; null when the file is not an image.
LWImageID findOrLoadImage(const LWImageList &images, const char *path);

}  // namespace varlobooks
