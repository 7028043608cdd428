#include "xattr.h"

#include <vdk/filesystem.h>

#include <cerrno>
#include <cstring>
#include <sys/xattr.h>

namespace VDK::FileSystem::Xattr {

namespace {

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

bool supportsxattr(const std::filesystem::path& path)
{
    return ::listxattr(path.c_str(), nullptr, 0) >= 0 || errno != ENOTSUP;
}

Optional<QByteArray> getxattr(const std::filesystem::path& path, const QString& name)
{
    // No size query first: the value may change between two calls, so grow until one
    // read fits.
    constexpr qsizetype growth = 255;
    const QByteArray nameBytes = name.toUtf8();
    QByteArray buffer;
    ssize_t length = 0;
    do {
        buffer.resize(buffer.size() + growth);
        length = ::lgetxattr(path.c_str(), nameBytes.constData(), buffer.data(), buffer.size());
    } while (length < 0 && errno == ERANGE);
    if (length <= 0)
        return {};
    buffer.truncate(length);
    return buffer;
}

Result<void, QString> setxattr(const std::filesystem::path& path, const QString& name,
                               const QByteArray& value)
{
    if (::lsetxattr(path.c_str(), name.toUtf8().constData(), value.constData(), value.size(), 0) == 0)
        return {};
    return errnoText(errno);
}

Result<void, QString> removexattr(const std::filesystem::path& path, const QString& name)
{
    if (::lremovexattr(path.c_str(), name.toUtf8().constData()) == 0)
        return {};
    const int error = errno;
    if (error != ENODATA)
        return errnoText(error);
    qCWarning(lcFileSystem) << "Failed to remove tag" << name << "from"
                            << fromFilesystemPath(path) << "tag doesn't exist";
    return {};
}

} // namespace VDK::FileSystem::Xattr
