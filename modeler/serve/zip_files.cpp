#include "modeler/serve/zip_files.h"

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace modeler {
namespace {

struct File {
    std::string name;
    const unsigned char *bytes;
    std::size_t size;
};

// The archive in memory: libzip writes it into a buffer source kept open
// past the archive's close, then read whole.
std::variant<std::string, std::string> zipInMemory(std::vector<File> files) {
    std::sort(files.begin(), files.end(),
              [](const File &a, const File &b) { return a.name < b.name; });
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (!buffer)
        return std::variant<std::string, std::string>(std::in_place_index<1>,
                                                      "cannot make the archive");
    zip_t *zip = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    zip_error_fini(&error);
    if (!zip) {
        zip_source_free(buffer);
        return std::variant<std::string, std::string>(std::in_place_index<1>,
                                                      "cannot make the archive");
    }
    zip_source_keep(buffer);
    for (const File &file : files) {
        zip_source_t *source = zip_source_buffer(zip, file.bytes, file.size, 0);
        if (!source || zip_file_add(zip, file.name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
            if (source) zip_source_free(source);
            zip_discard(zip);
            zip_source_free(buffer);
            return std::variant<std::string, std::string>(
                std::in_place_index<1>, "cannot add " + file.name + " to the archive");
        }
    }
    std::string bytes;
    bool written = zip_close(zip) == 0;
    if (!written) zip_discard(zip);
    if (written && zip_source_open(buffer) == 0) {
        zip_source_seek(buffer, 0, SEEK_END);
        const zip_int64_t size = zip_source_tell(buffer);
        zip_source_seek(buffer, 0, SEEK_SET);
        bytes.resize(size > 0 ? std::size_t(size) : 0);
        written = size >= 0 && zip_source_read(buffer, bytes.data(), bytes.size()) == size;
        zip_source_close(buffer);
    } else {
        written = false;
    }
    zip_source_free(buffer);
    if (!written)
        return std::variant<std::string, std::string>(std::in_place_index<1>,
                                                      "cannot write the archive");
    return std::variant<std::string, std::string>(std::in_place_index<0>, std::move(bytes));
}

}  // namespace

std::variant<HttpDownload, std::string> downloadOf(const VarlobooksFiles *files,
                                                   const std::string &name) {
    std::vector<File> list;
    for (std::size_t i = 0; i < varlobooks_files_count(files); ++i) {
        const char *fileName = nullptr;
        const unsigned char *bytes = nullptr;
        std::size_t size = 0;
        if (varlobooks_files_get(files, i, &fileName, &bytes, &size) != VARLOBOOKS_OK)
            return std::string("cannot read the export");
        list.push_back({fileName, bytes, size});
    }
    static const std::map<std::string, std::string> kTypes = {
        {".json", "application/json"},
        {".glb", "model/gltf-binary"},
    };
    const std::size_t dot = name.rfind('.');
    const auto type = kTypes.find(dot == std::string::npos ? "" : name.substr(dot));
    if (list.size() == 1 && type != kTypes.end()) {
        const File &file = list.front();
        return HttpDownload{file.name, type->second,
                            std::string(reinterpret_cast<const char *>(file.bytes), file.size)};
    }
    auto zipped = zipInMemory(std::move(list));
    if (zipped.index() == 1) return std::get<1>(zipped);
    return HttpDownload{name + ".zip", "application/zip", std::move(std::get<0>(zipped))};
}

}  // namespace modeler
