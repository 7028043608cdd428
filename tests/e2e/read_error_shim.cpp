// Preloaded into synchost: a server file whose name ends in "read-error.bin" fails every read
// past its first MiB with EIO, as a failing disk or a lost network share would. Running as
// root, the tests cannot make a file unreadable by its permissions.
#include <cerrno>
#include <climits>
#include <dlfcn.h>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr off_t readableBytes = 1024 * 1024;

bool failsToRead(int fd)
{
    char name[PATH_MAX];
    const auto size =
        ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), name, sizeof(name));
    return size > 0 &&
           std::string_view(name, static_cast<std::size_t>(size)).ends_with("read-error.bin");
}

} // namespace

extern "C" ssize_t pread(int fd, void* buffer, size_t count, off_t offset)
{
    if (offset + static_cast<off_t>(count) > readableBytes && failsToRead(fd)) {
        errno = EIO;
        return -1;
    }
    using Call = ssize_t (*)(int, void*, size_t, off_t);
    return reinterpret_cast<Call>(::dlsym(RTLD_NEXT, "pread"))(fd, buffer, count, offset);
}

extern "C" ssize_t pread64(int fd, void* buffer, size_t count, off_t offset)
    __attribute__((alias("pread")));
