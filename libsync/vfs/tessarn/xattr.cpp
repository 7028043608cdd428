#include "xattr.h"

#include <tessarn/tessarn.h>
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
    const QByteArray nameBytes = name.toUtf8();
    const auto value =
        ::Xattr::CPP::getxattr(path, {nameBytes.constData(), std::size_t(nameBytes.size())});
    if (!value || value->empty())
        return {};
    return QByteArray::fromStdString(*value);
}

Result<void, QString> setxattr(const std::filesystem::path& path, const QString& name,
                               const QByteArray& value)
{
    const int rc = ::Xattr::setxattr(path, name.toUtf8().constData(), value.constData(),
                                     static_cast<unsigned long>(value.size()), 0);
    if (rc == 0)
        return {};
    return errnoText(-rc);
}

Result<void, QString> removexattr(const std::filesystem::path& path, const QString& name)
{
    const int rc = ::Xattr::removexattr(path, name.toUtf8().constData());
    if (rc == 0)
        return {};
    if (rc != -ENODATA)
        return errnoText(-rc);
    qCWarning(lcFileSystem) << "Failed to remove tag" << name << "from"
                            << fromFilesystemPath(path) << "tag doesn't exist";
    return {};
}

} // namespace VDK::FileSystem::Xattr
