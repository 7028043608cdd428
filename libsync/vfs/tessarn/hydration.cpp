#include "boundary.h"
#include "logging.h"
#include "records.h"
#include "vfs_tessarn.h"

#include <vdk/syncjournaldb.h>

#include <QFile>

namespace VDK {

namespace {

using States = ::Tessarn::Constants::States;

Result<void, QString> writeJournal(SyncJournalDb* journal, const SyncFileItem& item)
{
    if (!journal)
        return QStringLiteral("the folder has no journal");
    return journal->setFileRecord(SyncFileItem::fromSyncFileItem(item));
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

// A failed download leaves a placeholder that asks again on the next open, rather than a
// record that claims content which never came.
void Tessarn::failHydration(HydrationJob* job, const QString& message)
{
    guarded("hydration error", [&] {
        qCWarning(lcTessarn) << "Hydration failed" << message;
        PlaceholderRecord record = placeHolderAttributes(job->targetFileName());
        if (record.isOk() && record.state == States::Hydrating) {
            record.state = States::Dehydrated;
            if (auto written = writePlaceHolderAttributes(record); !written)
                qCWarning(lcTessarn) << "Failed to reset attributes for" << job->targetFileName()
                                     << written.error();
        }
    });
    releaseJob(job);
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
