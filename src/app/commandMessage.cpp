#include "app/commandMessage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QByteArray TCommandRequest::ToJson() const
{
    const QJsonObject object{{QStringLiteral("command"), Command},
                             {QStringLiteral("names"), QJsonArray::fromStringList(Names)},
                             {QStringLiteral("json"), Json}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<TCommandRequest> TCommandRequest::FromJson(const QByteArray& message)
{
    const QJsonDocument document = QJsonDocument::fromJson(message);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    TCommandRequest request;
    request.Command = object.value(QStringLiteral("command")).toString();
    if (request.Command.isEmpty())
        return std::nullopt;
    for (const QJsonValue& name : object.value(QStringLiteral("names")).toArray()) {
        if (!name.isString())
            return std::nullopt;
        request.Names.append(name.toString());
    }
    request.Json = object.value(QStringLiteral("json")).toBool();
    return request;
}

QByteArray TCommandResult::ToJson() const
{
    const QJsonObject object{
        {QStringLiteral("exit"), ExitCode}, {QStringLiteral("out"), Out}, {QStringLiteral("err"), Err}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<TCommandResult> TCommandResult::FromJson(const QByteArray& message)
{
    const QJsonDocument document = QJsonDocument::fromJson(message);
    if (!document.isObject() || !document.object().value(QStringLiteral("exit")).isDouble())
        return std::nullopt;
    const QJsonObject object = document.object();
    TCommandResult result;
    result.ExitCode = object.value(QStringLiteral("exit")).toInt();
    result.Out = object.value(QStringLiteral("out")).toString();
    result.Err = object.value(QStringLiteral("err")).toString();
    return result;
}
