#include "vdk/hydrationjob.h"

#include "vdk/syncjournaldb.h"
#include "vdk/vfs.h"

#include <QDir>
#include <QTimer>

namespace VDK {

namespace {

constexpr qint64 largestChunk = 1024 * 1024;
constexpr qint64 smallestChunk = 4 * 1024;

// Runs step; what it throws becomes a failure text, as a download error would.
template <typename Step> QString failureOf(Step&& step)
{
    try {
        return step();
    } catch (const std::exception& exception) {
        return QString::fromUtf8(exception.what());
    }
}

} // namespace

HydrationJob::HydrationJob(Vfs* vfs, const QByteArray& fileId, std::unique_ptr<QIODevice> device,
                           QObject* parent)
    : QObject(parent), m_vfs(vfs), m_fileId(fileId), m_device(std::move(device))
{
}

HydrationJob::~HydrationJob() = default;

void HydrationJob::setThrottle(std::chrono::milliseconds latency, qint64 bytesPerSecond)
{
    m_latency = latency;
    m_bytesPerSecond = bytesPerSecond;
}

void HydrationJob::start()
{
    QTimer::singleShot(m_latency, this, &HydrationJob::begin);
}

void HydrationJob::begin()
{
    const QString failure = failureOf([this] { return openTransfer(); });
    if (!failure.isEmpty()) {
        finish(failure);
        return;
    }
    m_transferClock.start();
    scheduleNextChunk();
}

// The reason the transfer cannot begin, or the empty text.
QString HydrationJob::openTransfer()
{
    if (!m_vfs)
        return QStringLiteral("The folder of the file is gone");
    const VfsSetupParams& params = m_vfs->params();
    if (!params.journal || !params.account)
        return QStringLiteral("The folder has no journal or no account");
    const auto found = params.journal->getFileRecordByFileId(m_fileId);
    if (!found)
        return found.error();
    if (!found->has_value())
        return QStringLiteral("No journal record for the file id %1")
            .arg(QString::fromUtf8(m_fileId));
    m_record = **found;

    const QUrl server = params.account->url();
    if (!server.isLocalFile())
        return QStringLiteral("Only local servers are supported, not %1").arg(server.toString());
    m_source = std::make_unique<QFile>(
        QDir(server.toLocalFile()).filePath(QString::fromUtf8(m_record.path)));
    if (!m_source->open(QIODevice::ReadOnly))
        return m_source->errorString();
    // Unbuffered, so that a failed write shows here rather than in a flush on close; only an
    // existing file, so that a download does not bring back a file deleted meanwhile.
    if (!m_device->isOpen() &&
        !m_device->open(QIODevice::WriteOnly | QIODevice::Unbuffered | QIODevice::ExistingOnly))
        return m_device->errorString();
    return {};
}

// Under a bandwidth cap pieces are small, about twenty a second, so the content flows
// rather than jumps.
qint64 HydrationJob::chunkSize() const
{
    if (m_bytesPerSecond <= 0)
        return largestChunk;
    return std::clamp(m_bytesPerSecond / 20, smallestChunk, largestChunk);
}

// Under a bandwidth cap a piece is written when it would have finished arriving.
void HydrationJob::scheduleNextChunk()
{
    qint64 delayMs = 0;
    if (m_bytesPerSecond > 0)
        delayMs =
            (m_bytesCopied + chunkSize()) * 1000 / m_bytesPerSecond - m_transferClock.elapsed();
    QTimer::singleShot(std::chrono::milliseconds(std::max<qint64>(delayMs, 0)), this,
                       &HydrationJob::copyNextChunk);
}

void HydrationJob::copyNextChunk()
{
    const QString failure = failureOf([this]() -> QString {
        const QByteArray chunk = m_source->read(chunkSize());
        if (chunk.isEmpty() && !m_source->atEnd())
            return m_source->errorString();
        if (m_device->write(chunk) != chunk.size())
            return m_device->errorString();
        m_bytesCopied += chunk.size();
        return {};
    });
    if (!failure.isEmpty() || m_source->atEnd())
        finish(failure);
    else
        scheduleNextChunk();
}

void HydrationJob::finish(const QString& failure)
{
    if (m_device->isOpen())
        m_device->close();
    m_source.reset();
    if (failure.isEmpty())
        Q_EMIT finished();
    else
        Q_EMIT error(failure);
}

} // namespace VDK
