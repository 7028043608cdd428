#include "folder_overlaps.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <filesystem>
#include <vdk/filesystem.h>

namespace SyncHost {

namespace {

namespace fs = std::filesystem;

// Where the path leads: the part that exists with its links resolved, the rest, which
// synchost would create, as written. A part that cannot be resolved (a stale mount over the
// folder does not even answer) counts as not existing.
fs::path resolved(const fs::path& path)
{
    std::error_code error;
    if (fs::path real = fs::canonical(path, error); !error)
        return real;
    if (!path.has_relative_path())
        return path;
    return resolved(path.parent_path()) / path.filename();
}

// As synchost uses the path, made absolute and cleaned by Qt, then resolved.
fs::path location(const QString& path)
{
    return resolved(
        VDK::FileSystem::toFilesystemPath(QDir::cleanPath(QFileInfo(path).absoluteFilePath())));
}

// A path counts as inside itself.
bool isInside(const fs::path& inner, const fs::path& outer)
{
    return std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end()).first ==
           outer.end();
}

QString shown(const fs::path& path)
{
    return VDK::FileSystem::fromFilesystemPath(path);
}

QString inside(const char* what, const fs::path& inner, const char* where, const fs::path& outer)
{
    return QStringLiteral("the %1 %2 lies inside the %3 %4")
        .arg(QLatin1String(what), shown(inner), QLatin1String(where), shown(outer));
}

} // namespace

std::optional<QString> overlapRefusal(const HostOptions& options)
{
    const fs::path remote = location(options.remote);
    const fs::path folder = location(options.folder);
    const fs::path state = location(options.stateDir);
    const fs::path socket = location(options.socketPath);
    // The empty path, without --log, lies inside nothing.
    const fs::path log = options.logFile.isEmpty() ? fs::path() : location(options.logFile);
    const std::pair<bool, QString> overlaps[] = {
        {folder == remote,
         QStringLiteral("the sync folder %1 is the remote itself").arg(shown(folder))},
        {isInside(folder, remote), inside("sync folder", folder, "remote", remote)},
        {isInside(remote, folder), QStringLiteral("the sync folder %1 contains the remote %2")
                                       .arg(shown(folder), shown(remote))},
        {isInside(state, remote), inside("state folder", state, "remote", remote)},
        {isInside(state, folder), inside("state folder", state, "sync folder", folder)},
        {isInside(log, remote), inside("log file", log, "remote", remote)},
        {isInside(log, folder), inside("log file", log, "sync folder", folder)},
        {isInside(socket, folder), inside("socket", socket, "sync folder", folder)},
    };
    for (const auto& [found, reason] : overlaps) {
        if (found)
            return reason;
    }
    return std::nullopt;
}

} // namespace SyncHost
