// synchost started, stopped, killed and started again over the same folder.
#include "e2e_support.h"
#include "hosted_folder.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <thread>

namespace fs = std::filesystem;
using namespace TessarnTest;
using Tessarn::Constants::States;

namespace {

class HostLifecycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        hosted.putRemote("a.txt", "content of a\n");
        hosted.putRemote("b.txt", "content of b\n");
    }

    HostedFolder hosted;
};

// The conflict copies of STEM.SUFFIX in the folder, by name; suffix as a regular expression.
std::vector<std::string> conflictCopies(const fs::path& folder, const std::string& stem,
                                        const std::string& suffix)
{
    const std::regex copyName(stem + R"( \(conflicted copy \d{4}-\d{2}-\d{2} \d{6}\))" + suffix);
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (std::regex_match(entry.path().filename().string(), copyName))
            names.push_back(entry.path().filename().string());
    }
    return names;
}

} // namespace

TEST_F(HostLifecycle, AStoppedHostLeavesNoMountAndAHostStartedAgainServesTheSameFolder)
{
    ASSERT_TRUE(hosted.startHost());
    const pid_t daemon = hosted.daemonPid();
    ASSERT_GT(daemon, 0);
    EXPECT_EQ(readWithProcess(hosted.local("a.txt")).out, "content of a\n");

    EXPECT_EQ(hosted.stopHost(), 0) << hosted.diagnostics();
    EXPECT_FALSE(isMounted(hosted.folder()));
    EXPECT_TRUE(waitUntil([&] { return processEnded(daemon); }, 5s));
    EXPECT_NE(hosted.hostOutput().find("Stopped"), std::string::npos) << hosted.hostOutput();

    ASSERT_TRUE(hosted.startHost());
    EXPECT_NE(hosted.hostOutput().find("0 new placeholders"), std::string::npos)
        << hosted.hostOutput();
    EXPECT_EQ(hosted.record("a.txt").state, States::Hydrated) << "hydrated files stay hydrated";
    EXPECT_EQ(readWithProcess(hosted.local("a.txt")).out, "content of a\n");
    EXPECT_EQ(readWithProcess(hosted.local("b.txt")).out, "content of b\n");
    EXPECT_EQ(occurrences(hosted.hostOutput(), "hydrated "), 1u) << hosted.hostOutput();
}

// Whatever its state folder: the second host must not even clear the first one's mount.
TEST_F(HostLifecycle, ASecondHostOverTheSameFolderIsRefusedAndTheFirstServesOn)
{
    ASSERT_TRUE(hosted.startHost());
    const fs::path base = hosted.folder().parent_path();
    for (const auto* state : {"state", "other state"}) {
        SCOPED_TRACE(state);
        const ProgramResult second = hosted.runAnotherHost(base / state, base / "second.socket");
        EXPECT_EQ(second.status, 1);
        EXPECT_NE(second.err.find("Another synchost (process " + std::to_string(hosted.hostPid())),
                  std::string::npos)
            << second.err;
        EXPECT_EQ(second.err.find("still mounted"), std::string::npos)
            << "the first host's mount is no leftover of the second: " << second.err;
        EXPECT_TRUE(isMounted(hosted.folder()));
        EXPECT_FALSE(processEnded(hosted.daemonPid()));
    }
    EXPECT_EQ(readWithProcess(hosted.local("a.txt")).out, "content of a\n");
}

// Anything but a socket nobody answers on may be a file the user wants, or another program's.
TEST_F(HostLifecycle, AHostRefusesASocketPathThatHoldsAFile)
{
    const fs::path base = hosted.folder().parent_path();
    writeFile(base / "not a socket", "keep me\n");
    const ProgramResult refused = hosted.runAnotherHost(base / "state", base / "not a socket");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("Cannot serve the socket"), std::string::npos) << refused.err;
    EXPECT_EQ(readFile(base / "not a socket"), "keep me\n");
    EXPECT_FALSE(isMounted(hosted.folder()));
}

