#include "socket_messages.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstring>

namespace SyncHost {

namespace {

constexpr QByteArrayView versionCommand = "VERSION";
constexpr QByteArrayView hydrationCommand = "V2/HYDRATE_FILE";
constexpr QByteArrayView resultCommand = "V2/HYDRATE_FILE_RESULT";

SocketMessage parseHydrationRequest(const QByteArray& payload)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &parseError);
    if (!document.isObject())
        return MalformedRequest{
            QStringLiteral("not a JSON object: %1").arg(parseError.errorString()), {}};
    const QJsonObject object = document.object();
    const QJsonValue id = object.value(u"id");
    if (!id.isString())
        return MalformedRequest{QStringLiteral("no \"id\" text"), {}};
    const QJsonValue arguments = object.value(u"arguments");
    const QJsonValue file = arguments[u"file"];
    const QJsonValue fileId = arguments[u"fileId"];
    if (!arguments.isObject() || !file.isString() || !fileId.isString())
        return MalformedRequest{QStringLiteral("no \"file\" and \"fileId\" texts in \"arguments\""),
                                id.toString().toUtf8()};
    return HydrationRequest{id.toString().toUtf8(), file.toString(), fileId.toString().toUtf8(),
                            arguments[u"requester"].toString()};
}

} // namespace

SocketMessage parseSocketLine(const QByteArray& line)
{
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return MalformedRequest{QStringLiteral("no command word"), {}};
    const QByteArray command = line.left(colon);
    if (command == versionCommand)
        return VersionRequest{};
    if (command == hydrationCommand)
        return parseHydrationRequest(line.mid(colon + 1));
    return OtherCommand{command};
}

QByteArray versionAnswer(qint64 processId)
{
    return versionCommand.toByteArray() + ":1.0:2:" + QByteArray::number(processId) + '\n';
}

QByteArray hydrationAnswer(const QByteArray& id, const QString& failure, int systemError)
{
    QJsonObject arguments{{QStringLiteral("status"), QStringLiteral("OK")}};
    if (!failure.isEmpty()) {
        arguments = {{QStringLiteral("error"), failure}};
        // The daemon fails the application's open with this error rather than a general one.
        if (const char* name = systemError != 0 ? ::strerrorname_np(systemError) : nullptr)
            arguments.insert(QStringLiteral("errno"), QString::fromLatin1(name));
    }
    const QJsonObject answer{{QStringLiteral("id"), QString::fromUtf8(id)},
                             {QStringLiteral("arguments"), arguments}};
    return resultCommand.toByteArray() + ':' +
           QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace SyncHost
