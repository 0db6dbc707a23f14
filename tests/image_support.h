// Small images made by the tests themselves.
#pragma once

#include <stb/stb_image_write.h>

#include <string>
#include <vector>

namespace testing_support {

// A w x h PNG of one colour.
inline bool writePng(const std::string &path, int w, int h, unsigned char r, unsigned char g,
                     unsigned char b) {
    std::vector<unsigned char> pixels(std::size_t(w) * h * 3);
    for (std::size_t i = 0; i < pixels.size(); i += 3) {
        pixels[i] = r;
        pixels[i + 1] = g;
        pixels[i + 2] = b;
    }
    return stbi_write_png(path.c_str(), w, h, 3, pixels.data(), w * 3) != 0;
}

}  // namespace testing_support
