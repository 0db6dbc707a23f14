#include "modeler/model/utf8.h"

namespace modeler {

std::size_t findInvalidUtf8(std::string_view text) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = byte(i);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // The length of the sequence and the range its second byte must lie
        // in, which rules out overlong forms, surrogates and values past
        // U+10FFFF.
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return i;
        }
        if (i + length > text.size()) return i;
        if (byte(i + 1) < low || byte(i + 1) > high) return i;
        for (std::size_t k = 2; k < length; ++k) {
            if ((byte(i + k) & 0xC0) != 0x80) return i;
        }
        i += length;
    }
    return std::string_view::npos;
}

std::string readableUtf8(std::string_view text) {
    std::string readable;
    readable.reserve(text.size());
    while (!text.empty()) {
        const std::size_t bad = findInvalidUtf8(text);
        if (bad == std::string_view::npos) {
            readable.append(text);
            break;
        }
        readable.append(text.substr(0, bad)).append("\xEF\xBF\xBD");
        text.remove_prefix(bad + 1);
    }
    return readable;
}

}  // namespace modeler
