// Extended-attribute access for the plug-in and the client, in the client's own types.
// Reads, writes and removals address a symbolic link itself, never its target.
#pragma once

#include <vdk/result.h>

#include <QByteArray>
#include <QString>
#include <filesystem>

namespace VDK::FileSystem::Xattr {

// False only when the file system says it has no extended attributes at all.
bool supportsxattr(const std::filesystem::path& path);

// The value, or nothing when it is absent, empty or unreadable.
Optional<QByteArray> getxattr(const std::filesystem::path& path, const QString& name);

Result<void, QString> setxattr(const std::filesystem::path& path, const QString& name,
                               const QByteArray& value);

// Removing an absent attribute succeeds, with a warning.
Result<void, QString> removexattr(const std::filesystem::path& path, const QString& name);

} // namespace VDK::FileSystem::Xattr
