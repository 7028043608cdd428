#include "plugin_test_support.h"

#include <QDir>
#include <QFileInfo>
#include <sys/xattr.h>

using namespace VDK;
using namespace TestSupport;

namespace {

using Placeholders = OfflineFolderTest;

const QByteArray undecodable("\x85\xa4" "etag", 6);

} // namespace

TEST_F(Placeholders, ANewPlaceholderIsAnEmptyDehydratedFileWithTheItemsTime)
{
    const SyncFileItem remote = item(QStringLiteral("new file.txt"), CSyncEnums::ItemTypeVirtualFile, 4321, 1500000000);
    ASSERT_TRUE(vfs.createPlaceholder(remote));
    const QString path = sync.filePath(remote.file);
    EXPECT_EQ(QFileInfo(path).size(), 0);
    EXPECT_EQ(modificationTime(path), 1500000000);
    const PlaceholderRecord stored = record(remote.file);
    ASSERT_TRUE(stored.isOk());
    EXPECT_EQ(stored.state, States::Dehydrated);
    EXPECT_EQ(stored.pinState, PinStates::Inherited);
    EXPECT_EQ(stored.size, 4321u);
    EXPECT_EQ(stored.etag, "etag-new file.txt");
    EXPECT_EQ(stored.fileId, "id-new file.txt");
    EXPECT_TRUE(vfs.isDehydratedPlaceholder(path));
}

TEST_F(Placeholders, AnExistingFileIsEmptiedUnlessADehydrationWouldLoseItsChanges)
{
    const QString path = sync.filePath(QStringLiteral("a.txt"));
    ASSERT_TRUE(writeFile(path, "local content"));
    ASSERT_TRUE(vfs.createPlaceholder(item(QStringLiteral("a.txt"), CSyncEnums::ItemTypeFile, 13, 1)))
        << "other types than 6 are not tested for changes";
    EXPECT_EQ(QFileInfo(path).size(), 0);

    ASSERT_TRUE(writeFile(path, "local content"));
    SyncFileItem dehydration = item(QStringLiteral("a.txt"), CSyncEnums::ItemTypeVirtualFileDehydration, 13, 1600000000);
    ASSERT_TRUE(FileSystem::setModTime(FileSystem::toFilesystemPath(path), 1600000005));
    const auto refused = vfs.createPlaceholder(dehydration);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), QStringLiteral("Cannot dehydrate a placeholder because the file changed"));
    EXPECT_EQ(readFile(path), "local content");

    ASSERT_TRUE(FileSystem::setModTime(FileSystem::toFilesystemPath(path), 1600000000));
    ASSERT_TRUE(vfs.createPlaceholder(dehydration)) << "the file is as the item says";
    EXPECT_EQ(QFileInfo(path).size(), 0);
}

TEST_F(Placeholders, CreatingSeveralStopsAtTheFirstFailure)
{
    EXPECT_TRUE(vfs.createPlaceholders({}));
    const QList<SyncFileItemPtr> items{
        SyncFileItemPtr::create(item(QStringLiteral("one"), CSyncEnums::ItemTypeVirtualFile)),
        SyncFileItemPtr::create(item(QStringLiteral("no such dir/two"), CSyncEnums::ItemTypeVirtualFile)),
        SyncFileItemPtr::create(item(QStringLiteral("three"), CSyncEnums::ItemTypeVirtualFile))};
    const auto result = vfs.createPlaceholders(items);
    ASSERT_FALSE(result);
    EXPECT_FALSE(result.error().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(sync.filePath(QStringLiteral("one"))));
    EXPECT_FALSE(QFileInfo::exists(sync.filePath(QStringLiteral("three"))));
}

TEST_F(Placeholders, DehydratingKeepsAFileWithLocalChanges)
{
    const QString path = sync.filePath(QStringLiteral("doc.txt"));
    ASSERT_TRUE(writeFile(path, "downloaded"));
    ASSERT_TRUE(FileSystem::setModTime(FileSystem::toFilesystemPath(path), 1600000000));
    const SyncFileItem remote = item(QStringLiteral("doc.txt"), CSyncEnums::ItemTypeFile, 10, 1600000000);

    ASSERT_TRUE(writeFile(path, "edited, not uploaded"));
    const auto refused = vfs.dehydratePlaceholder(remote);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), QStringLiteral("Cannot dehydrate a placeholder because the file changed"));
    EXPECT_EQ(readFile(path), "edited, not uploaded");

    ASSERT_TRUE(writeFile(path, "downloaded"));
    ASSERT_TRUE(FileSystem::setModTime(FileSystem::toFilesystemPath(path), 1600000000));
    ASSERT_TRUE(vfs.dehydratePlaceholder(remote));
    EXPECT_EQ(QFileInfo(path).size(), 0);
    EXPECT_EQ(record(QStringLiteral("doc.txt")).state, States::Dehydrated);

    ASSERT_TRUE(vfs.dehydratePlaceholder(item(QStringLiteral("gone.txt"), CSyncEnums::ItemTypeFile)))
        << "a missing file simply becomes a placeholder";
}

