// Files written whole or not at all: the bytes go to a temporary file beside
// the target, which replaces the target only when every byte was written.
// Several files (the parts of one export, or every output of a run) are
// staged together and replace their targets together.
//
// What a path names decides how it is written: a regular file (or none) is
// replaced as above; a link is followed and its target replaced, the link
// kept; a device, pipe or terminal (/dev/null, /dev/stdout) is written
// into, as it cannot be replaced; a folder is refused.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace modeler {

class AtomicFile {
  public:
    // Prepares the write; check error() before writing.
    explicit AtomicFile(std::string path);
    // A file kept in memory under path, which names no file of the system:
    // what an export writes when its caller wants the bytes.
    struct InMemory {};
    AtomicFile(std::string path, InMemory);
    // Removes the temporary file unless it replaced the target.
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    const std::string &path() const { return path_; }
    // The file that is replaced: path, or what its links lead to.
    const std::string &target() const { return target_; }
    // Whether the target is a device or pipe, written into at the end.
    bool writesInPlace() const { return inPlace_; }
    bool inMemory() const { return inMemory_; }
    // What was written, kept for a device, a pipe or memory.
    std::string &keptBytes() { return inPlaceBytes_; }
    const std::optional<std::string> &error() const { return error_; }
    // Refuses the file before anything is written to its target: error()
    // says why, and nothing replaces the target.
    void refuse(const std::string &why);
    void write(std::string_view bytes);
    // Hands what was written to the system and has it start writing to the
    // disk, so that finish waits less; finish still decides success.
    void startSync();
    // Flushes and syncs the temporary file and closes it. An error text when
    // any byte did not reach the disk.
    [[nodiscard]] std::optional<std::string> finish();
    // Renames the finished temporary file over the target, or writes the
    // bytes into a device or pipe.
    [[nodiscard]] std::optional<std::string> replaceTarget();
    // finish, then replaceTarget: nullopt when the target now holds exactly
    // what was written.
    [[nodiscard]] std::optional<std::string> commit();

  private:
    void fail(const std::string &what, int error);
    void openTemporary();

    std::string path_;
    std::string target_;
    bool inPlace_ = false;
    bool inMemory_ = false;
    std::string inPlaceBytes_;
    std::string temporary_;
    std::FILE *file_ = nullptr;
    bool replaced_ = false;
    std::optional<std::string> error_;
};

// Writes bytes to path atomically. An error text on failure.
[[nodiscard]] std::optional<std::string> writeFileAtomically(const std::string &path,
                                                             std::string_view bytes);

// Files that replace their targets together: commit replaces them only when
// every one was written, and when one cannot replace its target, puts back
// those it had already replaced. Dropped without commit, it leaves every
// target as it was. Devices and pipes are written first: they cannot be
// taken back.
class StagedFiles {
  public:
    StagedFiles() = default;
    // A set whose files are kept in memory: commit touches no file, and
    // takeFiles hands out what was written.
    explicit StagedFiles(AtomicFile::InMemory) : inMemory_(true) {}
    // Without a successful commit, removes the folders it made.
    ~StagedFiles();
    StagedFiles(const StagedFiles &) = delete;
    StagedFiles &operator=(const StagedFiles &) = delete;

    // A new file to write; valid as long as this set. A missing folder of
    // the file is made (and goes again when the set is not committed).
    AtomicFile &add(std::string path);
    // A file of the given bytes. An error text when it cannot be written.
    [[nodiscard]] std::optional<std::string> stage(std::string path, std::string_view bytes);
    [[nodiscard]] std::optional<std::string> commit();

    // A set in memory, once committed: each file's path and bytes, in the
    // order added.
    std::vector<std::pair<std::string, std::string>> takeFiles() { return std::move(kept_); }

  private:
    void makeFolderFor(const std::string &path);
    void removeMadeFolders();

    std::vector<std::unique_ptr<AtomicFile>> files_;
    std::map<std::string, std::string> targets_;  // each target's key: the path that named it
    std::vector<std::string> madeFolders_;        // in the order made
    bool inMemory_ = false;
    std::vector<std::pair<std::string, std::string>> kept_;
};

}  // namespace modeler
