#include "boundary.h"
#include "hydration_target.h"
#include "logging.h"
#include "records.h"
#include "vfs_tessarn.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>
#include <vdk/syncjournaldb.h>

namespace VDK {

namespace {

using States = ::Tessarn::Constants::States;

Result<void, QString> writeJournal(SyncJournalDb* journal, const SyncFileItem& item)
{
    if (!journal)
        return QStringLiteral("the folder has no journal");
    return journal->setFileRecord(SyncFileItem::fromSyncFileItem(item));
}

// The journal's path for a file in the folder, or nothing for a path outside it.
std::optional<QByteArray> journalPath(const FileSystem::Path& root, const QString& file)
{
    const auto relative =
        FileSystem::toFilesystemPath(file).lexically_normal().lexically_relative(root);
    if (relative.empty() || *relative.begin() == "..")
        return std::nullopt;
    return FileSystem::fromFilesystemPath(relative).toUtf8();
}

// Only the file that the journal knows under that path may receive the content of that id:
// anyone may put a record naming any id on a file, and a download into it would hand them
// someone else's content.
Result<void, QString> journalNamesFile(const VfsSetupParams& params, const QByteArray& fileId,
                                       const QString& targetPath)
{
    if (!params.journal)
        return QStringLiteral("the folder has no journal");
    const auto path = journalPath(params.root(), targetPath);
    if (!path)
        return QStringLiteral("the file is not in the folder %1").arg(params.filesystemPath);
    const auto row = params.journal->getFileRecord(*path);
    if (!row)
        return row.error();
    if (!row->has_value())
        return QStringLiteral("the journal knows no file there");
    if ((*row)->fileId != fileId)
        return QStringLiteral("the journal knows it as fileId %1")
            .arg(QString::fromUtf8((*row)->fileId));
    return {};
}

// What a download that did not complete wrote is no file's content: the placeholder goes back
// to empty, with the record and the modification time it had, and asks again on the next
// open. The journal row is the job's, empty when it never got as far as reading it.
void resetToPlaceholder(const HydrationTarget& target, const QByteArray& fileId,
                        const SyncJournalFileRecord& row)
{
    // Another record means the file is no longer the download's to clear.
    PlaceholderRecord record = target.record();
    if (!record.isOk() || record.state != States::Hydrating ||
        record.fileId != fileId.toStdString())
        return;
    if (auto emptied = target.empty(); !emptied)
        qCWarning(lcTessarn) << "Failed to empty the partial download of" << target.path()
                             << emptied.error();
    record.state = States::Dehydrated;
    auto written = target.writeRecord(record);
    if (written && !row.fileId.isEmpty())
        written = target.setModTime(row.modtime);
    if (!written)
        qCWarning(lcTessarn) << "Failed to reset attributes for" << target.path() << written.error();
}

// A daemon that died took the mount that the file was opened through along; nobody could rename
// the file while the folder was not served, so the name it was asked for reaches it again.
void clearFailedDownload(const std::shared_ptr<HydrationTarget>& target, const QByteArray& fileId,
                         const SyncJournalFileRecord& row)
{
    const auto reached = target->mountGone() ? HydrationTarget::reopen(target->path()) : target;
    if (reached)
        resetToPlaceholder(*reached, fileId, row);
}

struct Refusal {
    QString reason;
    int systemError = 0;
};

// The file still is the download's: it has a name, holds what the job wrote and no more, and its
// record still says that it is being hydrated.
std::optional<Refusal> refusal(const HydrationJob& job, const HydrationTarget& target,
                               const struct stat& status)
{
    if (status.st_nlink == 0)
        return Refusal{QStringLiteral("The file was removed during its download"), ENOENT};
    if (status.st_size != job.bytesWritten())
        return Refusal{QStringLiteral("The file holds %1 bytes, the download wrote %2")
                           .arg(status.st_size)
                           .arg(job.bytesWritten())};
    const PlaceholderRecord record = target.record();
    if (!record.isOk() || record.state != States::Hydrating)
        return Refusal{QStringLiteral("The record of the file no longer says that it is being "
                                      "hydrated")};
    return std::nullopt;
}

// The journal's row, then the record and the server's modification time, all through the file
// the job wrote, wherever it is now.
std::optional<Refusal> complete(const HydrationJob& job, const HydrationTarget& target,
                                SyncJournalDb* journal)
{
    const auto status = target.status();
    if (const int error = errno; !status)
        return Refusal{QString::fromLocal8Bit(std::strerror(error)), error};
    if (auto refused = refusal(job, target, *status))
        return refused;
    const SyncFileItemPtr item = SyncFileItem::fromSyncJournalFileRecord(job.record());
    item->type = CSyncEnums::ItemTypeFile;
    item->inode = status->st_ino;
    if (auto journaled = writeJournal(journal, *item); !journaled) {
        qCWarning(lcTessarn) << "Error when setting the file record to the database"
                             << journaled.error();
        return Refusal{journaled.error()};
    }
    qCInfo(lcTessarn) << "Hydration succeeded" << target.path();
    PlaceholderRecord record = target.record();
    record.size = 0;
    record.state = States::Hydrated;
    if (auto written = target.writeRecord(record); !written) {
        qCCritical(lcTessarn) << "Failed to update placeholder for" << target.path()
                              << written.error();
        return Refusal{written.error()};
    }
    if (auto dated = target.setModTime(item->modtime); !dated)
        qCWarning(lcTessarn) << "Failed to set the modification time of" << target.path()
                             << dated.error();
    return std::nullopt;
}

} // namespace

HydrationJob* Tessarn::hydrateFile(const QByteArray& fileId, const QString& targetPath)
{
    return guarded(
        "hydrateFile", [&] { return startHydration(fileId, targetPath); },
        [](const QString&) -> HydrationJob* { return nullptr; });
}

HydrationJob* Tessarn::startHydration(const QByteArray& fileId, const QString& targetPath)
{
    qCInfo(lcTessarn) << "Requesting hydration for" << fileId;
    if (hydrations.contains(fileId)) {
        qCWarning(lcTessarn) << "Ignoring hydration request for running hydration for fileId"
                             << fileId;
        return nullptr;
    }
    if (auto named = journalNamesFile(params(), fileId, targetPath); !named) {
        qCWarning(lcTessarn) << "Refusing hydration of" << targetPath << "for fileId" << fileId
                             << named.error();
        return nullptr;
    }
    PlaceholderRecord record = placeHolderAttributes(targetPath);
    if (!record.isOk()) {
        qCWarning(lcTessarn) << "Failed to get attributes for" << targetPath;
        return nullptr;
    }
    const auto target = HydrationTarget::open(targetPath);
    if (!target) {
        qCWarning(lcTessarn) << "Failed to open" << targetPath << "for its download"
                             << target.error();
        return nullptr;
    }
    // Before the record changes: nothing may fail once it says Hydrating, or it would stay so.
    auto device = (*target)->device();
    record.state = States::Hydrating;
    if (auto written = (*target)->writeRecord(record); !written) {
        qCWarning(lcTessarn) << "Failed to set attributes for" << targetPath << written.error();
        return nullptr;
    }
    return trackHydration(new HydrationJob(this, fileId, std::move(device), nullptr), *target);
}

HydrationJob* Tessarn::trackHydration(HydrationJob* job, std::shared_ptr<HydrationTarget> target)
{
    job->setTargetFile(target->path());
    hydrations.insert(job->fileId(), {job, std::move(target)});
    connect(job, &HydrationJob::finished, this, &Tessarn::slotHydrateJobFinished);
    connect(job, &HydrationJob::error, this,
            [this, job](const QString& message) { failHydration(job, message); });
    if (!removedFilesCheck.isActive())
        removedFilesCheck.start();
    return job;
}

void Tessarn::slotHydrateJobFinished()
{
    auto* job = qobject_cast<HydrationJob*>(sender());
    if (!job)
        return;
    guarded("slotHydrateJobFinished", [&] { completeHydration(*job); });
    releaseJob(job);
}

void Tessarn::completeHydration(HydrationJob& job)
{
    qCInfo(lcTessarn) << "Hydration Job finished for" << job.targetFileName();
    const auto target = hydrations.value(job.fileId()).target;
    const auto refused = target ? complete(job, *target, params().journal)
                                : Refusal{QStringLiteral("The plug-in lost track of the file")};
    if (!refused)
        return;
    qCWarning(lcTessarn) << "Hydration of" << job.targetFileName() << "did not complete"
                         << refused->reason;
    job.failFinalization(refused->reason, refused->systemError);
    if (target)
        clearFailedDownload(target, job.fileId(), job.record());
}

void Tessarn::failHydration(HydrationJob* job, const QString& message)
{
    guarded("hydration error", [&] {
        qCWarning(lcTessarn) << "Hydration failed" << message;
        if (const auto target = hydrations.value(job->fileId()).target)
            clearFailedDownload(target, job->fileId(), job->record());
    });
    releaseJob(job);
}

// A file that lost its last name gets no use of its content: its download stops.
void Tessarn::cancelDownloadsOfRemovedFiles()
{
    guarded("checking for removed files", [&] {
        for (const auto& [job, target] : hydrations) {
            if (job->status() == HydrationJob::Status::Running && target->removed()) {
                qCInfo(lcTessarn) << "Cancelling the hydration of" << target->path()
                                  << ": the file was removed";
                job->cancel();
            }
        }
    });
}

// Running jobs have no parent (the client runs them), and once we are gone nothing would
// collect them; nor would their downloads complete. Each is deleted now, which stops its
// copy, and its file cleared as after any failed download.
void Tessarn::abandonHydrations()
{
    removedFilesCheck.stop();
    for (const Hydration& hydration : std::exchange(hydrations, {})) {
        const QByteArray fileId = hydration.job->fileId();
        const SyncJournalFileRecord row = hydration.job->record();
        delete hydration.job;
        guarded("abandoning a hydration",
                [&] { clearFailedDownload(hydration.target, fileId, row); });
    }
}

void Tessarn::releaseJob(HydrationJob* job)
{
    guarded("releasing a hydration job", [&] {
        if (hydrations.value(job->fileId()).job == job)
            hydrations.remove(job->fileId());
        if (hydrations.isEmpty())
            removedFilesCheck.stop();
        job->deleteLater();
    });
}

} // namespace VDK
