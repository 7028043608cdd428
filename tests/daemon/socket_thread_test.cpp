// The socket worker against a stand-in sync client on a real Unix socket.
#include "socket_thread.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

class SocketThreadTest : public testing::Test {
protected:
    void SetUp() override
    {
        CaptureStdout();
        CaptureStderr();
    }

    void TearDown() override { finish(); }

    void connect()
    {
        worker.start(socketPath);
        ASSERT_TRUE(client.accept());
        ASSERT_EQ(client.readLine(), versionRequest);
    }

    // Posts a request and waits until the worker has written it.
    void sendRequest(std::int32_t id)
    {
        worker.post(hydrationRequest(id));
        ASSERT_TRUE(client.readLine().has_value());
        ASSERT_TRUE(waitUntil([&] { return jobs.get(id) == JobStatus::Sent; }));
    }

    void answerAndWait(std::string_view bytes, std::int32_t id, JobStatus expected)
    {
        client.send(bytes);
        EXPECT_TRUE(waitUntil([&] { return jobs.get(id) == expected; }))
            << "answer: " << bytes;
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
    SocketThread worker{"SocketThread", &jobs, std::chrono::milliseconds(10)};
    bool finished = false;
    std::string out;
    std::string err;
};

TEST_F(SocketThreadTest, SendsVersionThenRequestsWithEscapesAndTracesThem)
{
    connect();
    const std::string file = "/m/./new\nline\x1f\"q\"\\b\xc3\xa9.txt";
    worker.post(hydrationRequest(13, file));
    EXPECT_EQ(client.readLine(), R"(V2/HYDRATE_FILE:{"arguments":{"file":"/m/./new\nline\u001f\"q\"\\b)"
                                 "\xc3\xa9"
                                 R"(.txt","fileId":"fid","requester":"/usr/bin/cat"},"id":"13"})");
    EXPECT_TRUE(waitUntil([&] { return jobs.get(13) == JobStatus::Sent; }));
    finish();
    EXPECT_THAT(out, HasSubstr("Received user data message\nSending 0: VERSION  on SocketThread\n"
                               "Raw message: " + versionRequest + "\n\nSent message: "));
    EXPECT_THAT(out, HasSubstr("Sending 13: V2/HYDRATE_FILE " + file + " on SocketThread\n"));
    EXPECT_THAT(out, HasSubstr("Storing sent message ID13\n"));
    EXPECT_EQ(out.find("Storing sent message ID0"), std::string::npos);
    EXPECT_EQ(err, "");
}

TEST_F(SocketThreadTest, ARequestIsKnownFromTheMomentItIsPosted)
{
    connect();
    worker.post(hydrationRequest(20));
    // Queued until the worker has written it, then Sent: an open never finds it missing.
    const auto status = jobs.get(20);
    EXPECT_TRUE(status == JobStatus::Queued || status == JobStatus::Sent);
}

TEST_F(SocketThreadTest, AnswersSetTheStatusOfTheirRequest)
{
    connect();
    for (int id = 13; id <= 17; ++id)
        sendRequest(id);

    answerAndWait(resultAnswer(13, R"({"status":"OK"})"), 13, JobStatus::Succeeded);
    answerAndWait(resultAnswer(14, R"({"error":"no such file"})"), 14, JobStatus::Failed);
    answerAndWait(resultAnswer(15, R"({"status":"ok"})"), 15, JobStatus::Failed);
    answerAndWait(resultAnswer(16, R"({"error":"late","status":"OK"})"), 16, JobStatus::Failed);
    // Two answers in one read, the first of them for a request that is no longer waited on.
    jobs.remove(13);
    answerAndWait(resultAnswer(13, R"({"status":"OK"})") + resultAnswer(17, R"({"status":"OK"})"),
                  17, JobStatus::Succeeded);
    finish();
    EXPECT_THAT(out, HasSubstr("Setting Job ID 14 to result -1\n"));
    EXPECT_THAT(out, HasSubstr("ERROR from socket API for Id15\n"));
    EXPECT_THAT(out, HasSubstr("Job not found:13\n"));
    EXPECT_THAT(out, HasSubstr("Setting Job ID 17 to result 0\n"));
    EXPECT_THAT(err, HasSubstr("Error from socket API for Id 14: no such file\n"));
    EXPECT_FALSE(jobs.get(13).has_value());
}

TEST_F(SocketThreadTest, AnAnswerSplitAcrossReadsIsJoined)
{
    connect();
    sendRequest(13);
    const auto answer = resultAnswer(13, R"({"status":"OK"})");
    client.send(answer.substr(0, 20));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(jobs.get(13), JobStatus::Sent);
    answerAndWait(answer.substr(20), 13, JobStatus::Succeeded);
    finish();
    EXPECT_EQ(err, "");
}

