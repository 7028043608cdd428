// synchost's command line, its account identity and where it finds the daemon's configuration.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <account_state.h>
#include <bundled_configuration.h>
#include <gtest/gtest.h>
#include <host_options.h>
#include <scoped_environment.h>
#include <tessarn/tessarn.h>
#include <unistd.h>

using namespace SyncHost;

namespace {

HostOptions optionsFrom(const QStringList& arguments)
{
    const auto parsed = parseCommandLine(QStringList{QStringLiteral("synchost")} + arguments);
    if (const auto* wrong = std::get_if<UsageError>(&parsed))
        ADD_FAILURE() << wrong->text.toStdString();
    const auto* options = std::get_if<HostOptions>(&parsed);
    return options ? *options : HostOptions();
}

bool isUsageError(const QStringList& arguments)
{
    return std::holds_alternative<UsageError>(
        parseCommandLine(QStringList{QStringLiteral("synchost")} + arguments));
}

} // namespace

TEST(SynchostCommandLine, WithoutFoldersServesTheSampleInTheTemporaryDirectory)
{
    const HostOptions options = optionsFrom({});
    const QString base = QDir::tempPath() + QStringLiteral("/synchost-sample-%1").arg(::getuid());
    EXPECT_TRUE(options.sample);
    EXPECT_EQ(options.remote, base + QStringLiteral("/remote"));
    EXPECT_EQ(options.folder, base + QStringLiteral("/sync"));
    EXPECT_EQ(options.stateDir, base + QStringLiteral("/state"));
    EXPECT_EQ(options.pluginPath, QCoreApplication::applicationDirPath() +
                                      QStringLiteral("/../lib/vondrakelsync_vfs_tessarn.so"));
    EXPECT_TRUE(options.socketPath.endsWith(
        QStringLiteral("/synchost-%1.socket").arg(QCoreApplication::applicationPid())));
    EXPECT_EQ(options.latency.count(), 0);
    EXPECT_EQ(options.bytesPerSecond, 0);
    EXPECT_TRUE(options.logFile.isEmpty());

    const HostOptions elsewhere =
        optionsFrom({QStringLiteral("--sample"), QStringLiteral("/x/demo")});
    EXPECT_EQ(elsewhere.remote, QStringLiteral("/x/demo/remote"));
    EXPECT_EQ(elsewhere.folder, QStringLiteral("/x/demo/sync"));
}

TEST(SynchostCommandLine, KeepsTheStateBesideTheFolderNotInsideIt)
{
    const HostOptions options = optionsFrom(
        {QStringLiteral("/srv/remote"), QStringLiteral("/home/u/My Files/"),
         QStringLiteral("--latency"), QStringLiteral("250"), QStringLiteral("--bandwidth"),
         QStringLiteral("100"), QStringLiteral("--socket"), QStringLiteral("api.socket")});
    EXPECT_FALSE(options.sample);
    EXPECT_EQ(options.remote, QStringLiteral("/srv/remote"));
    EXPECT_EQ(options.stateDir, QStringLiteral("/home/u/.My Files.synchost"));
    EXPECT_EQ(options.latency.count(), 250);
    EXPECT_EQ(options.bytesPerSecond, 100 * 1024);
    EXPECT_EQ(options.socketPath, QDir::current().filePath(QStringLiteral("api.socket")))
        << "where both we and the daemon find it";
}

TEST(SynchostCommandLine, RefusesWhatItCannotMeanAndExplainsItself)
{
    EXPECT_TRUE(isUsageError({QStringLiteral("/only/remote")}));
    EXPECT_TRUE(isUsageError({QStringLiteral("--sample"), QStringLiteral("/d"),
                              QStringLiteral("/r"), QStringLiteral("/f")}));
    EXPECT_TRUE(isUsageError({QStringLiteral("--latency"), QStringLiteral("soon")}));
    EXPECT_TRUE(isUsageError({QStringLiteral("--bandwidth"), QStringLiteral("-5")}));
    EXPECT_TRUE(isUsageError({QStringLiteral("--no-such-option")}));
    const auto help = parseCommandLine({QStringLiteral("synchost"), QStringLiteral("--help")});
    ASSERT_TRUE(std::holds_alternative<Information>(help));
    EXPECT_TRUE(std::get<Information>(help).text.contains(QStringLiteral("--bandwidth")));
    EXPECT_TRUE(std::holds_alternative<Information>(
        parseCommandLine({QStringLiteral("synchost"), QStringLiteral("--help-all")})));
    const auto version = parseCommandLine({QStringLiteral("synchost"), QStringLiteral("-V")});
    ASSERT_TRUE(std::holds_alternative<Information>(version));
    EXPECT_TRUE(std::get<Information>(version).text.startsWith(
        QStringLiteral("synchost " TESSARN_VERSION_STRING)));
}

TEST(SynchostAccount, TheSameUuidOnEveryRunOverOneStateFolder)
{
    QTemporaryDir state;
    const auto first = persistentAccountUuid(state.path());
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->isNull());
    const auto second = persistentAccountUuid(state.path());
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, *first);

    QTemporaryDir other;
    EXPECT_NE(*persistentAccountUuid(other.path()), *first) << "another folder, another account";

    const auto unwritable = persistentAccountUuid(state.filePath(QStringLiteral("missing/dir")));
    EXPECT_FALSE(unwritable);
}

// The test program sits in bin/ of the build tree, beside the configuration synchost finds.
TEST(SynchostConfiguration, TheBundledConfigurationServesWhenTheMachineHasNone)
{
    QTemporaryDir home;
    const TestSupport::ScopedEnvironment userConfig("XDG_CONFIG_HOME",
                                                    QFile::encodeName(home.path()));
    const TestSupport::ScopedEnvironment systemConfig("XDG_CONFIG_DIRS", "/nonexistent");
    const QString name = QStringLiteral("tessarn/config.json");
    ASSERT_TRUE(QStandardPaths::locate(QStandardPaths::ConfigLocation, name).isEmpty());

    useBundledConfiguration();
    EXPECT_EQ(QStandardPaths::locate(QStandardPaths::ConfigLocation, name),
              QDir::cleanPath(QCoreApplication::applicationDirPath() +
                              QStringLiteral("/../etc/xdg/tessarn/config.json")));
    EXPECT_TRUE(qgetenv("XDG_CONFIG_DIRS").endsWith(":/nonexistent"));

    QDir(home.path()).mkpath(QStringLiteral("tessarn"));
    QFile own(home.filePath(name));
    ASSERT_TRUE(own.open(QIODevice::WriteOnly));
    own.close();
    const QByteArray before = qgetenv("XDG_CONFIG_DIRS");
    useBundledConfiguration();
    EXPECT_EQ(qgetenv("XDG_CONFIG_DIRS"), before) << "the user's own configuration wins";
}
