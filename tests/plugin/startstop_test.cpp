#include "plugin_test_support.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <daemon_setup.h>
#include <gtest/gtest.h>

using namespace VDK;
using namespace TestSupport;

namespace {

QStringList commandLineOf(qint64 pid)
{
    return nulTerminated(readFile(QStringLiteral("/proc/%1/cmdline").arg(pid)));
}

// The real daemon over a temporary folder; whatever a test leaves running or mounted is
// stopped and unmounted here.
class DaemonStartStop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(builtDaemon().isEmpty()) << "no daemon beside the tests (build/bin/tessarn)";
        configFile = config.writeConfig(config.systemDir());
    }

    void TearDown() override
    {
        vfs.stop();
        EXPECT_TRUE(unmount(sync.path()));
    }

    QProcess* daemon() const { return vfs.findChild<QProcess*>(); }

    // Starts the mode and waits for started() and the mount, each bounded.
    void startAndWaitForMount()
    {
        QSignalSpy started(&vfs, &Vfs::started);
        QElapsedTimer clock;
        clock.start();
        vfs.start(sync.params());
        ASSERT_TRUE(started.wait(10000)) << log.all().toStdString();
        startedAfterMs = clock.elapsed();
        ASSERT_TRUE(QTest::qWaitFor([&] { return isMounted(sync.path()); }, 10000))
            << "not mounted; log:\n"
            << log.all().toStdString();
    }

    ConfigDirectories config;
    QString configFile;
    SyncFolder sync;
    LogCapture log;
    VDK::Tessarn vfs;
    qint64 startedAfterMs = 0;
};

} // namespace

TEST_F(DaemonStartStop, StartMountsStopUnmountsAndUnregisterReleasesTheClaim)
{
    startAndWaitForMount();
    EXPECT_GE(startedAfterMs, 900) << "started() comes a second after the process started";
    ASSERT_NE(daemon(), nullptr);
    const QString owner = ownerIdFor(sync.accountUuid());
    EXPECT_EQ(commandLineOf(daemon()->processId()),
              (QStringList{builtDaemon(), "-f", "-k", "-i", configFile, "-o", owner, "-s",
                           sync.params().socketApiPath, sync.path()}));
    EXPECT_TRUE(log.contains(QtInfoMsg, QStringLiteral("] started")));
    EXPECT_TRUE(log.contains(QStringLiteral(" %1] ").arg(sync.path())));

    vfs.stop();
    EXPECT_FALSE(isMounted(sync.path()));
    QTest::qWait(100);
    EXPECT_EQ(daemon(), nullptr) << "the process object is deleted after stop()";
    EXPECT_FALSE(log.contains(QStringLiteral("finished"))) << log.all().toStdString();

    const auto folder = QFile::encodeName(sync.path()).toStdString();
    EXPECT_EQ(::Tessarn::Registration::fromAttributes(folder).owner(), owner.toStdString());
    vfs.unregisterFolder();
    EXPECT_EQ(::Tessarn::Registration::fromAttributes(folder).error(),
              "No registration info found");
}

TEST_F(DaemonStartStop, ADaemonStoppedWithinItsFirstSecondIsNeverReportedStarted)
{
    QSignalSpy started(&vfs, &Vfs::started);
    vfs.start(sync.params());
    ASSERT_TRUE(QTest::qWaitFor([&] { return daemon() && daemon()->processId() > 0; }, 5000));
    vfs.stop();
    EXPECT_FALSE(started.wait(1500));
}

TEST_F(DaemonStartStop, TheOperationLogSwitchPutsDashDFirst)
{
    ScopedEnvironment operationLog("HALVORINE_TESSARN_LOG_FUSE", "1");
    startAndWaitForMount();
    const QStringList arguments = commandLineOf(daemon()->processId());
    ASSERT_GE(arguments.size(), 3);
    EXPECT_EQ(arguments.mid(1, 2), (QStringList{"-d", "-f"}));
    EXPECT_EQ(arguments.size(), 11);
}

TEST_F(DaemonStartStop, ADaemonThatEndsOnItsOwnIsLoggedAndRestarted)
{
    startAndWaitForMount();
    const qint64 first = daemon()->processId();
    QSignalSpy startedAgain(&vfs, &Vfs::started);
    ASSERT_TRUE(unmount(sync.path()));
    ASSERT_TRUE(startedAgain.wait(10000)) << log.all().toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("%1] finished 0").arg(sync.path())))
        << log.all().toStdString();
    EXPECT_TRUE(
        log.contains(QtWarningMsg, QStringLiteral("which ended with exit status 0 (restart 1 of")));
    ASSERT_NE(daemon(), nullptr);
    EXPECT_NE(daemon()->processId(), first);
    EXPECT_TRUE(QTest::qWaitFor([&] { return isMounted(sync.path()); }, 10000));
}

// Refusals need no daemon: they come before any process is made.
class StartRefusal : public ::testing::Test {
protected:
    void expectRefusal(const QString& expectedText)
    {
        QSignalSpy errors(&vfs, &Vfs::error);
        QSignalSpy started(&vfs, &Vfs::started);
        vfs.start(sync.params());
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors.first().first().toString().contains(expectedText))
            << errors.first().first().toString().toStdString();
        EXPECT_EQ(vfs.findChild<QProcess*>(), nullptr);
        EXPECT_FALSE(started.wait(1500));
    }

    SyncFolder sync;
    LogCapture log;
    VDK::Tessarn vfs;
};

TEST_F(StartRefusal, AFolderClaimedByAnotherOwnerIsNotTaken)
{
    const auto folder = QFile::encodeName(sync.path()).toStdString();
    ASSERT_TRUE(::Tessarn::Registration::registerFilesystem(folder, "Other:1"));
    expectRefusal(QStringLiteral("Unable to claim the sync root for files on demand, the folder is "
                                 "already claimed by Other:1"));
    EXPECT_EQ(::Tessarn::Registration::fromAttributes(folder).owner(), "Other:1");
}

TEST_F(StartRefusal, AnUndecodableRegistrationIsAnErrorNamingTheFolder)
{
    ASSERT_TRUE(setRawXattr(sync.path(), "user.tessarn.registration", "\xc1"));
    expectRefusal(sync.path());
}

TEST_F(StartRefusal, AFolderWithoutExtendedAttributesCannotBeRegistered)
{
    BindMount noXattrs(sync.sibling(QStringLiteral("plain")), sync.path(),
                       {QStringLiteral("--xattr-none")});
    ASSERT_TRUE(noXattrs.ok());
    expectRefusal(
        QStringLiteral("Unable to retrieve registration info. Error: Failed to register Tessarn"));
}
