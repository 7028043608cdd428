// synchost's socket API seen from a second connection that talks like the daemon.
#include "e2e_support.h"
#include "hosted_folder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <sys/xattr.h>
#include <thread>

using namespace TessarnTest;
using Tessarn::Constants::States;

namespace {

struct Answer {
    std::string id;
    std::string status;
    std::string error;
};

std::optional<Answer> readAnswer(ApiConnection& api, std::chrono::milliseconds timeout = 20s)
{
    const auto line = api.readLine(timeout);
    constexpr std::string_view command = "V2/HYDRATE_FILE_RESULT:";
    if (!line || !line->starts_with(command))
        return std::nullopt;
    const auto answer = nlohmann::json::parse(line->substr(command.size()));
    const auto& arguments = answer.at("arguments");
    return Answer{answer.at("id").get<std::string>(), arguments.value("status", ""),
                  arguments.value("error", "")};
}

class SocketApi : public ::testing::Test {
protected:
    std::string fileInMount(const std::string& relative) const
    {
        return hosted.folder().string() + "/./" + relative;
    }

    HostedFolder hosted;
};

} // namespace

TEST_F(SocketApi, AnswersLinesThatComeInPiecesOrTogether)
{
    hosted.putRemote("Docs/a.txt", "alpha\n");
    ASSERT_TRUE(hosted.startHost());
    ApiConnection api(hosted.socketPath());
    ASSERT_TRUE(api.isOpen());

    api.send("VERSION:{\"arguments\":{\"file\":\"\",\"fil");
    std::this_thread::sleep_for(50ms);
    api.send("eId\":\"\",\"requester\":\"\"},\"id\":\"0\"}\n");
    EXPECT_EQ(api.readLine(), "VERSION:1.0:2:" + std::to_string(hosted.hostPid()));

    const std::string fileId = hosted.record("Docs/a.txt").fileId;
    api.send(hydrationRequest(101, fileInMount("Docs/a.txt"), "no-such-id") +
             hydrationRequest(102, "/etc/passwd", fileId) + "V2/HYDRATE_FILE:{not json\n" +
             "NO COLON HERE\n" + hydrationRequest(103, fileInMount("Docs/a.txt"), fileId));
    std::map<std::string, Answer> answers;
    for (int i = 0; i < 3; ++i) {
        const auto answer = readAnswer(api);
        ASSERT_TRUE(answer.has_value()) << hosted.hostOutput() << hosted.diagnostics();
        answers[answer->id] = *answer;
    }
    EXPECT_NE(answers["101"].error.find("no-such-id"), std::string::npos);
    EXPECT_EQ(answers["101"].status, "");
    EXPECT_NE(answers["102"].error.find("not in the sync folder"), std::string::npos);
    EXPECT_EQ(answers["103"].status, "OK") << answers["103"].error;
    EXPECT_EQ(answers["103"].error, "");
    EXPECT_EQ(readFile(hosted.underneath("Docs/a.txt")), "alpha\n");
    EXPECT_EQ(hosted.record("Docs/a.txt").state, States::Hydrated);

    api.send(hydrationRequest(104, fileInMount("Docs/a.txt"), fileId));
    const auto again = readAnswer(api);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->status, "OK") << "a hydrated file needs no download";
    EXPECT_EQ(occurrences(hosted.hostOutput(), "hydrated Docs/a.txt"), 1u) << hosted.hostOutput();

    // The plug-in's last write failed and left the record in Hydrating: the daemon asks at
    // every open, until a new download has the record rewritten.
    auto stuck = hosted.record("Docs/a.txt");
    stuck.state = States::Hydrating;
    const auto data = stuck.toData();
    const std::string attribute(Tessarn::Constants::placeholderAttribute);
    ASSERT_EQ(::setxattr(hosted.underneath("Docs/a.txt").c_str(), attribute.c_str(), data.data(),
                         data.size(), 0),
              0);
    api.send(hydrationRequest(105, fileInMount("Docs/a.txt"), fileId));
    const auto repaired = readAnswer(api);
    ASSERT_TRUE(repaired.has_value()) << hosted.hostOutput() << hosted.diagnostics();
    EXPECT_EQ(repaired->status, "OK") << repaired->error;
    EXPECT_EQ(hosted.record("Docs/a.txt").state, States::Hydrated);
    EXPECT_EQ(occurrences(hosted.hostOutput(), "hydrated Docs/a.txt"), 2u) << hosted.hostOutput();
}

