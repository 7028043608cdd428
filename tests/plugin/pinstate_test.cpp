#include "plugin_test_support.h"

#include <pinstates.h>

#include <QDir>

using namespace VDK;
using namespace TestSupport;

namespace {

using PinStatesTest = OfflineFolderTest;
using Availability = VfsItemAvailability;

} // namespace

TEST(PinStateTranslation, OneToOneByValueWithFallbacksOutsideTheTable)
{
    using Record = ::Tessarn::Constants::PinStates;
    const std::pair<PinState, Record> table[] = {{PinState::Inherited, Record::Inherited},
                                                 {PinState::AlwaysLocal, Record::Dehydrated},
                                                 {PinState::OnlineOnly, Record::Hydrated},
                                                 {PinState::Unspecified, Record::Unspecified},
                                                 {PinState::Excluded, Record::Excluded}};
    for (const auto& [host, stored] : table) {
        EXPECT_EQ(toRecordPinState(host), stored) << int(host);
        EXPECT_EQ(toHostPinState(stored), host) << int(stored);
    }
    EXPECT_EQ(toRecordPinState(PinState(9)), Record::Dehydrated);
    EXPECT_EQ(toHostPinState(Record(9)), PinState::AlwaysLocal);
}

TEST_F(PinStatesTest, EachPinStateIsStoredAndReadBack)
{
    ASSERT_TRUE(QDir(sync.path()).mkdir(QStringLiteral("dir")));
    writeRecord(QStringLiteral("dir"), States::Hydrated, PinStates::Hydrated);
    writeRecord(QStringLiteral("dir/file"), States::Dehydrated, PinStates::Unspecified);

    for (const PinState state : {PinState::AlwaysLocal, PinState::OnlineOnly, PinState::Unspecified, PinState::Excluded}) {
        ASSERT_TRUE(vfs.setPinState(QStringLiteral("dir/file"), state));
        EXPECT_EQ(vfs.pinState(QStringLiteral("dir/file")), state);
        EXPECT_EQ(record(QStringLiteral("dir/file")).state, States::Dehydrated) << "only the pin state changes";
    }
    ASSERT_TRUE(vfs.setPinState(QStringLiteral("dir/file"), PinState::Inherited));
    ASSERT_TRUE(record(QStringLiteral("dir/file")).isOk());
    EXPECT_EQ(record(QStringLiteral("dir/file")).pinState, PinStates::Inherited);
    EXPECT_EQ(vfs.pinState(QStringLiteral("dir/file")), PinState::OnlineOnly) << "the folder's Hydrated pin state";
}

TEST_F(PinStatesTest, TheWalkUpEndsAtTheRootOrAtAMissingRecord)
{
    writeRecord(QStringLiteral("."), States::Hydrated, PinStates::Inherited);
    ASSERT_TRUE(QDir(sync.path()).mkpath(QStringLiteral("a/b")));
    writeRecord(QStringLiteral("a"), States::Hydrated, PinStates::Inherited);
    writeRecord(QStringLiteral("a/b"), States::Hydrated, PinStates::Inherited);
    writeRecord(QStringLiteral("a/b/f"), States::Dehydrated, PinStates::Inherited);
    EXPECT_EQ(vfs.pinState(QStringLiteral("a/b/f")), PinState::Inherited) << "the root's own answer";
    EXPECT_EQ(vfs.pinState(QString()), PinState::Inherited);

    ASSERT_TRUE(QDir(sync.path()).mkpath(QStringLiteral("bare")));
    writeRecord(QStringLiteral("bare/f"), States::Dehydrated, PinStates::Inherited);
    EXPECT_EQ(vfs.pinState(QStringLiteral("bare/f")), std::nullopt);
    EXPECT_TRUE(log.contains(QtDebugMsg, QStringLiteral("Couldn't find pin state for placeholder file")));
}

