// synchost's life: set up the folder, start the files-on-demand mode through the plug-in,
// mirror the remote once the mode runs, serve hydrations, and stop cleanly on a signal.
#pragma once

#include "host_options.h"
#include "hydration_service.h"
#include "plugin_session.h"
#include "signal_watcher.h"
#include "socket_api.h"

#include <QElapsedTimer>
#include <QLockFile>
#include <QObject>
#include <QTimer>
#include <memory>
#include <vdk/account.h>
#include <vdk/syncjournaldb.h>

namespace VDK {
class Vfs;
}

namespace SyncHost {

class Host : public QObject {
    Q_OBJECT

public:
    explicit Host(HostOptions options, QObject* parent = nullptr);
    ~Host() override;

    // Call from the event loop: its exit code tells how synchost ended.
    void start();

private:
    VDK::Result<void, QString> setUp();
    VDK::Result<void, QString> prepareFolders();
    VDK::Result<void, QString> lockFolder();
    VDK::Result<void, QString> startMode();
    void checkReadiness();
    void serve();
    void fail(const QString& reason);
    void shutdown(int exitCode);

    HostOptions m_options;
    std::unique_ptr<QLockFile> m_folderLock;
    SignalWatcher m_signals;
    SocketApiServer m_server;
    PluginSession m_plugin;
    std::unique_ptr<VDK::SyncJournalDb> m_journal;
    VDK::Vfs* m_vfs = nullptr;
    std::unique_ptr<HydrationService> m_hydration;

    QTimer m_readinessCheck;
    QElapsedTimer m_sinceStart;
    QElapsedTimer m_sinceVersion; // invalid until VERSION was answered
    bool m_modeStarted = false;
    bool m_daemonConnected = false; // once: every later daemon is a restarted one
    bool m_stopping = false;
};

} // namespace SyncHost
