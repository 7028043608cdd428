#include "plugin_test_support.h"

#include <daemon_setup.h>

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace VDK;
using namespace TestSupport;

namespace {

class Prepare : public ::testing::Test {
protected:
    Result<void, QString> prepare() { return factory.prepare(sync.path(), sync.accountUuid()); }

    // A mount of the daemon's type left behind over the folder.
    std::unique_ptr<BindMount> staleMountOver(const QString& folder)
    {
        auto mount = std::make_unique<BindMount>(sync.sibling(QStringLiteral("backing")), folder,
                                                 QStringList{QStringLiteral("-o"), QStringLiteral("subtype=tessarn")});
        EXPECT_TRUE(mount->ok()) << "bindfs could not mount over " << folder.toStdString();
        return mount;
    }

    // The daemon is built beside the tests, and no configuration is written unless a test
    // does: so a prepare() refused for that alone passed every check before it.
    static void expectOnlyTheConfigurationMissing(const Result<void, QString>& result)
    {
        ASSERT_FALSE(result) << "prepared without a configuration";
        EXPECT_EQ(result.error(),
                  QStringLiteral("Failed to find the Tessarn config file, please check your installation."));
    }

    ConfigDirectories config;
    SyncFolder sync; // its name holds a blank
    LogCapture log;
    TessarnPluginFactory factory;
};

} // namespace

TEST_F(Prepare, AStaleTessarnMountOverTheFolderIsLazilyUnmountedAndNoOther)
{
    const QString other = sync.sibling(QStringLiteral("other tessarn mount"));
    const auto stale = staleMountOver(sync.path());
    const auto unrelated = staleMountOver(other);
    ASSERT_TRUE(stale->ok() && unrelated->ok());

    const auto result = prepare();
    expectOnlyTheConfigurationMissing(result);
    EXPECT_FALSE(isMounted(sync.path()));
    EXPECT_TRUE(isMounted(other)) << "only the folder's own mount is removed";
    EXPECT_TRUE(log.contains(QtDebugMsg, QStringLiteral("Unmounted Tessarn mount"))) << log.all().toStdString();
}

TEST_F(Prepare, AFailedUnmountRefusesWithTheOutputOfFusermount)
{
    const QString bin = sync.sibling(QStringLiteral("bin"));
    ASSERT_TRUE(writeFile(bin + QStringLiteral("/fusermount"), "#!/bin/sh\necho device is busy\nexit 1\n"));
    QFile(bin + QStringLiteral("/fusermount")).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    const auto stale = staleMountOver(sync.path());
    ScopedEnvironment path("PATH", bin.toUtf8() + ":/usr/bin:/bin");

    const auto result = prepare();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(),
              QStringLiteral("Failed to unmount the Tessarn mount %1 Error:device is busy\n").arg(sync.path()));
    EXPECT_TRUE(log.contains(QtWarningMsg, QStringLiteral("Failed to unmount the Tessarn mount")));
    EXPECT_TRUE(isMounted(sync.path()));
}

TEST_F(Prepare, AFusermountThatCannotStartCountsAsSuccess)
{
    const auto stale = staleMountOver(sync.path());
    ScopedEnvironment path("PATH", sync.sibling(QStringLiteral("empty bin")).toUtf8());

    const auto result = prepare();
    expectOnlyTheConfigurationMissing(result);
    EXPECT_FALSE(log.contains(QtWarningMsg, QStringLiteral("Failed to unmount the Tessarn mount")));
    EXPECT_TRUE(isMounted(sync.path())) << "nothing could unmount it";
}

TEST_F(Prepare, AFolderWithoutExtendedAttributesIsRefused)
{
    BindMount noXattrs(sync.sibling(QStringLiteral("plain")), sync.path(), {QStringLiteral("--xattr-none")});
    ASSERT_TRUE(noXattrs.ok());

    const auto result = prepare();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), QStringLiteral("The filesystem for %1 does not support xattributes.").arg(sync.path()));
    EXPECT_TRUE(log.contains(QtDebugMsg, QStringLiteral("does not support xattributes")));
}

TEST_F(Prepare, AFolderClaimedByAnotherOwnerIsRefusedAndOursPasses)
{
    const auto folder = QFile::encodeName(sync.path()).toStdString();
    ASSERT_TRUE(::Tessarn::Registration::registerFilesystem(folder, "Other:1234"));
    auto result = prepare();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), QStringLiteral("The sync path is already claimed by Other:1234"));

    ASSERT_TRUE(::Tessarn::Registration::unregisterFilesystem(::Tessarn::Registration(folder)));
    ASSERT_TRUE(::Tessarn::Registration::registerFilesystem(folder, ownerIdFor(sync.accountUuid()).toStdString()));
    result = prepare();
    expectOnlyTheConfigurationMissing(result);
}

TEST_F(Prepare, AnUndecodableRegistrationIsRefusedNamingTheFolder)
{
    ASSERT_TRUE(setRawXattr(sync.path(), "user.tessarn.registration", QByteArray("\x82\xa5owner", 7)));
    const auto result = prepare();
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().contains(sync.path())) << result.error().toStdString();
    EXPECT_TRUE(result.error().contains(QStringLiteral("cannot be read")));
}

TEST_F(Prepare, AnInstalledDaemonAndConfigurationComplete)
{
    ASSERT_FALSE(builtDaemon().isEmpty()) << "no daemon beside the tests (build/bin/tessarn)";
    auto result = prepare();
    expectOnlyTheConfigurationMissing(result);

    const QString file = config.writeConfig(config.systemDir());
    result = prepare();
    EXPECT_TRUE(result) << result.error().toStdString();
    EXPECT_TRUE(log.contains(QtDebugMsg, QStringLiteral("Using config file"))) << log.all().toStdString();
    EXPECT_TRUE(log.contains(file));
}