TEST_F(Placeholders, UpdateMetadataFollowsTheItemType)
{
    struct Row {
        CSyncEnums::ItemType type;
        States state;
        quint64 size;
    };
    const States before = States::Hydrating;
    for (const Row& row : {Row{CSyncEnums::ItemTypeFile, States::Hydrated, 0},
                           Row{CSyncEnums::ItemTypeSoftLink, before, 77},
                           Row{CSyncEnums::ItemTypeDirectory, States::Hydrated, 77},
                           Row{CSyncEnums::ItemTypeSkip, before, 77},
                           Row{CSyncEnums::ItemTypeVirtualFile, States::Dehydrated, 77},
                           Row{CSyncEnums::ItemTypeVirtualFileDownload, States::Hydrating, 77},
                           Row{CSyncEnums::ItemTypeVirtualDirectory, States::Hydrated, 77}}) {
        const QString name = QStringLiteral("type%1").arg(int(row.type));
        writeRecord(name, before, PinStates::Hydrated, 5);
        const auto updated = vfs.updateMetadata(item(name, row.type, 77, 1400000000), sync.filePath(name), QString());
        ASSERT_TRUE(updated) << updated.error().toStdString();
        EXPECT_EQ(int(*updated), 1);
        const PlaceholderRecord stored = record(name);
        ASSERT_TRUE(stored.isOk()) << "type " << int(row.type);
        EXPECT_EQ(stored.state, row.state) << "type " << int(row.type);
        EXPECT_EQ(stored.size, row.size) << "type " << int(row.type);
        EXPECT_EQ(stored.pinState, PinStates::Hydrated) << "the pin state is kept";
        EXPECT_EQ(stored.etag, "etag-" + name.toStdString());
        EXPECT_EQ(modificationTime(sync.filePath(name)), 1400000000);
    }
}

TEST_F(Placeholders, UpdateMetadataOfADehydrationMakesThePlaceholderAnew)
{
    const QString path = sync.filePath(QStringLiteral("big"));
    ASSERT_TRUE(writeFile(path, "0123456789"));
    ASSERT_TRUE(FileSystem::setModTime(FileSystem::toFilesystemPath(path), 1600000000));
    writeRecord(QStringLiteral("big"), States::Hydrated, PinStates::Hydrated, 0);

    const auto updated = vfs.updateMetadata(
        item(QStringLiteral("big"), CSyncEnums::ItemTypeVirtualFileDehydration, 10, 1600000000), path, QString());
    ASSERT_TRUE(updated);
    EXPECT_EQ(QFileInfo(path).size(), 0);
    EXPECT_EQ(record(QStringLiteral("big")).state, States::Dehydrated);

    ASSERT_TRUE(writeFile(path, "changed!"));
    const auto refused = vfs.updateMetadata(
        item(QStringLiteral("big"), CSyncEnums::ItemTypeVirtualFileDehydration, 10, 1600000000), path, QString());
    ASSERT_FALSE(refused);
    EXPECT_TRUE(log.contains(QtCriticalMsg, QStringLiteral("Failed to create placeholder for")));
}

TEST_F(Placeholders, UpdateMetadataPicksTheRecordToRewrite)
{
    const QString fresh = sync.filePath(QStringLiteral("fresh"));
    ASSERT_TRUE(writeFile(fresh, "content"));
    ASSERT_TRUE(vfs.updateMetadata(item(QStringLiteral("fresh"), CSyncEnums::ItemTypeFile), fresh, QString()));
    const PlaceholderRecord made = record(QStringLiteral("fresh"));
    ASSERT_TRUE(made.isOk()) << "a file without a record gets one";
    EXPECT_EQ(made.state, States::Hydrated);
    EXPECT_EQ(made.size, 0u);

    writeRecord(QStringLiteral("old name"), States::Dehydrated, PinStates::Excluded);
    const QString renamed = sync.filePath(QStringLiteral("new name"));
    ASSERT_TRUE(writeFile(renamed, QByteArray()));
    ASSERT_TRUE(vfs.updateMetadata(item(QStringLiteral("new name"), CSyncEnums::ItemTypeVirtualFile, 99),
                                   renamed, sync.filePath(QStringLiteral("old name"))));
    const PlaceholderRecord other = record(QStringLiteral("old name"));
    EXPECT_EQ(other.size, 99u) << "the record of the other path is the one updated";
    EXPECT_EQ(other.pinState, PinStates::Excluded);
    EXPECT_FALSE(record(QStringLiteral("new name")).isOk());

    const auto failed = vfs.updateMetadata(item(QStringLiteral("missing"), CSyncEnums::ItemTypeFile),
                                           sync.filePath(QStringLiteral("missing")), QString());
    ASSERT_FALSE(failed);
    EXPECT_TRUE(log.contains(QtCriticalMsg, QStringLiteral("Failed to update placeholder for")));
}

