#include "sync_host.h"

#include "account_state.h"
#include "remote_mirror.h"
#include "report.h"
#include "sample_remote.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <utility>
#include <vdk/vfs.h>

namespace SyncHost {

namespace {

using namespace std::chrono_literals;

constexpr auto readinessPeriod = 50ms;
// Generous: the daemon of a sanitizer build on a busy machine takes seconds to mount.
constexpr qint64 startDeadlineMs = 30000;
constexpr long fuseSuperMagic = 0x65735546;

// The folder is the root of a FUSE mount: another file system than its parent's.
bool isFuseMountPoint(const QString& folder)
{
    struct statfs fileSystem {};
    struct stat self {};
    struct stat parent {};
    const QByteArray path = QFile::encodeName(folder);
    const QByteArray parentPath = QFile::encodeName(QFileInfo(folder).path());
    return ::statfs(path.constData(), &fileSystem) == 0 && fileSystem.f_type == fuseSuperMagic &&
           ::stat(path.constData(), &self) == 0 && ::stat(parentPath.constData(), &parent) == 0 &&
           self.st_dev != parent.st_dev;
}

// At the stop, a mount whose daemon is gone counts too: its statfs() fails with ENOTCONN,
// and it is exactly the leftover the stop must report.
bool stillMounted(const QString& folder)
{
    struct statfs fileSystem {};
    return isFuseMountPoint(folder) ||
           (::statfs(QFile::encodeName(folder).constData(), &fileSystem) != 0 && errno == ENOTCONN);
}

QString mebibytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1);
}

} // namespace

Host::Host(HostOptions options, QObject* parent) : QObject(parent), m_options(std::move(options))
{
    connect(&m_signals, &SignalWatcher::stopRequested, this, [this] { shutdown(0); });
    connect(&m_readinessCheck, &QTimer::timeout, this, &Host::checkReadiness);
    connect(&m_server, &SocketApiServer::versionAnswered, this, [this] { m_sinceVersion.start(); });
    // The plug-in restarts a daemon that ends unasked, or gives up with an error, which ends
    // synchost. Either way the user hears of it.
    connect(&m_server, &SocketApiServer::daemonConnected, this, [this] {
        if (std::exchange(m_daemonConnected, true))
            reportLine(QStringLiteral("The plug-in restarted the daemon: %1 is served again")
                           .arg(m_options.folder));
    });
    connect(&m_server, &SocketApiServer::daemonDisconnected, this, [this] {
        if (m_stopping)
            return;
        reportError(QStringLiteral("synchost: the daemon ended without being asked to (see its "
                                   "log); %1 is not served until the plug-in restarts it")
                        .arg(m_options.folder));
    });
}

Host::~Host() = default;

void Host::start()
{
    m_sinceStart.start();
    if (auto ready = setUp(); !ready)
        fail(ready.error());
}

VDK::Result<void, QString> Host::setUp()
{
    if (m_options.sample) {
        if (auto created = createSampleRemote(m_options.remote); !created)
            return created;
        reportLine(QStringLiteral("Sample remote: %1").arg(m_options.remote));
    }
    if (auto prepared = prepareFolders(); !prepared)
        return prepared;
    QString failure;
    // Listening before the daemon starts: it connects once, at its start, and never again.
    if (!m_server.listen(m_options.socketPath, &failure))
        return QStringLiteral("Cannot serve the socket %1: %2").arg(m_options.socketPath, failure);
    if (auto loaded = m_plugin.load(m_options.pluginPath); !loaded)
        return loaded;
    return startMode();
}

// The folder by its real path, as the daemon will name its files; a stale mount over it
// may not even answer stat(), so only its parent is resolved.
VDK::Result<void, QString> Host::prepareFolders()
{
    const QFileInfo folder(QDir::cleanPath(QFileInfo(m_options.folder).absoluteFilePath()));
    if (!QDir().mkpath(folder.path()) || !QDir().mkpath(m_options.stateDir))
        return QStringLiteral("Cannot create %1 or %2").arg(folder.path(), m_options.stateDir);
    m_options.folder =
        QDir(QFileInfo(folder.path()).canonicalFilePath()).filePath(folder.fileName());
    if (auto locked = lockFolder(); !locked)
        return locked;
    m_options.remote = QFileInfo(m_options.remote).absoluteFilePath();
    QDir().mkdir(m_options.folder);
    m_journal = std::make_unique<VDK::SyncJournalDb>(
        QDir(m_options.stateDir).filePath(QStringLiteral("journal.db")));
    return {};
}

