// Hydration on open, end to end: a real mount, this test playing the sync client on a real
// socket (its own opens are let through), and separate processes as the opening applications.
#include "mount_fixture.h"

#include <csignal>
#include <cstring>
#include <map>
#include <sys/xattr.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <tessarn/tessarn.h>
#include <thread>
#include <unistd.h>

using namespace TessarnTest;
using Tessarn::Constants::States;
namespace fs = std::filesystem;

namespace {

const std::string ok = R"({"status":"OK"})";

struct Request {
    int id = 0;
    std::string file;
    std::string fileId;
    std::string requester;
};

struct AppResult {
    std::optional<int> status;
    std::string out;
};

// An application started on a file, and where its output goes.
struct App {
    std::unique_ptr<ChildProcess> process;
    fs::path out;
};

class HydrationTest : public testing::Test {
protected:
    // Mounts with this test as the connected sync client.
    void start(MountOptions options = {})
    {
        options.socketPath = socketPath;
        client.emplace(socketPath);
        mount.emplace(options);
        connectClient();
    }

    // The daemon connects to the client, which answers its VERSION.
    void connectClient()
    {
        ASSERT_TRUE(client->accept());
        ASSERT_EQ(client->readLine(), versionRequest);
        client->answerVersion();
        const auto known = "Got PID of the Desktop Client: " + std::to_string(::getpid());
        ++connections;
        ASSERT_TRUE(waitUntil([&] { return occurrences(mount->daemonOutput(), known) == connections; }));
    }

    void makePlaceholder(const std::string& name, unsigned long size,
                         States state = States::Dehydrated, const std::string& fileId = "fid")
    {
        writeFile(mount->path(name));
        auto record = Tessarn::PlaceHolderAttributes::create("", "etag", fileId, size);
        record.state = state;
        writeRecord(mount->path(name), record);
    }

    // What the sync client does for a request: the content, then a hydrated record.
    void hydrate(const std::string& name, const std::string& content)
    {
        writeFile(mount->path(name), content);
        writeRecord(mount->path(name),
                    Tessarn::PlaceHolderAttributes("", "etag", "fid", 0, States::Hydrated,
                                                   Tessarn::Constants::PinStates::Inherited));
    }

    std::optional<Request> nextRequest(std::chrono::milliseconds timeout = 5s)
    {
        const auto line = client->readLine(timeout);
        const std::string command = "V2/HYDRATE_FILE:";
        if (!line || !line->starts_with(command))
            return std::nullopt;
        const auto json = nlohmann::json::parse(line->substr(command.size()));
        const auto& arguments = json.at("arguments");
        return Request{std::stoi(json.at("id").get<std::string>()),
                       arguments.at("file").get<std::string>(),
                       arguments.at("fileId").get<std::string>(),
                       arguments.at("requester").get<std::string>()};
    }

    std::string nameOf(const Request& request) const
    {
        return request.file.substr(mount->mountPoint().string().size() + 3);
    }

    App openApp(const std::string& name, const std::string& text = {},
                std::vector<std::string> command = {TESSARN_OPEN_PROBE})
    {
        command.push_back(mount->path(name).string());
        if (!text.empty())
            command.push_back(text);
        auto out = mount->scratch() / ("app-" + std::to_string(apps++) + ".out");
        auto process = std::make_unique<ChildProcess>(command, out, out.string() + ".err");
        return {std::move(process), std::move(out)};
    }

    static AppResult finish(const App& app)
    {
        const auto status = app.process->wait(10s);
        return {status, readFile(app.out)};
    }

    // An application waiting for the hydration of a new placeholder, and its request.
    std::pair<App, Request> waitingOpen(const std::string& name, States state = States::Dehydrated)
    {
        makePlaceholder(name, 5, state);
        auto app = openApp(name);
        auto request = nextRequest();
        if (!request)
            throw std::runtime_error("no request for " + name);
        return {std::move(app), *request};
    }

    AppResult runApp(const std::string& name, const std::string& text = {})
    {
        return finish(openApp(name, text));
    }

