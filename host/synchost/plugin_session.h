// The virtual-file plug-in, loaded and asked for a folder's Vfs the way the sync client
// does: by its metadata, through its single factory.
#pragma once

#include <QPluginLoader>
#include <QString>
#include <QUuid>
#include <vdk/result.h>

namespace VDK {
class PluginFactory;
class Vfs;
} // namespace VDK

namespace SyncHost {

class PluginSession {
public:
    // Loads the plug-in and checks that it is a virtual-file plug-in for this client release
    // and that the machine can run its mode.
    VDK::Result<void, QString> load(const QString& pluginPath);
    // Readies the folder (a stale mount is cleared) and makes its Vfs, owned by parent.
    VDK::Result<VDK::Vfs*, QString> createVfs(const QString& folder, const QUuid& accountUuid,
                                              QObject* parent);

private:
    QPluginLoader m_loader;
    VDK::PluginFactory* m_factory = nullptr;
};

} // namespace SyncHost
