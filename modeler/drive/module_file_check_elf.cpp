// The check of a module on ELF systems: a 64-bit shared object whose
// program headers and loadable segments lie within the file.
#include "modeler/drive/module_file_check.h"

#include <elf.h>

#include <cstring>

namespace modeler {
namespace {

// Whether [offset, offset + size) lies within a file of length bytes.
bool within(uint64_t offset, uint64_t size, std::size_t length) {
    return offset <= length && size <= length - offset;
}

}  // namespace

std::optional<std::string> checkModuleImage(std::span<const unsigned char> bytes) {
    Elf64_Ehdr header;
    if (bytes.size() < sizeof header || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0)
        return "not an ELF file";
    std::memcpy(&header, bytes.data(), sizeof header);
    if (header.e_ident[EI_CLASS] != ELFCLASS64) return "not a 64-bit ELF file";
    if (header.e_type != ET_DYN) return "not a shared object";
    if (header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phnum == 0 ||
        !within(header.e_phoff, uint64_t(header.e_phnum) * sizeof(Elf64_Phdr), bytes.size())) {
        return "its program headers are cut short or damaged";
    }
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr segment;
        std::memcpy(&segment, bytes.data() + header.e_phoff + i * sizeof segment, sizeof segment);
        const bool mapped = segment.p_type == PT_LOAD || segment.p_type == PT_DYNAMIC;
        if (mapped && !within(segment.p_offset, segment.p_filesz, bytes.size()))
            return "the file is cut short: a segment runs past its end";
    }
    return std::nullopt;
}

}  // namespace modeler
