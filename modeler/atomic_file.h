// Files written whole or not at all: the bytes go to a temporary file beside
// the target, which replaces the target only when every byte was written.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace modeler {

class AtomicFile {
  public:
    // Creates the temporary file; check error() before writing.
    explicit AtomicFile(std::string path);
    // Removes the temporary file unless commit succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    const std::optional<std::string> &error() const { return error_; }
    void write(std::string_view bytes);
    // Flushes, syncs and renames over the target. An error text, or nullopt
    // when the target now holds exactly what was written.
    std::optional<std::string> commit();

  private:
    void fail(const std::string &what);

    std::string path_;
    std::string temporary_;
    std::FILE *file_ = nullptr;
    bool committed_ = false;
    std::optional<std::string> error_;
};

// Writes bytes to path atomically. An error text on failure.
std::optional<std::string> writeFileAtomically(const std::string &path, std::string_view bytes);

}  // namespace modeler
