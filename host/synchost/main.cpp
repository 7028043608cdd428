// synchost: a stand-in sync client that serves a folder with files on demand through the
// real plug-in and daemon. See README.md for what it shows.
#include "bundled_configuration.h"
#include "folder_overlaps.h"
#include "host_options.h"
#include "report.h"
#include "sync_host.h"

#include <QCoreApplication>
#include <QTimer>
#include <exception>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("synchost"));
    const auto parsed = SyncHost::parseCommandLine(QCoreApplication::arguments());
    if (const auto* information = std::get_if<SyncHost::Information>(&parsed)) {
        SyncHost::reportLine(information->text);
        return 0;
    }
    if (const auto* wrong = std::get_if<SyncHost::UsageError>(&parsed)) {
        SyncHost::reportError(wrong->text + QStringLiteral("\nTry synchost --help."));
        return 2;
    }
    const auto& options = std::get<SyncHost::HostOptions>(parsed);
    // Before the log file, the lock or the sample is made: a refused start writes nothing.
    if (const auto refusal = SyncHost::overlapRefusal(options)) {
        SyncHost::reportError(QStringLiteral("synchost: %1; nothing was changed.").arg(*refusal));
        return 2;
    }
    QString failure;
    if (!options.logFile.isEmpty() && !SyncHost::sendDiagnosticsTo(options.logFile, &failure)) {
        SyncHost::reportError(QStringLiteral("Cannot write %1: %2").arg(options.logFile, failure));
        return 1;
    }
    SyncHost::useBundledConfiguration();
    try {
        SyncHost::Host host(options);
        QTimer::singleShot(0, &host, &SyncHost::Host::start);
        return QCoreApplication::exec();
    } catch (const std::exception& exception) {
        SyncHost::reportError(
            QStringLiteral("synchost: %1").arg(QString::fromUtf8(exception.what())));
        return 1;
    }
}
