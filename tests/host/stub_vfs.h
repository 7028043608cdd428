// A Vfs that does nothing but hold setup parameters, for testing what the client's own
// classes do with them.
#pragma once

#include <vdk/vfs.h>

class StubVfs : public VDK::Vfs {
public:
    using Vfs::Vfs;
    using UpdateResult = VDK::Result<ConvertToPlaceholderResult, QString>;

    Mode mode() const override { return Off; }
    QString fileSuffix() const override { return {}; }
    void stop() override {}
    void unregisterFolder() override {}
    bool socketApiPinStateActionsShown() const override { return false; }
    bool isHydrating() const override { return false; }
    UpdateResult updateMetadata(const VDK::SyncFileItem&, const QString&, const QString&) override
    {
        return ConvertToPlaceholderResult::Unchanged;
    }
    UpdateResult updatePlaceholderMarkInSync(const QString&, const VDK::SyncFileItem&) override
    {
        return ConvertToPlaceholderResult::Unchanged;
    }
    bool isPlaceHolderInSync(const QString&) const override { return false; }
    VDK::Result<void, QString> createPlaceholder(const VDK::SyncFileItem&) override { return {}; }
    VDK::Result<void, QString> createPlaceholders(const QList<VDK::SyncFileItemPtr>&) override
    {
        return {};
    }
    VDK::Result<void, QString> dehydratePlaceholder(const VDK::SyncFileItem&) override { return {}; }
    bool needsMetadataUpdate(const VDK::SyncFileItem&) override { return false; }
    UpdateResult convertToPlaceholder(const QString&, const VDK::SyncFileItem&, const QString&,
                                      UpdateMetadataTypes) override
    {
        return ConvertToPlaceholderResult::Unchanged;
    }
    bool isDehydratedPlaceholder(const QString&) override { return false; }
    bool statTypeVirtualFile(csync_file_stat_t*, const QByteArray&) override { return false; }
    bool setPinState(const QString&, VDK::PinState) override { return false; }
    VDK::Optional<VDK::PinState> pinState(const QString&) override { return {}; }
    AvailabilityResult availability(const QString&, AvailabilityRecursivity) override
    {
        return AvailabilityError::NoSuchItem;
    }
    VDK::HydrationJob* hydrateFile(const QByteArray&, const QString&) override { return nullptr; }
    void fileStatusChanged(const QString&, VDK::SyncFileStatus) override {}

protected:
    void startImpl(const VDK::VfsSetupParams&) override {}
};
