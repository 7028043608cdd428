// The socket worker against a stand-in sync client on a real Unix socket.
#include "client/line_assembler.h"
#include "client/socket_thread.h"
#include "client/wire_format.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace TessarnFuse;
using namespace TessarnTest;
using testing::HasSubstr;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

std::shared_ptr<MsgData> hydrationRequest(std::int32_t id, std::string file = "/m/./a.txt")
{
    return std::make_shared<MsgData>(
        MsgData{"V2/HYDRATE_FILE", std::move(file), "fid", id, "/usr/bin/cat"});
}

// Stands for an open that waits: records how its request ended.
class RecordingWaiter : public HydrationWaiter {
public:
    void waiting(std::int32_t id) override { m_armedFor = id; }
    bool progressed() override { return m_moving; }
    bool callerGivesUp() override { return m_givingUp; }
    void finished(HydrationOutcome outcome) override
    {
        std::lock_guard lock(m_mutex);
        m_ends.push_back(outcome.end);
        m_namedError = outcome.namedError;
    }

    std::int32_t armedFor() const { return m_armedFor; }
    void keepMoving(bool moving) { m_moving = moving; }
    void setGivingUp(bool givingUp) { m_givingUp = givingUp; }
    std::vector<HydrationEnd> ends() const
    {
        std::lock_guard lock(m_mutex);
        return m_ends;
    }
    int namedError() const
    {
        std::lock_guard lock(m_mutex);
        return m_namedError;
    }
    bool endedAs(HydrationEnd end, std::chrono::milliseconds timeout = 5s) const
    {
        return waitUntil([&] { return ends() == std::vector{end}; }, timeout);
    }

private:
    std::atomic<std::int32_t> m_armedFor{0};
    std::atomic<bool> m_moving{false};
    std::atomic<bool> m_givingUp{true};
    mutable std::mutex m_mutex;
    std::vector<HydrationEnd> m_ends;
    int m_namedError = 0;
};

class SocketThreadTest : public testing::Test {
protected:
    void SetUp() override
    {
        CaptureStdout();
        CaptureStderr();
    }

    void TearDown() override { finish(); }

    void connect(std::chrono::milliseconds stallLimit = {})
    {
        worker.start(socketPath, stallLimit);
        ASSERT_TRUE(client.accept());
        ASSERT_EQ(client.readLine(), versionRequest);
    }

    std::shared_ptr<RecordingWaiter> post(std::int32_t id, std::string file = "/m/./a.txt")
    {
        auto waiter = std::make_shared<RecordingWaiter>();
        EXPECT_TRUE(worker.post(hydrationRequest(id, std::move(file)), waiter));
        return waiter;
    }

    // Posts a request and waits until the client has read it.
    std::shared_ptr<RecordingWaiter> sendRequest(std::int32_t id)
    {
        auto waiter = post(id);
        EXPECT_TRUE(client.readLine().has_value());
        return waiter;
    }

    // Stops the worker, so that everything it printed is in the captured streams.
    void finish()
    {
        if (finished)
            return;
        finished = true;
        worker.stop();
        out = GetCapturedStdout();
        err = GetCapturedStderr();
    }

    TempDir dir;
    std::string socketPath = (dir.path() / "socket").string();
    FakeSyncClient client{socketPath};
    JobTable jobs;
    SocketThread worker{"SocketThread", &jobs};
    bool finished = false;
    std::string out;
    std::string err;
};

