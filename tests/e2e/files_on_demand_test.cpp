// Files on demand as a user meets them: synchost serves a remote folder, separate processes
// open the placeholders through the mount.
#include "e2e_support.h"
#include "hosted_folder.h"

#include <csignal>
#include <QCryptographicHash>
#include <gtest/gtest.h>
#include <regex>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>

namespace fs = std::filesystem;
using namespace TessarnTest;
using Tessarn::Constants::States;

namespace {

class FilesOnDemand : public ::testing::Test {
protected:
    HostedFolder hosted;
};

std::time_t modificationTime(const fs::path& file)
{
    struct stat status {};
    ::stat(file.c_str(), &status);
    return status.st_mtim.tv_sec;
}

quint64 inodeOf(const fs::path& file)
{
    struct stat status {};
    ::stat(file.c_str(), &status);
    return status.st_ino;
}

// A small tmpfs as the sync folder, mounted before the host and unmounted after it.
class SmallDisk {
public:
    SmallDisk(HostedFolder& hosted, const char* size) : m_hosted(hosted)
    {
        m_mounted = ::mount("tmpfs", hosted.folder().c_str(), "tmpfs", 0, size) == 0;
    }
    ~SmallDisk()
    {
        if (m_hosted.hostPid() > 0)
            m_hosted.stopHost();
        if (m_mounted)
            ::umount2(m_hosted.folder().c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return m_mounted; }

private:
    HostedFolder& m_hosted;
    bool m_mounted = false;
};

// What a download that did not complete must leave: a placeholder that shows the remote's
// size, holds no byte, and asks again.
void expectCleanPlaceholder(const HostedFolder& hosted, const fs::path& relative,
                            std::uintmax_t remoteSize)
{
    SCOPED_TRACE(relative);
    EXPECT_EQ(hosted.record(relative).state, States::Dehydrated);
    EXPECT_EQ(fs::file_size(hosted.local(relative)), remoteSize);
    EXPECT_EQ(hosted.hostOutput().find("hydrated " + relative.string()), std::string::npos);
}

} // namespace

// Entries synchost cannot carry are each reported with the reason, and left out.
TEST_F(FilesOnDemand, EveryRemoteFileBecomesAPlaceholderWithItsJournalRowOrIsReportedLeftOut)
{
    const std::map<std::string, std::string> files{
        {"notes.txt", "some notes\n"},
        {"Documents/report with blanks.pdf", patternContent(300 * 1024, 1)},
        {"Documents/Deep/Deeper/résumé.txt", "typed\n"},
        {"empty", ""},
    };
    for (const auto& [relative, content] : files)
        hosted.putRemote(relative, content);
    hosted.putRemote("\xff\xfe.txt", "a name that is no text\n");
    fs::create_symlink("../notes.txt", hosted.remote() / "Documents/a link");
    ASSERT_EQ(::mkfifo((hosted.remote() / "a pipe").c_str(), 0600), 0);
    ASSERT_TRUE(hosted.startHost());
    EXPECT_NE(hosted.hostOutput().find("4 files"), std::string::npos) << hosted.hostOutput();
    for (const auto* leftOut : {"synchost: left out \\xff\\xfe.txt: its name is not valid UTF-8\n",
                                "synchost: left out Documents/a link: it is a symbolic link\n",
                                "synchost: left out a pipe: it is a named pipe\n"})
        EXPECT_NE(hosted.hostErrors().find(leftOut), std::string::npos) << hosted.hostErrors();
    EXPECT_FALSE(fs::exists(fs::symlink_status(hosted.local("Documents/a link"))));
    EXPECT_FALSE(fs::exists(hosted.local("\xff\xfe.txt")));

    std::set<std::string> fileIds;
    for (const auto& [relative, content] : files) {
        SCOPED_TRACE(relative);
        ASSERT_TRUE(fs::is_regular_file(hosted.local(relative)));
        EXPECT_EQ(fs::file_size(hosted.underneath(relative)), 0u) << "no content yet";
        EXPECT_EQ(fs::file_size(hosted.local(relative)), content.size()) << "as the mount shows it";
        const auto record = hosted.record(relative);
        ASSERT_TRUE(record.isOk());
        EXPECT_EQ(record.state, States::Dehydrated);
        EXPECT_EQ(record.size, content.size());
        EXPECT_FALSE(record.etag.empty());
        EXPECT_EQ(modificationTime(hosted.local(relative)),
                  modificationTime(hosted.remote() / relative));
        fileIds.insert(record.fileId);

        const auto row = journalRow(hosted.journalPath(), relative);
        ASSERT_TRUE(row.has_value());
        EXPECT_EQ(row->type, CSyncEnums::ItemTypeVirtualFile);
        EXPECT_EQ(row->fileId.toStdString(), record.fileId);
        EXPECT_EQ(row->etag.toStdString(), record.etag);
        EXPECT_EQ(row->fileSize, static_cast<qint64>(content.size()));
    }
    EXPECT_EQ(fileIds.size(), files.size()) << "every file has an identifier of its own";
    EXPECT_TRUE(fs::is_directory(hosted.local("Documents/Deep/Deeper")));
}

TEST_F(FilesOnDemand, AnOpeningProcessGetsTheRemoteBytesAndTheFileIsRecordedHydrated)
{
    const std::string content = patternContent(3 * 1024 * 1024 + 17, 2);
    hosted.putRemote("Music/concert.flac", content);
    ASSERT_TRUE(hosted.startHost());
    const auto placeholder = hosted.record("Music/concert.flac");

    const ProgramResult opened = readWithProcess(hosted.local("Music/concert.flac"));
    ASSERT_EQ(opened.status, 0) << opened.err << hosted.diagnostics();
    EXPECT_TRUE(opened.out == content) << "the content differs from the remote's";

    const auto record = hosted.record("Music/concert.flac");
    EXPECT_EQ(record.state, States::Hydrated);
    EXPECT_EQ(record.size, 0u);
    EXPECT_EQ(record.fileId, placeholder.fileId);
    EXPECT_EQ(modificationTime(hosted.local("Music/concert.flac")),
              modificationTime(hosted.remote() / "Music/concert.flac"));
    const auto row = journalRow(hosted.journalPath(), "Music/concert.flac");
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->type, CSyncEnums::ItemTypeFile);
    EXPECT_EQ(row->inode, inodeOf(hosted.local("Music/concert.flac")));
    EXPECT_NE(hosted.hostOutput().find("hydrated Music/concert.flac: 3145745 bytes in "),
              std::string::npos)
        << hosted.hostOutput();

