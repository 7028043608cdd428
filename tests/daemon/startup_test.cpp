// The daemon's command line, its start-up refusals and its life as a mount.
#include "mount_fixture.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fmt/format.h>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <tessarn/tessarn.h>
#include <thread>
#include <unistd.h>

using namespace TessarnTest;
using testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

const std::string baseOptions = "auto_unmount";
const std::string usage =
    fmt::format("Usage:\n{} [-h] | [-f] [-p] [-d] -i config-file -o ownerId /directory-mountpoint\n"
                "Type 'man tessarnfuse' for more details\n",
                TESSARN_BINARY);

std::string quoted(const fs::path& path)
{
    return "\"" + path.string() + "\"";
}

// Runs the daemon in the foreground until its folder is mounted, then unmounts it; its output.
std::string outputOfOneMount(const std::vector<std::string>& command, const fs::path& folder,
                             const fs::path& scratch)
{
    ChildProcess daemon(command, scratch / "out", scratch / "err");
    EXPECT_TRUE(waitForMount(folder, "fuse.tessarn", daemon));
    EXPECT_TRUE(unmountFolder(folder));
    EXPECT_EQ(daemon.wait(10s), 0);
    return readFile(scratch / "out");
}

class StartupTest : public testing::Test {
protected:
    StartupTest()
    {
        fs::create_directory(folder);
        Tessarn::Registration::registerFilesystem(folder, testOwner);
    }

    ProgramResult run(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), TESSARN_BINARY);
        auto result = runProgram(arguments);
        EXPECT_FALSE(isMounted(folder));
        return result;
    }

    TempDir dir;
    fs::path folder = dir.path() / "Sync";
    std::string socket = (dir.path() / "socket").string();
};

TEST_F(StartupTest, HelpAndVersionEndAtOnceEvenWithValidOptions)
{
    auto result = run({"-h", "-f", "-o", testOwner, folder.string()});
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, usage);

    for (const std::string version : {"-V", "--version"}) {
        result = run({"-o", testOwner, version, folder.string()});
        EXPECT_EQ(result.status, 0);
        EXPECT_THAT(result.out,
                    testing::StartsWith("tessarn " TESSARN_VERSION_STRING " (libfuse 3."));
        EXPECT_EQ(result.err, "");
    }
}

TEST_F(StartupTest, MissingMountPointPrintsTheUsage)
{
    const auto result = run({"-f", "-x"});
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.out, "tessarnfuse not running as a daemon\n");
    EXPECT_EQ(result.err, "Missing mountpoint\n" + usage);
}

TEST_F(StartupTest, RefusesFoldersItMayNotServe)
{
    const auto missing = dir.path() / "missing";
    auto result = run({"-f", "-o", testOwner, missing.string()});
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err, "Cannot resolve the mount point " + quoted(missing) +
                              ": No such file or directory\n");

    result = run({"-f", "-o", "someone:else", "-s", socket, folder.string()});
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err, "Mount point " + quoted(folder) + " is not owned by someone:else\n");
    EXPECT_THAT(result.out, HasSubstr("tessarnfuse starting at" + quoted(folder) + ".\n"));
    EXPECT_THAT(result.out, testing::Not(HasSubstr("closing")));

    result = run({"-f", "-s", socket, folder.string()});
    EXPECT_EQ(result.err, "Mount point " + quoted(folder) + " is not owned by \n")
        << "without -o the owner is empty";

    ::lremovexattr(folder.c_str(), "user.tessarn.registration");
    result = run({"-f", "-o", testOwner, "-s", socket, folder.string()});
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err, "No registration info found for mount point " + quoted(folder) +
                              " No registration info found\n");

    ::lsetxattr(folder.c_str(), "user.tessarn.registration", "", 0, 0);
    result = run({"-f", "-o", testOwner, "-s", socket, folder.string()});
    EXPECT_EQ(result.err,
              "No registration info found for mount point " + quoted(folder) + " Invalid path\n");

    ::lsetxattr(folder.c_str(), "user.tessarn.registration", "\xc1", 1, 0);
    result = run({"-f", "-o", testOwner, "-s", socket, folder.string()});
    EXPECT_EQ(result.status, 255);
    EXPECT_THAT(result.err, testing::StartsWith("Cannot decode the registration of mount point " +
                                                quoted(folder) + ": "));
}

