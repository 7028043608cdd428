// The client uses the placeholder operations on the mounted folder, through the daemon.
#include "plugin_test_support.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

using namespace VDK;
using namespace TestSupport;

namespace {

class Mounted : public ::testing::Test {
protected:
    using States = ::Tessarn::Constants::States;
    using PinStates = ::Tessarn::Constants::PinStates;

    void SetUp() override
    {
        ASSERT_FALSE(builtDaemon().isEmpty()) << "no daemon beside the tests (build/bin/tessarn)";
        config.writeConfig(config.systemDir());
        QSignalSpy started(&vfs, &Vfs::started);
        vfs.start(sync.params());
        ASSERT_TRUE(started.wait(10000)) << log.all().toStdString();
        ASSERT_TRUE(QTest::qWaitFor([&] { return isMounted(sync.path()); }, 10000));
    }

    void TearDown() override
    {
        vfs.stop();
        EXPECT_TRUE(unmount(sync.path()));
    }

    ConfigDirectories config;
    SyncFolder sync;
    LogCapture log;
    VDK::Tessarn vfs;
};

} // namespace

TEST_F(Mounted, PlaceholdersMadeThroughTheMountShowTheirRemoteSize)
{
    SyncFileItem remote;
    remote.file = QStringLiteral("remote.bin");
    remote.type = CSyncEnums::ItemTypeVirtualFile;
    remote.size = 123456;
    remote.modtime = 1500000000;
    remote.etag = "e1";
    remote.fileId = "f1";
    ASSERT_TRUE(vfs.createPlaceholder(remote));

    const QString path = sync.filePath(remote.file);
    EXPECT_EQ(QFileInfo(path).size(), 123456) << "the daemon reports the recorded size";
    EXPECT_EQ(modificationTime(path), 1500000000);
    EXPECT_TRUE(vfs.isDehydratedPlaceholder(path));

    ASSERT_TRUE(vfs.setPinState(remote.file, PinState::OnlineOnly));
    EXPECT_EQ(vfs.pinState(remote.file), PinState::OnlineOnly);
    EXPECT_EQ(*vfs.availability(remote.file, Vfs::AvailabilityRecursivity::NotRecursiveAvailability),
              VfsItemAvailability::OnlineOnly);

    remote.size = 654321;
    ASSERT_TRUE(vfs.updateMetadata(remote, path, QString()));
    EXPECT_EQ(QFileInfo(path).size(), 654321);
    const PlaceholderRecord stored = placeHolderAttributes(path);
    EXPECT_EQ(stored.state, States::Dehydrated);
    EXPECT_EQ(stored.pinState, PinStates::Hydrated);
}