    EXPECT_EQ(readWithProcess(hosted.local("Music/concert.flac")).out.size(), content.size());
    EXPECT_EQ(occurrences(hosted.hostOutput(), "hydrated "), 1u)
        << "a hydrated file is not fetched again";
}

TEST_F(FilesOnDemand, ThirtyProcessesOpeningThirtyFilesAtOnceAllGetTheirContent)
{
    constexpr int count = 30;
    for (int i = 0; i < count; ++i)
        hosted.putRemote("many/file-" + std::to_string(i), patternContent(256 * 1024 + i, 100 + i));
    ASSERT_TRUE(hosted.startHost());

    TempDir outputs;
    std::vector<std::unique_ptr<ChildProcess>> readers;
    for (int i = 0; i < count; ++i) {
        const auto name = "file-" + std::to_string(i);
        readers.push_back(std::make_unique<ChildProcess>(
            std::vector<std::string>{"cat", hosted.local("many/" + name).string()},
            outputs.path() / name, outputs.path() / (name + ".err")));
    }
    for (int i = 0; i < count; ++i) {
        const auto name = "file-" + std::to_string(i);
        SCOPED_TRACE(name);
        EXPECT_EQ(readers[i]->wait(90s), 0) << readFile(outputs.path() / (name + ".err"));
        EXPECT_TRUE(readFile(outputs.path() / name) == patternContent(256 * 1024 + i, 100 + i));
    }
    EXPECT_EQ(occurrences(hosted.hostOutput(), "hydrated many/"), std::size_t(count))
        << hosted.hostOutput() << hosted.diagnostics();
}

