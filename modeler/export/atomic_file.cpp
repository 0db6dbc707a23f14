#include "modeler/export/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <cwctype>
#include <filesystem>

#include "modeler/export/system_files.h"

namespace modeler {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxLinks = 40;  // as the system's own limit on a chain of links

std::string utf8(const fs::path &path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

// Where a chain of links from path ends, as text: the file to replace.
// path itself when it is no link. Empty when the chain does not end.
std::string followLinks(const std::string &path) {
    fs::path current = systemPath(path);
    std::error_code ec;
    for (int i = 0; i < kMaxLinks; ++i) {
        if (!fs::is_symlink(current, ec)) return utf8(current);
        const fs::path next = fs::read_symlink(current, ec);
        if (ec) return {};
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return {};
}

void removeFile(const std::string &path) {
    std::error_code ec;
    fs::remove(systemPath(path), ec);
}

// Keeps the regular file at path under a hidden name beside it, so that it
// can be put back. Nullopt when there is no file to keep or it cannot be kept.
std::optional<std::string> keepOldFile(const std::string &path) {
    if (pathKind(path, false) != PathKind::kFile) return std::nullopt;
    std::string kept;
    std::FILE *placeholder = createFileBeside(path, "old", kept);
    if (!placeholder) return std::nullopt;
    std::fclose(placeholder);
    // A second name for the same file costs nothing; a copy where the file
    // system has no hard links.
    removeFile(kept);
    if (linkFile(path, kept) == 0) return kept;
    std::error_code ec;
    fs::copy_file(systemPath(path), systemPath(kept), fs::copy_options::overwrite_existing, ec);
    if (!ec) return kept;
    removeFile(kept);
    return std::nullopt;
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
    const PathKind kind = pathKind(path_);
    if (kind == PathKind::kFolder) {
        fail("is a folder", EISDIR);
        return;
    }
    // A device or pipe is written through the name given: the system's own
    // links (/dev/stdout) reach it where their text does not.
    if (kind == PathKind::kOther) {
        inPlace_ = true;
        target_ = path_;
        return;
    }
    target_ = followLinks(path_);
    if (target_.empty()) {
        fail("its links lead nowhere", ELOOP);
        return;
    }
    openTemporary();
}

AtomicFile::AtomicFile(std::string path, InMemory)
    : path_(std::move(path)), target_(path_), inMemory_(true) {}

void AtomicFile::openTemporary() {
    file_ = createFileBeside(target_, "tmp", temporary_);
    if (!file_) {
        fail("cannot create a file beside it", errno);
        return;
    }
    // A temporary file is private; the result gets the mode the target had.
    matchPermissions(file_, target_);
}

AtomicFile::~AtomicFile() {
    if (file_) std::fclose(file_);
    if (!replaced_ && !temporary_.empty()) removeFile(temporary_);
}

void AtomicFile::fail(const std::string &what, int error) {
    if (!error_) error_ = path_ + ": " + what + " (" + std::strerror(error) + ")";
}

void AtomicFile::refuse(const std::string &why) {
    if (!error_) error_ = path_ + ": " + why;
}

void AtomicFile::write(std::string_view bytes) {
    if (error_ || bytes.empty()) return;
    if (inPlace_ || inMemory_) {
        inPlaceBytes_.append(bytes);
    } else if (file_ && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        fail("write failed", errno);
    }
}

void AtomicFile::startSync() {
    if (error_ || !file_) return;
    if (std::fflush(file_) != 0)
        fail("write failed", errno);
    else
        startWritingToDisk(file_);
}

std::optional<std::string> AtomicFile::finish() {
    if (!error_ && file_) {
        if (std::fflush(file_) != 0)
            fail("write failed", errno);
        else if (const int error = syncToDisk(file_))
            fail("cannot sync to disk", error);
    }
    if (file_) {
        if (std::fclose(file_) != 0) fail("write failed", errno);
        file_ = nullptr;
    }
    return error_;
}

std::optional<std::string> AtomicFile::replaceTarget() {
    if (error_) return error_;
    if (inMemory_) {
        // Nothing to replace: the bytes are the result.
    } else if (inPlace_) {
        if (const int error = writeIntoDevice(target_, inPlaceBytes_)) {
            fail("write failed", error);
            return error_;
        }
    } else if (const int error = replaceFile(temporary_, target_)) {
        fail("cannot replace the file", error);
        return error_;
    }
    replaced_ = true;
    return std::nullopt;
}

std::optional<std::string> AtomicFile::commit() {
    if (auto error = finish()) return error;
    return replaceTarget();
}

std::optional<std::string> writeFileAtomically(const std::string &path, std::string_view bytes) {
    AtomicFile file(path);
    if (file.error()) return file.error();
    file.write(bytes);
    return file.commit();
}

StagedFiles::~StagedFiles() {
    files_.clear();  // their temporary files go first
    removeMadeFolders();
}

void StagedFiles::makeFolderFor(const std::string &path) {
    const fs::path folder = systemPath(path).parent_path();
    std::error_code ec;
    if (folder.empty() || fs::is_directory(folder, ec)) return;
    makeFolderFor(utf8(folder));
    if (fs::create_directory(folder, ec)) madeFolders_.push_back(utf8(folder));
}

void StagedFiles::removeMadeFolders() {
    std::error_code ec;
    for (auto it = madeFolders_.rbegin(); it != madeFolders_.rend(); ++it)
        fs::remove(systemPath(*it), ec);  // only an empty folder goes
    madeFolders_.clear();
}

namespace {

// A target's identity: its path made absolute, with its links and ".."
// resolved as far as it exists (case aside on Windows), so that two
// spellings of one file give one key.
std::string targetKey(const std::string &target) {
    std::error_code ec;
    fs::path path = fs::absolute(systemPath(target), ec);
    const fs::path resolved = fs::weakly_canonical(path, ec);
    path = ec ? path.lexically_normal() : resolved;
#ifdef _WIN32
    std::wstring text = path.native();
    for (wchar_t &c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return utf8(fs::path(text));
#else
    return path.string();
#endif
}

}  // namespace

AtomicFile &StagedFiles::add(std::string path) {
    std::unique_ptr<AtomicFile> file;
    if (inMemory_) {
        file = std::make_unique<AtomicFile>(std::move(path), AtomicFile::InMemory{});
        const std::string key = utf8(systemPath(file->path()).lexically_normal());
        const auto [named, added] = targets_.try_emplace(key, file->path());
        if (!added) file->refuse("this export names it twice (as " + named->second + " too)");
        files_.push_back(std::move(file));
        return *files_.back();
    }
    makeFolderFor(path);
    file = std::make_unique<AtomicFile>(std::move(path));
    // Two files of one set naming one file would leave one of them lost,
    // whichever replaced it last (a.gltf's buffer given as -o a.bin).
    // Devices and pipes are written into, and may be written twice.
    if (!file->error() && !file->writesInPlace()) {
        const auto [named, added] = targets_.try_emplace(targetKey(file->target()), file->path());
        if (!added) {
            file->refuse("this run writes it twice (as " + named->second +
                         " too): two outputs, or an output and another's companion file, name "
                         "the same file");
        }
    }
    files_.push_back(std::move(file));
    return *files_.back();
}

std::optional<std::string> StagedFiles::stage(std::string path, std::string_view bytes) {
    AtomicFile &file = add(std::move(path));
    file.write(bytes);
    return file.error();
}

std::optional<std::string> StagedFiles::commit() {
    if (inMemory_) {
        for (const auto &file : files_) {
            if (auto error = file->finish()) return error;
        }
        for (const auto &file : files_)
            kept_.emplace_back(file->path(), std::move(file->keptBytes()));
        files_.clear();
        return std::nullopt;
    }
    // Every file's writes begin before the first sync waits: one sync then
    // finds the others' data on its way, where one after another each
    // waited for its own.
    for (const auto &file : files_)
        file->startSync();
    for (const auto &file : files_) {
        if (auto error = file->finish()) return error;
    }
    for (const auto &file : files_) {
        if (!file->writesInPlace()) continue;
        if (auto error = file->replaceTarget()) return error;
    }
    // What each replaced target held before, to put back on a failure.
    struct Replaced {
        const AtomicFile *file;
        bool existed;
        std::optional<std::string> old;
    };
    std::vector<Replaced> replaced;
    std::optional<std::string> failure;
    for (const auto &file : files_) {
        if (file->writesInPlace()) continue;
        const bool existed = pathKind(file->target(), false) != PathKind::kNone;
        std::optional<std::string> old = keepOldFile(file->target());
        if (auto error = file->replaceTarget()) {
            if (old) removeFile(*old);
            failure = error;
            break;
        }
        replaced.push_back({file.get(), existed, std::move(old)});
    }
    for (auto it = replaced.rbegin(); it != replaced.rend(); ++it) {
        if (!it->old) {
            // A file that was not there goes again; one that could not be
            // kept cannot be put back.
            if (failure && !it->existed) removeFile(it->file->target());
        } else if (failure) {
            (void)replaceFile(*it->old, it->file->target());
        } else {
            removeFile(*it->old);
        }
    }
    files_.clear();
    if (failure)
        removeMadeFolders();
    else
        madeFolders_.clear();
    return failure;
}

}  // namespace modeler
