// The check of a Windows module: a 64-bit x86 DLL in the PE format whose
// headers and sections lie within the file.
#include <cstring>

#include "modeler/drive/module_file_check.h"

namespace modeler {
namespace {

constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kCharacteristicDll = 0x2000;
constexpr uint16_t kOptionalMagicPe32Plus = 0x20b;
constexpr std::size_t kCoffHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;

uint16_t read16(std::span<const unsigned char> bytes, std::size_t at) {
    return uint16_t(bytes[at] | bytes[at + 1] << 8);
}

uint32_t read32(std::span<const unsigned char> bytes, std::size_t at) {
    return uint32_t(read16(bytes, at)) | uint32_t(read16(bytes, at + 2)) << 16;
}

// Whether [offset, offset + size) lies within a file of length bytes.
bool within(uint64_t offset, uint64_t size, std::size_t length) {
    return offset <= length && size <= length - offset;
}

}  // namespace

std::optional<std::string> checkModuleImage(std::span<const unsigned char> bytes) {
    if (bytes.size() < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return "not a PE file";
    const uint32_t pe = read32(bytes, 0x3c);
    if (!within(pe, 4 + kCoffHeaderSize, bytes.size()) ||
        std::memcmp(bytes.data() + pe, "PE\0\0", 4) != 0) {
        return "not a PE file";
    }
    const std::size_t coff = pe + 4;
    if (read16(bytes, coff) != kMachineAmd64) return "not a 64-bit x86 module";
    if (!(read16(bytes, coff + 18) & kCharacteristicDll)) return "not a DLL";
    const std::size_t sections = read16(bytes, coff + 2);
    const std::size_t optionalSize = read16(bytes, coff + 16);
    const std::size_t optional = coff + kCoffHeaderSize;
    if (optionalSize < 2 || !within(optional, optionalSize, bytes.size()) ||
        read16(bytes, optional) != kOptionalMagicPe32Plus) {
        return "its optional header is cut short or not a 64-bit one";
    }
    const std::size_t table = optional + optionalSize;
    if (!within(table, sections * kSectionHeaderSize, bytes.size()))
        return "its section headers are cut short or damaged";
    for (std::size_t i = 0; i < sections; ++i) {
        const std::size_t header = table + i * kSectionHeaderSize;
        const uint32_t rawSize = read32(bytes, header + 16);
        const uint32_t rawOffset = read32(bytes, header + 20);
        if (rawSize && !within(rawOffset, rawSize, bytes.size()))
            return "the file is cut short: a section runs past its end";
    }
    return std::nullopt;
}

}  // namespace modeler
