#include "plugin_test_support.h"

#include <vdk/version.h>

#include <QJsonObject>
#include <QPluginLoader>
#include <gtest/gtest.h>

using namespace VDK;

TEST(PluginLoader, MetadataNamesTheFactoryAndTheClientRelease)
{
    QPluginLoader loader(QStringLiteral(TESSARN_PLUGIN_FILE));
    const QJsonObject metaData = loader.metaData();
    EXPECT_EQ(metaData.value(QStringLiteral("IID")).toString(),
              QStringLiteral(VDK_PLUGIN_FACTORY_IID));
    EXPECT_TRUE(metaData.value(QStringLiteral("IID")).toString().endsWith(u".PluginFactory"));
    EXPECT_EQ(metaData.value(QStringLiteral("className")).toString(),
              QStringLiteral("TessarnPluginFactory"));
    const QJsonObject ours = metaData.value(QStringLiteral("MetaData")).toObject();
    EXPECT_EQ(ours.value(QStringLiteral("type")).toString(), QStringLiteral("vfs"));
    EXPECT_EQ(ours.value(QStringLiteral("version")).toString(),
              QStringLiteral(VONDRAKELSYNC_VERSION_STRING));
}

TEST(PluginLoader, OneFactoryServesEveryRequestAndCastsToItsInterfaces)
{
    QPluginLoader loader(QStringLiteral(TESSARN_PLUGIN_FILE));
    QObject* instance = loader.instance();
    ASSERT_NE(instance, nullptr) << loader.errorString().toStdString();
    QPluginLoader second(QStringLiteral(TESSARN_PLUGIN_FILE));
    EXPECT_EQ(second.instance(), instance);

    auto* factory = qobject_cast<PluginFactory*>(instance);
    ASSERT_NE(factory, nullptr);
    EXPECT_NE(instance->qt_metacast("VDK::TessarnPluginFactory"), nullptr);
    EXPECT_NE(instance->qt_metacast("DefaultPluginFactory<Tessarn>"), nullptr);
    EXPECT_EQ(instance->qt_metacast(VDK_PLUGIN_FACTORY_IID), static_cast<void*>(factory));

    QObject parent;
    Vfs* vfs = factory->create(&parent);
    ASSERT_NE(qobject_cast<VDK::Tessarn*>(vfs), nullptr);
    EXPECT_EQ(vfs->parent(), &parent);
}

TEST(PluginConstants, ModeSuffixAndFlags)
{
    VDK::Tessarn vfs;
    EXPECT_EQ(int(vfs.mode()), 4);
    EXPECT_TRUE(vfs.fileSuffix().isEmpty());
    EXPECT_FALSE(vfs.isHydrating());
    EXPECT_TRUE(vfs.socketApiPinStateActionsShown());
    vfs.stop(); // never started: nothing to do
}