TEST_F(StartupTest, RefusesAMountPointItCannotOpen)
{
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_exec);
    fs::permissions(folder, fs::perms::none);
    const auto result = runProgram(
        asNobody({TESSARN_BINARY, "-f", "-o", testOwner, "-s", socket, folder.string()}));
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err,
              "Cannot open the mount point " + quoted(folder) + ": Permission denied\n");
}

TEST_F(StartupTest, RefusesABadConfigurationFile)
{
    const auto config = dir.path() / "config.json";
    writeFile(config, R"({"ignoreApps": {"byName": ["/usr/bin/indexer"]}})");
    auto result = run({"-f", "-i", config.string(), "-o", testOwner, folder.string()});
    EXPECT_EQ(result.status, 255);
    EXPECT_THAT(result.err, testing::StartsWith("The configuration file " + quoted(config) +
                                                " has no array of strings"));

    result = run({"-f", "-i", "", "-o", testOwner, folder.string()});
    EXPECT_EQ(result.status, 255);
    EXPECT_THAT(result.err, testing::StartsWith("Cannot open the configuration file \"\""));
}

TEST(Mount, ServesTheFolderAndClosesCleanly)
{
    std::optional<MountedFolder> mount(std::in_place);
    const auto folder = mount->mountPoint();
    const auto out = mount->daemonOutput();
    EXPECT_EQ(out, fmt::format("tessarnfuse not running as a daemon\n"
                               "tessarnfuse starting at{}.\n"
                               "tessarnfuse starting: PID:{}, Socket:{}\n"
                               "fuse command: {} -f -o {} {} \n",
                               quoted(folder), mount->daemonPid(),
                               (mount->scratch() / "no-client").string(), TESSARN_BINARY,
                               baseOptions, folder.string()));
    EXPECT_EQ(mount->unmount(), 0);
    EXPECT_THAT(mount->daemonOutput(), testing::EndsWith("tessarnfuse closing.\n"));
}

TEST(Mount, PublicMountsAndExtraArgumentsReachFuse)
{
    auto options = withFlags({"-p", "-x"});
    options.extraFuseArguments = {"-o", "fsname=tessarn-extra,subtype=tessarn"};
    MountedFolder mount(options);
    EXPECT_THAT(mount.daemonOutput(), HasSubstr("tessarnfuse running as a public filesystem\n"));
    const auto expected =
        fmt::format("fuse command: {} -o allow_other,default_permissions,{} -f {} -o "
                    "fsname=tessarn-extra,subtype=tessarn \n",
                    TESSARN_BINARY, baseOptions, mount.mountPoint().string());
    EXPECT_THAT(mount.daemonOutput(), HasSubstr(expected));
    std::ifstream mountInfo("/proc/self/mountinfo");
    std::string table((std::istreambuf_iterator<char>(mountInfo)), {});
    EXPECT_THAT(table, HasSubstr(mount.mountPoint().string() + " "));
    EXPECT_THAT(table, HasSubstr("fuse.tessarn tessarn-extra "));
    EXPECT_THAT(table, HasSubstr("allow_other"));
}

