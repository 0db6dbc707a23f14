// Reading a file beneath the image folder without a window between a check
// and the open: the kernel resolves the name beneath the folder's own open
// descriptor (openat2 with RESOLVE_BENEATH, links inside the folder
// followed); where it cannot, each folder is opened in turn without
// following any link, and a link anywhere is refused.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "modeler/page/image_folders.h"

#if defined(__linux__) && defined(SYS_openat2)
#include <linux/openat2.h>
#endif

namespace modeler {
namespace {

// A descriptor, closed when it goes.
class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_;
};

constexpr int kFileFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// The file beneath folder, by the kernel's own resolution; -1 with errno
// ENOSYS where the kernel has none.
int openBeneath(int folder, const std::string &relative) {
#if defined(__linux__) && defined(SYS_openat2)
    open_how how{};
    how.flags = kFileFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    long fd;
    do {
        fd = ::syscall(SYS_openat2, folder, relative.c_str(), &how, sizeof how);
    } while (fd < 0 && errno == EAGAIN);
    return static_cast<int>(fd);
#else
    (void)folder;
    (void)relative;
    errno = ENOSYS;
    return -1;
#endif
}

// The same by steps, no link followed.
int openStepwise(int folder, const std::vector<std::string> &segments) {
    Descriptor current(::dup(folder));
    if (!current) return -1;
    for (std::size_t i = 0; i + 1 < segments.size(); ++i) {
        const int next = ::openat(current.get(), segments[i].c_str(),
                                  O_RDONLY | O_CLOEXEC | O_DIRECTORY | O_NOFOLLOW);
        if (next < 0) return -1;
        current.reset(next);
    }
    return ::openat(current.get(), segments.back().c_str(), kFileFlags | O_NOFOLLOW);
}

}  // namespace

std::optional<std::string> ImageRoot::readFile(const std::string &relative,
                                               std::uintmax_t largest) const {
    if (root_.empty()) return std::nullopt;
    const auto segments = segmentsOf(relative);
    if (!segments) return std::nullopt;
    const Descriptor folder(::open(root_.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY));
    if (!folder) return std::nullopt;
    int fd = openBeneath(folder.get(), relative);
    if (fd < 0 && errno == ENOSYS) fd = openStepwise(folder.get(), *segments);
    const Descriptor file(fd);
    if (!file) return std::nullopt;
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0 ||
        static_cast<std::uintmax_t>(status.st_size) > largest)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(status.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(file.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;  // shorter than it said: changed while read
        done += static_cast<std::size_t>(n);
    }
    return bytes;
}

}  // namespace modeler