TEST_F(SocketThreadTest, SendsVersionThenRequestsWithEscapesAndTracesThem)
{
    connect();
    const std::string file = "/m/./new\nline\x1f\"q\"\\b\xc3\xa9.txt";
    const auto waiter = post(13, file);
    EXPECT_EQ(client.readLine(), R"(V2/HYDRATE_FILE:{"arguments":{"file":"/m/./new\nline\u001f\"q\"\\b)"
                                 "\xc3\xa9"
                                 R"(.txt","fileId":"fid","requester":"/usr/bin/cat"},"id":"13"})");
    EXPECT_EQ(waiter->armedFor(), 13) << "interrupts reach it from the moment it waits";
    finish();
    EXPECT_THAT(out, HasSubstr("Received user data message\nSending 0: VERSION  on SocketThread\n"
                               "Raw message: " + versionRequest + "\n\nSent message: "));
    EXPECT_THAT(out, HasSubstr("Sending 13: V2/HYDRATE_FILE " + file + " on SocketThread\n"));
    EXPECT_THAT(out, HasSubstr("Storing sent message ID13\n"));
    EXPECT_EQ(out.find("Storing sent message ID0"), std::string::npos);
    EXPECT_EQ(err, "");
    EXPECT_EQ(waiter->ends(), std::vector{HydrationEnd::Stopping}) << "the stop answers it";
}

TEST_F(SocketThreadTest, AnswersEndTheirRequestsTheMomentTheyArrive)
{
    connect();
    std::vector<std::shared_ptr<RecordingWaiter>> waiters;
    for (int id = 13; id <= 17; ++id)
        waiters.push_back(sendRequest(id));

    client.send(resultAnswer(13, R"({"status":"OK"})"));
    EXPECT_TRUE(waiters[0]->endedAs(HydrationEnd::Succeeded, 1s));
    client.send(resultAnswer(14, R"({"error":"no such file"})"));
    client.send(resultAnswer(15, R"({"status":"ok"})"));
    client.send(resultAnswer(16, R"({"error":"late","status":"OK"})"));
    for (int i = 1; i <= 3; ++i)
        EXPECT_TRUE(waiters[i]->endedAs(HydrationEnd::Failed)) << "request " << 13 + i;
    // Two answers in one read, the first of them for a request that has already ended.
    client.send(resultAnswer(13, R"({"status":"OK"})") + resultAnswer(17, R"({"status":"OK"})"));
    EXPECT_TRUE(waiters[4]->endedAs(HydrationEnd::Succeeded));
    finish();
    EXPECT_THAT(out, HasSubstr("Setting Job ID 14 to result -1\n"));
    EXPECT_THAT(out, HasSubstr("ERROR from socket API for Id15\n"));
    EXPECT_THAT(out, HasSubstr("Job not found:13\n"));
    EXPECT_THAT(out, HasSubstr("Setting Job ID 17 to result 0\n"));
    EXPECT_THAT(err, HasSubstr("Error from socket API for Id 14: no such file\n"));
    EXPECT_EQ(waiters[0]->ends().size(), 1u) << "a request ends once";
}

// A failure answer may name the system's error behind it; the waiter learns it, and a name that
// an opener should not see counts as a plain I/O error.
TEST_F(SocketThreadTest, AFailureAnswerCarriesTheErrorTheClientNames)
{
    connect();
    const std::vector<std::pair<std::string, int>> answers{
        {R"({"error":"full","errno":"ENOSPC"})", ENOSPC},
        {R"({"error":"over quota","errno":"EDQUOT"})", EDQUOT},
        {R"({"error":"odd","errno":"EAGAIN"})", EIO},
        {R"({"error":"odd","errno":28})", 0},
        {R"({"error":"plain"})", 0},
    };
    for (std::size_t i = 0; i < answers.size(); ++i) {
        const auto id = static_cast<std::int32_t>(13 + i);
        const auto waiter = sendRequest(id);
        client.send(resultAnswer(id, answers[i].first));
        EXPECT_TRUE(waiter->endedAs(HydrationEnd::Failed)) << answers[i].first;
        EXPECT_EQ(waiter->namedError(), answers[i].second) << answers[i].first;
    }
}

TEST_F(SocketThreadTest, AnInterruptEndsTheRequestAndALaterAnswerFindsNothing)
{
    connect();
    const auto waiter = sendRequest(13);
    worker.interrupt(13);
    EXPECT_TRUE(waiter->endedAs(HydrationEnd::Interrupted, 1s));
    client.send(resultAnswer(13, R"({"status":"OK"})"));
    worker.interrupt(13);
    // An answer after them that does count proves that they were both handled.
    const auto next = sendRequest(14);
    client.send(resultAnswer(14, R"({"status":"OK"})"));
    EXPECT_TRUE(next->endedAs(HydrationEnd::Succeeded));
    finish();
    EXPECT_THAT(out, HasSubstr("Job not found:13\n"));
    EXPECT_EQ(waiter->ends(), std::vector{HydrationEnd::Interrupted});
}

