// What the daemon is started with: the owner identity that claims the folder, where the
// daemon and its configuration are, and its command line.
#pragma once

#include <tessarn/tessarn.h>
#include <vdk/filesystem.h>
#include <vdk/result.h>

#include <QString>
#include <QStringList>
#include <QUuid>
#include <nlohmann/json.hpp>

namespace VDK {

// "<application name>:<account uuid without braces>".
QString ownerIdFor(const QUuid& accountUuid);

// The daemon beside the client's own executable, else the installed one.
FileSystem::Path daemonExecutablePath();

// The first "tessarn/config.json" of the user's and the system's configuration
// directories, else the one in an AppImage bundle; empty when there is none.
FileSystem::Path configFilePath();

// Whether HALVORINE_TESSARN_LOG_FUSE asks for the daemon's operation log.
bool operationLogRequested();

QStringList daemonArguments(const QString& configFile, const QString& owner,
                            const QString& socketPath, const QString& folder, bool operationLog);

// The refusal for a registration that cannot be decoded, translated in the context of the
// class that refuses.
QString unreadableRegistrationText(const char* context, const QString& folder,
                                   const char* reason);

// The folder's registration as read() gets it from the library, or a text that names the
// folder when its stored record cannot be decoded: the library raises on such a record.
template <typename Read>
Result<::Tessarn::Registration, QString> guardedRegistration(const char* context,
                                                             const QString& folder, Read&& read)
{
    try {
        return read(FileSystem::toFilesystemPath(folder));
    } catch (const nlohmann::json::exception& exception) {
        return unreadableRegistrationText(context, folder, exception.what());
    }
}

} // namespace VDK