// The plug-in restarts a daemon that dies; until then its dead mount must fail every access
// that reaches the daemon rather than show the placeholders underneath as the empty files they
// are: every open, and every question about a placeholder.
TEST(Mount, WithMinusKADeadDaemonsMountStaysAndFailsEveryAccessUntilCleared)
{
    MountedFolder mount(withFlags({"-p", "-k"}));
    EXPECT_THAT(
        mount.daemonOutput(),
        HasSubstr(fmt::format("fuse command: {} -o allow_other,default_permissions -f {} \n",
                              TESSARN_BINARY, mount.mountPoint().string())));
    writeFile(mount.path("file"), "content");
    writeFile(mount.path("placeholder"));
    writeRecord(mount.path("placeholder"), Tessarn::PlaceHolderAttributes::create("", "e", "i", 9));
    ::kill(mount.daemonPid(), SIGKILL);
    EXPECT_TRUE(waitUntil([&] {
        return ::open(mount.path("file").c_str(), O_RDONLY) < 0 && errno == ENOTCONN;
    }));
    struct stat status {};
    EXPECT_NE(::stat(mount.path("placeholder").c_str(), &status), 0);
    EXPECT_EQ(errno, ENOTCONN);
    EXPECT_TRUE(isMounted(mount.mountPoint()));
    EXPECT_TRUE(unmountFolder(mount.mountPoint()));
    mount.waitForExit();
}

TEST_F(StartupTest, AMountPointGivenThroughALinkIsResolved)
{
    fs::create_directory_symlink(folder, dir.path() / "link");
    const auto out =
        outputOfOneMount(daemonCommand(dir.path() / "link", socket), folder, dir.path());
    EXPECT_THAT(out, HasSubstr("tessarnfuse starting at" + quoted(folder) + ".\n"));
    EXPECT_THAT(out, HasSubstr(" " + folder.string() + " \n"));
}

// In the user's runtime folder, which XDG_RUNTIME_DIR names when it holds an absolute path. The
// daemon says that nobody listens there, and serves on.
TEST_F(StartupTest, WithoutSocketOptionTheSocketIsInTheRuntimeFolder)
{
    auto command = daemonCommand(folder, socket);
    const auto option = std::find(command.begin(), command.end(), "-s");
    command.erase(option, option + 2);
    const auto started = [&](std::vector<std::string> environment) {
        environment.insert(environment.begin(), "env");
        environment.insert(environment.end(), command.begin(), command.end());
        return outputOfOneMount(environment, folder, dir.path());
    };
    const auto runtimeSocket = (dir.path() / "Halvorine/socket").string();
    EXPECT_THAT(started({"XDG_RUNTIME_DIR=" + dir.path().string()}),
                HasSubstr(", Socket:" + runtimeSocket + "\n"));
    EXPECT_EQ(readFile(dir.path() / "err"), "Not connected to the sync client at " +
                                                runtimeSocket +
                                                ": No such file or directory; connecting when it "
                                                "listens there\n");
    const auto ownRuntime = fmt::format(", Socket:/run/user/{}/Halvorine/socket\n", ::geteuid());
    EXPECT_THAT(started({"-u", "XDG_RUNTIME_DIR"}), HasSubstr(ownRuntime));
    EXPECT_THAT(started({"XDG_RUNTIME_DIR=relative"}), HasSubstr(ownRuntime));
}

// The daemon without -f: FUSE forks it into the background, where it is no child of this test
// and ends when its folder is unmounted.
class BackgroundMount : public StartupTest {
protected:
    ~BackgroundMount() override
    {
        if (isMounted(folder))
            unmountFolder(folder);
    }

    // The parent's output; it ends once the forked daemon serves.
    ProgramResult start(const std::string& socketPath, const fs::path& workingDirectory = "/")
    {
        auto command = daemonCommand(folder, socketPath);
        command.erase(std::find(command.begin(), command.end(), "-f"));
        command.insert(command.begin(), {"env", "-C", workingDirectory.string()});
        auto result = runProgram(command);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_TRUE(isMounted(folder));
        return result;
    }

    // An application opening a new dehydrated placeholder.
    std::unique_ptr<ChildProcess> catPlaceholder()
    {
        writeFile(folder / "a.txt");
        writeRecord(folder / "a.txt", Tessarn::PlaceHolderAttributes::create("", "e", "f", 5));
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{"cat", (folder / "a.txt").string()}, dir.path() / "cat.out",
            dir.path() / "cat.err");
    }

    void unmount()
    {
        EXPECT_TRUE(unmountFolder(folder));
        EXPECT_TRUE(waitUntil([&] { return !isMounted(folder); }));
    }
};

