// The client's virtual-file interface: one Vfs object per sync folder in a virtual-file
// mode, made by the factory of the plug-in that implements the mode.
#pragma once

#include "vdk/account.h"
#include "vdk/csync.h"
#include "vdk/filesystem.h"
#include "vdk/pinstate.h"
#include "vdk/result.h"
#include "vdk/syncfileitem.h"
#include "vdk/syncfilestatus.h"

#include <QFlags>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

namespace VDK {

class HydrationJob;
class SyncJournalDb;

// What the client hands a Vfs when it switches a folder to the mode.
struct VfsSetupParams {
    QString filesystemPath; // the sync folder, absolute
    AccountPtr account;
    SyncJournalDb* journal = nullptr; // owned by the client, outlives the Vfs
    QString socketApiPath;            // the client's local socket

    FileSystem::Path root() const { return FileSystem::Path(filesystemPath); }
};

class Vfs : public QObject {
    Q_OBJECT

public:
    // The value a plug-in's mode() answers; 4 is the mode of plug-ins that mount a
    // file system over the folder.
    enum Mode { Off = 0, WithSuffix = 1, WindowsCfApi = 2, XAttr = 3, FuseMount = 4 };

    enum class ConvertToPlaceholderResult { Unchanged = 0, Updated = 1 };

    enum UpdateMetadataType { DatabaseMetadata = 1, OnDiskMetadata = 2, AllMetadata = 3 };
    Q_DECLARE_FLAGS(UpdateMetadataTypes, UpdateMetadataType)

    enum class AvailabilityRecursivity { NotRecursiveAvailability, RecursiveAvailability };
    enum class AvailabilityError { DbError = 0, NoSuchItem = 1 };
    using AvailabilityResult = Result<VfsItemAvailability, AvailabilityError>;

    explicit Vfs(QObject* parent = nullptr) : QObject(parent) {}

    const VfsSetupParams& params() const { return m_setupParams; }

    // Keeps the parameters, then lets the mode start; the outcome arrives as started()
    // or error().
    void start(const VfsSetupParams& params);

    virtual Mode mode() const = 0;
    virtual QString fileSuffix() const = 0;
    virtual void stop() = 0;
    virtual void unregisterFolder() = 0;
    virtual bool socketApiPinStateActionsShown() const = 0;
    virtual bool isHydrating() const = 0;
    virtual Result<ConvertToPlaceholderResult, QString>
    updateMetadata(const SyncFileItem& item, const QString& filePath, const QString& otherPath) = 0;
    virtual Result<ConvertToPlaceholderResult, QString>
    updatePlaceholderMarkInSync(const QString& filePath, const SyncFileItem& item) = 0;
    virtual bool isPlaceHolderInSync(const QString& filePath) const = 0;
    virtual Result<void, QString> createPlaceholder(const SyncFileItem& item) = 0;
    virtual Result<void, QString> createPlaceholders(const QList<SyncFileItemPtr>& items) = 0;
    virtual Result<void, QString> dehydratePlaceholder(const SyncFileItem& item) = 0;
    virtual bool needsMetadataUpdate(const SyncFileItem& item) = 0;
    virtual Result<ConvertToPlaceholderResult, QString>
    convertToPlaceholder(const QString& filePath, const SyncFileItem& item,
                         const QString& otherPath, UpdateMetadataTypes updateType) = 0;
    virtual bool isDehydratedPlaceholder(const QString& filePath) = 0;
    // statData is the scanned base directory; the type in stat may be changed.
    virtual bool statTypeVirtualFile(csync_file_stat_t* stat, const QByteArray& statData) = 0;
    virtual bool setPinState(const QString& relativePath, PinState state) = 0;
    virtual Optional<PinState> pinState(const QString& relativePath) = 0;
    virtual AvailabilityResult availability(const QString& relativePath,
                                            AvailabilityRecursivity recursivity) = 0;
    // A job for the client to start, or null when the request is not taken.
    virtual HydrationJob* hydrateFile(const QByteArray& fileId, const QString& targetPath) = 0;

public Q_SLOTS:
    virtual void fileStatusChanged(const QString& systemFileName, VDK::SyncFileStatus fileStatus) = 0;

Q_SIGNALS:
    void started();
    void error(const QString& message);

protected:
    virtual void startImpl(const VfsSetupParams& params) = 0;

private:
    VfsSetupParams m_setupParams;
};

// What a virtual-file plug-in exposes to the client: its single factory object.
class PluginFactory {
public:
    virtual ~PluginFactory();
    virtual Vfs* create(QObject* parent) const = 0;
    // Whether this machine can run the mode at all.
    virtual bool checkAvailability() const { return true; }
    // Readies a folder for the mode, or says why it cannot be used.
    virtual Result<void, QString> prepare(const QString& folderPath, const QUuid& accountUuid) const
    {
        Q_UNUSED(folderPath);
        Q_UNUSED(accountUuid);
        return {};
    }
};

template <typename VfsType> class DefaultPluginFactory : public PluginFactory {
public:
    Vfs* create(QObject* parent) const override { return new VfsType(parent); }
};

} // namespace VDK

Q_DECLARE_OPERATORS_FOR_FLAGS(VDK::Vfs::UpdateMetadataTypes)

// Plug-in metadata carries this interface identifier, a "type" of "vfs" and the
// client's version text (vdk/version.h).
#define VDK_PLUGIN_FACTORY_IID "com.halvorine.vondrakelsync.PluginFactory"
Q_DECLARE_INTERFACE(VDK::PluginFactory, VDK_PLUGIN_FACTORY_IID)
