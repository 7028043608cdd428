#include "hydration_target.h"

#include "logging.h"

#include <vdk/filesystem.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace VDK {

namespace {

using ::Tessarn::Constants::placeholderAttribute;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

Result<void, QString> outcome(int result)
{
    if (result == 0)
        return {};
    return systemError();
}

} // namespace

Result<std::shared_ptr<HydrationTarget>, QString> HydrationTarget::open(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return systemError();
    return std::make_shared<HydrationTarget>(fd, path);
}


std::shared_ptr<HydrationTarget> HydrationTarget::reopen(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
    return fd < 0 ? nullptr : std::make_shared<HydrationTarget>(fd, path);
}

HydrationTarget::~HydrationTarget()
{
    ::close(m_fd);
}

std::unique_ptr<QFile> HydrationTarget::device() const
{
    auto device = std::make_unique<QFile>();
    // Unbuffered, so that a failed write shows in the copy rather than in a flush on close.
    const int fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0 || !device->open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                                QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("cannot hand the open file to the download: " +
                                 systemError().toStdString());
    }
    return device;
}

std::optional<struct stat> HydrationTarget::status() const
{
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        return std::nullopt;
    return st;
}

bool HydrationTarget::removed() const
{
    const auto st = status();
    return st && st->st_nlink == 0;
}

bool HydrationTarget::mountGone() const
{
    struct stat st {};
    return ::fstat(m_fd, &st) != 0 && errno == ENOTCONN;
}

PlaceholderRecord HydrationTarget::record() const
{
    const auto path = FileSystem::toFilesystemPath(m_path);
    const ssize_t size = ::fgetxattr(m_fd, placeholderAttribute.data(), nullptr, 0);
    std::vector<unsigned char> bytes(size > 0 ? std::size_t(size) : 0);
    if (size <= 0 || ::fgetxattr(m_fd, placeholderAttribute.data(), bytes.data(), bytes.size()) !=
                         size)
        return PlaceholderRecord::fromData(path, {});
    try {
        return PlaceholderRecord::fromData(path, bytes);
    } catch (const nlohmann::json::exception& exception) {
        qCWarning(lcTessarn) << "Cannot decode the Tessarn xattr of" << m_path << exception.what();
        return PlaceholderRecord::fromData(path, {});
    }
}

Result<void, QString> HydrationTarget::writeRecord(const PlaceholderRecord& record) const
{
    const std::vector<unsigned char> data = record.toData();
    return outcome(::fsetxattr(m_fd, placeholderAttribute.data(), data.data(), data.size(), 0));
}

Result<void, QString> HydrationTarget::setModTime(std::time_t modTime) const
{
    const timespec times[2] = {{0, UTIME_OMIT}, {modTime, 0}};
    return outcome(::futimens(m_fd, times));
}

Result<void, QString> HydrationTarget::empty() const
{
    return outcome(::ftruncate(m_fd, 0));
}

} // namespace VDK
