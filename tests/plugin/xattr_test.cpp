#include "plugin_test_support.h"

#include <xattr.h>

#include <QFile>
#include <dlfcn.h>
#include <sys/xattr.h>

using namespace VDK;
using namespace TestSupport;

namespace {

// Buffer sizes of the lgetxattr calls on the watched path, seen by the interposer below.
std::string watchedPath;
std::vector<size_t> bufferSizes;

} // namespace

// Stands in front of the C library's lgetxattr for the whole test program, the plug-in
// included, to see how the plug-in's read grows its buffer.
extern "C" ssize_t lgetxattr(const char* path, const char* name, void* value, size_t size)
{
    using Real = ssize_t (*)(const char*, const char*, void*, size_t);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "lgetxattr"));
    if (path == watchedPath)
        bufferSizes.push_back(size);
    return real(path, name, value, size);
}

namespace {

class PluginXattr : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(writeFile(file, QByteArray()));
        watchedPath = QFile::encodeName(file).toStdString();
        bufferSizes.clear();
    }
    void TearDown() override { watchedPath.clear(); }

    std::filesystem::path path() const { return FileSystem::toFilesystemPath(file); }

    SyncFolder sync;
    QString file = sync.filePath(QStringLiteral("f"));
    LogCapture log;
};

} // namespace

TEST_F(PluginXattr, ReadsGrowTheBufferBy255BytesUntilTheValueFits)
{
    const QString name = QStringLiteral("user.test");
    for (const auto& [length, sizes] : {std::pair<int, std::vector<size_t>>{1, {255}},
                                        {255, {255}},
                                        {256, {255, 510}},
                                        {300, {255, 510}},
                                        {511, {255, 510, 765}}}) {
        const QByteArray value(length, 'v');
        ASSERT_TRUE(FileSystem::Xattr::setxattr(path(), name, value));
        bufferSizes.clear();
        EXPECT_EQ(FileSystem::Xattr::getxattr(path(), name), value) << length;
        EXPECT_EQ(bufferSizes, sizes) << length;
    }
    QByteArray large(3000, '\0'); // ext4 keeps a value within one block
    large[2999] = 'z';
    ASSERT_TRUE(FileSystem::Xattr::setxattr(path(), name, large));
    EXPECT_EQ(FileSystem::Xattr::getxattr(path(), name), large);
}

TEST_F(PluginXattr, EmptyAbsentAndUnreadableValuesReadAsNothing)
{
    ASSERT_TRUE(FileSystem::Xattr::setxattr(path(), QStringLiteral("user.empty"), QByteArray()));
    EXPECT_EQ(FileSystem::Xattr::getxattr(path(), QStringLiteral("user.empty")), std::nullopt);
    EXPECT_EQ(FileSystem::Xattr::getxattr(path(), QStringLiteral("user.absent")), std::nullopt);
    EXPECT_EQ(FileSystem::Xattr::getxattr(path() / "missing", QStringLiteral("user.absent")), std::nullopt);
}

TEST_F(PluginXattr, FailuresAreTheSystemsTextAndRemovingAnAbsentTagSucceeds)
{
    const auto missing = path().parent_path() / "missing";
    const auto written = FileSystem::Xattr::setxattr(missing, QStringLiteral("user.x"), "1");
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), QStringLiteral("No such file or directory"));

    ASSERT_TRUE(FileSystem::Xattr::setxattr(path(), QStringLiteral("user.x"), "1"));
    EXPECT_TRUE(FileSystem::Xattr::removexattr(path(), QStringLiteral("user.x")));
    EXPECT_EQ(FileSystem::Xattr::getxattr(path(), QStringLiteral("user.x")), std::nullopt);

    log.clear();
    EXPECT_TRUE(FileSystem::Xattr::removexattr(path(), QStringLiteral("user.x")));
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0].category, QStringLiteral("sync.filesystem"));
    EXPECT_TRUE(lines[0].message.contains(QStringLiteral("Failed to remove tag")));
    EXPECT_TRUE(lines[0].message.contains(QStringLiteral("tag doesn't exist")));

    EXPECT_FALSE(FileSystem::Xattr::removexattr(missing, QStringLiteral("user.x")));
}

TEST_F(PluginXattr, SupportIsDeniedOnlyByAFileSystemWithoutAttributes)
{
    EXPECT_TRUE(FileSystem::Xattr::supportsxattr(path()));
    EXPECT_TRUE(FileSystem::Xattr::supportsxattr(path() / "missing"));
    const QString mountPoint = sync.sibling(QStringLiteral("no xattrs"));
    BindMount noXattrs(sync.sibling(QStringLiteral("plain")), mountPoint, {QStringLiteral("--xattr-none")});
    ASSERT_TRUE(noXattrs.ok());
    EXPECT_FALSE(FileSystem::Xattr::supportsxattr(FileSystem::toFilesystemPath(mountPoint)));
}