// However the folders are written, through links or "..", a sync folder that overlaps the
// remote, or a state folder or socket inside them, is refused before anything is written.
TEST_F(HostLifecycle, OverlappingFoldersAreRefusedWithStatusTwoAndNothingWritten)
{
    hosted.putRemote("Music/big.bin", patternContent(100000, 7));
    const fs::path base = fs::canonical(hosted.folder().parent_path());
    const std::string remote = (base / "remote").string();
    const std::string sync = (base / "sync folder").string();
    fs::create_directory_symlink(base / "remote", base / "link to remote");
    fs::create_directory_symlink(base, base / "link to all");
    const struct {
        std::vector<std::string> arguments;
        std::string reason;
    } overlaps[] = {
        {{remote, remote}, "the sync folder " + remote + " is the remote itself"},
        {{remote, remote + "/inner"},
         "the sync folder " + remote + "/inner lies inside the remote"},
        {{remote + "/..", remote},
         "the sync folder " + remote + " lies inside the remote " + base.string()},
        {{(base / "link to remote").string(), remote}, " is the remote itself"},
        {{remote, (base / "link to all").string()},
         "the sync folder " + base.string() + " contains the remote " + remote},
        {{"--state", remote + "/state", remote, sync},
         "the state folder " + remote + "/state lies"},
        {{"--state", sync + "/.state", remote, sync}, "lies inside the sync folder " + sync},
        {{"--socket", sync + "/api.socket", remote, sync}, "the socket " + sync + "/api.socket"},
    };
    const auto before = treeDigest(base);
    for (const auto& [arguments, reason] : overlaps) {
        std::vector<std::string> command{"--socket", (base / "api.socket").string()};
        command.insert(command.end(), arguments.begin(), arguments.end());
        SCOPED_TRACE(reason);
        const ProgramResult refused = HostedFolder::runHostToItsEnd(command);
        EXPECT_EQ(refused.status, 2) << refused.out;
        EXPECT_NE(refused.err.find(reason), std::string::npos) << refused.err;
        EXPECT_EQ(treeDigest(base), before) << "something was written";
        if (isMounted(arguments.back())) {
            ADD_FAILURE() << "mounted";
            unmountFolder(arguments.back());
        }
    }
}

// A daemon that dies is brought back at once. The open that waited on it fails, as does any
// open in between: none of them reads the empty placeholder underneath.
TEST_F(HostLifecycle, AKilledDaemonIsRestartedAndItsWaitingOpenFailsRatherThanReadEmpty)
{
    ASSERT_TRUE(hosted.startHost({"--latency", "3000"}));
    const fs::path scratch = hosted.folder().parent_path();
    ChildProcess waiting({"cat", hosted.local("a.txt").string()}, scratch / "cat.out",
                         scratch / "cat.err");
    std::this_thread::sleep_for(500ms); // its request is on its way; the download is not
    ::kill(hosted.daemonPid(), SIGKILL);
    EXPECT_NE(waiting.wait(10s), 0);
    EXPECT_EQ(readFile(scratch / "cat.out"), "");

    ASSERT_TRUE(hosted.waitForRestartedDaemon(2s)) << hosted.hostErrors() << hosted.diagnostics();
    EXPECT_EQ(readWithProcess(hosted.local("b.txt")).out, "content of b\n");
    // The download began after the daemon's death, into the file opened through its mount.
    ASSERT_TRUE(waitUntil(
        [&] { return hosted.hostOutput().find("failed a.txt") != std::string::npos; }, 10s));
    EXPECT_EQ(hosted.record("a.txt").state, States::Dehydrated)
        << "no record stays Hydrating once its job has ended";
    EXPECT_EQ(readWithProcess(hosted.local("a.txt")).out, "content of a\n");
    EXPECT_NE(hosted.hostErrors().find("not served until the plug-in restarts it"),
              std::string::npos)
        << hosted.hostErrors();
    EXPECT_EQ(occurrences(hosted.hostOutput(), "is served again"), 1u) << hosted.hostOutput();

    EXPECT_EQ(hosted.stopHost(), 0) << hosted.hostErrors();
    EXPECT_FALSE(isMounted(hosted.folder()));
}

