// What synchost serves and how: its command line.
#pragma once

#include <QString>
#include <QStringList>
#include <chrono>
#include <variant>

namespace SyncHost {

struct HostOptions {
    QString remote;     // the folder standing for the server
    QString folder;     // the sync folder, where the placeholders live
    QString stateDir;   // the journal and the account, beside the folder, never inside it
    QString socketPath; // our socket API, where the daemon connects
    QString pluginPath;
    QString logFile; // empty: the daemon and the plug-in write to our terminal
    std::chrono::milliseconds latency{0};
    qint64 bytesPerSecond = 0; // 0: no cap
    bool sample = false;       // no folders given: serve the sample remote
    bool progress = false;     // a line every second for each download that takes longer
};

// The help or the version: printed on standard output, and the program ends with 0.
struct Information {
    QString text;
};
struct UsageError {
    QString text;
};
using ParsedCommandLine = std::variant<HostOptions, Information, UsageError>;

// arguments as QCoreApplication::arguments() has them, the program first.
ParsedCommandLine parseCommandLine(const QStringList& arguments);

} // namespace SyncHost
