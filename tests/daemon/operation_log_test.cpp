// The -d operation log as the daemon writes it.
#include "mount_fixture.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace TessarnTest;
using testing::HasSubstr;
using testing::Not;
namespace fs = std::filesystem;

namespace {

void setImmutable(const fs::path& file, bool immutable)
{
    const int fd = ::open(file.c_str(), O_RDONLY);
    int flags = 0;
    ::ioctl(fd, FS_IOC_GETFLAGS, &flags);
    flags = immutable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    EXPECT_EQ(::ioctl(fd, FS_IOC_SETFLAGS, &flags), 0) << "immutable flag of " << file;
    ::close(fd);
}

std::string ownExecutable()
{
    return fs::read_symlink("/proc/self/exe").string();
}

TEST(OperationLog, WritesOneLinePerOperationWithItsMark)
{
    MountedFolder mount(withFlags({"-d"}));
    writeFile(mount.path("a.txt"), "abc");
    struct stat st {};
    ASSERT_EQ(::stat(mount.path("a.txt").c_str(), &st), 0);
    // Immutable underneath, so the unlink reaches the daemon and fails there.
    writeFile(mount.path("kept"), "");
    setImmutable(mount.underneath("kept"), true);
    EXPECT_EQ(::unlink(mount.path("kept").c_str()), -1);
    setImmutable(mount.underneath("kept"), false);
    ASSERT_EQ(::mkdir(mount.path("d").c_str(), 0750), 0);
    ASSERT_EQ(::rename(mount.path("a.txt").c_str(), mount.path("b.txt").c_str()), 0);
    EXPECT_EQ(mount.unmount(), 0);

    const auto log = mount.daemonOutput();
    const auto caller = fmt::format("[ pid = {} {} uuid = 0] ", ::getpid(), ownExecutable());
    EXPECT_THAT(log, HasSubstr("tessarnfuse running with debug log enabled\n"));
    EXPECT_THAT(log, HasSubstr("[ pid = 0 pid: 0 uuid = 0] _init **** INIT called /path ✅\n"));
    EXPECT_THAT(log, HasSubstr(fmt::format("{}getattr getattr inode: {} ./a.txt ✅\n", caller,
                                           st.st_ino)));
    EXPECT_THAT(log, HasSubstr(caller + "create create 100644 ./a.txt ✅\n"));
    EXPECT_THAT(log, HasSubstr(caller + "write write 3 bytes at offset 0 ./a.txt ✅\n"));
    EXPECT_THAT(log, HasSubstr(caller + "write 3 bytes written at offset 0 ./a.txt ✅\n"));
    EXPECT_THAT(log, HasSubstr(caller + "unlink  ./kept ❌\n"));
    EXPECT_THAT(log, HasSubstr(caller + "mkdir mkdir mode 750 ./d ✅\n"));
    EXPECT_THAT(log, HasSubstr(caller + "rename rename ./a.txt to ./b.txt ./a.txt ✅\n"));
    EXPECT_THAT(log, HasSubstr("close  ./a.txt ✅\n"));
}

TEST(OperationLog, NamesTheNewOwnerEvenWhenItsEntryIsLarge)
{
    auto options = withFlags({"-d"});
    // The shim's look-ups want a buffer four times the size of the first one tried.
    options.environment = {"LD_PRELOAD=" FAULT_SHIM, "ASAN_OPTIONS=verify_asan_link_order=0"};
    MountedFolder mount(options);
    writeFile(mount.path("a.txt"), "");
    ASSERT_EQ(::chown(mount.path("a.txt").c_str(), 65534, 65534), 0);
    EXPECT_EQ(mount.unmount(), 0);
    const auto expected = fmt::format("chown chown to 65534:65534 {}:{} ./a.txt ✅\n",
                                      ::getpwuid(65534)->pw_name, ::getgrgid(65534)->gr_name);
    EXPECT_THAT(mount.daemonOutput(), HasSubstr(expected));
}

TEST(OperationLog, LeavesOutTheSyncClientsLogFile)
{
    MountedFolder mount(withFlags({"-d"}));
    writeFile(mount.underneath(".HalvorineSync.log"), "client log");
    writeFile(mount.underneath("next.txt"), "next");
    EXPECT_EQ(readFile(mount.path(".HalvorineSync.log")), "client log");
    EXPECT_EQ(readFile(mount.path("next.txt")), "next");
    EXPECT_EQ(mount.unmount(), 0);
    const auto log = mount.daemonOutput();
    EXPECT_THAT(log, Not(HasSubstr("./.HalvorineSync.log ")));
    EXPECT_THAT(log, HasSubstr("read 4 bytes read at offset 0 ./next.txt ✅\n"));
}

TEST(OperationLog, IsSilentWithoutDebug)
{
    MountedFolder mount;
    writeFile(mount.path("a.txt"), "abc");
    EXPECT_EQ(readFile(mount.path("a.txt")), "abc");
    EXPECT_EQ(mount.unmount(), 0);
    EXPECT_THAT(mount.daemonOutput(), Not(HasSubstr("[ pid =")));
}

} // namespace
