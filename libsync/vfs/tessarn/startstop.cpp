#include "boundary.h"
#include "daemon_setup.h"
#include "logging.h"
#include "preparation.h"
#include "vfs_tessarn.h"

#include <QTimer>

namespace VDK {

namespace {

constexpr int startedDelayMs = 1000;
constexpr int stopTimeoutMs = 30000;

// Claims the folder for this account, or says why that is not possible.
Result<void, QString> claimFolder(const QString& folder, const QString& owner)
{
    const auto registration =
        guardedRegistration("VDK::Tessarn", folder, [&](const std::filesystem::path& path) {
            return ::Tessarn::Registration::registerFilesystem(path, owner.toStdString());
        });
    if (!registration)
        return registration.error();
    if (registration->isOk())
        return {};
    const QString recordedOwner = QString::fromStdString(registration->owner());
    if (recordedOwner != owner)
        return Tessarn::tr("Unable to claim the sync root for files on demand, the folder is "
                           "already claimed by %1")
            .arg(recordedOwner);
    return Tessarn::tr("Unable to retrieve registration info. Error: %1")
        .arg(QString::fromStdString(registration->error()));
}

QString logPrefix(const QProcess* process, const QString& folder)
{
    return QStringLiteral("[%1 %2] ").arg(process->processId()).arg(folder);
}

} // namespace

void Tessarn::startImpl(const VfsSetupParams& params)
{
    guarded(
        "startImpl",
        [&] {
            qCDebug(lcTessarn) << "Start Tessarn VFS";
            if (!params.account) {
                Q_EMIT error(tr("Unable to start files on demand for %1: no account")
                                 .arg(params.filesystemPath));
                return;
            }
            const QString owner = ownerIdFor(params.account->uuid());
            if (const auto claimed = claimFolder(params.filesystemPath, owner); !claimed) {
                Q_EMIT error(claimed.error());
                return;
            }
            launchDaemon(params, owner);
        },
        [&](const QString& reason) {
            Q_EMIT error(tr("Unable to start files on demand for %1: %2")
                             .arg(params.filesystemPath, reason));
        });
}

void Tessarn::launchDaemon(const VfsSetupParams& params, const QString& owner)
{
    const QString program = daemonExecutablePath().toString();
    qCDebug(lcTessarn) << "Mounting" << program << params.filesystemPath;
    auto* process = new QProcess(this);
    daemonProcess = process;
    deadMountLeft = false;
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    watchDaemon(process, params.filesystemPath);
    const QStringList arguments =
        daemonArguments(configFilePath().toString(), owner, params.socketApiPath,
                        params.filesystemPath, operationLogRequested());
    qCDebug(lcTessarn) << "Starting tessarn" << program << arguments;
    process->start(program, arguments, QIODevice::ReadOnly);
}

void Tessarn::watchDaemon(QProcess* process, const QString& folder)
{
    connect(process, &QProcess::finished, this,
            [this, process, folder](int exitCode, QProcess::ExitStatus status) {
                guarded("daemon finished", [&] {
                    qCWarning(lcTessarn).noquote()
                        << logPrefix(process, folder) + QStringLiteral("finished") << exitCode;
                    process->deleteLater();
                    restartDaemon(folder, describeExit(status, exitCode));
                });
            });
    connect(process, &QProcess::started, this, [this, process, folder] {
        guarded("daemon started", [&] {
            qCInfo(lcTessarn).noquote() << logPrefix(process, folder) + QStringLiteral("started");
            // The daemon mounts in its first moments; give it that time before the client
            // starts using the folder. The timer goes with the process, so a daemon stopped
            // within that second is never reported as started.
            QTimer::singleShot(startedDelayMs, process, [this] { Q_EMIT started(); });
        });
    });
    connect(process, &QProcess::errorOccurred, this, [process, folder] {
        guarded("daemon error", [&] {
            qCWarning(lcTessarn).noquote() << logPrefix(process, folder) + process->errorString();
        });
    });
}

// A daemon that ends unasked leaves the folder unserved; its dead mount fails every access
// meanwhile (-k), so nothing reads a placeholder as an empty file.
void Tessarn::restartDaemon(const QString& folder, const QString& lastExit)
{
    if (!daemonRestarts.take()) {
        deadMountLeft = true;
        Q_EMIT error(tr("The files-on-demand daemon of %1 ended (%2) after %3 restarts within a "
                        "minute; the folder is not served until the client starts it again")
                         .arg(folder, lastExit)
                         .arg(RestartBudget::maxRestarts));
        return;
    }
    qCWarning(lcTessarn).noquote()
        << QStringLiteral("Restarting the daemon of %1, which ended with %2 (restart %3 of at most "
                          "%4 within a minute)")
               .arg(folder, lastExit)
               .arg(daemonRestarts.takenInWindow())
               .arg(RestartBudget::maxRestarts);
    if (const auto cleared = clearStaleMount(folder); !cleared) {
        deadMountLeft = true;
        Q_EMIT error(cleared.error());
        return;
    }
    launchDaemon(params(), ownerIdFor(params().account->uuid()));
}

void Tessarn::stop()
{
    guarded("stop", [&] {
        if (deadMountLeft) {
            deadMountLeft = false;
            clearStaleMount(params().filesystemPath);
        }
        if (!daemonProcess)
            return;
        // A stop we asked for is no news: only a daemon that ends on its own is logged.
        disconnect(daemonProcess, &QProcess::finished, nullptr, nullptr);
        daemonProcess->terminate();
        daemonProcess->waitForFinished(stopTimeoutMs);
        daemonProcess->deleteLater();
    });
}

void Tessarn::unregisterFolder()
{
    guarded("unregisterFolder", [&] {
        if (!params().account)
            return;
        ::Tessarn::Registration::unregisterFilesystem(::Tessarn::Registration(
            params().root(), ownerIdFor(params().account->uuid()).toStdString()));
    });
}

} // namespace VDK
