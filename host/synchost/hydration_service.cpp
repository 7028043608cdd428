#include "hydration_service.h"

#include "report.h"

#include <QDir>
#include <tessarn/tessarn.h>
#include <vdk/filesystem.h>
#include <vdk/hydrationjob.h>
#include <vdk/syncjournaldb.h>
#include <vdk/vfs.h>

namespace SyncHost {

namespace {

// The daemon names the file by the mount point, "/./" and its path; a name that leads out
// of the folder is no file of ours.
std::optional<QString> fileInFolder(const QString& file, const QString& folder)
{
    const QString clean = QDir::cleanPath(file);
    if (VDK::FileSystem::isChildPathOf2(clean, folder) != VDK::FileSystem::ChildResult::IsChild)
        return std::nullopt;
    return clean;
}

// The file's own record says that its content is here; an unreadable record does not.
bool recordedHydrated(const QString& file)
{
    try {
        const auto record =
            Tessarn::PlaceHolderAttributes::fromAttributes(VDK::FileSystem::toFilesystemPath(file));
        return record && record->isOk() && record->state == Tessarn::Constants::States::Hydrated;
    } catch (const std::exception&) {
        return false;
    }
}

// What the daemon has seen arrive in the file through the mount, the bytes that readers of it
// may have; the job's own count when the mount does not say (a file renamed meanwhile).
qint64 arrivedBytes(const QString& file, const VDK::HydrationJob& job)
{
    const auto progress = Xattr::CPP::getxattr(VDK::FileSystem::toFilesystemPath(file),
                                               Tessarn::Constants::progressAttribute);
    bool parsed = false;
    const qint64 arrived =
        progress ? QByteArray::fromStdString(*progress).split('/').value(0).toLongLong(&parsed)
                 : 0;
    return parsed ? arrived : job.bytesWritten();
}

constexpr int progressPeriodMs = 1000;

QString seconds(const QElapsedTimer& clock)
{
    return QString::number(double(clock.nsecsElapsed()) / 1e9, 'f', 3);
}

} // namespace

HydrationService::HydrationService(VDK::Vfs& vfs, VDK::SyncJournalDb& journal,
                                   const QString& folder, Throttle throttle, bool reportProgress,
                                   QObject* parent)
    : QObject(parent), m_vfs(vfs), m_journal(journal), m_folder(folder), m_throttle(throttle)
{
    if (!reportProgress)
        return;
    connect(&m_progressReport, &QTimer::timeout, this, &HydrationService::reportProgress);
    m_progressReport.start(progressPeriodMs);
}

void HydrationService::setReady()
{
    m_ready = true;
    const auto held = std::exchange(m_held, {});
    for (const auto& [waiter, request] : held)
        serve(waiter, request);
}

void HydrationService::request(const AnswerChannel& channel, const HydrationRequest& request)
{
    const Waiter waiter{channel, request.id};
    if (m_ready)
        serve(waiter, request);
    else
        m_held.append({waiter, request});
}

void HydrationService::abandonAll(const QString& reason)
{
    for (const auto& [waiter, request] : std::exchange(m_held, {}))
        answer(waiter, reason);
    for (Running& running : m_running) {
        for (const Waiter& waiter : std::exchange(running.waiters, {}))
            answer(waiter, reason);
    }
}

void HydrationService::serve(const Waiter& waiter, const HydrationRequest& request)
{
    // One download per file: later requests for it are answered when it ends.
    if (const auto running = m_running.find(request.fileId); running != m_running.end()) {
        running->waiters.append(waiter);
        return;
    }
    const QString failure = startHydration(waiter, request);
    if (!failure.isEmpty()) {
        reportLine(QStringLiteral("refused %1: %2").arg(request.file, failure));
        answer(waiter, failure);
    }
}

QString HydrationService::startHydration(const Waiter& waiter, const HydrationRequest& request)
{
    const auto target = fileInFolder(request.file, m_folder);
    if (!target)
        return QStringLiteral("%1 is not in the sync folder %2").arg(request.file, m_folder);
    const auto row = m_journal.getFileRecordByFileId(request.fileId);
    if (!row)
        return row.error();
    if (!row->has_value())
        return QStringLiteral("Unknown file id %1").arg(QString::fromUtf8(request.fileId));
    // A request that was on its way while the last download ended: the content is here,
    // and downloading it again would truncate it under the applications reading it.
    // A record stuck in Hydrating, its last write failed, does not count: the download again
    // lets the plug-in rewrite it, where answering at once would leave every open waiting on us.
    if ((*row)->type == CSyncEnums::ItemTypeFile && recordedHydrated(*target)) {
        answer(waiter, {});
        return {};
    }
    VDK::HydrationJob* job = m_vfs.hydrateFile(request.fileId, *target);
    if (!job)
        return QStringLiteral("The plug-in did not take the request for %1 (see its log)")
            .arg(*target);
    Running& running = m_running[request.fileId];
    running.job = job;
    running.relativePath = QDir(m_folder).relativeFilePath(*target);
    running.size = (*row)->fileSize;
    running.clock.start();
    running.waiters.append(waiter);
    // Connected after the plug-in's own handlers: the answer goes out once the plug-in has
    // updated the journal and the record, or failed the job when it could not.
    const auto ended = [this, fileId = request.fileId, job] { jobEnded(fileId, *job); };
    connect(job, &VDK::HydrationJob::finished, this, ended);
    connect(job, &VDK::HydrationJob::error, this, ended);
    job->setThrottle(m_throttle.latency, m_throttle.bytesPerSecond);
    job->start();
    return {};
}

// The job's outcome is the file's, wherever the file is now: the plug-in made the content the
// file's through the file the job wrote, or failed the job.
void HydrationService::jobEnded(const QByteArray& fileId, const VDK::HydrationJob& job)
{
    const Running running = m_running.take(fileId);
    using Status = VDK::HydrationJob::Status;
    if (job.status() == Status::Succeeded)
        reportLine(QStringLiteral("hydrated %1: %2 bytes in %3 s")
                       .arg(running.relativePath)
                       .arg(running.size)
                       .arg(seconds(running.clock)));
    else
        reportLine(QStringLiteral("%1 %2 after %3 s: %4")
                       .arg(job.status() == Status::Cancelled ? QStringLiteral("cancelled")
                                                            : QStringLiteral("failed"),
                            running.relativePath, seconds(running.clock), job.errorString()));
    for (const Waiter& waiter : running.waiters)
        answer(waiter, job.errorString(), job.systemError());
}

void HydrationService::reportProgress() const
{
    for (const Running& running : m_running) {
        if (running.job && running.clock.elapsed() >= progressPeriodMs)
            reportLine(QStringLiteral("downloading %1: %2 of %3 bytes after %4 s")
                           .arg(running.relativePath)
                           .arg(arrivedBytes(QDir(m_folder).filePath(running.relativePath),
                                             *running.job))
                           .arg(running.size)
                           .arg(seconds(running.clock)));
    }
}

void HydrationService::answer(const Waiter& waiter, const QString& failure, int systemError)
{
    SocketApiServer::answer(waiter.channel, hydrationAnswer(waiter.requestId, failure, systemError));
}

} // namespace SyncHost
