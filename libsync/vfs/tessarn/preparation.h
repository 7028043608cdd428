// Reading the mount table for mounts that an earlier daemon left behind, and clearing them.
#pragma once

#include <QByteArray>
#include <QStringList>
#include <vdk/result.h>

namespace VDK {

// Undoes the kernel's octal escapes ("\040" for a blank) in a mount-table field.
QByteArray decodeMountInfoField(const QByteArray& field);

// The decoded mount points of the mounts of this file-system type in the text of
// /proc/self/mountinfo.
QStringList mountPointsOfType(const QByteArray& mountInfo, const QByteArray& type);

// The mount points of type "fuse.tessarn" in this process's mount table.
Result<QStringList, QString> tessarnMountPoints();
// Lazily unmounts the folder when it is among the mount points.
Result<void, QString> unmountIfMounted(const QString& folderPath, const QStringList& mountPoints);
// Both: clears a mount left over the folder by a daemon that died.
Result<void, QString> clearStaleMount(const QString& folderPath);

} // namespace VDK