// The download is slowed down so that the second open certainly comes while it runs.
TEST_F(FilesOnDemand, TwoProcessesOpeningOnePlaceholderAtOnceBothGetTheContentOfOneDownload)
{
    const std::string content = patternContent(4 * 1024 * 1024, 3);
    hosted.putRemote("shared.bin", content);
    ASSERT_TRUE(hosted.startHost({"--bandwidth", "8192"}));

    TempDir outputs;
    ChildProcess first({"cat", hosted.local("shared.bin").string()}, outputs.path() / "1",
                       outputs.path() / "1.err");
    ChildProcess second({"cat", hosted.local("shared.bin").string()}, outputs.path() / "2",
                        outputs.path() / "2.err");
    EXPECT_EQ(first.wait(60s), 0) << readFile(outputs.path() / "1.err");
    EXPECT_EQ(second.wait(60s), 0) << readFile(outputs.path() / "2.err");
    EXPECT_TRUE(readFile(outputs.path() / "1") == content);
    EXPECT_TRUE(readFile(outputs.path() / "2") == content);
    EXPECT_EQ(occurrences(hosted.hostOutput(), "hydrated shared.bin"), 1u) << hosted.hostOutput();
}

TEST_F(FilesOnDemand, AFilteredApplicationIsRefusedAndLeavesThePlaceholderAlone)
{
    hosted.putRemote("Pictures/holiday.raw", patternContent(64 * 1024, 4));
    ASSERT_TRUE(hosted.startHost());
    TempDir tools;
    const auto thumbnailer = tools.path() / "gallery-thumbnailer";
    fs::copy_file("/bin/cat", thumbnailer);

    const auto refused = readWithProcess(hosted.local("Pictures/holiday.raw"), thumbnailer);
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.err.find("Operation not permitted"), std::string::npos) << refused.err;
    EXPECT_EQ(hosted.record("Pictures/holiday.raw").state, States::Dehydrated);
    EXPECT_EQ(hosted.hostOutput().find("hydrated "), std::string::npos);

    EXPECT_EQ(readWithProcess(hosted.local("Pictures/holiday.raw")).out.size(), 64u * 1024);
}

TEST_F(FilesOnDemand, ARemoteFileGoneBeforeItsHydrationGivesTheOpenerAnErrorNotAnEmptyFile)
{
    hosted.putRemote("vanishing.txt", "here today\n");
    ASSERT_TRUE(hosted.startHost());
    hosted.removeRemote("vanishing.txt");

    const ProgramResult failed = readWithProcess(hosted.local("vanishing.txt"));
    EXPECT_NE(failed.status, 0);
    EXPECT_EQ(failed.out, "");
    EXPECT_NE(failed.err.find("No such file"), std::string::npos) << failed.err;
    EXPECT_EQ(hosted.record("vanishing.txt").state, States::Dehydrated)
        << "the next open asks again";
    EXPECT_NE(hosted.hostOutput().find("failed vanishing.txt"), std::string::npos)
        << hosted.hostOutput();

    hosted.putRemote("vanishing.txt", "back again\n");
    EXPECT_EQ(readWithProcess(hosted.local("vanishing.txt")).out, "back again\n");
}