TEST_F(Placeholders, NeedsMetadataUpdateForFilesWithoutARecord)
{
    EXPECT_FALSE(vfs.needsMetadataUpdate(item(QStringLiteral("missing"), CSyncEnums::ItemTypeFile)));
    ASSERT_TRUE(writeFile(sync.filePath(QStringLiteral("plain")), "x"));
    EXPECT_TRUE(vfs.needsMetadataUpdate(item(QStringLiteral("plain"), CSyncEnums::ItemTypeFile)));
    EXPECT_TRUE(log.contains(QtWarningMsg, QStringLiteral("No Tessarn xattr found for")));
    writeRecord(QStringLiteral("plain"), States::Hydrated, PinStates::Inherited, 0);
    EXPECT_FALSE(vfs.needsMetadataUpdate(item(QStringLiteral("plain"), CSyncEnums::ItemTypeFile)));
}

TEST_F(Placeholders, TheScannerLearnsWhichFilesArePlaceholders)
{
    struct Row {
        States state;
        PinStates pinState;
        CSyncEnums::ItemType expected;
    };
    for (const Row& row : {Row{States::Dehydrated, PinStates::Inherited, CSyncEnums::ItemTypeVirtualFile},
                           Row{States::Dehydrated, PinStates::Dehydrated, CSyncEnums::ItemTypeVirtualFileDownload},
                           Row{States::Hydrated, PinStates::Hydrated, CSyncEnums::ItemTypeVirtualFileDehydration},
                           Row{States::Hydrating, PinStates::Hydrated, CSyncEnums::ItemTypeVirtualFileDehydration},
                           Row{States::Hydrated, PinStates::Inherited, CSyncEnums::ItemTypeFile}}) {
        writeRecord(QStringLiteral("f"), row.state, row.pinState);
        csync_file_stat_t stat;
        stat.path = "f";
        stat.is_hidden = true;
        stat.is_e2e_encrypted = true;
        EXPECT_FALSE(vfs.statTypeVirtualFile(&stat, QFile::encodeName(sync.path())));
        EXPECT_EQ(stat.type, row.expected) << int(row.state) << "/" << int(row.pinState);
        EXPECT_TRUE(stat.is_hidden && stat.is_e2e_encrypted) << "the flags beside the type stay";
        EXPECT_FALSE(stat.child_modified || stat.has_ignored_files);
    }
    for (const auto type : {CSyncEnums::ItemTypeSoftLink, CSyncEnums::ItemTypeDirectory, CSyncEnums::ItemTypeVirtualFile,
                            CSyncEnums::ItemTypeVirtualFileDehydration, CSyncEnums::ItemTypeVirtualDirectory}) {
        csync_file_stat_t stat;
        stat.path = "f";
        stat.type = type;
        EXPECT_FALSE(vfs.statTypeVirtualFile(&stat, QFile::encodeName(sync.path())));
        EXPECT_EQ(stat.type, type);
    }
}

TEST_F(Placeholders, TheOperationsWithNothingToDo)
{
    const SyncFileItem any = item(QStringLiteral("x"), CSyncEnums::ItemTypeFile);
    EXPECT_EQ(int(*vfs.convertToPlaceholder(sync.filePath(QStringLiteral("x")), any, QString(), Vfs::AllMetadata)), 0);
    EXPECT_EQ(int(*vfs.updatePlaceholderMarkInSync(sync.filePath(QStringLiteral("x")), any)), 0);
    EXPECT_FALSE(vfs.isPlaceHolderInSync(sync.filePath(QStringLiteral("x"))));
    EXPECT_FALSE(QFileInfo::exists(sync.filePath(QStringLiteral("x"))));
}

TEST_F(Placeholders, AnUndecodableRecordIsNotTrustedAndAnUpdateRebuildsIt)
{
    const QString path = sync.filePath(QStringLiteral("damaged"));
    ASSERT_TRUE(writeFile(path, "content"));
    ASSERT_TRUE(setRawXattr(path, "user.tessarn.data", undecodable));

    EXPECT_FALSE(vfs.isDehydratedPlaceholder(path));
    EXPECT_TRUE(vfs.needsMetadataUpdate(item(QStringLiteral("damaged"), CSyncEnums::ItemTypeFile)));
    EXPECT_TRUE(log.contains(QtWarningMsg, QStringLiteral("Cannot decode the Tessarn xattr of")));

    csync_file_stat_t stat;
    stat.path = "damaged";
    vfs.statTypeVirtualFile(&stat, QFile::encodeName(sync.path()));
    EXPECT_EQ(stat.type, CSyncEnums::ItemTypeFile);

    ASSERT_TRUE(vfs.updateMetadata(item(QStringLiteral("damaged"), CSyncEnums::ItemTypeFile, 7, 1),
                                   path, QString()));
    const PlaceholderRecord rebuilt = record(QStringLiteral("damaged"));
    ASSERT_TRUE(rebuilt.isOk());
    EXPECT_EQ(rebuilt.state, States::Hydrated);
    EXPECT_EQ(rebuilt.size, 0u);
    EXPECT_EQ(rebuilt.fileId, "id-damaged");
    EXPECT_EQ(readFile(path), "content");
}
