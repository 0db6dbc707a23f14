#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "modeler/model/regular_file.h"

namespace modeler {
namespace {

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

std::optional<std::vector<unsigned char>> readRegularFile(const std::string &path,
                                                          std::size_t maxBytes, std::string &why) {
    // Without waiting: a pipe put in the file's place must not block the
    // open until something writes to it.
    const Descriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0) {
        why = "cannot be read";
        return std::nullopt;
    }
    struct stat status {};
    if (fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        why = "not a regular file";
        return std::nullopt;
    }
    if (status.st_size < 0 || std::size_t(status.st_size) > maxBytes) {
        why = "a file larger than the host takes";
        return std::nullopt;
    }
    // One byte past the size it had, to see that it did not grow meanwhile.
    std::vector<unsigned char> bytes(std::size_t(status.st_size) + 1);
    std::size_t read = 0;
    while (read < bytes.size()) {
        const ssize_t got = ::read(file.get(), bytes.data() + read, bytes.size() - read);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            why = "cannot be read";
            return std::nullopt;
        }
        if (got == 0) break;
        read += std::size_t(got);
    }
    if (read != std::size_t(status.st_size)) {
        why = "cannot be read (it changed while read)";
        return std::nullopt;
    }
    bytes.pop_back();
    return bytes;
}

}  // namespace modeler
