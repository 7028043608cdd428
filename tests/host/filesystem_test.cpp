#include <vdk/filesystem.h>

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace VDK::FileSystem;

TEST(HostPath, JoiningStaysBelowTheLeftSide)
{
    const Path root(QStringLiteral("/sync/folder"));
    EXPECT_EQ((root / QStringLiteral("a/b.txt")).toString(), QStringLiteral("/sync/folder/a/b.txt"));
    EXPECT_EQ((root / QStringLiteral("/etc/passwd")).toString(),
              QStringLiteral("/sync/folder/etc/passwd"));
    EXPECT_TRUE(Path::relative(QStringLiteral(".")).get().empty());
    EXPECT_TRUE(Path::relative(QString()).get().empty());
    EXPECT_EQ(Path::relative(QStringLiteral("/a/./b/")).toString(), QStringLiteral("a/b/"));
    EXPECT_EQ(Path(QStringLiteral("ä b")).get().native(), "\xc3\xa4 b");
}

TEST(HostPath, ChildFlagsTellAnEqualFolderFromOneBelow)
{
    const auto equal = isChildPathOf2(u"/sync/folder/", u"/sync/folder");
    EXPECT_TRUE(equal.testFlag(ChildResult::IsEqual));
    EXPECT_TRUE(equal.testFlag(ChildResult::IsChild));
    EXPECT_EQ(isChildPathOf2(u"/sync/folder/a", u"/sync/folder"), ChildResults(ChildResult::IsChild));
    EXPECT_EQ(isChildPathOf2(u"/sync/folder2", u"/sync/folder"), ChildResults(ChildResult::NotAChild));
    EXPECT_EQ(isChildPathOf2(u"/sync", u"/sync/folder"), ChildResults(ChildResult::NotAChild));
    EXPECT_TRUE(isChildPathOf2(u"/a b/../a b", u"/a b").testFlag(ChildResult::IsEqual));
}

TEST(HostFileSystem, ChangeTestModificationTimeAndInode)
{
    QTemporaryDir folder;
    const std::filesystem::path file = toFilesystemPath(folder.filePath(QStringLiteral("f")));
    QFile(QString::fromStdString(file)).open(QIODevice::WriteOnly);
    ASSERT_TRUE(setModTime(file, 1600000000));
    EXPECT_FALSE(fileChanged(file, 0, 1600000000));
    EXPECT_TRUE(fileChanged(file, 1, 1600000000));
    EXPECT_TRUE(fileChanged(file, 0, 1600000001));
    EXPECT_TRUE(fileChanged(file / "missing", 0, 1600000000));

    quint64 inode = 0;
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    ASSERT_TRUE(getInode(file, &inode));
    EXPECT_EQ(inode, status.st_ino);

    QString why;
    EXPECT_TRUE(remove(file, &why));
    EXPECT_FALSE(remove(file, &why));
    EXPECT_FALSE(why.isEmpty());
}
