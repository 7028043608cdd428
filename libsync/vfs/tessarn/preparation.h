// Reading the mount table for mounts that an earlier daemon left behind.
#pragma once

#include <QByteArray>
#include <QStringList>

namespace VDK {

// Undoes the kernel's octal escapes ("\040" for a blank) in a mount-table field.
QByteArray decodeMountInfoField(const QByteArray& field);

// The decoded mount points of the mounts of this file-system type in the text of
// /proc/self/mountinfo.
QStringList mountPointsOfType(const QByteArray& mountInfo, const QByteArray& type);

} // namespace VDK