    TempDir socketDir;
    std::string socketPath = (socketDir.path() / "socket").string();
    std::string probe = fs::canonical(TESSARN_OPEN_PROBE).string();
    // The client outlives the mount: the daemon must not see its connection close first.
    std::optional<FakeSyncClient> client;
    std::optional<MountedFolder> mount;
    int apps = 0;
    std::size_t connections = 0;
};

TEST_F(HydrationTest, TheFirstOpenSendsTheExactRequestAndGetsTheContent)
{
    start();
    fs::create_directory(mount->path("docs"));
    makePlaceholder("docs/a.txt", 5, States::Dehydrated, "fid-1");
    auto app = openApp("docs/a.txt");
    EXPECT_EQ(client->readLine(),
              R"(V2/HYDRATE_FILE:{"arguments":{"file":")" + mount->mountPoint().string() +
                  R"(/./docs/a.txt","fileId":"fid-1","requester":")" + probe +
                  R"("},"id":"13"})");
    EXPECT_FALSE(app.process->poll()) << "the open waits for the client";
    hydrate("docs/a.txt", "hello");
    client->send(resultAnswer(13, ok));
    const auto result = finish(app);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "hello");

    makePlaceholder("b.txt", 3);
    auto second = openApp("b.txt");
    const auto request = nextRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->id, 14);
    hydrate("b.txt", "bee");
    client->send(resultAnswer(14, ok));
    EXPECT_EQ(finish(second).out, "bee");
}

// The opener learns what kept the content from coming, when the client says it.
TEST_F(HydrationTest, AnErrorAnswerFailsTheOpenWithTheErrorTheClientNamesElseEio)
{
    MountOptions options;
    options.allowedErrors = {"Error from socket API for Id "};
    start(options);
    const std::vector<std::pair<std::string, int>> answers{
        {R"({"error":"download failed"})", EIO},
        {R"({"error":"No space left on device","errno":"ENOSPC"})", ENOSPC},
        {R"({"error":"Disk quota exceeded","errno":"EDQUOT"})", EDQUOT},
        {R"({"error":"gone on the server","errno":"ENOENT"})", ENOENT},
    };
    for (std::size_t i = 0; i < answers.size(); ++i) {
        const auto name = "f" + std::to_string(i);
        const auto [app, request] = waitingOpen(name);
        client->send(resultAnswer(request.id, answers[i].first));
        EXPECT_EQ(finish(app).status, answers[i].second) << answers[i].first;
        EXPECT_EQ(fs::file_size(mount->underneath(name)), 0u);
    }
}

TEST_F(HydrationTest, AnAnswerSplitAcrossReadsIsUnderstood)
{
    start();
    const auto [app, request] = waitingOpen("a.txt");
    hydrate("a.txt", "split");
    const auto answer = resultAnswer(13, ok);
    client->send(answer.substr(0, 25));
    std::this_thread::sleep_for(400ms); // the rest comes in a read of its own
    client->send(answer.substr(25));
    const auto result = finish(app);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "split");
}

TEST_F(HydrationTest, AFilteredApplicationGetsEpermAndNoRequest)
{
    const auto config = socketDir.path() / "config.json";
    writeFile(config, R"({"ignoreApps":{"byName":[")" + probe + R"("],"endsWith":[]}})");
    start(withFlags({"-i", config.string()}));
    makePlaceholder("a.txt", 5);
    writeFile(mount->path("plain.txt"), "plain");
    EXPECT_EQ(runApp("a.txt").status, EPERM);
    EXPECT_FALSE(client->readLine(200ms)) << "no request for a filtered application";
    const auto plain = runApp("plain.txt");
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out, "plain");
}

TEST_F(HydrationTest, TheClientItselfAndItsThreadsAreLetThrough)
{
    // With the operation log, so that a request would show there.
    start(withFlags({"-d"}));
    makePlaceholder("a.txt", 5);
    EXPECT_EQ(readFile(mount->path("a.txt")), "");
    EXPECT_EQ(fs::file_size(mount->path("a.txt")), 5u) << "the size after the client's read";
    std::string fromThread = "not read";
    std::thread clientThread([&] { fromThread = readFile(mount->path("a.txt")); });
    clientThread.join();
    EXPECT_EQ(fromThread, "");
    EXPECT_FALSE(client->readLine(200ms)) << "no request for the client's own opens";
    EXPECT_THAT(mount->daemonOutput(), testing::HasSubstr("./a.txt"));
    EXPECT_THAT(mount->daemonOutput(), testing::Not(testing::HasSubstr("Requesting")));
}

