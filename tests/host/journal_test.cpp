#include <vdk/syncjournaldb.h>

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace VDK;

namespace {

SyncJournalFileRecord sampleRecord(const QByteArray& path, const QByteArray& fileId)
{
    return {path, 4711, 1700000000, CSyncEnums::ItemTypeVirtualFile, "etag-1", fileId, 12345};
}

class JournalTest : public ::testing::Test {
protected:
    QTemporaryDir folder;
    SyncJournalDb journal{folder.filePath(QStringLiteral("journal.db"))};
};

} // namespace

TEST_F(JournalTest, RecordsAreFoundByPathAndByFileId)
{
    const SyncJournalFileRecord record = sampleRecord("Docs/ä b.txt", "00042");
    ASSERT_TRUE(journal.setFileRecord(record));
    ASSERT_TRUE(journal.setFileRecord(sampleRecord("other", "00043")));

    const auto byPath = journal.getFileRecord("Docs/ä b.txt");
    ASSERT_TRUE(byPath);
    ASSERT_TRUE(byPath->has_value());
    EXPECT_EQ(**byPath, record);

    const auto byId = journal.getFileRecordByFileId("00042");
    ASSERT_TRUE(byId);
    ASSERT_TRUE(byId->has_value());
    EXPECT_EQ(**byId, record);

    const auto missing = journal.getFileRecordByFileId("nope");
    ASSERT_TRUE(missing);
    EXPECT_FALSE(missing->has_value());
}

TEST_F(JournalTest, SettingARecordAgainReplacesItAndSurvivesReopening)
{
    ASSERT_TRUE(journal.setFileRecord(sampleRecord("a.txt", "1")));
    SyncJournalFileRecord changed = sampleRecord("a.txt", "2");
    changed.type = CSyncEnums::ItemTypeFile;
    changed.fileSize = 0;
    ASSERT_TRUE(journal.setFileRecord(changed));

    SyncJournalDb reopened(journal.databasePath());
    const auto found = reopened.getFileRecord("a.txt");
    ASSERT_TRUE(found && found->has_value());
    EXPECT_EQ(**found, changed);
    EXPECT_FALSE(reopened.getFileRecordByFileId("1")->has_value());
}

TEST(JournalFailure, AnUnusableDatabaseIsAnErrorNotAnAbsentRecord)
{
    QTemporaryDir folder;
    SyncJournalDb journal(folder.filePath(QStringLiteral("missing/dir/journal.db")));
    const auto written = journal.setFileRecord(sampleRecord("a", "1"));
    ASSERT_FALSE(written);
    EXPECT_FALSE(written.error().isEmpty());
    EXPECT_FALSE(journal.getFileRecord("a"));
}
