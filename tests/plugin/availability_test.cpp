#include "plugin_test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace VDK;

namespace {

// Hiding /dev/fuse or /usr/bin/fusermount3 needs a mount namespace of our own, in a child
// process, so that nothing outside the test sees the change.
bool privateMountsAvailable()
{
    return TestSupport::run(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("true")}) == 0;
}

constexpr const char* noPrivateMounts = "no private mount namespaces here (unshare -m fails)";

void hideDirectory(const char* directory)
{
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("none", directory, "tmpfs", 0, nullptr) != 0)
        ::_exit(77);
}

class Availability : public ::testing::Test {
protected:
    void SetUp() override
    {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        // Only looked for, never run: any executable file will do, and a link to
        // /usr/bin would dangle once /usr/bin is hidden.
        QFile fusermount(withFusermount.filePath(QStringLiteral("fusermount3")));
        ASSERT_TRUE(fusermount.open(QIODevice::WriteOnly));
        fusermount.close();
        ASSERT_TRUE(fusermount.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
    }

    // The death tests' child runs the fixture too, and _exit() skips its destructor: the
    // child removes its own folders.
    [[noreturn]] void exitWithAvailability()
    {
        const bool available = TessarnPluginFactory().checkAvailability();
        withFusermount.remove();
        empty.remove();
        ::_exit(available ? 0 : 1);
    }

    // /usr/bin hidden, and dir the only directory on the search path.
    void expectWithOnlyThisSearchPath(const QTemporaryDir& dir, int exitCode, const char* output)
    {
        const QByteArray path = dir.path().toUtf8();
        EXPECT_EXIT(
            {
                hideDirectory("/usr/bin");
                ::setenv("PATH", path.constData(), 1);
                exitWithAvailability();
            },
            ::testing::ExitedWithCode(exitCode), output);
    }

    QTemporaryDir withFusermount;
    QTemporaryDir empty;
};

} // namespace

TEST_F(Availability, FuseAndFusermount3OnThisMachine)
{
    if (!QFile::exists(QStringLiteral("/dev/fuse")) || !QFile::exists(QStringLiteral("/usr/bin/fusermount3")))
        GTEST_SKIP() << "this machine lacks /dev/fuse or /usr/bin/fusermount3";
    EXPECT_TRUE(TessarnPluginFactory().checkAvailability());
}

TEST_F(Availability, NoDevFuseMeansNoModeWhateverElseIsInstalled)
{
    if (!privateMountsAvailable())
        GTEST_SKIP() << noPrivateMounts;
    EXPECT_EXIT(
        {
            hideDirectory("/dev");
            exitWithAvailability();
        },
        ::testing::ExitedWithCode(1), "Fuse is not installed or available on the system");
}

TEST_F(Availability, Fusermount3IsLookedForOnTheSearchPath)
{
    if (!privateMountsAvailable())
        GTEST_SKIP() << noPrivateMounts;
    expectWithOnlyThisSearchPath(withFusermount, 0, "");
    expectWithOnlyThisSearchPath(empty, 1, "fusermount3 is not installed on the system");
}
