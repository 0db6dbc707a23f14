#include "modeler/page/image_folders.h"

#include <algorithm>

#include "modeler/model/utf8.h"

namespace modeler {
namespace fs = std::filesystem;

namespace {

constexpr int kFolderDepth = 3;
constexpr std::size_t kMostFolders = 500;

bool writableInSession(const std::string &name) {
    return name.find_first_of("\"\n\r") == std::string::npos &&
           findInvalidUtf8(name) == std::string::npos;  // a session is UTF-8
}

void collect(const fs::path &root, const fs::path &folder, const std::string &prefix, int depth,
             std::vector<std::string> &out) {
    std::error_code ec;
    std::vector<std::string> names;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_symlink(ec)) continue;  // a link could lead out of the root
        if (!it->is_directory(ec)) continue;
        const std::string name = it->path().filename().string();
        if (writableInSession(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        if (out.size() >= kMostFolders) return;
        out.push_back(prefix + name);
        if (depth > 1) collect(root, folder / name, prefix + name + "/", depth - 1, out);
    }
}

}  // namespace

ImageRoot::ImageRoot(const fs::path &root) {
    std::error_code ec;
    root_ = fs::canonical(fs::absolute(root, ec), ec);
    if (ec) root_.clear();
}

std::vector<std::string> ImageRoot::folders() const {
    std::vector<std::string> out;
    if (root_.empty()) return out;
    if (writableInSession(root_.string())) out.push_back(".");
    collect(root_, root_, "", kFolderDepth, out);
    if (!writableInSession(root_.string())) out.clear();  // none can be written down
    return out;
}

std::optional<fs::path> ImageRoot::folder(const std::string &relative) const {
    const std::vector<std::string> offered = folders();
    if (std::find(offered.begin(), offered.end(), relative) == offered.end()) return std::nullopt;
    if (relative == ".") return root_;
    return root_ / fs::path(relative);
}

std::optional<std::vector<std::string>> ImageRoot::segmentsOf(const std::string &relative) {
    if (relative.empty() || relative.find('\0') != std::string::npos ||
        relative.find('\\') != std::string::npos)
        return std::nullopt;
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t slash = relative.find('/', start);
        if (slash == std::string::npos) slash = relative.size();
        std::string segment = relative.substr(start, slash - start);
        if (segment.empty() || segment == "." || segment == "..") return std::nullopt;
        segments.push_back(std::move(segment));
        start = slash + 1;
    }
    return segments;
}

}  // namespace modeler
