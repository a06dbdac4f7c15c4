#include "app/relayCommand.h"

#include "app/commandMessage.h"
#include "core/plainText.h"
#include "core/texts.h"
#include "net/relayHub.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <vector>

int RunRelaysCommand(bool json, QString* out, QString* err)
{
    QStringList problems;
    ReloadRelays(&problems);
    for (const QString& problem : std::as_const(problems))
        err->append(CommandErrorLine(problem));
    const auto relays = CurrentRelays();
    if (relays->empty() && !json) {
        err->append(Res::Str(Res::CmdErrorLine).arg(Res::Str(Res::CmdNoRelays).arg(RelaysFilePath())) +
                    QLatin1Char('\n'));
        return 1;
    }
    std::vector<TRelayTestResult> results(relays->size());
    size_t pending = relays->size();
    QEventLoop loop;
    for (size_t i = 0; i < relays->size(); ++i)
        TRelayHub::Instance().Test((*relays)[i].Name, [&, i](const TRelayTestResult& result) {
            results[i] = result;
            if (--pending == 0)
                loop.quit();
        });
    if (pending > 0)
        loop.exec();
    int exitCode = relays->empty() ? 1 : 0;
    QJsonArray array;
    for (size_t i = 0; i < relays->size(); ++i) {
        const TRelay& relay = (*relays)[i];
        const TRelayTestResult& result = results[i];
        QString verdict;
        if (!result.Ok)
            verdict = result.Error;
        else if (result.WakeTool.isEmpty())
            verdict = Res::Str(Res::RelayTestNoTool).arg(relay.Name).arg(result.RoundTripMs);
        else
            verdict = Res::Str(Res::RelayTestOk)
                          .arg(relay.Name)
                          .arg(result.RoundTripMs)
                          .arg(result.WakeTool, result.CheckTool);
        if (!result.Ok || result.WakeTool.isEmpty())
            exitCode = 1;
        if (json) {
            QJsonObject object{{QStringLiteral("name"), relay.Name},
                               {QStringLiteral("destination"), relay.Destination},
                               {QStringLiteral("networks"), QJsonArray::fromStringList(relay.NetworkTexts())},
                               {QStringLiteral("command"), relay.Command},
                               {QStringLiteral("ok"), result.Ok && !result.WakeTool.isEmpty()},
                               {QStringLiteral("message"), verdict}};
            if (result.Ok) {
                object.insert(QStringLiteral("roundTripMs"), result.RoundTripMs);
                object.insert(QStringLiteral("wakeTool"), result.WakeTool);
                object.insert(QStringLiteral("checkTool"), result.CheckTool);
            }
            array.append(object);
        } else {
            // Fields as the other plain outputs write them: what ssh or the relay said may hold anything.
            out->append(Res::Str(Res::CmdRelayLine)
                            .arg(PlainField(relay.Name), PlainField(relay.Destination),
                                 PlainField(relay.NetworkTexts().join(QStringLiteral(", "))),
                                 PlainField(verdict)) +
                        QLatin1Char('\n'));
        }
    }
    if (json)
        out->append(QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented)));
    return exitCode;
}