TEST_F(SocketApi, ARequestForARunningDownloadIsAnsweredWhenItEnds)
{
    hosted.putRemote("slow.bin", patternContent(2 * 1024 * 1024, 6));
    ASSERT_TRUE(hosted.startHost({"--bandwidth", "4096"}));
    ApiConnection api(hosted.socketPath());
    ASSERT_TRUE(api.isOpen());
    const std::string fileId = hosted.record("slow.bin").fileId;

    api.send(hydrationRequest(201, fileInMount("slow.bin"), fileId));
    std::this_thread::sleep_for(100ms);
    api.send(hydrationRequest(202, fileInMount("slow.bin"), fileId));
    EXPECT_EQ(api.readLine(200ms), std::nullopt) << "answered before the download ended";
    std::set<std::string> ids;
    for (int i = 0; i < 2; ++i) {
        const auto answer = readAnswer(api);
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(answer->status, "OK") << answer->id << ": " << answer->error;
        ids.insert(answer->id);
    }
    EXPECT_EQ(ids, (std::set<std::string>{"201", "202"}));
    EXPECT_EQ(readFile(hosted.underneath("slow.bin")), patternContent(2 * 1024 * 1024, 6));
    EXPECT_EQ(occurrences(hosted.hostOutput(), "hydrated slow.bin"), 1u) << hosted.hostOutput();
}

// The download ends while its record is damaged: the journal is updated, but no record says
// that the content is here, so the opener must not be told it is.
TEST_F(SocketApi, ADownloadWhoseRecordDoesNotEndHydratedIsAnError)
{
    hosted.putRemote("garbled.txt", "content\n");
    ASSERT_TRUE(hosted.startHost({"--latency", "1000"}));
    ApiConnection api(hosted.socketPath());
    ASSERT_TRUE(api.isOpen());

    api.send(
        hydrationRequest(401, fileInMount("garbled.txt"), hosted.record("garbled.txt").fileId));
    ASSERT_TRUE(
        waitUntil([&] { return hosted.record("garbled.txt").state == States::Hydrating; }, 10s));
    const std::string attribute(Tessarn::Constants::placeholderAttribute);
    ASSERT_EQ(::setxattr(hosted.underneath("garbled.txt").c_str(), attribute.c_str(), "\xc1", 1, 0),
              0);

    const auto answer = readAnswer(api);
    ASSERT_TRUE(answer.has_value()) << hosted.hostOutput() << hosted.diagnostics();
    EXPECT_EQ(answer->id, "401");
    EXPECT_EQ(answer->status, "");
    EXPECT_NE(answer->error.find("no longer says that it is being hydrated"), std::string::npos)
        << answer->error;
}

// The answers written just before the stop reach the socket before the connection closes.
TEST_F(SocketApi, ARequestWaitingAtTheStopIsAnsweredBeforeTheConnectionCloses)
{
    hosted.putRemote("late.txt", "late\n");
    ASSERT_TRUE(hosted.startHost({"--latency", "10000"}));
    ApiConnection api(hosted.socketPath());
    ASSERT_TRUE(api.isOpen());
    api.send(hydrationRequest(301, fileInMount("late.txt"), hosted.record("late.txt").fileId));
    ASSERT_TRUE(
        waitUntil([&] { return hosted.record("late.txt").state == States::Hydrating; }, 10s));

    EXPECT_EQ(hosted.stopHost(), 0) << hosted.diagnostics();
    const auto answer = readAnswer(api, 5s);
    ASSERT_TRUE(answer.has_value()) << "the connection closed without an answer";
    EXPECT_EQ(answer->id, "301");
    EXPECT_EQ(answer->status, "");
    EXPECT_NE(answer->error, "");
}
