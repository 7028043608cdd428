// What synchost tells its user: one line per event on its standard output, errors on its
// standard error. The daemon and the plug-in write there too unless their output is sent
// to a log file.
#pragma once

#include <QString>

namespace SyncHost {

void reportLine(const QString& line);
void reportError(const QString& line);

// A file name as a line can show it: bytes that are not UTF-8, and control characters, which
// would break the line, as \xNN.
QString printableName(const QByteArray& name);

// From now on the daemon's console trace and the plug-in's log go to the file, while the
// report lines stay on the terminal. False, with the reason, when the file cannot be opened.
bool sendDiagnosticsTo(const QString& logFile, QString* failure);

} // namespace SyncHost