// A daemon that keeps dying is given up after three restarts in a minute: the plug-in's error
// ends synchost, and its stop clears the dead mount.
TEST_F(HostLifecycle, AFourthDeathWithinAMinuteEndsInThePluginsErrorAndExitOne)
{
    ASSERT_TRUE(hosted.startHost());
    for (int restart = 1; restart <= 3; ++restart) {
        ::kill(hosted.daemonPid(), SIGKILL);
        ASSERT_TRUE(hosted.waitForRestartedDaemon(10s)) << "restart " << restart << "\n"
                                                        << hosted.diagnostics();
    }
    ::kill(hosted.daemonPid(), SIGKILL);
    EXPECT_EQ(hosted.waitForHost(20s), 1) << hosted.hostOutput() << hosted.diagnostics();
    EXPECT_NE(hosted.hostErrors().find("ended (signal 9 (Killed)) after 3 restarts within a "
                                       "minute"),
              std::string::npos)
        << hosted.hostErrors();
    EXPECT_EQ(occurrences(hosted.hostOutput(), "is served again"), 3u) << hosted.hostOutput();
    EXPECT_FALSE(isMounted(hosted.folder()));
}

// Only what synchost put there is replaced: a hydrated file the remote changed becomes a
// placeholder again, an edit the remote changed too moves aside as a conflict copy, and edits
// the remote did not change stay, even one written into a placeholder while nothing was mounted.
TEST_F(HostLifecycle, AtTheNextStartARemoteChangeReplacesOnlyWhatSynchostPutThere)
{
    hosted.putRemote("Documents/c.txt", "content of c\n");
    hosted.putRemote("d.txt", "content of d\n");
    ASSERT_TRUE(hosted.startHost());
    EXPECT_EQ(readWithProcess(hosted.local("a.txt")).out, "content of a\n");
    writeFile(hosted.local("b.txt"), "my edit of b\n");
    writeFile(hosted.local("Documents/c.txt"), "my edit of c\n");
    ASSERT_EQ(hosted.stopHost(), 0);
    std::ofstream(hosted.local("d.txt"), std::ios::app) << "written while not served\n";

    hosted.putRemote("a.txt", "the new, longer content of a\n");
    hosted.putRemote("Documents/c.txt", "the remote's new c\n");
    ASSERT_TRUE(hosted.startHost());
    const std::string output = hosted.hostOutput();
    EXPECT_NE(output.find("2 new placeholders"), std::string::npos) << output;
    EXPECT_EQ(hosted.record("a.txt").state, States::Dehydrated);
    EXPECT_EQ(readWithProcess(hosted.local("a.txt")).out, "the new, longer content of a\n");

    const auto copies = conflictCopies(hosted.local("Documents"), "c", R"(\.txt)");
    ASSERT_EQ(copies.size(), 1u) << output;
    EXPECT_EQ(readWithProcess(hosted.local("Documents") / copies[0]).out, "my edit of c\n");
    EXPECT_NE(output.find("conflict: kept your Documents/c.txt as Documents/" + copies[0] + "\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(occurrences(output, "conflict: "), 1u) << output;
    EXPECT_EQ(hosted.record("Documents/c.txt").state, States::Dehydrated);
    EXPECT_EQ(readWithProcess(hosted.local("Documents/c.txt")).out, "the remote's new c\n");

    EXPECT_EQ(readWithProcess(hosted.local("b.txt")).out, "my edit of b\n");
    EXPECT_EQ(readWithProcess(hosted.local("d.txt")).out, "written while not served\n")
        << "a download must not write over it";
}

// A first run into a folder that has files already: one with the remote's bytes is taken as
// hydrated, without a download; another is kept as a conflict copy; one of the user's own,
// which the remote lacks, is left alone.
TEST_F(HostLifecycle, AFirstRunAdoptsAnEqualFileAndKeepsADifferentOneAsAConflictCopy)
{
    writeFile(hosted.local("a.txt"), "content of a\n");
    writeFile(hosted.local("b.txt"), "my own b\n");
    writeFile(hosted.local("mine.txt"), "only mine\n");
    ASSERT_TRUE(hosted.startHost());
    const std::string output = hosted.hostOutput();
    EXPECT_NE(output.find("1 new placeholders"), std::string::npos) << output;

    EXPECT_EQ(hosted.record("a.txt").state, States::Hydrated);
    const auto row = journalRow(hosted.journalPath(), "a.txt");
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->type, CSyncEnums::ItemTypeFile);
    EXPECT_EQ(readWithProcess(hosted.local("a.txt")).out, "content of a\n");

    const auto copies = conflictCopies(hosted.folder(), "b", R"(\.txt)");
    ASSERT_EQ(copies.size(), 1u) << output;
    EXPECT_EQ(readWithProcess(hosted.local(copies[0])).out, "my own b\n");
    EXPECT_EQ(hosted.record("b.txt").state, States::Dehydrated);
    EXPECT_EQ(readWithProcess(hosted.local("b.txt")).out, "content of b\n");
    EXPECT_EQ(readFile(hosted.local("mine.txt")), "only mine\n");
    EXPECT_EQ(occurrences(hosted.hostOutput(), "hydrated "), 1u) << "only b.txt is downloaded";
}

// The daemon outlives a host killed with SIGKILL: its opens must fail instead of waiting for
// an answer that cannot come, and the next host must take the folder over.
TEST_F(HostLifecycle, AfterTheHostIsKilledOpensFailFastAndANewHostTakesOver)
{
    ASSERT_TRUE(hosted.startHost());
    const pid_t oldDaemon = hosted.daemonPid();
    ASSERT_GT(oldDaemon, 0);
    hosted.killHost();
    ASSERT_FALSE(processEnded(oldDaemon)) << "the daemon is not killed with its host";
    ASSERT_TRUE(isMounted(hosted.folder()));

    const auto before = std::chrono::steady_clock::now();
    const ProgramResult orphaned = readWithProcess(hosted.local("a.txt"), "cat", 20s);
    EXPECT_NE(orphaned.status, -1) << "the open hangs";
    EXPECT_NE(orphaned.status, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_EQ(orphaned.out, "");

    ASSERT_TRUE(hosted.startHost()) << "a stale mount is cleared";
    EXPECT_NE(hosted.daemonPid(), oldDaemon);
    EXPECT_EQ(readWithProcess(hosted.local("a.txt")).out, "content of a\n");
    EXPECT_TRUE(waitUntil([&] { return processEnded(oldDaemon); }, 10s))
        << "the old daemon ends once its mount is gone";
}

TEST(SampleHost, WithoutFoldersSynchostServesItsSampleRemote)
{
    HostedFolder hosted("sync");
    ASSERT_TRUE(hosted.startSampleHost());
    EXPECT_NE(hosted.hostOutput().find("6 files"), std::string::npos) << hosted.hostOutput();
    EXPECT_EQ(hosted.record("Documents/notes.md").state, States::Dehydrated);
    const ProgramResult notes = readWithProcess(hosted.local("Documents/notes.md"));
    EXPECT_EQ(notes.out, readFile(hosted.remote() / "Documents/notes.md"));
    EXPECT_NE(notes.out.find("Files on demand"), std::string::npos);
    EXPECT_EQ(readWithProcess(hosted.local("Music/concert.flac")).out.size(), 3u * 1024 * 1024);
    EXPECT_EQ(hosted.stopHost(), 0);
    EXPECT_FALSE(isMounted(hosted.folder()));
}
