#include "plugin_test_support.h"

#include <daemon_setup.h>
#include <vdk/theme.h>

#include <gtest/gtest.h>

using namespace VDK;
using TestSupport::ConfigDirectories;
using TestSupport::ScopedEnvironment;

TEST(DaemonSetup, OwnerIdentityIsAppNameAndUuidWithoutBraces)
{
    const QString brand = Theme::instance()->appName();
    Theme::instance()->setAppName(QStringLiteral("App"));
    EXPECT_EQ(ownerIdFor(QUuid::fromString(QStringLiteral("{0f8fad5b-d9cb-469f-a165-70867728950e}"))),
              QStringLiteral("App:0f8fad5b-d9cb-469f-a165-70867728950e"));
    Theme::instance()->setAppName(brand);
}

TEST(DaemonSetup, ConfigFileIsTheUsersBeforeTheSystemsAndNoneWithoutEither)
{
    ConfigDirectories config;
    EXPECT_TRUE(configFilePath().get().empty());
    const QString system = config.writeConfig(config.systemDir());
    EXPECT_EQ(configFilePath().toString(), system);
    const QString user = config.writeConfig(config.userDir());
    EXPECT_EQ(configFilePath().toString(), user);
}

TEST(DaemonSetup, ArgumentListOrderAndTheOperationLogSwitch)
{
    const QStringList plain = daemonArguments(QStringLiteral("/etc/t.json"), QStringLiteral("App:1"),
                                              QStringLiteral("/run/s"), QStringLiteral("/f"), false);
    EXPECT_EQ(plain, (QStringList{"-f", "-k", "-i", "/etc/t.json", "-o", "App:1", "-s", "/run/s", "/f"}));
    const QStringList logged = daemonArguments(QString(), QStringLiteral("App:1"),
                                               QStringLiteral("/run/s"), QStringLiteral("/f"), true);
    EXPECT_EQ(logged, (QStringList{"-d", "-f", "-k", "-i", "", "-o", "App:1", "-s", "/run/s", "/f"}));

    for (const auto& [value, expected] : {std::pair<QByteArray, bool>{"1", true},
                                          {"2", false},
                                          {"yes", false},
                                          {"on", false},
                                          {"", false},
                                          {QByteArray(), false}}) {
        ScopedEnvironment variable("HALVORINE_TESSARN_LOG_FUSE", value);
        EXPECT_EQ(operationLogRequested(), expected) << "value " << value.toStdString();
    }
}

TEST(DaemonSetup, TheDaemonBesideTheClientIsPreferred)
{
    const QString daemon = TestSupport::builtDaemon();
    ASSERT_FALSE(daemon.isEmpty()) << "no daemon beside the tests (build/bin/tessarn)";
    EXPECT_EQ(daemonExecutablePath().toString(), daemon);
}