TEST_F(SocketThreadTest, UnusableAnswersChangeNothing)
{
    connect();
    sendRequest(13);
    client.send("no colon here\n");
    client.send(R"(V2/HYDRATE_FILE_RESULT:{"id":13,"arguments":{"status":"OK"}})" "\n");
    client.send(resultAnswer(13, "[]"));
    client.send(R"(V2/HYDRATE_FILE_RESULT:{"id":"abc","arguments":{"status":"OK"}})" "\n");
    client.send(R"(V2/HYDRATE_FILE_RESULT:{"id":"99999999999","arguments":{"status":"OK"}})" "\n");
    client.send(resultAnswer(0, R"({"status":"OK"})"));
    client.send(resultAnswer(-13, R"({"error":"negative"})"));
    client.send("SOMETHING_ELSE:13\n");
    // A final answer that does count proves that every line before it was read.
    sendRequest(14);
    answerAndWait(resultAnswer(14, R"({"status":"OK"})"), 14, JobStatus::Succeeded);
    EXPECT_EQ(jobs.get(13), JobStatus::Sent);
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
    client.send("VERSION:1.0:1111\n");
    client.send("VERSION:1.0:client:2222:extra\n");
    client.send("VERSION:1.0:client:pid\n");
    // An answer after them that does count proves that they were all read.
    sendRequest(13);
    answerAndWait(resultAnswer(13, R"({"status":"OK"})"), 13, JobStatus::Succeeded);
    EXPECT_EQ(jobs.clientPid(), 0);
    client.send("VERSION:1.0:client: 4242\n");
    EXPECT_TRUE(waitUntil([&] { return jobs.clientPid() == 4242; }));
    client.send("VERSION:2.0:client:77\n");
    EXPECT_TRUE(waitUntil([&] { return jobs.clientPid() == 77; }));
    finish();
    EXPECT_THAT(err, HasSubstr("Invalid process id in the VERSION answer: pid\n"));
    EXPECT_THAT(out, HasSubstr("Got PID of the Desktop Client:  4242\n"));
}

TEST_F(SocketThreadTest, AClosedConnectionFailsWaitingRequestsWithoutKillingTheProcess)
{
    connect();
    sendRequest(13);
    client.closeConnection();
    EXPECT_TRUE(waitUntil([&] { return jobs.get(13) == JobStatus::Failed; }));
    // Writing to the gone peer must be an error value, not SIGPIPE.
    worker.post(hydrationRequest(14));
    EXPECT_TRUE(waitUntil([&] { return jobs.get(14) == JobStatus::Failed; }));
    finish();
    EXPECT_THAT(err, HasSubstr("Socket API connection lost: the sync client closed the connection"));
    EXPECT_THAT(out, HasSubstr("Failed to send msg 14: V2/HYDRATE_FILE\n"));
}

TEST_F(SocketThreadTest, WritingToAGonePeerFailsTheRequestInsteadOfRaisingSigpipe)
{
    // Ticks so rare that the write, not a read, is the first to meet the closed connection.
    SocketThread slowWorker{"SocketThread", &jobs, std::chrono::milliseconds(500)};
    slowWorker.start(socketPath);
    ASSERT_TRUE(client.accept());
    ASSERT_EQ(client.readLine(), versionRequest);
    client.closeConnection();
    slowWorker.post(hydrationRequest(13));
    EXPECT_TRUE(waitUntil([&] { return jobs.get(13) == JobStatus::Failed; }));
    slowWorker.stop();
    finish();
    EXPECT_THAT(err, HasSubstr("write: Broken pipe\n"));
}

TEST_F(SocketThreadTest, WithoutAClientEveryRequestFails)
{
    worker.start((dir.path() / "nobody-listens").string());
    worker.post(hydrationRequest(13));
    EXPECT_TRUE(waitUntil([&] { return jobs.get(13) == JobStatus::Failed; }));
    finish();
    EXPECT_EQ(out.find("VERSION"), std::string::npos);
    EXPECT_THAT(err, HasSubstr("write: "));
    EXPECT_EQ(jobs.clientPid(), 0);
}

TEST_F(SocketThreadTest, ASocketPathTooLongForTheAddressIsRefused)
{
    // Cut to 107 bytes, the path would name another socket: this one.
    const auto prefix = dir.path() / std::string(106 - dir.path().string().size(), 's');
    ASSERT_EQ(prefix.string().size(), SocketThread::maxSocketPath);
    FakeSyncClient other(prefix);
    worker.start(prefix.string() + "-longer");
    EXPECT_FALSE(other.accept(std::chrono::milliseconds(100)));
    finish();
    EXPECT_THAT(err, HasSubstr("Not connecting: the socket path is longer than 107 bytes: "));
}

TEST_F(SocketThreadTest, ARequestThatIsNotUtf8IsRefusedAndTheWorkerGoesOn)
{
    connect();
    worker.post(hydrationRequest(13, "/m/./bad\xff.txt"));
    EXPECT_TRUE(waitUntil([&] { return jobs.get(13) == JobStatus::Failed; }));
    sendRequest(14);
    finish();
    EXPECT_THAT(err, HasSubstr("Refusing request 13 that cannot be written as JSON: "));
}

TEST_F(SocketThreadTest, PostWithoutARunningWorkerIsDropped)
{
    // Nothing would ever send it: with no entry, the open that waits for it fails at once.
    worker.post(hydrationRequest(12));
    EXPECT_FALSE(jobs.get(12).has_value());
    connect();
    worker.stop();
    worker.post(hydrationRequest(13));
    EXPECT_FALSE(jobs.get(13).has_value());
    EXPECT_FALSE(client.readLine(std::chrono::milliseconds(50)).has_value());
}

TEST(LineAssembler, KeepsTheUnfinishedTailForTheNextRead)
{
    LineAssembler lines;
    EXPECT_TRUE(lines.feed("VERS").complete.empty());
    const auto joined = lines.feed("ION:a\n\nB:c\nC:");
    EXPECT_EQ(joined.complete, (std::vector<std::string>{"VERSION:a", "B:c"}));
    EXPECT_EQ(lines.feed("d\n").complete, std::vector<std::string>{"C:d"});
}

TEST(LineAssembler, DropsAnOverlongTail)
{
    LineAssembler lines;
    const std::string garbage(LineAssembler::maxTail + 1, 'x');
    const auto dropped = lines.feed(garbage);
    EXPECT_EQ(dropped.droppedBytes, garbage.size());
    EXPECT_EQ(lines.feed("A:b\n").complete, std::vector<std::string>{"A:b"});
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
