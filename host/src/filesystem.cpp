#include "vdk/filesystem.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace VDK {

Q_LOGGING_CATEGORY(lcFileSystem, "sync.filesystem", QtInfoMsg)

namespace FileSystem {

std::filesystem::path toFilesystemPath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString fromFilesystemPath(const std::filesystem::path& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

Path Path::relative(const QString& path)
{
    std::filesystem::path normal = toFilesystemPath(path).lexically_normal().relative_path();
    return Path(normal == "." ? std::filesystem::path() : normal);
}

bool Path::exists() const
{
    std::error_code error;
    return std::filesystem::exists(m_path, error);
}

ChildResults isChildPathOf2(QStringView child, QStringView parent)
{
    const QString cleanChild = QDir::cleanPath(child.toString());
    const QString cleanParent = QDir::cleanPath(parent.toString());
    if (cleanChild == cleanParent)
        return ChildResult::IsChild | ChildResult::IsEqual;
    const QString prefix = cleanParent.endsWith(u'/') ? cleanParent : cleanParent + u'/';
    return cleanChild.startsWith(prefix) ? ChildResults(ChildResult::IsChild)
                                         : ChildResults(ChildResult::NotAChild);
}

bool fileChanged(const std::filesystem::path& path, qint64 previousSize, std::time_t previousMtime)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return true;
    return status.st_size != previousSize || status.st_mtim.tv_sec != previousMtime;
}

bool getInode(const std::filesystem::path& path, quint64* inode)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return false;
    *inode = status.st_ino;
    return true;
}

bool remove(const std::filesystem::path& path, QString* errorString)
{
    std::error_code error;
    if (std::filesystem::remove(path, error))
        return true;
    if (errorString)
        *errorString = error ? QString::fromStdString(error.message())
                             : QStringLiteral("No such file or directory");
    return false;
}

bool setModTime(const std::filesystem::path& path, std::time_t modTime)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, {modTime, 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0)
        return true;
    qCWarning(lcFileSystem) << "Failed to set the modification time of"
                            << fromFilesystemPath(path) << std::strerror(errno);
    return false;
}

} // namespace FileSystem
} // namespace VDK
