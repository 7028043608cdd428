// The plug-in hosted by a program with no daemon beside it and none installed.
#include "plugin_test_support.h"

#include <daemon_setup.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace VDK;
using namespace TestSupport;

namespace {

class NoDaemon : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QFileInfo::exists(QStringLiteral(TESSARN_INSTALLED_DAEMON)))
            GTEST_SKIP() << "a daemon is installed at " TESSARN_INSTALLED_DAEMON;
    }

    ConfigDirectories config;
    SyncFolder sync;
    LogCapture log;
};

} // namespace

TEST_F(NoDaemon, TheInstalledLocationIsTheAnswerAndPrepareRefuses)
{
    EXPECT_EQ(daemonExecutablePath().toString(), QStringLiteral(TESSARN_INSTALLED_DAEMON));
    config.writeConfig(config.userDir());
    const auto result = TessarnPluginFactory().prepare(sync.path(), sync.accountUuid());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), QStringLiteral("Tessarn executable not found, please install it"));
    EXPECT_TRUE(log.contains(QtDebugMsg, QStringLiteral("Tessarn executable not found at")));
    EXPECT_TRUE(log.contains(QStringLiteral(TESSARN_INSTALLED_DAEMON)));
}

TEST_F(NoDaemon, ADaemonThatCannotStartIsOnlyAWarning)
{
    VDK::Tessarn vfs;
    QSignalSpy started(&vfs, &Vfs::started);
    QSignalSpy errors(&vfs, &Vfs::error);
    vfs.start(sync.params());
    EXPECT_FALSE(started.wait(1500));
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_TRUE(log.contains(QtWarningMsg, QStringLiteral(" %1] ").arg(sync.path()))) << log.all().toStdString();
}

TEST_F(NoDaemon, AnAppImageBringsItsOwnConfiguration)
{
    EXPECT_TRUE(configFilePath().get().empty());
    ScopedEnvironment appImage("APPIMAGE", "/opt/Halvorine.AppImage");
    const QString bundled = QCoreApplication::applicationDirPath() + QStringLiteral("/../etc/xdg/tessarn/config.json");
    ASSERT_TRUE(QFileInfo::exists(bundled));
    EXPECT_EQ(configFilePath().toString(), bundled);
}