// A file renamed, or whose folder is renamed, while it downloads: the application gets the
// content, the file opens with it under its new name, and its record ends Hydrated.
TEST_F(FilesOnDemand, AFileRenamedDuringItsDownloadEndsHydratedUnderItsNewName)
{
    const std::string first = patternContent(1024 * 1024, 40);
    const std::string second = patternContent(1024 * 1024, 41);
    hosted.putRemote("d1/big.bin", first);
    hosted.putRemote("d3/other.bin", second);
    ASSERT_TRUE(hosted.startHost({"--bandwidth", "1024"}));

    TempDir outputs;
    ChildProcess renamed({"cat", hosted.local("d1/big.bin").string()}, outputs.path() / "1",
                         outputs.path() / "1.err");
    ChildProcess inMovedFolder({"cat", hosted.local("d3/other.bin").string()},
                               outputs.path() / "2", outputs.path() / "2.err");
    for (const auto* name : {"d1/big.bin", "d3/other.bin"})
        ASSERT_TRUE(waitUntil([&] { return hosted.record(name).state == States::Hydrating; }, 10s));
    EXPECT_EQ(runProgram({"mv", hosted.local("d1/big.bin").string(),
                          hosted.local("d1/renamed.bin").string()})
                  .status,
              0);
    EXPECT_EQ(runProgram({"mv", hosted.local("d3").string(), hosted.local("d3moved").string()})
                  .status,
              0);

    EXPECT_EQ(renamed.wait(30s), 0) << readFile(outputs.path() / "1.err") << hosted.diagnostics();
    EXPECT_EQ(inMovedFolder.wait(30s), 0) << readFile(outputs.path() / "2.err");
    EXPECT_TRUE(readFile(outputs.path() / "1") == first);
    EXPECT_TRUE(readFile(outputs.path() / "2") == second);
    for (const auto& [name, content] : {std::pair{"d1/renamed.bin", first}, {"d3moved/other.bin", second}}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(hosted.record(name).state, States::Hydrated);
        EXPECT_TRUE(readWithProcess(hosted.local(name)).out == content);
    }
    EXPECT_EQ(occurrences(hosted.hostOutput(), "hydrated "), 2u)
        << "no second download under the new names: " << hosted.hostOutput();
}

// A file removed during its download, by itself or with its folder: the download stops within a
// second, the opener learns that the file is gone, and nothing is left.
TEST_F(FilesOnDemand, AFileRemovedDuringItsDownloadStopsItAndNothingIsLeft)
{
    hosted.putRemote("doomed.bin", patternContent(4 * 1024 * 1024, 42));
    hosted.putRemote("folder/inner.bin", patternContent(4 * 1024 * 1024, 43));
    ASSERT_TRUE(hosted.startHost({"--bandwidth", "1024"}));

    TempDir outputs;
    std::vector<std::unique_ptr<ChildProcess>> openers;
    for (const auto* name : {"doomed.bin", "folder/inner.bin"}) {
        openers.push_back(std::make_unique<ChildProcess>(
            std::vector<std::string>{"cat", hosted.local(name).string()},
            outputs.path() / fs::path(name).filename(),
            outputs.path() / (fs::path(name).filename().string() + ".err")));
        ASSERT_TRUE(waitUntil([&] { return hosted.record(name).state == States::Hydrating; }, 10s));
    }
    const auto removed = std::chrono::steady_clock::now();
    EXPECT_EQ(runProgram({"rm", hosted.local("doomed.bin").string()}).status, 0);
    EXPECT_EQ(runProgram({"rm", "-r", hosted.local("folder").string()}).status, 0);

    for (const auto& opener : openers)
        EXPECT_EQ(opener->wait(10s), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - removed, 1500ms)
        << "4 MiB at 1 MiB/s would take four seconds";
    EXPECT_NE(readFile(outputs.path() / "doomed.bin.err").find("No such file or directory"),
              std::string::npos);
    EXPECT_NE(hosted.hostOutput().find("cancelled doomed.bin after"), std::string::npos)
        << hosted.hostOutput();
    EXPECT_NE(hosted.hostOutput().find("cancelled folder/inner.bin after"), std::string::npos);
    EXPECT_FALSE(fs::exists(hosted.underneath("doomed.bin")));
    EXPECT_FALSE(fs::exists(hosted.underneath("folder")));
}

