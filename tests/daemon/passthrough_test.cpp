// The mount behaves like the folder underneath: the same calls give the same results and errno
// on the mount and on a plain folder; the placeholder-aware answers are checked on their own.
#include "mount_fixture.h"

#include <cstring>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <tessarn/tessarn.h>
#include <unistd.h>

using namespace TessarnTest;
namespace fs = std::filesystem;

namespace {

// What each call of a workload returned, as comparable text.
class Results {
public:
    void call(const std::string& what, long rc)
    {
        m_lines.push_back(what + " -> " + (rc < 0 ? std::string("errno ") + strerrorname_np(errno)
                                                  : std::to_string(rc)));
    }
    void text(const std::string& what, const std::string& value)
    {
        m_lines.push_back(what + " = " + value);
    }
    void status(const std::string& what, const std::string& path)
    {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            return call(what + " lstat", -1);
        text(what, "mode " + std::to_string(st.st_mode) + " size " + std::to_string(st.st_size) +
                       " links " + std::to_string(st.st_nlink) + " uid " +
                       std::to_string(st.st_uid) + " mtime " + std::to_string(st.st_mtime));
    }
    const std::vector<std::string>& lines() const { return m_lines; }

private:
    std::vector<std::string> m_lines;
};

// stat(1) asks with statx, which the kernel answers from what it keeps where stat(2) would ask
// the daemon again.
std::string sizeAsStatShowsIt(const fs::path& file)
{
    auto size = runProgram({"stat", "-c", "%s", file.string()}).out;
    if (size.ends_with('\n'))
        size.pop_back();
    return size;
}

std::vector<std::string> sortedNames(const fs::path& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void fileWorkload(Results& r, const fs::path& root)
{
    const auto p = [&](const char* relative) { return (root / relative).string(); };
    r.call("mkdir d", ::mkdir(p("d").c_str(), 0750));
    r.call("mkdir d again", ::mkdir(p("d").c_str(), 0750));
    r.status("d", p("d"));

    const int fd = ::open(p("d/f.txt").c_str(), O_CREAT | O_RDWR | O_EXCL, 0640);
    r.call("create", fd < 0 ? -1 : 0);
    r.call("write", ::write(fd, "hello world", 11));
    r.call("pwrite", ::pwrite(fd, "HELLO", 5, 0));
    r.call("fsync", ::fsync(fd));
    r.call("fdatasync", ::fdatasync(fd));
    char buffer[64] = {};
    r.call("pread", ::pread(fd, buffer, sizeof(buffer), 0));
    r.text("read back", buffer);
    r.call("ftruncate", ::ftruncate(fd, 8));
    ::close(fd);
    r.call("create exclusive again", ::open(p("d/f.txt").c_str(), O_CREAT | O_EXCL, 0640));
    r.status("f after ftruncate", p("d/f.txt"));
    r.call("truncate", ::truncate(p("d/f.txt").c_str(), 3));
    r.text("content", readFile(p("d/f.txt")));
    r.call("chmod", ::chmod(p("d/f.txt").c_str(), 0604));
    r.status("f after chmod", p("d/f.txt"));
    r.call("chown", ::chown(p("d/f.txt").c_str(), 65534, 65534));
    r.status("f after chown", p("d/f.txt"));

    struct timespec times[2] = {{1000, 0}, {2000, 0}};
    r.call("utimens", ::utimensat(AT_FDCWD, p("d/f.txt").c_str(), times, AT_SYMLINK_NOFOLLOW));
    r.status("f after utimens", p("d/f.txt"));
    r.call("access existing", ::access(p("d/f.txt").c_str(), R_OK));
    r.call("access missing", ::access(p("d/none").c_str(), F_OK));
    r.call("open missing", ::open(p("d/none").c_str(), O_RDONLY));
    r.call("open directory for writing", ::open(p("d").c_str(), O_WRONLY));
    r.call("unlink missing", ::unlink(p("d/none").c_str()));
    r.call("rmdir not empty", ::rmdir(p("d").c_str()));
    r.call("rmdir file", ::rmdir(p("d/f.txt").c_str()));
}

void linkWorkload(Results& r, const fs::path& root)
{
    const auto p = [&](const char* relative) { return (root / relative).string(); };
    r.call("symlink", ::symlink("some/target", p("d/link").c_str()));
    char target[PATH_MAX] = {};
    r.call("readlink", ::readlink(p("d/link").c_str(), target, sizeof(target)));
    r.text("link target", target);
    r.status("link", p("d/link"));
    r.call("symlink again", ::symlink("x", p("d/link").c_str()));

    r.call("link", ::link(p("d/f.txt").c_str(), p("d/f2.txt").c_str()));
    r.status("f linked", p("d/f.txt"));
    r.call("link onto existing", ::link(p("d/f.txt").c_str(), p("d/link").c_str()));

    writeFile(p("d/g.txt"), "other");
    r.call("rename noreplace onto existing",
           ::renameat2(AT_FDCWD, p("d/f2.txt").c_str(), AT_FDCWD, p("d/g.txt").c_str(),
                       RENAME_NOREPLACE));
    r.text("g untouched", readFile(p("d/g.txt")));
    r.call("rename exchange", ::renameat2(AT_FDCWD, p("d/f.txt").c_str(), AT_FDCWD,
                                          p("d/g.txt").c_str(), RENAME_EXCHANGE));
    r.text("f after exchange", readFile(p("d/f.txt")));
    r.text("g after exchange", readFile(p("d/g.txt")));
    r.call("rename", ::rename(p("d/g.txt").c_str(), p("d/h.txt").c_str()));
    r.call("rename missing", ::rename(p("d/g.txt").c_str(), p("d/i.txt").c_str()));
}

void nodeAndAttributeWorkload(Results& r, const fs::path& root)
{
    const auto p = [&](const char* relative) { return (root / relative).string(); };
    r.call("mkfifo", ::mkfifo(p("d/fifo").c_str(), 0620));
    r.status("fifo", p("d/fifo"));
    r.call("mknod regular", ::mknod(p("d/node").c_str(), S_IFREG | 0640, 0));
    r.status("node", p("d/node"));
    r.call("mknod existing", ::mknod(p("d/node").c_str(), S_IFREG | 0640, 0));

    const auto file = p("d/h.txt");
    r.call("setxattr", ::setxattr(file.c_str(), "user.t", "value", 5, 0));
    r.call("setxattr create again", ::setxattr(file.c_str(), "user.t", "v", 1, XATTR_CREATE));
    char value[64] = {};
    r.call("getxattr", ::getxattr(file.c_str(), "user.t", value, sizeof(value)));
    r.text("xattr value", value);
    r.call("getxattr size", ::getxattr(file.c_str(), "user.t", nullptr, 0));
    r.call("getxattr too small", ::getxattr(file.c_str(), "user.t", value, 2));
    char names[256] = {};
    r.call("listxattr", ::listxattr(file.c_str(), names, sizeof(names)));
    r.text("xattr names", names);
    r.call("removexattr", ::removexattr(file.c_str(), "user.t"));
    r.call("removexattr again", ::removexattr(file.c_str(), "user.t"));
    r.call("getxattr missing", ::getxattr(file.c_str(), "user.other", value, sizeof(value)));

    std::string listing;
    for (const auto& name : sortedNames(p("d")))
        listing += name + " ";
    r.text("listing", listing);

    struct statvfs fsStats {};
    r.call("statvfs", ::statvfs(p("d").c_str(), &fsStats));
    r.text("statvfs", std::to_string(fsStats.f_bsize) + " " + std::to_string(fsStats.f_namemax));

    for (const auto* name : {"d/link", "d/f.txt", "d/f2.txt", "d/h.txt", "d/fifo", "d/node"})
        r.call(std::string("unlink ") + name, ::unlink(p(name).c_str()));
    r.call("rmdir", ::rmdir(p("d").c_str()));
}

// The workload through root, on files that are kept in storage.
std::vector<std::string> workload(const fs::path& root, const fs::path& storage)
{
    ::umask(022);
    Results results;
    fileWorkload(results, root);
    results.status("f as stored", (storage / "d/f.txt").string());
    results.text("content as stored", readFile(storage / "d/f.txt"));
    linkWorkload(results, root);
    nodeAndAttributeWorkload(results, root);
    return results.lines();
}

TEST(PassThrough, TheMountGivesTheResultsOfThePlainFolder)
{
    MountedFolder mount;
    const auto plain = mount.scratch() / "plain";
    fs::create_directory(plain);
    const auto expected = workload(plain, plain);
    // The calls reach the folder underneath, not some cache, and leave nothing behind there.
    EXPECT_THAT(workload(mount.mountPoint(), mount.underneath()),
                testing::ElementsAreArray(expected));
    EXPECT_TRUE(fs::is_empty(mount.underneath()));
}

TEST(PassThrough, ADescriptorOfAnUnlinkedFileStaysUsable)
{
    MountedFolder mount;
    const auto file = mount.path("open.txt");
    writeFile(file, "before");
    const int fd = ::open(file.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::unlink(file.c_str()), 0);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(::pwrite(fd, "AFTER!", 6, 0), 6);
    char buffer[16] = {};
    EXPECT_EQ(::pread(fd, buffer, sizeof(buffer), 0), 6);
    EXPECT_STREQ(buffer, "AFTER!");
    ::close(fd);
}

TEST(PassThrough, APathCloseToPathMaxWorksAsOnThePlainFolder)
{
    MountedFolder mount;
    const auto plain = mount.scratch() / "plain";
    fs::create_directory(plain);
    // Relative to the root, as an application that works from a directory descriptor does.
    const std::string component(250, 'n');
    const auto deepPath = [&](const fs::path& root) {
        const int rootFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
        std::string relative;
        std::vector<std::string> results;
        while (relative.size() + 2 * (component.size() + 1) < PATH_MAX - 100) {
            relative += component + "/";
            results.push_back(std::to_string(::mkdirat(rootFd, relative.c_str(), 0755)));
        }
        relative += std::string(PATH_MAX - 100 - relative.size(), 'f');
        const int fd = ::openat(rootFd, relative.c_str(), O_CREAT | O_RDWR, 0644);
        results.push_back("length " + std::to_string(relative.size()));
        results.push_back("write " + std::to_string(::write(fd, "deep", 4)));
        struct stat st {};
        results.push_back("fstatat " + std::to_string(::fstatat(rootFd, relative.c_str(), &st, 0)));
        ::close(fd);
        ::close(rootFd);
        return results;
    };
    EXPECT_EQ(deepPath(mount.mountPoint()), deepPath(plain));
}

TEST(PassThrough, PlaceholdersShowTheirRecordedSize)
{
    MountedFolder mount;
    const auto record = Tessarn::PlaceHolderAttributes::create("", "etag", "id", 12345);
    writeFile(mount.path("placeholder"));
    writeRecord(mount.path("placeholder"), record);
    writeFile(mount.path("hydrated"), "12345");
    writeRecord(mount.path("hydrated"), record);
    fs::create_directory(mount.path("dir"));
    writeRecord(mount.path("dir"), record);
    writeFile(mount.path("plain"));
    writeFile(mount.path("broken"));
    writeRecordBytes(mount.path("broken"), {0xc1});
    writeFile(mount.path("huge"));
    writeRecord(mount.path("huge"), Tessarn::PlaceHolderAttributes::create("", "e", "id", 1ul << 63));

    EXPECT_EQ(sizeAsStatShowsIt(mount.path("placeholder")), "12345");
    EXPECT_EQ(sizeAsStatShowsIt(mount.path("hydrated")), "5");
    EXPECT_EQ(fs::file_size(mount.path("plain")), 0u);
    EXPECT_EQ(fs::file_size(mount.path("broken")), 0u) << "an undecodable record is ignored";
    EXPECT_EQ(fs::file_size(mount.path("huge")), 0u) << "a size no file can have is ignored";
    EXPECT_TRUE(fs::remove(mount.path("huge")));
    struct stat directory {};
    EXPECT_EQ(::stat(mount.path("dir").c_str(), &directory), 0);
    EXPECT_NE(directory.st_size, 12345);
    EXPECT_EQ(fs::file_size(mount.underneath("placeholder")), 0u);

    // Hydrated, then emptied and dehydrated again, as a failed download or a dehydration leave
    // it: each record shows at once, whatever the kernel kept.
    auto hydrated = record;
    hydrated.state = Tessarn::Constants::States::Hydrated;
    hydrated.size = 0;
    writeRecord(mount.path("placeholder"), hydrated);
    writeFile(mount.path("placeholder"), "content");
    EXPECT_EQ(sizeAsStatShowsIt(mount.path("placeholder")), "7");
    fs::resize_file(mount.path("placeholder"), 0);
    writeRecord(mount.path("placeholder"), record);
    EXPECT_EQ(sizeAsStatShowsIt(mount.path("placeholder")), "12345");
    ASSERT_EQ(::lremovexattr(mount.path("placeholder").c_str(), "user.tessarn.data"), 0);
    EXPECT_EQ(sizeAsStatShowsIt(mount.path("placeholder")), "0");
}

// The kernel keeps what it learnt for the configured time: a change made underneath, by a process
// that kept a descriptor from before the mount, shows in names and listings within it, and at
// once with 0; a file's new content shows at its next open, whatever the time.
TEST(PassThrough, ChangesMadeUnderneathShowWithinTheCacheTimeout)
{
    for (const int timeout : {0, 1, 3600}) {
        const TempDir config;
        const auto file = config.path() / "config.json";
        writeFile(file, R"({"ignoreApps": {"byName": [], "endsWith": []}, "cacheTimeout": )" +
                            std::to_string(timeout) + "}");
        MountedFolder mount(withFlags({"-i", file.string()}));
        writeFile(mount.path("file"), "old");
        EXPECT_EQ(readFile(mount.path("file")), "old");
        EXPECT_FALSE(fs::exists(mount.path("new")));
        sortedNames(mount.mountPoint());
        writeFile(mount.underneath("file"), "changed underneath");
        writeFile(mount.underneath("new"), "");
        EXPECT_EQ(readFile(mount.path("file")), "changed underneath") << timeout;
        const auto namesSeen = [&] {
            return fs::exists(mount.path("new")) &&
                   sortedNames(mount.mountPoint()) == std::vector<std::string>{"file", "new"};
        };
        if (timeout == 0) {
            EXPECT_TRUE(namesSeen()) << "with no caching, at once";
        } else if (timeout == 1) {
            EXPECT_TRUE(waitUntil(namesSeen, 2s)) << "within a second";
        }
    }
}

// Another user's placeholder opens as the empty file it is; reading it must not make the kernel
// take the empty file's size for the placeholder's.
TEST(PassThrough, APlaceholderReadAsTheEmptyFileItIsKeepsShowingItsSize)
{
    MountedFolder mount(withFlags({"-p"}));
    fs::permissions(mount.underneath(), fs::perms::all);
    ASSERT_EQ(runProgram(asNobody({"touch", mount.path("theirs").string()})).status, 0);
    writeRecord(mount.path("theirs"), Tessarn::PlaceHolderAttributes::create("", "e", "id", 5));
    const auto read = runProgram(asNobody({"cat", mount.path("theirs").string()}));
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out, "");
    EXPECT_EQ(sizeAsStatShowsIt(mount.path("theirs")), "5");
}

TEST(PassThrough, TheDaemonAnswersRealSizeAndADefaultRecord)
{
    MountedFolder mount;
    const auto file = mount.path("a.bin");
    writeFile(file, std::string(1234, 'x'));
    // A stored attribute of that name is never what the mount answers.
    ::lsetxattr(mount.underneath("a.bin").c_str(), "user.tessarn.realsize", "99", 2, 0);
    char value[64] = {};
    EXPECT_EQ(::lgetxattr(file.c_str(), "user.tessarn.realsize", value, sizeof(value)), 4);
    EXPECT_EQ(std::string(value, 4), "1234");
    EXPECT_EQ(::lgetxattr(file.c_str(), "user.tessarn.realsize", nullptr, 0), 4);
    EXPECT_EQ(::lgetxattr(file.c_str(), "user.tessarn.realsize", value, 3), -1);
    EXPECT_EQ(errno, ERANGE);

    const auto expected = Tessarn::PlaceHolderAttributes().toData();
    ASSERT_EQ(expected.size(), 38u);
    EXPECT_EQ(::lgetxattr(file.c_str(), "user.tessarn.data", nullptr, 0), 38);
    EXPECT_EQ(::lgetxattr(file.c_str(), "user.tessarn.data", value, 37), -1);
    EXPECT_EQ(errno, ERANGE);
    ASSERT_EQ(::lgetxattr(file.c_str(), "user.tessarn.data", value, sizeof(value)), 38);
    EXPECT_EQ(std::vector<unsigned char>(value, value + 38), expected);

    EXPECT_EQ(::lgetxattr(file.c_str(), "user.other", value, sizeof(value)), -1);
    EXPECT_EQ(errno, ENODATA);
    EXPECT_EQ(::lgetxattr(mount.path("missing").c_str(), "user.tessarn.realsize", value, 64), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(PassThrough, ObjectsCreatedByAnotherUserBelongToThatUser)
{
    MountedFolder mount(withFlags({"-p"}));
    fs::permissions(mount.underneath(), fs::perms::all);
    const auto as = [&](std::vector<std::string> command) {
        const auto result = runProgram(asNobody(std::move(command)));
        EXPECT_EQ(result.status, 0) << result.err;
    };
    as({"touch", mount.path("file").string()});
    as({"mkdir", mount.path("dir").string()});
    as({"ln", "-s", "file", mount.path("link").string()});
    as({"mkfifo", mount.path("fifo").string()});
    for (const auto* name : {"file", "dir", "link", "fifo"}) {
        struct stat st {};
        ASSERT_EQ(::lstat(mount.underneath(name).c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_uid, 65534u) << name;
        EXPECT_EQ(st.st_gid, 65534u) << name;
    }
    // The kernel checks permissions on a public mount: nobody may not write root's files.
    writeFile(mount.path("roots"), "x");
    const auto denied = runProgram(asNobody({"sh", "-c", "echo y > " + mount.path("roots").string()}));
    EXPECT_NE(denied.status, 0);
    EXPECT_EQ(readFile(mount.path("roots")), "x");

    // A hard link names an existing object: linking root's file must not take it over.
    writeFile(mount.path("shared"), "x");
    fs::permissions(mount.path("shared"), fs::perms::owner_read | fs::perms::owner_write |
                                              fs::perms::group_read | fs::perms::group_write |
                                              fs::perms::others_read | fs::perms::others_write);
    as({"ln", mount.path("shared").string(), mount.path("linked").string()});
    struct stat linked {};
    ASSERT_EQ(::lstat(mount.underneath("linked").c_str(), &linked), 0);
    EXPECT_EQ(linked.st_nlink, 2u);
    EXPECT_EQ(linked.st_uid, 0u);
    EXPECT_EQ(linked.st_gid, 0u);
}

TEST(PassThrough, ANameReplacedWhileCreatingIsNotHandedOver)
{
    auto options = withFlags({"-p"});
    options.environment = {"LD_PRELOAD=" FAULT_SHIM, "ASAN_OPTIONS=verify_asan_link_order=0"};
    MountedFolder mount(options);
    fs::permissions(mount.underneath(), fs::perms::all);
    // The shim renames an object of root's onto each new name right after the daemon makes it:
    // a folder of root's onto a new folder, a file of root's onto anything else.
    const std::vector<std::pair<std::string, std::string>> makers = {
        {"file-hand-over-race", ": > "},
        {"dir-hand-over-race", "mkdir "},
        {"fifo-hand-over-race", "mkfifo "},
        {"link-hand-over-race", "ln -s target "}};
    for (const auto& [name, command] : makers) {
        const auto victim = mount.underneath(name + ".victim");
        const bool folder = command == "mkdir ";
        if (folder)
            fs::create_directory(victim);
        writeFile(folder ? victim / "inside" : victim, "root's");
        runProgram(asNobody({"sh", "-c", command + mount.path(name).string()}));
        ASSERT_FALSE(fs::exists(victim)) << name << ": no race took place";
        struct stat st {};
        ASSERT_EQ(::lstat(mount.underneath(name).c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_uid, 0u) << name << ": what was renamed onto it was given away";
        EXPECT_EQ(readFile(folder ? mount.underneath(name) / "inside" : mount.underneath(name)),
                  "root's")
            << name;
    }
}

TEST(PassThrough, NoDescriptorLeaksAfterAWorkload)
{
    MountedFolder mount;
    // The pipes are libfuse's, one for each worker to splice through; they come and go with the
    // workers.
    const auto ownDescriptors = [&] {
        auto descriptors = mount.openDescriptors();
        std::erase_if(descriptors,
                      [](const auto& entry) { return entry.second.starts_with("pipe:"); });
        return descriptors;
    };
    const auto before = ownDescriptors();
    for (int round = 0; round < 3; ++round)
        workload(mount.mountPoint(), mount.underneath());
    for (int i = 0; i < 50; ++i) {
        writeFile(mount.path("f" + std::to_string(i)), "data");
        readFile(mount.path("f" + std::to_string(i)));
        sortedNames(mount.mountPoint());
    }
    // The daemon may hold a descriptor for each inode the kernel knows; dropping the kernel's
    // caches makes it forget them all, and each forget must close its descriptor.
    writeFile("/proc/sys/vm/drop_caches", "2");
    waitUntil([&] { return ownDescriptors() == before; });
    EXPECT_THAT(ownDescriptors(), testing::ElementsAreArray(before));
}

// The daemon keeps descriptors for only some of the objects the kernel knows: a folder of many
// more files than its limit of descriptors works like any other, and so do the objects whose
// descriptors it closed, whatever was renamed and removed meanwhile.
TEST(PassThrough, AFolderOfManyMoreFilesThanTheDaemonsDescriptorLimit)
{
    MountOptions options;
    options.descriptorLimit = 256;
    MountedFolder mount(options);
    constexpr int folders = 10;
    constexpr int files = 500;
    for (int d = 0; d < folders; ++d) {
        const auto folder = "d" + std::to_string(d);
        fs::create_directory(mount.path(folder));
        for (int i = 0; i < files; ++i) {
            const auto name = folder + "/f" + std::to_string(i);
            ASSERT_NO_THROW(writeFile(mount.path(name), name)) << std::strerror(errno);
        }
    }
    // Kept open through what follows: its folder is renamed, and another file is removed.
    const int inMovedFolder = ::open(mount.path("d3/f7").c_str(), O_RDONLY);
    const int removed = ::open(mount.path("d4/f9").c_str(), O_RDONLY);
    ASSERT_GE(inMovedFolder, 0);
    ASSERT_GE(removed, 0);
    fs::rename(mount.path("d3"), mount.path("moved"));
    fs::remove(mount.path("d4/f9"));

    int listed = 0;
    for (const auto& entry : fs::recursive_directory_iterator(mount.mountPoint())) {
        ASSERT_NO_THROW(entry.symlink_status()) << entry.path();
        auto written = fs::relative(entry.path(), mount.mountPoint()).string();
        if (written.starts_with("moved/"))
            written.replace(0, 5, "d3");
        if (entry.is_regular_file()) {
            ASSERT_EQ(readFile(entry.path()), written);
        }
        ++listed;
    }
    EXPECT_EQ(listed, folders * (files + 1) - 1);
    EXPECT_EQ(readFile(mount.path("moved/f7")), "d3/f7");

    // Their descriptors were closed long ago; the daemon finds them again.
    struct stat st {};
    EXPECT_EQ(::fstat(inMovedFolder, &st), 0) << std::strerror(errno);
    EXPECT_EQ(st.st_size, 5);
    EXPECT_EQ(::fstat(removed, &st), 0) << std::strerror(errno);
    EXPECT_EQ(st.st_nlink, 0u);
    char buffer[16] = {};
    EXPECT_EQ(::pread(removed, buffer, sizeof(buffer), 0), 5);
    EXPECT_STREQ(buffer, "d4/f9");
    ::close(inMovedFolder);
    ::close(removed);
    EXPECT_LE(mount.openDescriptors().size(), 256u);
}

// A call either makes its object and makes it known, or leaves nothing behind, also when the
// daemon has a single descriptor left: a new file's handle takes it.
TEST(PassThrough, AtTheDescriptorLimitACallMakesItsObjectWhollyOrNotAtAll)
{
    MountOptions options;
    options.descriptorLimit = 64;
    options.allowedErrors = {"Out of file descriptors: "};
    MountedFolder mount(options);
    writeFile(mount.path("target"), "t");
    std::vector<int> held;
    for (int fd = 0; fd >= 0 && held.size() < 100;) {
        if ((fd = ::open(mount.path("target").c_str(), O_RDONLY)) >= 0)
            held.push_back(fd);
    }
    ASSERT_LT(held.size(), 100u) << "the daemon never ran out of descriptors";
    ::close(held.back());
    held.pop_back();
    const auto wholly = [&](const std::string& name, int result) {
        const int error = errno;
        EXPECT_EQ(fs::exists(fs::symlink_status(mount.underneath(name))), result >= 0)
            << name << ": " << (result >= 0 ? "made" : std::strerror(error));
    };
    const int created = ::open(mount.path("file").c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
    wholly("file", created);
    ::close(created);
    wholly("dir", ::mkdir(mount.path("dir").c_str(), 0755));
    wholly("fifo", ::mkfifo(mount.path("fifo").c_str(), 0644));
    wholly("symlink", ::symlink("target", mount.path("symlink").c_str()));
    wholly("hardlink", ::link(mount.path("target").c_str(), mount.path("hardlink").c_str()));
    for (const int fd : held)
        ::close(fd);
}

TEST(PassThrough, FsyncFlushesAndReportsFailures)
{
    TempDir records;
    const auto recordFile = records.path() / "fsync-calls";
    MountOptions options;
    options.environment = {"LD_PRELOAD=" FSYNC_SHIM, "TESSARN_FSYNC_RECORD=" + recordFile.string(),
                           "ASAN_OPTIONS=verify_asan_link_order=0"};
    MountedFolder mount(options);
    const auto sync = [&](const char* name, bool dataOnly) {
        const int fd = ::open(mount.path(name).c_str(), O_CREAT | O_WRONLY, 0644);
        const int rc = dataOnly ? ::fdatasync(fd) : ::fsync(fd);
        const int error = errno;
        ::close(fd);
        return rc == 0 ? 0 : -error;
    };
    EXPECT_EQ(sync("a.txt", false), 0);
    EXPECT_EQ(sync("b.txt", true), 0);
    EXPECT_EQ(sync("fsync-fails.txt", false), -EIO);
    const auto calls = readFile(recordFile);
    EXPECT_THAT(calls, testing::MatchesRegex("fsync [^\n]*/a.txt\nfdatasync [^\n]*/b.txt\n"
                                             "fsync [^\n]*/fsync-fails.txt\n"));
}

} // namespace
