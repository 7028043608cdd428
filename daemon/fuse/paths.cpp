#include "fuse/paths.h"

#include "startup/context.h"

#include <climits>
#include <string_view>
#include <unistd.h>

namespace TessarnFuse {

namespace {
constexpr auto unknownPath = "./?";
}

std::string procPath(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

std::string rootRelativePath(int fd)
{
    // The kernel keeps the link up to date through renames, made by anyone.
    char target[2 * PATH_MAX];
    const auto length = ::readlink(procPath(fd).c_str(), target, sizeof(target));
    if (length < 0)
        return unknownPath;
    const std::string_view path(target, static_cast<std::size_t>(length));
    const std::string_view root = daemonContext()->mountPoint.native();
    if (!path.starts_with(root) || (path.size() > root.size() && path[root.size()] != '/'))
        return std::string(path);
    const auto inside = path.substr(root.size());
    return inside.empty() ? "./" : "." + std::string(inside);
}

std::string rootRelativePath(int parentFd, const char* name)
{
    auto path = rootRelativePath(parentFd);
    if (!path.ends_with('/'))
        path += '/';
    return path + name;
}

const std::string& LogPath::text() const
{
    if (m_text)
        return *m_text;
    if (m_inodes) {
        const auto fd = m_inodes->descriptor(m_inode);
        m_text = fd ? rootRelativePath(fd.fd()) : unknownPath;
    } else {
        m_text = m_name ? rootRelativePath(m_fd, m_name) : rootRelativePath(m_fd);
    }
    return *m_text;
}

} // namespace TessarnFuse
