// Draws the sample cover images in examples/covers: plain shapes in the
// layout of the "bookcover" map, so that every part lands where it belongs:
// u 0-0.45 the back cover, 0.45-0.55 the spine, 0.55-1 the front cover;
// v 0 at the bottom (the image's last row) and 1 at the top.
//
// Usage: make_covers FOLDER
#include <stb/stb_image_write.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;

using Colour = std::array<uint8_t, 3>;

struct Canvas {
    std::vector<uint8_t> pixels = std::vector<uint8_t>(kWidth * kHeight * 3);

    // Fills the rectangle of u0..u1 and v0..v1 (v up).
    void fill(double u0, double v0, double u1, double v1, Colour c) {
        const int x0 = int(u0 * kWidth), x1 = int(u1 * kWidth);
        const int y0 = int((1 - v1) * kHeight), y1 = int((1 - v0) * kHeight);
        for (int y = std::max(0, y0); y < std::min(kHeight, y1); ++y) {
            for (int x = std::max(0, x0); x < std::min(kWidth, x1); ++x) {
                std::copy(c.begin(), c.end(), &pixels[(y * kWidth + x) * 3]);
            }
        }
    }
};

Colour shade(Colour c, double f) {
    return {uint8_t(c[0] * f), uint8_t(c[1] * f), uint8_t(c[2] * f)};
}

struct Style {
    Colour cloth;
    Colour accent;
    int bands;   // title bands on the spine
    bool frame;  // a frame on the front cover
};

void drawCover(Canvas &canvas, const Style &s) {
    const Colour dark = shade(s.cloth, 0.6);
    canvas.fill(0, 0, 1, 1, s.cloth);
    // Spine: darker cloth with bands near the top and bottom.
    canvas.fill(0.45, 0, 0.55, 1, dark);
    for (int b = 0; b < s.bands; ++b) {
        const double v = 0.86 - b * 0.05;
        canvas.fill(0.45, v, 0.55, v + 0.02, s.accent);
        canvas.fill(0.45, 0.12 - b * 0.05, 0.55, 0.14 - b * 0.05, s.accent);
    }
    canvas.fill(0.465, 0.35, 0.535, 0.7, shade(s.accent, 0.85));  // the title label
    // Front cover: a title block, and a frame on some.
    if (s.frame) {
        const double m = 0.03;
        canvas.fill(0.55 + m, m, 1 - m, m + 0.015, s.accent);
        canvas.fill(0.55 + m, 1 - m - 0.015, 1 - m, 1 - m, s.accent);
        canvas.fill(0.55 + m, m, 0.55 + m + 0.01, 1 - m, s.accent);
        canvas.fill(1 - m - 0.01, m, 1 - m, 1 - m, s.accent);
    }
    canvas.fill(0.63, 0.62, 0.92, 0.8, s.accent);
    canvas.fill(0.66, 0.66, 0.89, 0.76, shade(s.cloth, 0.8));
    canvas.fill(0.68, 0.3, 0.87, 0.33, shade(s.accent, 0.9));  // the author's line
    // Back cover: a small block where a blurb would be.
    canvas.fill(0.08, 0.4, 0.37, 0.6, shade(s.cloth, 0.85));
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_covers FOLDER\n");
        return 2;
    }
    const Style styles[] = {
        {{128, 28, 32}, {222, 184, 92}, 2, true}, {{24, 52, 102}, {214, 196, 140}, 3, false},
        {{34, 84, 50}, {230, 214, 160}, 1, true}, {{196, 152, 60}, {70, 40, 24}, 2, false},
        {{60, 40, 72}, {200, 170, 210}, 3, true}, {{212, 206, 190}, {150, 40, 30}, 1, false},
        {{30, 30, 34}, {190, 160, 80}, 2, true},  {{40, 110, 118}, {236, 226, 200}, 2, false},
    };
    int index = 0;
    for (const Style &style : styles) {
        Canvas canvas;
        drawCover(canvas, style);
        char name[32];
        std::snprintf(name, sizeof name, "/cover%02d.png", index++);
        const std::string path = std::string(argv[1]) + name;
        if (!stbi_write_png(path.c_str(), kWidth, kHeight, 3, canvas.pixels.data(), kWidth * 3)) {
            std::fprintf(stderr, "make_covers: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