TEST_F(PinStatesTest, SettingAPinStateNeedsARecord)
{
    ASSERT_TRUE(writeFile(sync.filePath(QStringLiteral("plain")), "x"));
    EXPECT_FALSE(vfs.setPinState(QStringLiteral("plain"), PinState::AlwaysLocal));
    EXPECT_FALSE(record(QStringLiteral("plain")).isOk()) << "no record is created";
    EXPECT_FALSE(vfs.setPinState(QStringLiteral("missing"), PinState::AlwaysLocal));
}

TEST_F(PinStatesTest, AvailabilityFromTheRecordsOwnPinStateAndState)
{
    struct Row {
        PinStates pinState;
        States state;
        Availability expected;
    };
    for (const Row& row : {Row{PinStates::Dehydrated, States::Hydrated, Availability::AlwaysLocal},
                           Row{PinStates::Dehydrated, States::Dehydrated, Availability::AlwaysLocal},
                           Row{PinStates::Hydrated, States::Dehydrated, Availability::OnlineOnly},
                           Row{PinStates::Inherited, States::Hydrated, Availability::AllHydrated},
                           Row{PinStates::Inherited, States::Dehydrated, Availability::AllDehydrated},
                           Row{PinStates::Inherited, States::Hydrating, Availability::Mixed},
                           Row{PinStates::Inherited, States(7), Availability::Mixed},
                           Row{PinStates::Unspecified, States::Hydrated, Availability::Mixed},
                           Row{PinStates::Excluded, States::Dehydrated, Availability::Mixed}}) {
        writeRecord(QStringLiteral("f"), row.state, row.pinState);
        const auto result = vfs.availability(QStringLiteral("f"), Vfs::AvailabilityRecursivity::RecursiveAvailability);
        ASSERT_TRUE(result);
        EXPECT_EQ(*result, row.expected) << int(row.pinState) << "/" << int(row.state);
    }
    const auto missing = vfs.availability(QStringLiteral("none"), Vfs::AvailabilityRecursivity::NotRecursiveAvailability);
    ASSERT_FALSE(missing);
    EXPECT_EQ(int(missing.error()), 1);
}

TEST_F(PinStatesTest, AnExcludedStatusIsStoredAsTheExcludedPinState)
{
    writeRecord(QStringLiteral("f"), States::Hydrated, PinStates::Inherited);
    vfs.fileStatusChanged(sync.filePath(QStringLiteral("f")), SyncFileStatus(SyncFileStatus::StatusWarning));
    ASSERT_TRUE(record(QStringLiteral("f")).isOk());
    EXPECT_EQ(record(QStringLiteral("f")).pinState, PinStates::Inherited);
    QMetaObject::invokeMethod(&vfs, "fileStatusChanged", Q_ARG(QString, sync.filePath(QStringLiteral("f"))),
                              Q_ARG(VDK::SyncFileStatus, SyncFileStatus(SyncFileStatus::StatusExcluded)));
    EXPECT_EQ(record(QStringLiteral("f")).pinState, PinStates::Excluded);
}

TEST_F(PinStatesTest, AnUndecodableRecordAnswersNothing)
{
    writeRecord(QStringLiteral("f"), States::Hydrated, PinStates::Hydrated);
    ASSERT_TRUE(setRawXattr(sync.filePath(QStringLiteral("f")), "user.tessarn.data", "\xc1"));
    EXPECT_FALSE(vfs.setPinState(QStringLiteral("f"), PinState::Excluded));
    EXPECT_EQ(vfs.pinState(QStringLiteral("f")), std::nullopt);
    EXPECT_FALSE(vfs.availability(QStringLiteral("f"), Vfs::AvailabilityRecursivity::NotRecursiveAvailability));
    vfs.fileStatusChanged(sync.filePath(QStringLiteral("f")), SyncFileStatus(SyncFileStatus::StatusExcluded));
    EXPECT_TRUE(log.contains(QtWarningMsg, QStringLiteral("Cannot decode the Tessarn xattr of")));
}
