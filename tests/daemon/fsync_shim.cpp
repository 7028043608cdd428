// Preloaded into the daemon: records every fsync and fdatasync with the file's path, and fails
// those of files whose name says so, so that a test can see what the daemon does with them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

namespace {

std::string pathOf(int fd)
{
    char path[4096] = {};
    const auto link = "/proc/self/fd/" + std::to_string(fd);
    const auto length = ::readlink(link.c_str(), path, sizeof(path) - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

// The result the call should have, or 1 to let the real call decide.
int recorded(const char* call, int fd)
{
    const auto path = pathOf(fd);
    if (const char* file = std::getenv("TESSARN_FSYNC_RECORD")) {
        if (FILE* record = std::fopen(file, "a")) {
            std::fprintf(record, "%s %s\n", call, path.c_str());
            std::fclose(record);
        }
    }
    if (path.find("fsync-fails") != std::string::npos) {
        errno = EIO;
        return -1;
    }
    return 1;
}

template <typename Call>
Call next(const char* name)
{
    return reinterpret_cast<Call>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int fsync(int fd)
{
    const int result = recorded("fsync", fd);
    return result <= 0 ? result : next<int (*)(int)>("fsync")(fd);
}

extern "C" int fdatasync(int fd)
{
    const int result = recorded("fdatasync", fd);
    return result <= 0 ? result : next<int (*)(int)>("fdatasync")(fd);
}