// A caller that merely handles a signal keeps waiting; one that a later signal stops gives up.
TEST_F(SocketThreadTest, OnlyACallerAskedToStopGivesUpItsRequest)
{
    connect();
    const auto waiter = sendRequest(13);
    waiter->setGivingUp(false);
    worker.interrupt(13);
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(waiter->ends().empty());
    waiter->setGivingUp(true);
    EXPECT_TRUE(waiter->endedAs(HydrationEnd::Interrupted, 1s));
}

TEST_F(SocketThreadTest, AnAnswerSplitAcrossReadsIsJoined)
{
    connect();
    const auto waiter = sendRequest(13);
    const auto answer = resultAnswer(13, R"({"status":"OK"})");
    client.send(answer.substr(0, 20));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(waiter->ends().empty());
    client.send(answer.substr(20));
    EXPECT_TRUE(waiter->endedAs(HydrationEnd::Succeeded));
    finish();
    EXPECT_EQ(err, "");
}

TEST_F(SocketThreadTest, UnusableAnswersChangeNothing)
{
    connect();
    const auto waiting = sendRequest(13);
    client.send("no colon here\n");
    client.send(R"(V2/HYDRATE_FILE_RESULT:{"id":13,"arguments":{"status":"OK"}})" "\n");
    client.send(resultAnswer(13, "[]"));
    client.send(R"(V2/HYDRATE_FILE_RESULT:{"id":"abc","arguments":{"status":"OK"}})" "\n");
    client.send(R"(V2/HYDRATE_FILE_RESULT:{"id":"99999999999","arguments":{"status":"OK"}})" "\n");
    client.send(resultAnswer(0, R"({"status":"OK"})"));
    client.send(resultAnswer(-13, R"({"error":"negative"})"));
    client.send("SOMETHING_ELSE:13\n");
    // A final answer that does count proves that every line before it was read.
    const auto last = sendRequest(14);
    client.send(resultAnswer(14, R"({"status":"OK"})"));
    EXPECT_TRUE(last->endedAs(HydrationEnd::Succeeded));
    EXPECT_TRUE(waiting->ends().empty());
    finish();
    EXPECT_THAT(err, HasSubstr("Invalid message format: no colon here\n"));
    EXPECT_THAT(err, HasSubstr(R"(Invalid JSON message: {"id":13,"arguments":{"status":"OK"}})"
                               "[json.exception.type_error.302]"));
    EXPECT_THAT(err, HasSubstr("Invalid request id in message: "));
    EXPECT_THAT(err, HasSubstr("Error from socket API for Id -13: negative\n"));
    EXPECT_EQ(out.find("Job not found:0"), std::string::npos);
    EXPECT_EQ(out.find("Job not found:-13"), std::string::npos);
}

TEST_F(SocketThreadTest, OnlyAThreeFieldVersionAnswerSetsTheClientPid)
{
    connect();
    // Known from the connection itself, before any answer.
    EXPECT_EQ(worker.clientPid(), ::getpid());
    client.send("VERSION:1.0:1111\n");
    client.send("VERSION:1.0:client:2222:extra\n");
    client.send("VERSION:1.0:client:pid\n");
    // An answer after them that does count proves that they were all read.
    const auto waiter = sendRequest(13);
    client.send(resultAnswer(13, R"({"status":"OK"})"));
    EXPECT_TRUE(waiter->endedAs(HydrationEnd::Succeeded));
    EXPECT_EQ(worker.clientPid(), ::getpid());
    client.send("VERSION:1.0:client: 4242\n");
    EXPECT_TRUE(waitUntil([&] { return worker.clientPid() == 4242; }));
    client.send("VERSION:2.0:client:77\n");
    EXPECT_TRUE(waitUntil([&] { return worker.clientPid() == 77; }));
    finish();
    EXPECT_THAT(err, HasSubstr("Invalid process id in the VERSION answer: pid\n"));
    EXPECT_THAT(out, HasSubstr("Got PID of the Desktop Client:  4242\n"));
}

