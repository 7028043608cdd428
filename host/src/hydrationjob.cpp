#include "vdk/hydrationjob.h"

#include "content_copy.h"

#include "vdk/syncjournaldb.h"
#include "vdk/vfs.h"

#include <QDir>
#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <utility>

namespace VDK {

namespace {

// Runs step; what it throws becomes a failure, as a download error would.
template <typename Step> DownloadFailure failureOf(Step&& step)
{
    try {
        return step();
    } catch (const std::exception& exception) {
        return {QString::fromUtf8(exception.what())};
    }
}

} // namespace

HydrationJob::HydrationJob(Vfs* vfs, const QByteArray& fileId, std::unique_ptr<QIODevice> device,
                           QObject* parent)
    : QObject(parent), m_vfs(vfs), m_fileId(fileId), m_device(std::move(device))
{
    m_latencyTimer.setSingleShot(true);
    connect(&m_latencyTimer, &QTimer::timeout, this, &HydrationJob::begin);
}

HydrationJob::~HydrationJob() = default;

void HydrationJob::setThrottle(std::chrono::milliseconds latency, qint64 bytesPerSecond)
{
    m_latency = latency;
    m_bytesPerSecond = bytesPerSecond;
}

void HydrationJob::start()
{
    m_latencyTimer.start(m_latency);
}

void HydrationJob::cancel()
{
    if (m_status != Status::Running || std::exchange(m_cancelled, true))
        return;
    // A running copy stops at its next piece and ends the job itself.
    if (m_transfer.joinable()) {
        m_transfer.request_stop();
        return;
    }
    m_latencyTimer.stop();
    QMetaObject::invokeMethod(this, [this] { finish({}); }, Qt::QueuedConnection);
}

void HydrationJob::failFinalization(const QString& reason, int systemError)
{
    if (m_status != Status::Succeeded)
        return;
    m_status = Status::Failed;
    m_errorString = reason;
    m_systemError = systemError;
}

void HydrationJob::begin()
{
    const DownloadFailure failure = failureOf([this] { return openTransfer(); });
    if (failure.failed()) {
        finish(failure);
        return;
    }
    const CopyRequest copy{m_source->handle(), m_device.get(), m_bytesPerSecond};
    m_transfer = std::jthread([this, copy](std::stop_token stop) {
        const DownloadFailure failure =
            failureOf([&] { return copyContent(copy, m_bytesWritten, stop); });
        // Queued to the job's thread; a job destroyed meanwhile has joined this thread first,
        // and the call dies with it.
        QMetaObject::invokeMethod(this, [this, failure] { finish(failure); }, Qt::QueuedConnection);
    });
}

// Why the transfer cannot begin, or no failure.
DownloadFailure HydrationJob::openTransfer()
{
    if (!m_vfs)
        return {QStringLiteral("The folder of the file is gone")};
    const VfsSetupParams& params = m_vfs->params();
    if (!params.journal || !params.account)
        return {QStringLiteral("The folder has no journal or no account")};
    const auto found = params.journal->getFileRecordByFileId(m_fileId);
    if (!found)
        return {found.error()};
    if (!found->has_value())
        return {QStringLiteral("No journal record for the file id %1")
                    .arg(QString::fromUtf8(m_fileId))};
    m_record = **found;

    const QUrl server = params.account->url();
    if (!server.isLocalFile())
        return {QStringLiteral("Only local servers are supported, not %1").arg(server.toString())};
    // Opened by the system itself, whose error says whether the file is gone.
    const QString source = QDir(server.toLocalFile()).filePath(QString::fromUtf8(m_record.path));
    const int fd = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return systemFailure(errno);
    m_source = std::make_unique<QFile>();
    m_source->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    // Unbuffered, so that a failed write shows in the copy rather than in a flush on close;
    // only an existing file, so that a download does not bring back a file deleted meanwhile.
    if (!m_device->isOpen() &&
        !m_device->open(QIODevice::WriteOnly | QIODevice::Unbuffered | QIODevice::ExistingOnly))
        return {m_device->errorString()};
    return {};
}

void HydrationJob::finish(const DownloadFailure& failure)
{
    if (m_transfer.joinable())
        m_transfer.join();
    if (m_device->isOpen())
        m_device->close();
    m_source.reset();
    // Whatever the copy came to: whoever cancelled no longer wants the content.
    const DownloadFailure outcome = m_cancelled ? cancelledDownload() : failure;
    m_status = m_cancelled          ? Status::Cancelled
               : outcome.failed() ? Status::Failed
                                  : Status::Succeeded;
    m_errorString = outcome.text;
    m_systemError = outcome.systemError;
    if (m_status == Status::Succeeded)
        Q_EMIT finished();
    else
        Q_EMIT error(m_errorString);
}

} // namespace VDK
