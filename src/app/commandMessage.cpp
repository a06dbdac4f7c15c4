#include "app/commandMessage.h"

#include "core/plainText.h"
#include "core/texts.h"

#include <iterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The values of a new computer, each travelling only when given.
QString TCommandRequest::*const TextFields[] = {&TCommandRequest::Mac, &TCommandRequest::Ip,
                                                &TCommandRequest::Mode, &TCommandRequest::Mask,
                                                &TCommandRequest::Comment};
const char* const TextFieldNames[] = {"mac", "ip", "mode", "mask", "comment"};

} // namespace

QByteArray TCommandRequest::ToJson() const
{
    QJsonObject object{{QStringLiteral("command"), Command},
                       {QStringLiteral("names"), QJsonArray::fromStringList(Names)},
                       {QStringLiteral("json"), Json}};
    for (size_t i = 0; i < std::size(TextFields); ++i) {
        if (!(this->*TextFields[i]).isEmpty())
            object.insert(QLatin1String(TextFieldNames[i]), this->*TextFields[i]);
    }
    if (Port != 0)
        object.insert(QStringLiteral("port"), Port);
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
    for (size_t i = 0; i < std::size(TextFields); ++i) {
        const QJsonValue value = object.value(QLatin1String(TextFieldNames[i]));
        if (!value.isUndefined() && !value.isString())
            return std::nullopt;
        request.*TextFields[i] = value.toString();
    }
    // A port the command line would refuse is no request either.
    const QJsonValue port = object.value(QStringLiteral("port"));
    if (!port.isUndefined()) {
        if (!port.isDouble() || port.toDouble() != port.toInt() || port.toInt() < 1 || port.toInt() > 65535)
            return std::nullopt;
        request.Port = port.toInt();
    }
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

QString CommandErrorLine(const QString& message)
{
    return Res::Str(Res::CmdErrorLine).arg(PlainField(message)) + QLatin1Char('\n');
}

QString CommandErrorLineJoined(const QString& message)
{
    QString text = message;
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    return CommandErrorLine(text.simplified());
}
