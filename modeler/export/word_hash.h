// A hash of a few 32-bit words (FNV-1a), for keys made of float bits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace modeler {

template <std::size_t N>
struct WordHash {
    std::size_t operator()(const std::array<uint32_t, N> &words) const {
        uint64_t h = 1469598103934665603ull;
        for (uint32_t w : words)
            h = (h ^ w) * 1099511628211ull;
        return static_cast<std::size_t>(h);
    }
};

}  // namespace modeler