// Another user of a public mount gives a file of their own the record of a file they may not
// read: opening it must not ask the client for that file's content.
TEST_F(HydrationTest, AnotherUsersPlaceholderOpensAsTheEmptyFileItIs)
{
    start(withFlags({"-p", "-d"}));
    fs::create_directory(mount->path("Shared"));
    fs::permissions(mount->path("Shared"), fs::perms::all | fs::perms::sticky_bit);
    const auto forged = mount->path("Shared/forged.txt");
    ASSERT_EQ(runProgram(asNobody({"touch", forged.string()})).status, 0);
    // As its owner may: a record in the user namespace of their own file.
    writeRecord(forged, Tessarn::PlaceHolderAttributes::create("", "etag", "secret-id", 5));

    const auto opened = runProgram(asNobody({TESSARN_OPEN_PROBE, forged.string()}));
    EXPECT_EQ(opened.status, 0) << opened.err;
    EXPECT_EQ(opened.out, "");
    EXPECT_FALSE(client->readLine(300ms)) << "no request for another user's file";
    EXPECT_THAT(mount->daemonOutput(), testing::HasSubstr("Placeholder owned by uid 65534"));
}

// The client's own writes pass from the moment it is connected, before its VERSION answer;
// once the connection is gone, its process is just another application.
TEST_F(HydrationTest, TheClientIsKnownFromItsConnectionAndForgottenWithIt)
{
    MountOptions options;
    options.socketPath = socketPath;
    options.allowedErrors = {"Socket API connection lost: "};
    client.emplace(socketPath);
    mount.emplace(options);
    ASSERT_TRUE(client->accept());
    ASSERT_EQ(client->readLine(), versionRequest);
    makePlaceholder("a.txt", 5);
    EXPECT_EQ(readFile(mount->path("a.txt")), "");
    EXPECT_FALSE(client->readLine(200ms)) << "no request for the client's own open";

    client.reset();
    ASSERT_TRUE(waitUntil([&] { return mount->daemonErrors().find("connection lost") != std::string::npos; }));
    const int fd = ::open(mount->path("a.txt").c_str(), O_RDONLY);
    EXPECT_EQ(fd, -1) << "a placeholder opened as an empty file";
    EXPECT_EQ(errno, EIO);
    if (fd >= 0)
        ::close(fd);
}

TEST_F(HydrationTest, HydratedAndOrdinaryFilesOpenAtOnce)
{
    start();
    writeFile(mount->path("hydrated.txt"), "here");
    writeRecord(mount->path("hydrated.txt"),
                Tessarn::PlaceHolderAttributes("", "e", "f", 0, States::Hydrated,
                                               Tessarn::Constants::PinStates::Inherited));
    writeFile(mount->path("plain.txt"), "plain");
    EXPECT_EQ(runApp("hydrated.txt").out, "here");
    EXPECT_EQ(runApp("plain.txt").out, "plain");
    EXPECT_FALSE(client->readLine(200ms));
}

TEST_F(HydrationTest, APlaceholderBeingHydratedWaitsForTheContent)
{
    start();
    const auto [app, request] = waitingOpen("a.txt", States::Hydrating);
    EXPECT_EQ(nameOf(request), "a.txt");
    hydrate("a.txt", "ready");
    client->send(resultAnswer(request.id, ok));
    EXPECT_EQ(finish(app).out, "ready");
}

TEST_F(HydrationTest, AnOpenForWritingWithTruncationHydratesFirst)
{
    start();
    makePlaceholder("a.txt", 11);
    auto app = openApp("a.txt", "new");
    const auto request = nextRequest();
    ASSERT_TRUE(request);
    EXPECT_FALSE(app.process->poll());
    hydrate("a.txt", "old content");
    client->send(resultAnswer(request->id, ok));
    EXPECT_EQ(finish(app).status, 0);
    EXPECT_EQ(readFile(mount->path("a.txt")), "new");
}

