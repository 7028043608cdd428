#include "plugin_session.h"

#include <QJsonObject>
#include <vdk/version.h>
#include <vdk/vfs.h>

namespace SyncHost {

namespace {

VDK::Result<void, QString> checkMetadata(const QJsonObject& metaData, const QString& pluginPath)
{
    if (metaData.value(u"type").toString() != u"vfs")
        return QStringLiteral("%1 is not a virtual-file plug-in").arg(pluginPath);
    const QString version = metaData.value(u"version").toString();
    if (version != QLatin1String(VONDRAKELSYNC_VERSION_STRING))
        return QStringLiteral("%1 is built for release %2 of the client, not %3")
            .arg(pluginPath, version, QLatin1String(VONDRAKELSYNC_VERSION_STRING));
    return {};
}

} // namespace

VDK::Result<void, QString> PluginSession::load(const QString& pluginPath)
{
    m_loader.setFileName(pluginPath);
    if (m_loader.metaData().value(u"IID").toString() != QLatin1String(VDK_PLUGIN_FACTORY_IID))
        return QStringLiteral("%1 is not a plug-in of this client: %2")
            .arg(pluginPath, m_loader.errorString());
    if (auto fits = checkMetadata(m_loader.metaData().value(u"MetaData").toObject(), pluginPath);
        !fits)
        return fits;
    m_factory = qobject_cast<VDK::PluginFactory*>(m_loader.instance());
    if (!m_factory)
        return QStringLiteral("Cannot load %1: %2").arg(pluginPath, m_loader.errorString());
    if (!m_factory->checkAvailability())
        return QStringLiteral("This machine cannot run files on demand (FUSE or fusermount3 "
                              "is missing; see the plug-in's log)");
    return {};
}

VDK::Result<VDK::Vfs*, QString> PluginSession::createVfs(const QString& folder,
                                                         const QUuid& accountUuid, QObject* parent)
{
    if (auto prepared = m_factory->prepare(folder, accountUuid); !prepared)
        return prepared.error();
    return m_factory->create(parent);
}

} // namespace SyncHost
