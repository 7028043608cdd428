#include "boundary.h"
#include "logging.h"
#include "records.h"
#include "vfs_tessarn.h"

#include <QFile>
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
void clearFailedDownload(const QString& target, const SyncJournalFileRecord& row)
{
    // Another record means the file is no longer the download's to clear.
    PlaceholderRecord record = placeHolderAttributes(target);
    if (!record.isOk() || record.state != States::Hydrating)
        return;
    const FileSystem::Path path(target);
    std::error_code error;
    if (std::filesystem::file_size(path, error) > 0 && !error)
        std::filesystem::resize_file(path, 0, error);
    if (error)
        qCWarning(lcTessarn) << "Failed to empty the partial download of" << target
                             << QString::fromStdString(error.message());
    record.state = States::Dehydrated;
    const auto written = row.fileId.isEmpty()
                             ? writePlaceHolderAttributes(record)
                             : writePlaceHolderAttributesWithModTime(record, row.modtime);
    if (!written)
        qCWarning(lcTessarn) << "Failed to reset attributes for" << target << written.error();
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
    if (hydrationJobs.contains(fileId)) {
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
    record.state = States::Hydrating;
    if (auto written = writePlaceHolderAttributes(record); !written) {
        qCWarning(lcTessarn) << "Failed to set attributes for" << targetPath << written.error();
        return nullptr;
    }
    auto* job = new HydrationJob(this, fileId, std::make_unique<QFile>(targetPath), nullptr);
    job->setTargetFile(targetPath);
    hydrationJobs.insert(fileId, job);
    connect(job, &HydrationJob::finished, this, &Tessarn::slotHydrateJobFinished);
    connect(job, &HydrationJob::error, this,
            [this, job](const QString& message) { failHydration(job, message); });
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

void Tessarn::completeHydration(const HydrationJob& job)
{
    const FileSystem::Path path(job.targetFileName());
    qCInfo(lcTessarn) << "Hydration Job finished for" << path.toString();
    if (!path.exists()) {
        qCWarning(lcTessarn) << "Hydration succeeded but the file appears to be moved"
                             << path.toString();
        return;
    }
    const SyncFileItemPtr item = SyncFileItem::fromSyncJournalFileRecord(job.record());
    item->type = CSyncEnums::ItemTypeFile;
    if (!FileSystem::getInode(path, &item->inode))
        qCWarning(lcTessarn) << "Failed to get inode for" << path.toString();
    if (auto journaled = writeJournal(params().journal, *item); !journaled) {
        qCWarning(lcTessarn) << "Error when setting the file record to the database"
                             << journaled.error();
        return;
    }
    qCInfo(lcTessarn) << "Hydration succeeded" << path.toString();
    PlaceholderRecord record = storedOrNewRecord(job.targetFileName(), *item);
    if (!record.validate())
        return;
    record.size = 0;
    record.state = States::Hydrated;
    if (auto written = writePlaceHolderAttributesWithModTime(record, item->modtime); !written)
        qCCritical(lcTessarn) << "Failed to update placeholder for" << job.targetFileName()
                              << written.error();
}

void Tessarn::failHydration(HydrationJob* job, const QString& message)
{
    guarded("hydration error", [&] {
        qCWarning(lcTessarn) << "Hydration failed" << message;
        clearFailedDownload(job->targetFileName(), job->record());
    });
    releaseJob(job);
}

// Running jobs have no parent (the client runs them), and once we are gone nothing would
// collect them; nor would their downloads complete. Each is deleted now, which stops its
// copy, and its file cleared as after any failed download.
void Tessarn::abandonHydrations()
{
    for (HydrationJob* job : std::exchange(hydrationJobs, {})) {
        const QString target = job->targetFileName();
        const SyncJournalFileRecord row = job->record();
        delete job;
        guarded("abandoning a hydration", [&] { clearFailedDownload(target, row); });
    }
}

void Tessarn::releaseJob(HydrationJob* job)
{
    guarded("releasing a hydration job", [&] {
        if (hydrationJobs.value(job->fileId()) == job)
            hydrationJobs.remove(job->fileId());
        job->deleteLater();
    });
}

} // namespace VDK