// Under a slow simulated network a long download runs while other requests are served.
TEST_F(FilesOnDemand, ASlowDownloadDoesNotHoldUpTheOthers)
{
    hosted.putRemote("large.bin", patternContent(2 * 1024 * 1024, 5));
    hosted.putRemote("small.txt", "small\n");
    ASSERT_TRUE(hosted.startHost({"--latency", "200", "--bandwidth", "1024"}));

    TempDir outputs;
    const auto started = std::chrono::steady_clock::now();
    ChildProcess large({"cat", hosted.local("large.bin").string()}, outputs.path() / "large",
                       outputs.path() / "large.err");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(readWithProcess(hosted.local("small.txt")).out, "small\n");
    EXPECT_FALSE(large.poll().has_value()) << "the large file came before the small one";
    EXPECT_EQ(large.wait(60s), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 2s)
        << "2 MiB at 1 MiB/s take two seconds";
    EXPECT_EQ(readFile(outputs.path() / "large").size(), 2u * 1024 * 1024);
}

// Ctrl-C ends an application whose open waits for a download, though it handles SIGINT, as
// Python does; a timer's signal, handled with calls restarted after it, does not end the open of
// another, which gets the content.
TEST_F(FilesOnDemand, CtrlCEndsAWaitingOpenAndATimersSignalDoesNot)
{
    const std::string content = patternContent(2 * 1024 * 1024, 30);
    hosted.putRemote("video.bin", content);
    ASSERT_TRUE(hosted.startHost({"--bandwidth", "1024"}));
    const std::string file = hosted.local("video.bin").string();
    const std::string python = "/usr/bin/python3";
    if (!fs::exists(python))
        GTEST_SKIP() << "no " << python;

    TempDir outputs;
    ChildProcess reader({python, "-c", "import sys; open(sys.argv[1], 'rb').read()", file},
                        outputs.path() / "python", outputs.path() / "python.err");
    ChildProcess timed({TESSARN_OPEN_PROBE, "--alarms", file}, outputs.path() / "timed",
                       outputs.path() / "timed.err");
    // Both opens wait once the daemon has asked for them.
    for (const auto& app : {fs::canonical(python), fs::canonical(TESSARN_OPEN_PROBE)})
        ASSERT_TRUE(waitUntil(
            [&] { return hosted.daemonLog().find(app.string() + "\"}") != std::string::npos; },
            10s))
            << app << hosted.diagnostics();

    const auto interrupted = std::chrono::steady_clock::now();
    reader.signal(SIGINT);
    EXPECT_EQ(reader.wait(5s), 128 + SIGINT) << readFile(outputs.path() / "python.err");
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, 1s);
    EXPECT_NE(readFile(outputs.path() / "python.err").find("KeyboardInterrupt"), std::string::npos);
    EXPECT_FALSE(timed.poll().has_value()) << "the download is still on its way";

    EXPECT_EQ(timed.wait(30s), 0) << readFile(outputs.path() / "timed.err");
    EXPECT_TRUE(readFile(outputs.path() / "timed") == content);
    // However often the timer fired while the open waited, its signal is taken once afterwards.
    EXPECT_EQ(readFile(outputs.path() / "timed.err"), "alarms during the open: 1\n");
}