TEST_F(BackgroundMount, TheServingProcessTalksToTheClient)
{
    FakeSyncClient client(socket);
    start(socket);
    EXPECT_TRUE(client.accept());
    EXPECT_EQ(client.readLine(), versionRequest);
    // A request can only come from a worker that runs in the serving process.
    const auto cat = catPlaceholder();
    const auto request = client.readLine();
    ASSERT_TRUE(request.has_value());
    EXPECT_THAT(*request, testing::StartsWith("V2/HYDRATE_FILE:"));
    client.send(resultAnswer(13, R"({"error":"refused"})"));
    EXPECT_EQ(cat->wait(5s), 1);
    unmount();
}

TEST_F(BackgroundMount, ARelativeSocketPathNamesASocketInTheStartingDirectory)
{
    FakeSyncClient client(socket);
    const auto started = start("socket", dir.path());
    EXPECT_THAT(started.out, HasSubstr(", Socket:socket\n")) << "the path as given";
    EXPECT_TRUE(client.accept());
    EXPECT_EQ(client.readLine(), versionRequest);
    unmount();
}

TEST_F(BackgroundMount, WithAnEmptySocketPathOpensOfPlaceholdersFailAtOnce)
{
    start("");
    const auto opened = std::chrono::steady_clock::now();
    const auto cat = catPlaceholder();
    EXPECT_EQ(cat->wait(5s), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - opened, 3s);
    EXPECT_THAT(readFile(dir.path() / "cat.err"), HasSubstr("Input/output error"));
    unmount();
}

// FUSE's unmount helper lives as long as the mount: it must keep neither the folder nor the
// connection to the sync client open.
TEST(Mount, TheUnmountHelperHoldsNoneOfTheDaemonsDescriptors)
{
    MountedFolder mount;
    const auto helper = childNamed(mount.daemonPid(), "fusermount3");
    ASSERT_TRUE(helper.has_value()) << "no fusermount3 among the daemon's children";
    std::set<std::string> daemonFiles;
    for (const auto& [number, target] : mount.openDescriptors())
        daemonFiles.insert(target);
    // Its own connection to the daemon is a socket of its own; what this test inherited to the
    // daemon and the helper alike is no concern here.
    std::vector<std::string> shared;
    for (const auto& [number, target] : descriptorsOf(*helper)) {
        if (target == mount.mountPoint().string() ||
            (target.starts_with("socket:") && daemonFiles.contains(target)))
            shared.push_back(target);
    }
    EXPECT_THAT(shared, testing::IsEmpty());
}

// FUSE frees the served file system before its main entry returns, while the daemon still has
// its closing to do: a stop signal then must find nothing to stop. Freed memory is filled with
// garbage, so that a signal reaching it would crash the daemon.
TEST(Mount, StopSignalsAfterTheLoopEndedAreHarmless)
{
    MountOptions options;
    options.environment = {"MALLOC_PERTURB_=165",
                           "ASAN_OPTIONS=max_free_fill_size=1048576:free_fill_byte=165"};
    MountedFolder mount(options);
    ASSERT_TRUE(unmountFolder(mount.mountPoint()));
    ASSERT_TRUE(waitUntil(
        [&] { return mount.daemonOutput().find("tessarnfuse closing.") != std::string::npos; }));
    // Signals all through the closing, the socket worker's stop included.
    for (int i = 0; i < 60; ++i) {
        ::kill(mount.daemonPid(), i % 2 ? SIGINT : SIGTERM);
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(mount.waitForExit(), 0);
}

TEST(Mount, SigtermEndsTheDaemonWithStatusZeroAndUnmounts)
{
    MountedFolder mount;
    ::kill(mount.daemonPid(), SIGTERM);
    EXPECT_EQ(mount.waitForExit(), 0);
    EXPECT_FALSE(isMounted(mount.mountPoint()));
    EXPECT_THAT(mount.daemonOutput(), testing::EndsWith("tessarnfuse closing.\n"));
}

} // namespace