TEST_F(HydrationTest, AnUndecodableRecordFailsTheOpenWithEio)
{
    start();
    writeFile(mount->path("a.txt"));
    writeRecordBytes(mount->path("a.txt"), {0xc1});
    EXPECT_EQ(runApp("a.txt").status, EIO);
    makePlaceholder("huge", 1ul << 63);
    EXPECT_EQ(runApp("huge").status, EIO) << "a size no file can have";
    writeFile(mount->path("b.txt"), "still serving");
    EXPECT_EQ(runApp("b.txt").out, "still serving");
}

// A waiting open holds no worker: a thousand of them wait at once on libfuse's few workers, and
// the client's writes through the mount are served meanwhile.
TEST_F(HydrationTest, AThousandWaitingOpensAllGetTheirContent)
{
    start();
    constexpr int count = 1000;
    std::vector<App> waiting;
    for (int i = 0; i < count; ++i) {
        makePlaceholder("f" + std::to_string(i), 8);
        waiting.push_back(openApp("f" + std::to_string(i)));
    }
    std::vector<Request> requests;
    for (int i = 0; i < count; ++i) {
        auto request = nextRequest();
        ASSERT_TRUE(request) << "only " << i << " requests arrived";
        requests.push_back(*request);
    }
    const auto threads = statusField(mount->daemonPid(), "Threads");
    // libfuse's 10 workers, the main thread and the socket worker.
    EXPECT_LE(std::stoi(threads), 12) << "threads while " << count << " opens wait";
    for (const auto& request : requests) {
        hydrate(nameOf(request), "content " + nameOf(request));
        client->send(resultAnswer(request.id, ok));
    }
    for (int i = 0; i < count; ++i) {
        const auto result = finish(waiting[i]);
        EXPECT_EQ(result.status, 0) << "f" << i;
        EXPECT_EQ(result.out, "content f" + std::to_string(i));
    }
}

// Nothing holds the names of what an open waits for: other applications move and remove them,
// and the client writes the content, while the open waits.
TEST_F(HydrationTest, NamesMayChangeWhileAnOpenWaits)
{
    MountOptions options;
    options.allowedErrors = {"Error from socket API for Id "};
    start(options);
    const auto run = [&](std::vector<std::string> command) {
        EXPECT_EQ(runProgram(command, 5s).status, 0) << command[0] << " " << command.back();
    };
    fs::create_directory(mount->path("docs"));
    auto [moved, first] = waitingOpen("docs/a.txt");
    run({"mv", mount->path("docs/a.txt").string(), mount->path("docs/b.txt").string()});
    run({"mv", mount->path("docs").string(), mount->path("papers").string()});
    hydrate("papers/b.txt", "moved twice");
    client->send(resultAnswer(first.id, ok));
    EXPECT_EQ(finish(moved).out, "moved twice");

    auto [removed, second] = waitingOpen("papers/c.txt");
    run({"rm", mount->path("papers/c.txt").string()});
    auto [inRemovedFolder, third] = waitingOpen("papers/d.txt");
    run({"rm", "-r", mount->path("papers").string()});
    EXPECT_FALSE(fs::exists(mount->underneath("papers")));
    client->send(resultAnswer(second.id, R"({"error":"gone"})"));
    client->send(resultAnswer(third.id, R"({"error":"gone"})"));
    EXPECT_EQ(finish(removed).status, ENOENT);
    EXPECT_EQ(finish(inRemovedFolder).status, ENOENT);
}

TEST_F(HydrationTest, AnInterruptedOpenEndsAtOnce)
{
    start();
    auto [app, request] = waitingOpen("a.txt");
    const auto interrupted = std::chrono::steady_clock::now();
    app.process->signal(SIGINT);
    EXPECT_EQ(app.process->wait(5s), 128 + SIGINT);
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, 100ms);
    // The client's late answer finds nobody waiting.
    client->send(resultAnswer(request.id, ok));
    const auto notFound = "Job not found:" + std::to_string(request.id);
    EXPECT_TRUE(waitUntil(
        [&] { return mount->daemonOutput().find(notFound) != std::string::npos; }));
}

