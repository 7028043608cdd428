#include "content_copy.h"

#include <QFileDevice>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace VDK {

namespace {

using Clock = std::chrono::steady_clock;

constexpr qint64 largestPiece = 4 * 1024 * 1024;
constexpr qint64 smallestPiece = 4 * 1024;

// Under a bandwidth cap pieces are small, about twenty a second, so the content flows
// rather than jumps.
qint64 pieceSize(qint64 bytesPerSecond)
{
    if (bytesPerSecond <= 0)
        return largestPiece;
    return std::clamp(bytesPerSecond / 20, smallestPiece, largestPiece);
}

// False when a stop was asked for before the time came.
bool sleepUntil(Clock::time_point until, const std::stop_token& stop)
{
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    return !wake.wait_until(lock, stop, until, [] { return false; }) && !stop.stop_requested();
}

struct SourceState {
    off_t size;
    timespec modified;

    bool operator==(const SourceState& other) const
    {
        return size == other.size && modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

std::optional<SourceState> sourceState(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    return SourceState{st.st_size, st.st_mtim};
}

// Writes one piece into the target; the bytes written, or -1 and the failure.
class Sink {
public:
    explicit Sink(QIODevice& device) : m_device(device)
    {
        if (const auto* file = qobject_cast<QFileDevice*>(&device))
            m_fd = file->handle();
    }

    // The kernel copies between the files where it can, without the bytes passing through
    // us; it cannot across file systems, and then a plain read and write does.
    qint64 copy(int source, off_t offset, qint64 size, DownloadFailure& failure)
    {
        if (m_fd >= 0 && m_kernelCopy) {
            off_t from = offset;
            const auto count = ::copy_file_range(source, &from, m_fd, nullptr, size, 0);
            if (count >= 0)
                return count;
            if (errno != EXDEV && errno != EINVAL && errno != EOPNOTSUPP && errno != ENOSYS)
                return fail(failure, systemFailure(errno));
            m_kernelCopy = false;
        }
        m_buffer.resize(static_cast<std::size_t>(size));
        const auto count = ::pread(source, m_buffer.data(), m_buffer.size(), offset);
        if (count < 0)
            return fail(failure, systemFailure(errno));
        if (!writeAll(m_buffer.data(), count, failure))
            return -1;
        return count;
    }

private:
    static qint64 fail(DownloadFailure& failure, DownloadFailure reason)
    {
        failure = std::move(reason);
        return -1;
    }

    bool writeAll(const char* data, qint64 size, DownloadFailure& failure)
    {
        if (m_fd < 0) {
            if (m_device.write(data, size) == size)
                return true;
            failure = {m_device.errorString()};
            return false;
        }
        while (size > 0) {
            const auto count = ::write(m_fd, data, static_cast<std::size_t>(size));
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0) {
                failure = count < 0 ? systemFailure(errno)
                                    : DownloadFailure{QStringLiteral("The file took no bytes")};
                return false;
            }
            data += count;
            size -= count;
        }
        return true;
    }

    QIODevice& m_device;
    int m_fd = -1;
    bool m_kernelCopy = true;
    std::vector<char> m_buffer;
};

} // namespace

DownloadFailure systemFailure(int error)
{
    return {QString::fromLocal8Bit(std::strerror(error)), error};
}

DownloadFailure cancelledDownload()
{
    return {QStringLiteral("The download was cancelled"), ECANCELED};
}

DownloadFailure copyContent(const CopyRequest& request, std::atomic<qint64>& written,
                            std::stop_token stop)
{
    const auto before = sourceState(request.source);
    if (!before)
        return systemFailure(errno);
    Sink sink(*request.target);
    const qint64 piece = pieceSize(request.bytesPerSecond);
    const auto started = Clock::now();
    qint64 copied = 0;
    while (copied < before->size) {
        // Under a cap a piece lands when it would have finished arriving.
        if (request.bytesPerSecond > 0) {
            const auto due = started + std::chrono::milliseconds((copied + piece) * 1000 /
                                                                 request.bytesPerSecond);
            if (!sleepUntil(due, stop))
                return cancelledDownload();
        }
        if (stop.stop_requested())
            return cancelledDownload();
        DownloadFailure failure;
        const auto count =
            sink.copy(request.source, copied, std::min(piece, before->size - copied), failure);
        if (count < 0)
            return failure;
        if (count == 0)
            return {QStringLiteral("The file on the server ended after %1 of %2 bytes")
                        .arg(copied)
                        .arg(before->size)};
        copied += count;
        written = copied;
    }
    const auto after = sourceState(request.source);
    if (!after)
        return systemFailure(errno);
    if (!(*after == *before))
        return {QStringLiteral("The file on the server changed during the download")};
    return {};
}

} // namespace VDK
