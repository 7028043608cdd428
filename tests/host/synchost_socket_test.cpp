// synchost's reading and writing of socket API lines.
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <gtest/gtest.h>
#include <line_buffer.h>
#include <socket_messages.h>

using namespace SyncHost;

TEST(LineBuffer, JoinsPiecesAndSplitsSeveralLinesOfOneRead)
{
    LineBuffer buffer;
    EXPECT_TRUE(buffer.feed("VERS").complete.isEmpty());
    EXPECT_TRUE(buffer.feed("ION:x").complete.isEmpty());
    auto lines = buffer.feed(":1\nV2/A:{}\n\nV2/B");
    EXPECT_EQ(lines.complete, (QList<QByteArray>{"VERSION:x:1", "V2/A:{}"}))
        << "empty lines skipped";
    lines = buffer.feed(":{}\n");
    EXPECT_EQ(lines.complete, QList<QByteArray>{"V2/B:{}"});
    EXPECT_EQ(lines.droppedBytes, 0);
}

TEST(LineBuffer, DropsALineThatGrowsTooLongAndGoesOnAfterIt)
{
    LineBuffer buffer;
    const QByteArray piece(LineBuffer::maxLineLength / 2 + 1, 'x');
    EXPECT_EQ(buffer.feed(piece).droppedBytes, 0);
    EXPECT_GT(buffer.feed(piece).droppedBytes, 0);
    const auto lines = buffer.feed(piece + "\nNEXT:1\n");
    EXPECT_EQ(lines.complete, QList<QByteArray>{"NEXT:1"});
    EXPECT_EQ(lines.droppedBytes, piece.size());

    const QByteArray whole(LineBuffer::maxLineLength + 1, 'y');
    const auto inOneRead = buffer.feed(whole + "\nLAST:2\n");
    EXPECT_EQ(inOneRead.complete, QList<QByteArray>{"LAST:2"}) << "however the line comes";
    EXPECT_EQ(inOneRead.droppedBytes, whole.size());
}

TEST(SocketMessages, ReadsTheDaemonsRequests)
{
    EXPECT_TRUE(std::holds_alternative<VersionRequest>(parseSocketLine(
        R"(VERSION:{"arguments":{"file":"","fileId":"","requester":""},"id":"0"})")));

    const auto message = parseSocketLine(
        R"(V2/HYDRATE_FILE:{"arguments":{"file":"/m/./a\nb é","fileId":"f1","requester":"/usr/bin/cat"},"id":"13"})");
    const auto* request = std::get_if<HydrationRequest>(&message);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->id, "13");
    EXPECT_EQ(request->file, QStringLiteral("/m/./a\nb é"));
    EXPECT_EQ(request->fileId, "f1");
    EXPECT_EQ(request->requester, QStringLiteral("/usr/bin/cat"));

    const auto other = parseSocketLine("V2/GET_STRINGS:{}");
    ASSERT_TRUE(std::holds_alternative<OtherCommand>(other));
    EXPECT_EQ(std::get<OtherCommand>(other).command, "V2/GET_STRINGS");
}

TEST(SocketMessages, ARequestThatCannotBeServedKeepsItsIdWhenThereIsOne)
{
    const auto idOf = [](const QByteArray& line) -> std::optional<QByteArray> {
        const auto message = parseSocketLine(line);
        if (const auto* malformed = std::get_if<MalformedRequest>(&message))
            return malformed->id;
        return std::nullopt;
    };
    EXPECT_EQ(idOf("no colon"), QByteArray());
    EXPECT_EQ(idOf("V2/HYDRATE_FILE:{not json"), QByteArray());
    EXPECT_EQ(idOf(R"(V2/HYDRATE_FILE:{"arguments":{"file":"/a","fileId":"f"},"id":13})"),
              QByteArray())
        << "an id that is a number";
    EXPECT_EQ(idOf(R"(V2/HYDRATE_FILE:{"arguments":{"file":"/a"},"id":"14"})"), QByteArray("14"));
    EXPECT_EQ(idOf(R"(V2/HYDRATE_FILE:{"arguments":[],"id":"15"})"), QByteArray("15"));
}

TEST(SocketMessages, AnswersAreSingleLinesTheDaemonReads)
{
    EXPECT_EQ(versionAnswer(4242), "VERSION:1.0:2:4242\n");

    const QByteArray ok = hydrationAnswer("13", {});
    ASSERT_TRUE(ok.startsWith("V2/HYDRATE_FILE_RESULT:") && ok.endsWith('\n'));
    const QJsonObject okObject =
        QJsonDocument::fromJson(ok.mid(ok.indexOf(':') + 1).chopped(1)).object();
    EXPECT_EQ(okObject.value(u"id").toString(), QStringLiteral("13"));
    EXPECT_EQ(okObject.value(u"arguments").toObject(),
              (QJsonObject{{QStringLiteral("status"), QStringLiteral("OK")}}));

    const QByteArray failed = hydrationAnswer("14", QStringLiteral("gone:\nreally \"gone\""));
    EXPECT_EQ(failed.count('\n'), 1) << "a line feed in the reason must not end the line";
    const QJsonObject failedObject =
        QJsonDocument::fromJson(failed.mid(failed.indexOf(':') + 1).chopped(1)).object();
    EXPECT_EQ(failedObject.value(u"arguments").toObject(),
              (QJsonObject{{QStringLiteral("error"), QStringLiteral("gone:\nreally \"gone\"")}}));

    const QByteArray full = hydrationAnswer("15", QStringLiteral("No space left on device"), ENOSPC);
    EXPECT_EQ(QJsonDocument::fromJson(full.mid(full.indexOf(':') + 1).chopped(1))
                  .object()
                  .value(u"arguments")
                  .toObject(),
              (QJsonObject{{QStringLiteral("error"), QStringLiteral("No space left on device")},
                           {QStringLiteral("errno"), QStringLiteral("ENOSPC")}}));
}