// The server's file is cut short, grows, or fails to read in the middle of the download: the
// opener gets an error, never a file that matches no version of the remote.
TEST_F(FilesOnDemand, ADownloadThatCannotCompleteFailsItsOpenerAndLeavesAnEmptyPlaceholder)
{
    constexpr std::size_t size = 2 * 1024 * 1024;
    const std::vector<std::string> names{"shrinking.bin", "growing.bin", "disk read-error.bin"};
    for (unsigned i = 0; i < names.size(); ++i)
        hosted.putRemote(names[i], patternContent(size, 10 + i));
    ASSERT_TRUE(hosted.startHost({"--bandwidth", "2048"},
                                 {"LD_PRELOAD=" READ_ERROR_SHIM, "ASAN_OPTIONS=verify_asan_link_order=0"}));

    TempDir outputs;
    std::vector<std::unique_ptr<ChildProcess>> openers;
    for (const auto& name : names)
        openers.push_back(std::make_unique<ChildProcess>(
            std::vector<std::string>{"cat", hosted.local(name).string()}, outputs.path() / name,
            outputs.path() / (name + ".err")));
    ASSERT_TRUE(waitUntil([&] { return hosted.record("growing.bin").state == States::Hydrating; }, 10s));
    std::this_thread::sleep_for(300ms);
    fs::resize_file(hosted.remote() / "shrinking.bin", 100 * 1024);
    hosted.putRemote("growing.bin", patternContent(size + 1, 11));

    for (unsigned i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        const auto status = openers[i]->wait(30s);
        ASSERT_TRUE(status.has_value()) << "the open hangs";
        EXPECT_NE(*status, 0);
        EXPECT_EQ(readFile(outputs.path() / names[i]), "");
        EXPECT_NE(readFile(outputs.path() / (names[i] + ".err")).find("Input/output error"),
                  std::string::npos);
        EXPECT_EQ(fs::file_size(hosted.underneath(names[i])), 0u) << "the partial bytes are gone";
    }
    expectCleanPlaceholder(hosted, "shrinking.bin", size);
    expectCleanPlaceholder(hosted, "growing.bin", size);
    expectCleanPlaceholder(hosted, "disk read-error.bin", size);
    const std::string output = hosted.hostOutput();
    EXPECT_NE(output.find("ended after"), std::string::npos) << output;
    EXPECT_NE(output.find("changed during the download"), std::string::npos) << output;
    EXPECT_NE(output.find("failed disk read-error.bin after"), std::string::npos) << output;
    EXPECT_NE(output.find("Input/output error"), std::string::npos) << output;

    EXPECT_EQ(readWithProcess(hosted.local("shrinking.bin")).out, patternContent(size, 10).substr(0, 100 * 1024));
}

TEST_F(FilesOnDemand, ADownloadThatFillsTheDiskFailsAndGivesTheSpaceBack)
{
    const SmallDisk disk(hosted, "size=1m");
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    hosted.putRemote("big.bin", patternContent(3 * 1024 * 1024, 20));
    hosted.putRemote("small.txt", "fits\n");
    ASSERT_TRUE(hosted.startHost());

    const ProgramResult failed = readWithProcess(hosted.local("big.bin"));
    EXPECT_NE(failed.status, 0);
    EXPECT_EQ(failed.out, "");
    EXPECT_NE(failed.err.find("No space left on device"), std::string::npos) << failed.err;
    EXPECT_NE(hosted.hostOutput().find("failed big.bin after"), std::string::npos);
    EXPECT_NE(hosted.hostOutput().find("No space left on device"), std::string::npos)
        << hosted.hostOutput();
    expectCleanPlaceholder(hosted, "big.bin", 3 * 1024 * 1024);
    struct statvfs disk_ {};
    ASSERT_EQ(::statvfs(hosted.folder().c_str(), &disk_), 0);
    EXPECT_GT(disk_.f_bavail * disk_.f_frsize, 900u * 1024) << "the partial megabyte is freed";
    EXPECT_EQ(readWithProcess(hosted.local("small.txt")).out, "fits\n");
}