// The client's end closes: what waited fails, and the worker connects again, with VERSION first.
TEST_F(SocketThreadTest, AClosedConnectionFailsWaitingRequestsAndIsMadeAgain)
{
    connect();
    const auto waiter = sendRequest(13);
    client.closeConnection();
    EXPECT_TRUE(waiter->endedAs(HydrationEnd::Failed, 1s));
    ASSERT_TRUE(client.accept(2s));
    EXPECT_EQ(client.readLine(), versionRequest);
    const auto later = sendRequest(14);
    client.send(resultAnswer(14, R"({"status":"OK"})"));
    EXPECT_TRUE(later->endedAs(HydrationEnd::Succeeded));
    finish();
    EXPECT_THAT(err, HasSubstr("Socket API connection lost: the sync client closed the connection"));
}

TEST_F(SocketThreadTest, WritingToAPeerThatReadsNoMoreFailsInsteadOfRaisingSigpipe)
{
    connect();
    const auto waiting = sendRequest(13);
    client.stopReading();
    const auto refused = post(14);
    EXPECT_TRUE(refused->endedAs(HydrationEnd::Failed));
    EXPECT_EQ(waiting->ends(), std::vector{HydrationEnd::Failed}) << "the connection is gone";
    finish();
    EXPECT_THAT(err, HasSubstr("write: Broken pipe\n"));
}

// The client reads nothing until every request is written: the lines wait for the socket to
// take them, whole and in order, instead of counting as a lost connection.
TEST_F(SocketThreadTest, ManyRequestsWaitForASlowReaderWithoutLosingALine)
{
    connect();
    constexpr int count = 3000;
    std::vector<std::shared_ptr<RecordingWaiter>> waiters;
    for (int id = 13; id < 13 + count; ++id)
        waiters.push_back(post(id, "/m/./" + std::string(200, 'x') + std::to_string(id)));
    for (int id = 13; id < 13 + count; ++id) {
        const auto line = client.readLine();
        ASSERT_TRUE(line.has_value()) << "request " << id;
        ASSERT_THAT(*line, testing::EndsWith(",\"id\":\"" + std::to_string(id) + "\"}"));
    }
    for (const auto& waiter : waiters)
        EXPECT_TRUE(waiter->ends().empty());
}

TEST_F(SocketThreadTest, ARequestWithoutAnswerOrProgressTimesOut)
{
    connect(300ms);
    const auto posted = std::chrono::steady_clock::now();
    const auto silent = sendRequest(13);
    const auto moving = sendRequest(14);
    moving->keepMoving(true);
    EXPECT_TRUE(silent->endedAs(HydrationEnd::TimedOut, 2s));
    EXPECT_GE(std::chrono::steady_clock::now() - posted, 300ms);
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(moving->ends().empty()) << "a download that goes on does not time out";
    moving->keepMoving(false);
    EXPECT_TRUE(moving->endedAs(HydrationEnd::TimedOut, 2s));
}

TEST_F(SocketThreadTest, WithoutAClientEveryRequestFails)
{
    const auto nobody = (dir.path() / "nobody-listens").string();
    worker.start(nobody);
    const auto waiter = post(13);
    EXPECT_TRUE(waiter->endedAs(HydrationEnd::Failed));
    finish();
    EXPECT_EQ(out.find("VERSION"), std::string::npos);
    EXPECT_THAT(out, HasSubstr("Failed to send msg 13: V2/HYDRATE_FILE\n"));
    EXPECT_EQ(err, "Not connected to the sync client at " + nobody +
                       ": No such file or directory; connecting when it listens there\n");
    EXPECT_EQ(worker.clientPid(), 0);
}

