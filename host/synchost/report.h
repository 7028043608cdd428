// What synchost tells its user: one line per event on its standard output, errors on its
// standard error. The daemon and the plug-in write there too unless their output is sent
// to a log file.
#pragma once

#include <QString>

namespace SyncHost {

void reportLine(const QString& line);
void reportError(const QString& line);

// From now on the daemon's console trace and the plug-in's log go to the file, while the
// report lines stay on the terminal. False, with the reason, when the file cannot be opened.
bool sendDiagnosticsTo(const QString& logFile, QString* failure);

} // namespace SyncHost