// A second host over the same folder, whatever its state folder, would clear the first
// one's mount as stale before the folder's claim could refuse it. The lock is a file beside
// the folder, named after it, in the folder's real parent: the folder itself is mounted
// over while a host serves it, and the mount may not even answer.
VDK::Result<void, QString> Host::lockFolder()
{
    const QFileInfo folder(m_options.folder);
    m_folderLock = std::make_unique<QLockFile>(
        folder.dir().filePath(QStringLiteral(".%1.synchost.lock").arg(folder.fileName())));
    if (m_folderLock->tryLock(0))
        return {};
    qint64 owner = 0;
    m_folderLock->getLockInfo(&owner, nullptr, nullptr);
    return QStringLiteral("Another synchost (process %1) serves %2")
        .arg(owner)
        .arg(m_options.folder);
}

VDK::Result<void, QString> Host::startMode()
{
    const auto uuid = persistentAccountUuid(m_options.stateDir);
    if (!uuid)
        return uuid.error();
    const auto vfs = m_plugin.createVfs(m_options.folder, *uuid, this);
    if (!vfs)
        return vfs.error();
    m_vfs = *vfs;
    m_hydration = std::make_unique<HydrationService>(
        *m_vfs, *m_journal, m_options.folder, Throttle{m_options.latency, m_options.bytesPerSecond},
        m_options.progress);
    connect(&m_server, &SocketApiServer::hydrationRequested, m_hydration.get(),
            &HydrationService::request);
    connect(m_vfs, &VDK::Vfs::started, this, [this] { m_modeStarted = true; });
    connect(m_vfs, &VDK::Vfs::error, this, &Host::fail);

    VDK::VfsSetupParams params;
    params.filesystemPath = m_options.folder;
    params.account = VDK::AccountPtr::create(*uuid, QUrl::fromLocalFile(m_options.remote));
    params.journal = m_journal.get();
    params.socketApiPath = m_options.socketPath;
    m_readinessCheck.start(readinessPeriod);
    m_vfs->start(params); // may refuse at once, through error()
    return {};
}

void Host::checkReadiness()
{
    // The daemon knows our process id from the moment it connected, so our own writes into
    // the mount pass once it has asked for our VERSION.
    if (m_modeStarted && m_sinceVersion.isValid() && isFuseMountPoint(m_options.folder)) {
        m_readinessCheck.stop();
        serve();
    } else if (m_sinceStart.elapsed() > startDeadlineMs) {
        fail(m_sinceVersion.isValid()
                 ? QStringLiteral("The folder %1 was not mounted in time").arg(m_options.folder)
                 : QStringLiteral("The daemon did not connect to %1 in time")
                       .arg(m_options.socketPath));
    }
}

void Host::serve()
{
    const auto mirrored = mirrorRemote(*m_vfs, *m_journal, m_options.remote, m_options.folder);
    if (!mirrored) {
        fail(mirrored.error());
        return;
    }
    m_hydration->setReady();
    reportLine(QStringLiteral("Serving %1 in %2: %3 files, %4 MiB, %5 new placeholders")
                   .arg(m_options.remote, m_options.folder)
                   .arg(mirrored->files)
                   .arg(mebibytes(mirrored->bytes))
                   .arg(mirrored->placeholdersCreated));
    reportLine(QStringLiteral("Open its files with any program; Ctrl-C stops."));
}

void Host::fail(const QString& reason)
{
    reportError(QStringLiteral("synchost: %1").arg(reason));
    shutdown(1);
}

void Host::shutdown(int exitCode)
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_readinessCheck.stop();
    if (m_hydration)
        m_hydration->abandonAll(QStringLiteral("The sync client is stopping"));
    if (m_vfs)
        m_vfs->stop();
    m_server.close();
    // Without a Vfs this host mounted nothing: a mount there is another host's.
    if (m_vfs && stillMounted(m_options.folder)) {
        reportError(QStringLiteral("synchost: %1 is still mounted").arg(m_options.folder));
        exitCode = 1;
    } else if (m_vfs) {
        reportLine(QStringLiteral("Stopped; %1 is unmounted").arg(m_options.folder));
    }
    QCoreApplication::exit(exitCode);
}

} // namespace SyncHost