TEST_F(HydrationTest, AnAnswerIsSeenTheMomentItComes)
{
    start();
    const auto [app, request] = waitingOpen("a.txt");
    std::this_thread::sleep_for(600ms); // well past the first moments of the wait
    hydrate("a.txt", "now");
    const auto answered = std::chrono::steady_clock::now();
    client->send(resultAnswer(request.id, ok));
    EXPECT_EQ(finish(app).out, "now");
    EXPECT_LT(std::chrono::steady_clock::now() - answered, 400ms);
}

TEST_F(HydrationTest, ARequestWithoutAnswerOrProgressTimesOut)
{
    const auto config = socketDir.path() / "config.json";
    writeFile(config, R"({"ignoreApps":{"byName":[],"endsWith":[]},"hydrationTimeout":1})");
    start(withFlags({"-d", "-i", config.string()}));
    const auto [app, request] = waitingOpen("a.txt");
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(finish(app).status, ETIMEDOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - asked, 900ms);
    EXPECT_THAT(mount->daemonOutput(), testing::HasSubstr("TIMEOUT - no answer from client ./a.txt"));
}

TEST_F(HydrationTest, ALostConnectionFailsTheWaitingOpen)
{
    MountOptions options;
    options.allowedErrors = {"Socket API connection lost: "};
    start(options);
    const auto [app, request] = waitingOpen("a.txt");
    const auto closed = std::chrono::steady_clock::now();
    client->closeConnection();
    EXPECT_EQ(finish(app).status, EIO);
    EXPECT_LT(std::chrono::steady_clock::now() - closed, 3s);
}

// The daemon serves before its client listens, and while the client is gone: opens of
// placeholders fail meanwhile, and the first open after the client listens again hydrates.
TEST_F(HydrationTest, TheClientMayComeAfterTheDaemonAndComeBack)
{
    MountOptions options;
    options.socketPath = socketPath;
    options.allowedErrors = {"Not connected to the sync client at ", "Socket API connection lost: "};
    mount.emplace(options);
    const auto served = [&](const std::string& name) {
        const auto [app, request] = waitingOpen(name);
        hydrate(name, "content of " + name);
        client->send(resultAnswer(request.id, ok));
        return finish(app).out;
    };
    const auto failsAtOnce = [&](const std::string& name) {
        makePlaceholder(name, 5);
        const auto opened = std::chrono::steady_clock::now();
        EXPECT_EQ(runApp(name).status, EIO) << name;
        EXPECT_LT(std::chrono::steady_clock::now() - opened, 1s) << name;
    };
    failsAtOnce("before.txt");

    client.emplace(socketPath);
    connectClient();
    EXPECT_EQ(served("first.txt"), "content of first.txt");

    client.reset();
    ASSERT_TRUE(waitUntil([&] { return mount->daemonErrors().find("connection lost") != std::string::npos; }));
    failsAtOnce("between.txt");
    client.emplace(socketPath);
    connectClient();
    EXPECT_EQ(served("again.txt"), "content of again.txt");
}

