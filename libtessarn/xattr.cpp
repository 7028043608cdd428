#include <tessarn/tessarn.h>

#include <cerrno>
#include <sys/xattr.h>

namespace Xattr {

namespace {
// The one place where "-1 and errno" becomes a negated errno.
int resultOf(long rc)
{
    return rc < 0 ? -errno : static_cast<int>(rc);
}
} // namespace

int getxattr(const std::filesystem::path& path, const char* name, char* buffer,
             unsigned long size)
{
    return resultOf(::lgetxattr(path.c_str(), name, buffer, size));
}

int setxattr(const std::filesystem::path& path, const char* name, const char* value,
             unsigned long size, int flags)
{
    return resultOf(::lsetxattr(path.c_str(), name, value, size, flags));
}

int listxattr(const std::filesystem::path& path, char* buffer, unsigned long size)
{
    return resultOf(::llistxattr(path.c_str(), buffer, size));
}

int removexattr(const std::filesystem::path& path, const char* name)
{
    return resultOf(::lremovexattr(path.c_str(), name));
}

namespace CPP {

// The buffer grows by 255 bytes per attempt instead of asking the kernel for the length
// first: records are small, so one call nearly always does, and a value rewritten between
// a size query and the read cannot make the read fail.
std::optional<std::string> getxattr(const std::filesystem::path& path, std::string_view name)
{
    constexpr std::size_t growth = 255;
    std::string buffer;
    for (;;) {
        buffer.resize(buffer.size() + growth);
        const int rc = Xattr::getxattr(path, name.data(), buffer.data(), buffer.size());
        if (rc >= 0) {
            buffer.resize(static_cast<std::size_t>(rc));
            return buffer;
        }
        if (rc != -ERANGE)
            return std::nullopt;
    }
}

} // namespace CPP
} // namespace Xattr
