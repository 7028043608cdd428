// How the plug-in starts and stops its daemon, seen through a script in the daemon's
// place that writes down its arguments.
#include "plugin_test_support.h"

#include <QSignalSpy>
#include <QTest>
#include <daemon_setup.h>
#include <gtest/gtest.h>

using namespace VDK;
using namespace TestSupport;

namespace {

class FakeDaemon : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(daemonExecutablePath().toString().endsWith(u"fake/tessarn"));
    }

    void TearDown() override { vfs.stop(); }

    // Starts the mode and returns the arguments the script was given.
    QStringList startAndReadArguments()
    {
        vfs.start(sync.params());
        if (!QTest::qWaitFor([&] { return QFile::exists(argumentsFile); }, 10000))
            return {QStringLiteral("<the script never ran>")};
        return nulTerminated(readFile(argumentsFile));
    }

    QStringList expectedArguments() const
    {
        return {"-f",       "-k",
                "-i",       configFile,
                "-o",       ownerIdFor(sync.accountUuid()),
                "-s",       sync.params().socketApiPath,
                sync.path()};
    }

    ConfigDirectories config;
    QString configFile = config.writeConfig(config.userDir());
    SyncFolder sync;
    QString argumentsFile = sync.sibling(QStringLiteral("record")) + QStringLiteral("/arguments");
    ScopedEnvironment record{"TESSARN_FAKE_ARGUMENTS", argumentsFile.toUtf8()};
    LogCapture log;
    VDK::Tessarn vfs;
};

} // namespace

TEST_F(FakeDaemon, NineArgumentsWithoutTheOperationLog)
{
    ScopedEnvironment operationLog("HALVORINE_TESSARN_LOG_FUSE", QByteArray());
    EXPECT_EQ(startAndReadArguments(), expectedArguments());
}

TEST_F(FakeDaemon, TenArgumentsWithTheOperationLog)
{
    ScopedEnvironment operationLog("HALVORINE_TESSARN_LOG_FUSE", "1");
    EXPECT_EQ(startAndReadArguments(), QStringList{"-d"} + expectedArguments());
}

TEST_F(FakeDaemon, AMissingConfigurationIsPassedAsAnEmptyArgument)
{
    QFile::remove(configFile);
    const QStringList arguments = startAndReadArguments();
    ASSERT_EQ(arguments.size(), 9);
    EXPECT_EQ(arguments[3], QString());
}

TEST_F(FakeDaemon, StartedComesOneSecondAfterTheProcessAndStopLogsNoFinishedLine)
{
    QSignalSpy started(&vfs, &Vfs::started);
    startAndReadArguments();
    EXPECT_TRUE(log.contains(QtInfoMsg, QStringLiteral("] started")));
    ASSERT_TRUE(started.wait(5000));
    ASSERT_NE(vfs.findChild<QProcess*>(), nullptr);
    vfs.stop();
    QTest::qWait(100);
    EXPECT_EQ(vfs.findChild<QProcess*>(), nullptr);
    EXPECT_FALSE(log.contains(QStringLiteral("finished"))) << log.all().toStdString();
}

// Each end is logged and restarted, three times within the minute; the fourth is an error.
TEST_F(FakeDaemon, ADaemonEndingOnItsOwnIsRestartedThriceThenAnError)
{
    ScopedEnvironment exitCode("TESSARN_FAKE_EXIT", "3");
    QSignalSpy errors(&vfs, &Vfs::error);
    startAndReadArguments();
    ASSERT_TRUE(errors.wait(10000)) << log.all().toStdString();
    EXPECT_EQ(log.all().count(QStringLiteral(" %1] finished 3").arg(sync.path())), 4)
        << log.all().toStdString();
    EXPECT_TRUE(
        log.contains(QtWarningMsg, QStringLiteral("Restarting the daemon of %1, which ended "
                                                  "with exit status 3 (restart 3 of at most 3")
                                       .arg(sync.path())))
        << log.all().toStdString();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors.first().first().toString(),
              QStringLiteral("The files-on-demand daemon of %1 ended (exit status 3) after 3 "
                             "restarts within a minute; the folder is not served until the "
                             "client starts it again")
                  .arg(sync.path()));
    EXPECT_FALSE(errors.wait(1500)) << "no more restarts";
}