TEST_F(HydrationTest, StoppingTheDaemonEndsWaitingOpens)
{
    start();
    const auto [app, request] = waitingOpen("a.txt");
    const auto stopped = std::chrono::steady_clock::now();
    ::kill(mount->daemonPid(), SIGTERM);
    EXPECT_EQ(mount->waitForExit(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 2s);
    EXPECT_EQ(finish(app).status, EIO);
}

// A reader of a large placeholder begins with the bytes the client has written; here the test
// writes them in steps of a page, as the plug-in writes a download through the file it opened.
class StreamingTest : public HydrationTest {
protected:
    static constexpr std::size_t step = 4096;

    void SetUp() override { startStreaming(""); }

    void startStreaming(const std::string& moreConfig)
    {
        const auto config = socketDir.path() / "config.json";
        writeFile(config, R"({"ignoreApps":{"byName":[],"endsWith":[]},"streamFrom":8192)" +
                              moreConfig + "}");
        auto options = withFlags({"-i", config.string()});
        options.allowedErrors = {"Socket API connection lost: "};
        start(options);
    }

    App reader(const std::string& name) { return openApp(name, {}, {TESSARN_OPEN_PROBE, "--opened"}); }

    static bool opened(const App& app, std::chrono::milliseconds within)
    {
        return waitUntil([&] { return readFile(app.out.string() + ".err") == "opened\n"; }, within);
    }

    static bool hasRead(const App& app, std::size_t bytes, std::chrono::milliseconds within = 5s)
    {
        return waitUntil([&] { return readFile(app.out).size() >= bytes; }, within);
    }

    // A reader of a new placeholder whose download the client has taken, and that download's
    // file.
    struct Streamed {
        App app;
        Request request;
        int fd;
    };
    Streamed readerOfADownload(const std::string& name)
    {
        makePlaceholder(name, content.size());
        auto app = reader(name);
        const auto request = nextRequest();
        if (!request)
            throw std::runtime_error("no request for " + name);
        return {std::move(app), *request, takeRequest(name, content.size())};
    }

    // The client takes the request: the file open for its download, its record Hydrating.
    int takeRequest(const std::string& name, std::size_t size)
    {
        const int fd = ::open(mount->path(name).c_str(), O_WRONLY | O_CLOEXEC);
        auto record = Tessarn::PlaceHolderAttributes::create("", "etag", "fid", size);
        record.state = States::Hydrating;
        writeRecord(mount->path(name), record);
        return fd;
    }

    static void writeStep(int fd, const std::string& content, std::size_t offset)
    {
        const auto length = std::min(step, content.size() - offset);
        ASSERT_EQ(::pwrite(fd, content.data() + offset, length, static_cast<off_t>(offset)),
                  static_cast<ssize_t>(length));
    }

    void completeDownload(const std::string& name, int fd, const Request& request)
    {
        writeRecord(mount->path(name),
                    Tessarn::PlaceHolderAttributes("", "etag", "fid", 0, States::Hydrated,
                                                   Tessarn::Constants::PinStates::Inherited));
        ::close(fd);
        client->send(resultAnswer(request.id, ok));
    }

    std::string progressOf(const std::string& name) const
    {
        char value[64];
        const auto length = ::getxattr(mount->path(name).c_str(), "user.tessarn.progress", value,
                                       sizeof(value));
        return length < 0 ? std::strerror(errno) : std::string(value, length);
    }

    const std::string content = patterned(3 * step);

private:
    static std::string patterned(std::size_t size)
    {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>('a' + (i * 7 + i / step) % 26);
        return bytes;
    }
};

TEST_F(StreamingTest, TheOpenReturnsWithTheFirstBytesAndEachReadWaitsForItsOwn)
{
    auto [app, request, fd] = readerOfADownload("big");
    EXPECT_EQ(progressOf("big"), "0/12288");
    EXPECT_FALSE(opened(app, 300ms)) << "no byte has arrived";

    writeStep(fd, content, 0);
    EXPECT_TRUE(opened(app, 5s));
    EXPECT_TRUE(hasRead(app, step));
    EXPECT_FALSE(hasRead(app, step + 1, 300ms)) << "the next read waits for its bytes";
    EXPECT_EQ(progressOf("big"), "4096/12288");
    const auto size = runProgram({"stat", "-c", "%s", mount->path("big").string()});
    EXPECT_EQ(size.out, "12288\n") << "applications see the record's size while it downloads";
    std::string names(1024, '\0');
    names.resize(std::max<ssize_t>(
        0, ::listxattr(mount->path("big").c_str(), names.data(), names.size())));
    EXPECT_EQ(names.find("progress"), std::string::npos) << "not copied with the attributes";

    writeStep(fd, content, step);
    EXPECT_TRUE(hasRead(app, 2 * step));
    writeStep(fd, content, 2 * step);
    const auto result = finish(app);
    EXPECT_EQ(result.status, 0) << "the record's size is the end of the file";
    EXPECT_TRUE(result.out == content);

    completeDownload("big", fd, request);
    EXPECT_EQ(progressOf("big"), std::strerror(ENODATA)) << "gone with the download";
    EXPECT_TRUE(runApp("big").out == content);
}

// Bytes that did not come in order from the first one may not be what the file will hold.
TEST_F(StreamingTest, AGapOrAWriterOutOfOrderLeavesTheOpenWaitingForTheWholeFile)
{
    auto [app, request, fd] = readerOfADownload("big");
    writeStep(fd, content, step);
    writeStep(fd, content, 0);
    writeStep(fd, content, 2 * step);
    EXPECT_FALSE(opened(app, 300ms));
    completeDownload("big", fd, request);
    const auto result = finish(app);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.out == content);
}

