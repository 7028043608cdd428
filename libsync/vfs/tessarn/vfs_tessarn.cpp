#include "vfs_tessarn.h"

#include "hydration_target.h"

namespace VDK {

Tessarn::Tessarn(QObject* parent) : Vfs(parent)
{
    // Often enough that a removed file's download stops within a second.
    removedFilesCheck.setInterval(250);
    connect(&removedFilesCheck, &QTimer::timeout, this, &Tessarn::cancelDownloadsOfRemovedFiles);
}

// The daemon process, a child object, goes with us; the folder stays claimed until the
// client unregisters it.
Tessarn::~Tessarn()
{
    abandonHydrations();
}

Vfs::Mode Tessarn::mode() const
{
    return FuseMount;
}

// Placeholders keep the file's own name.
QString Tessarn::fileSuffix() const
{
    return {};
}

bool Tessarn::socketApiPinStateActionsShown() const
{
    return true;
}

// Hydration happens on open, file by file; the folder as a whole never hydrates.
bool Tessarn::isHydrating() const
{
    return false;
}

// The record carries no in-sync mark: these client requests have nothing to change.
Result<Vfs::ConvertToPlaceholderResult, QString>
Tessarn::updatePlaceholderMarkInSync(const QString&, const SyncFileItem&)
{
    return ConvertToPlaceholderResult::Unchanged;
}

bool Tessarn::isPlaceHolderInSync(const QString&) const
{
    return false;
}

Result<Vfs::ConvertToPlaceholderResult, QString>
Tessarn::convertToPlaceholder(const QString&, const SyncFileItem&, const QString&,
                              UpdateMetadataTypes)
{
    return ConvertToPlaceholderResult::Unchanged;
}

} // namespace VDK