// A large file is read while it downloads: the first bytes come before the download ends, ten
// readers at once get exactly the remote's bytes, one that jumps near the end gets its bytes,
// and anyone can see how far the download is.
TEST_F(FilesOnDemand, ALargeFileIsReadWhileItDownloads)
{
    constexpr std::size_t size = 16 * 1024 * 1024;
    const std::string content = patternContent(size, 60);
    hosted.putRemote("video.bin", content);
    ASSERT_TRUE(hosted.startHost({"--bandwidth", "4096", "--progress"}));
    const std::string file = hosted.local("video.bin").string();

    const auto asked = std::chrono::steady_clock::now();
    const auto head = runProgram({"head", "-c", "100", file}, 30s);
    const auto firstBytes = std::chrono::steady_clock::now() - asked;
    EXPECT_TRUE(head.out == content.substr(0, 100)) << head.err << hosted.diagnostics();
    EXPECT_EQ(hosted.record("video.bin").state, States::Hydrating)
        << "the first bytes came before the download ended";
    const auto progress =
        Xattr::CPP::getxattr(file, Tessarn::Constants::progressAttribute).value_or("none");
    EXPECT_TRUE(progress.ends_with("/16777216") && progress != "16777216/16777216") << progress;
    const auto listed = runProgram({TESSARN_STAT_BINARY, hosted.folder().string()});
    EXPECT_TRUE(std::regex_search(listed.out, std::regex(" hydrating [0-9]+% "))) << listed.out;

    TempDir outputs;
    std::vector<std::unique_ptr<ChildProcess>> readers;
    for (int i = 0; i < 10; ++i)
        readers.push_back(std::make_unique<ChildProcess>(
            std::vector<std::string>{"sha256sum", file}, outputs.path() / std::to_string(i),
            outputs.path() / (std::to_string(i) + ".err")));
    const auto tail = runProgram({"tail", "-c", "100", file}, 30s);
    EXPECT_TRUE(tail.out == content.substr(size - 100)) << tail.err;
    const auto digest = QCryptographicHash::hash(QByteArray::fromStdString(content),
                                                 QCryptographicHash::Sha256)
                            .toHex()
                            .toStdString();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(readers[i]->wait(60s), 0) << readFile(outputs.path() / (std::to_string(i) + ".err"));
        EXPECT_EQ(readFile(outputs.path() / std::to_string(i)).substr(0, 64), digest) << i;
    }
    const auto whole = std::chrono::steady_clock::now() - asked;
    EXPECT_LT(firstBytes * 4, whole) << "4 MiB/s for 16 MiB";

    ASSERT_TRUE(waitUntil([&] { return hosted.record("video.bin").state == States::Hydrated; }));
    EXPECT_FALSE(Xattr::CPP::getxattr(file, Tessarn::Constants::progressAttribute));
    EXPECT_NE(hosted.hostOutput().find("downloading video.bin: "), std::string::npos)
        << hosted.hostOutput();
}

// The download fails halfway, here because the server's file ends early, or because the client
// dies: a streaming reader gets an I/O error after the bytes that arrived, never an early end,
// and the placeholder asks again.
TEST_F(FilesOnDemand, AStreamingReaderOfADownloadThatFailsGetsAnIoError)
{
    constexpr std::size_t size = 16 * 1024 * 1024;
    const std::string content = patternContent(size, 61);
    hosted.putRemote("cut.bin", content);
    hosted.putRemote("orphan.bin", content);
    ASSERT_TRUE(hosted.startHost({"--bandwidth", "4096"}));

    TempDir outputs;
    const auto streaming = [&](const std::string& name) {
        auto reader = std::make_unique<ChildProcess>(
            std::vector<std::string>{"cat", hosted.local(name).string()}, outputs.path() / name,
            outputs.path() / (name + ".err"));
        EXPECT_TRUE(waitUntil([&] { return !readFile(outputs.path() / name).empty(); }, 10s));
        return reader;
    };
    const auto endsWithIoError = [&](ChildProcess& reader, const std::string& name) {
        EXPECT_EQ(reader.wait(30s), 1) << name;
        const auto read = readFile(outputs.path() / name);
        EXPECT_LT(read.size(), size) << name;
        EXPECT_TRUE(content.starts_with(read)) << name;
        EXPECT_NE(readFile(outputs.path() / (name + ".err")).find("Input/output error"),
                  std::string::npos)
            << name;
    };

    auto cut = streaming("cut.bin");
    fs::resize_file(hosted.remote() / "cut.bin", 1024 * 1024);
    endsWithIoError(*cut, "cut.bin");
    expectCleanPlaceholder(hosted, "cut.bin", size);
    EXPECT_TRUE(readWithProcess(hosted.local("cut.bin")).out == content.substr(0, 1024 * 1024))
        << "the next open asks again";

    auto orphan = streaming("orphan.bin");
    hosted.killHost();
    endsWithIoError(*orphan, "orphan.bin");
}