TEST_F(StreamingTest, SmallFilesAndOpensForWritingWaitForTheWholeFile)
{
    makePlaceholder("small", step);
    makePlaceholder("big", content.size());
    auto small = reader("small");
    auto writer = openApp("big", "new");
    std::map<std::string, Request> requests;
    for (int i = 0; i < 2; ++i) {
        const auto request = nextRequest();
        ASSERT_TRUE(request);
        requests[nameOf(*request)] = *request;
    }
    const int smallFd = takeRequest("small", step);
    const int bigFd = takeRequest("big", content.size());
    writeStep(smallFd, content, 0);
    writeStep(bigFd, content, 0);
    EXPECT_FALSE(opened(small, 300ms));
    EXPECT_FALSE(writer.process->poll()) << "the writer's open waits";
    writeStep(bigFd, content, step);
    writeStep(bigFd, content, 2 * step);
    completeDownload("small", smallFd, requests["small"]);
    completeDownload("big", bigFd, requests["big"]);
    EXPECT_EQ(finish(small).out, content.substr(0, step));
    EXPECT_EQ(finish(writer).status, 0);
    EXPECT_EQ(readFile(mount->path("big")), "new");
}

// Two readers stream; Ctrl-C ends the one whose read waits, a failed download the other's, and
// the next open asks again.
TEST_F(StreamingTest, AnInterruptedReadEndsAtOnceAndAFailedDownloadGivesEio)
{
    makePlaceholder("big", content.size());
    auto stopped = reader("big");
    auto failed = reader("big");
    const auto first = nextRequest();
    ASSERT_TRUE(first);
    ASSERT_TRUE(nextRequest());
    const int fd = takeRequest("big", content.size());
    writeStep(fd, content, 0);
    ASSERT_TRUE(hasRead(stopped, step));
    ASSERT_TRUE(hasRead(failed, step));

    const auto interrupted = std::chrono::steady_clock::now();
    stopped.process->signal(SIGINT);
    EXPECT_EQ(stopped.process->wait(5s), 128 + SIGINT);
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, 100ms);
    EXPECT_FALSE(failed.process->poll());

    // What the plug-in does with a download that failed.
    ASSERT_EQ(::ftruncate(fd, 0), 0);
    makePlaceholder("big", content.size());
    ::close(fd);
    const auto result = finish(failed);
    EXPECT_EQ(result.status, EIO);
    EXPECT_EQ(result.out, content.substr(0, step));
    EXPECT_EQ(progressOf("big"), std::strerror(ENODATA));

    auto again = reader("big");
    EXPECT_TRUE(nextRequest()) << "the next open asks again";
}

class StreamingWithStallLimit : public StreamingTest {
protected:
    void SetUp() override { startStreaming(R"(,"hydrationTimeout":1)"); }
};

TEST_F(StreamingWithStallLimit, TheStallLimitOrALostConnectionEndsAWaitingRead)
{
    for (const auto* name : {"stalled", "lost"}) {
        auto [app, request, fd] = readerOfADownload(name);
        writeStep(fd, content, 0);
        ASSERT_TRUE(hasRead(app, step));
        if (std::string(name) == "lost")
            client->closeConnection();
        EXPECT_EQ(finish(app).status, std::string(name) == "lost" ? EIO : ETIMEDOUT) << name;
        ::close(fd);
    }
}

TEST(HydrationWithoutClient, OpensOfPlaceholdersFailQuicklyWithEio)
{
    MountedFolder mount;
    writeFile(mount.path("a.txt"));
    writeRecord(mount.path("a.txt"), Tessarn::PlaceHolderAttributes::create("", "e", "f", 5));
    const auto started = std::chrono::steady_clock::now();
    const auto result = runProgram({TESSARN_OPEN_PROBE, mount.path("a.txt").string()});
    EXPECT_EQ(result.status, EIO);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
}

} // namespace
