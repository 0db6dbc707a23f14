// The folder a served page may take images from: the folders under it that
// the form dialog offers, and the files under it the page may fetch. Nothing
// outside it can be named: no "..", no link that leads out.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace modeler {

class ImageRoot {
  public:
    // An empty root offers no folder and serves no file.
    ImageRoot() = default;
    // root must be a folder; it is made absolute and canonical.
    explicit ImageRoot(const std::filesystem::path &root);

    bool empty() const { return root_.empty(); }
    const std::filesystem::path &path() const { return root_; }
    // "." for the root, then the folders under it, relative with '/', in
    // name order, a few levels deep. Folders whose names a session line
    // cannot hold (a '"', a line break, bytes that are not UTF-8) are left
    // out.
    std::vector<std::string> folders() const;
    // The absolute folder for a name folders() gave; nullopt for any other.
    std::optional<std::filesystem::path> folder(const std::string &relative) const;
    // The bytes of the regular file that relative (decoded, '/'-separated)
    // names under the root, of at most largest bytes; nullopt when it
    // leaves the root, is not a regular file, is larger, or has a segment
    // "..", "." or empty. The file is opened beneath the root's own open
    // folder, never by a name checked before (a folder swapped for a link
    // in between cannot lead out), and judged by what was opened. POSIX
    // systems only, as modeler serve.
    std::optional<std::string> readFile(const std::string &relative, std::uintmax_t largest) const;
    // relative's segments, or nullopt for a name readFile refuses at once.
    static std::optional<std::vector<std::string>> segmentsOf(const std::string &relative);

  private:
    std::filesystem::path root_;
};

}  // namespace modeler
