// Files on demand through a FUSE daemon, tessarn, that mounts over the sync folder.
#pragma once

#include "daemon_restarts.h"

#include <QMap>
#include <QPointer>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <vdk/hydrationjob.h>
#include <vdk/vfs.h>

namespace VDK {

class HydrationTarget;

class Tessarn : public Vfs {
    Q_OBJECT

public:
    explicit Tessarn(QObject* parent = nullptr);
    ~Tessarn() override;

    Mode mode() const override;
    QString fileSuffix() const override;
    void stop() override;
    void unregisterFolder() override;
    bool socketApiPinStateActionsShown() const override;
    bool isHydrating() const override;

    Result<ConvertToPlaceholderResult, QString> updateMetadata(const SyncFileItem& item,
                                                               const QString& filePath,
                                                               const QString& otherPath) override;
    Result<ConvertToPlaceholderResult, QString>
    updatePlaceholderMarkInSync(const QString& filePath, const SyncFileItem& item) override;
    bool isPlaceHolderInSync(const QString& filePath) const override;
    Result<void, QString> createPlaceholder(const SyncFileItem& item) override;
    Result<void, QString> createPlaceholders(const QList<SyncFileItemPtr>& items) override;
    Result<void, QString> dehydratePlaceholder(const SyncFileItem& item) override;
    bool needsMetadataUpdate(const SyncFileItem& item) override;
    Result<ConvertToPlaceholderResult, QString>
    convertToPlaceholder(const QString& filePath, const SyncFileItem& item,
                         const QString& otherPath, UpdateMetadataTypes updateType) override;
    bool isDehydratedPlaceholder(const QString& filePath) override;
    bool statTypeVirtualFile(csync_file_stat_t* stat, const QByteArray& statData) override;

    bool setPinState(const QString& relativePath, PinState state) override;
    Optional<PinState> pinState(const QString& relativePath) override;
    AvailabilityResult availability(const QString& relativePath,
                                    AvailabilityRecursivity recursivity) override;

    HydrationJob* hydrateFile(const QByteArray& fileId, const QString& targetPath) override;

public Q_SLOTS:
    void fileStatusChanged(const QString& systemFileName, VDK::SyncFileStatus fileStatus) override;
    void slotHydrateJobFinished();

Q_SIGNALS:
    void finished(VDK::Result<void, QString> result);

protected:
    void startImpl(const VfsSetupParams& params) override;

private:
    FileSystem::Path localPath(const SyncFileItem& item) const;
    Result<void, QString> refuseChangedFile(const SyncFileItem& item) const;
    Result<ConvertToPlaceholderResult, QString>
    updateRecord(const SyncFileItem& item, const QString& filePath, const QString& otherPath);

    void launchDaemon(const VfsSetupParams& params, const QString& owner);
    void watchDaemon(QProcess* process, const QString& folder);
    void restartDaemon(const QString& folder, const QString& lastExit);

    HydrationJob* startHydration(const QByteArray& fileId, const QString& targetPath);
    HydrationJob* trackHydration(HydrationJob* job, std::shared_ptr<HydrationTarget> target);
    void completeHydration(HydrationJob& job);
    void failHydration(HydrationJob* job, const QString& message);
    void cancelDownloadsOfRemovedFiles();
    void releaseJob(HydrationJob* job);
    void abandonHydrations();

    // From the request to the job's end, by file id: the job, and the file it writes, held open.
    struct Hydration {
        HydrationJob* job = nullptr;
        std::shared_ptr<HydrationTarget> target;
    };
    QMap<QByteArray, Hydration> hydrations;
    QTimer removedFilesCheck;
    QPointer<QProcess> daemonProcess;
    RestartBudget daemonRestarts;
    // The restarts gave up: the dead daemon's mount, which fails every access, is left for
    // stop() to clear.
    bool deadMountLeft = false;
};

class TessarnPluginFactory : public QObject, public DefaultPluginFactory<Tessarn> {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.halvorine.vondrakelsync.PluginFactory" FILE "vfspluginmetadata.json")
    Q_INTERFACES(VDK::PluginFactory)

public:
    bool checkAvailability() const override;
    Result<void, QString> prepare(const QString& folderPath,
                                  const QUuid& accountUuid) const override;

private:
    Result<void, QString> findMountPoints() const;
    Result<void, QString> unmountStaleMount(const QString& folderPath) const;

    // Mount points of type "fuse.tessarn" as the last prepare() found them.
    mutable QStringList mountPoints;
};

} // namespace VDK