TEST_F(SocketThreadTest, ASocketPathTooLongForTheAddressIsRefused)
{
    // Cut to 107 bytes, the path would name another socket: this one.
    const auto prefix = dir.path() / std::string(106 - dir.path().string().size(), 's');
    ASSERT_EQ(prefix.string().size(), ClientConnection::maxSocketPath);
    FakeSyncClient other(prefix);
    worker.start(prefix.string() + "-longer");
    EXPECT_FALSE(other.accept(std::chrono::milliseconds(100)));
    finish();
    EXPECT_THAT(err, HasSubstr("Not connecting: the socket path is longer than 107 bytes: "));
}

TEST_F(SocketThreadTest, ARequestThatIsNotUtf8IsRefusedAndTheWorkerGoesOn)
{
    connect();
    const auto refused = post(13, "/m/./bad\xff.txt");
    EXPECT_TRUE(refused->endedAs(HydrationEnd::Failed));
    sendRequest(14);
    finish();
    EXPECT_THAT(err, HasSubstr("Refusing request 13 that cannot be written as JSON: "));
}

TEST_F(SocketThreadTest, PostWithoutARunningWorkerIsRefused)
{
    // Nothing would ever send it: its open fails at once.
    const auto waiter = std::make_shared<RecordingWaiter>();
    EXPECT_FALSE(worker.post(hydrationRequest(12), waiter));
    connect();
    worker.stop();
    EXPECT_FALSE(worker.post(hydrationRequest(13), waiter));
    EXPECT_FALSE(client.readLine(std::chrono::milliseconds(50)).has_value());
    EXPECT_TRUE(waiter->ends().empty()) << "a refused post tells its waiter nothing";
}

TEST(LineAssembler, KeepsTheUnfinishedTailForTheNextRead)
{
    LineAssembler lines;
    EXPECT_TRUE(lines.feed("VERS").complete.empty());
    const auto joined = lines.feed("ION:a\n\nB:c\nC:");
    EXPECT_EQ(joined.complete, (std::vector<std::string>{"VERSION:a", "B:c"}));
    EXPECT_EQ(lines.feed("d\n").complete, std::vector<std::string>{"C:d"});
}

// Whether a line ends in the read that brings it or in a later one, past the limit it is
// dropped up to its line feed, and the next line counts again.
TEST(LineAssembler, DropsAnOverlongLineUpToItsLineFeed)
{
    LineAssembler lines;
    const std::string garbage(LineAssembler::maxLineLength + 1, 'x');
    const auto whole = lines.feed(garbage + "\nA:b\n");
    EXPECT_EQ(whole.droppedBytes, garbage.size());
    EXPECT_EQ(whole.complete, std::vector<std::string>{"A:b"});

    EXPECT_EQ(lines.feed(garbage).droppedBytes, garbage.size());
    const auto rest = lines.feed("rest of it\nC:d\n");
    EXPECT_EQ(rest.droppedBytes, 10u);
    EXPECT_EQ(rest.complete, std::vector<std::string>{"C:d"});
}

TEST(ParseDecimal, ReadsLikeStrtolAndRefusesWhatIsNoNumber)
{
    EXPECT_EQ(parseDecimal("13", INT32_MIN, INT32_MAX), 13);
    EXPECT_EQ(parseDecimal("  +13abc", INT32_MIN, INT32_MAX), 13);
    EXPECT_EQ(parseDecimal("-7", INT32_MIN, INT32_MAX), -7);
    EXPECT_EQ(parseDecimal("-9223372036854775808", INT64_MIN, INT64_MAX), INT64_MIN);
    EXPECT_FALSE(parseDecimal("2147483648", INT32_MIN, INT32_MAX));
    EXPECT_FALSE(parseDecimal("9223372036854775808", INT64_MIN, INT64_MAX));
    EXPECT_FALSE(parseDecimal("", INT32_MIN, INT32_MAX));
    EXPECT_FALSE(parseDecimal("x1", INT32_MIN, INT32_MAX));
    EXPECT_FALSE(parseDecimal("+-1", INT32_MIN, INT32_MAX));
}

} // namespace
