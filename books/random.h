// The books' random generator: a 32-bit linear congruential generator with a
// 15-bit output. Seeded once per build; leaving the tool continues it.
#pragma once

#include <cstdint>

namespace varlobooks {

struct BookRandom {
    static constexpr int kMax = 32767;

    uint32_t state;

    void seed(uint32_t value) { state = value; }
    int draw() {
        state = state * 214013u + 2531011u;
        return static_cast<int>((state >> 16) & 0x7FFFu);
    }
    // A draw as a fraction from 0 to 1, both included.
    double drawUnit() { return toUnit(draw()); }
    static double toUnit(int draw) { return draw / static_cast<double>(kMax); }
};

}  // namespace varlobooks
