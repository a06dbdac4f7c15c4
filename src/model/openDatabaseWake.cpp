// How the wake-ups of the open database went: part of TOpenDatabase, in a file of its own.
#include "core/texts.h"
#include "model/computers.h"
#include "model/openDatabase.h"
#include "model/statusWatch.h"
#include "model/wakeSummary.h"

void TOpenDatabase::StartWakeSummary(const QStringList& itemIDs)
{
    // One computer is told by its own line; without watches nothing would ever settle the summary. Once
    // every computer of the last summary has its outcome, that summary is done with.
    if (itemIDs.size() < 2 || FMode == omReadOnly) {
        if (!FWakeSummary->Running())
            FWakeSummary->Start({});
        for (const QString& id : itemIDs)
            FWakeSummary->Set(id, TWakeSummary::wsWaiting);
        return;
    }
    FWakeSummary->Start(itemIDs);
    emit StatusMessage(FWakeSummary->Text());
}

void TOpenDatabase::WakeEnded(const QString& itemID, const QString& name, bool sent, const QString& reason)
{
    if (sent)
        return;
    // Nothing left, so nothing can answer: a watch would only end in a wrong "did not answer".
    FWakeWatch->Forget(itemID);
    const QString why = reason.isEmpty() ? Res::Str(Res::WakeNoMac) : reason;
    TellWakeOutcome(itemID, Res::Str(Res::RelayWakeFailed).arg(name, why), TWakeSummary::wsNotSent);
}

void TOpenDatabase::WakeResult(const QString& itemID, const QString& message, int result, int seconds)
{
    const int state = result == TWakeWatch::wrAnswered   ? TWakeSummary::wsAnswered
                      : result == TWakeWatch::wrNoAnswer ? TWakeSummary::wsNoAnswer
                                                         : TWakeSummary::wsUnchecked;
    TellWakeOutcome(itemID, message, state, seconds);
}

void TOpenDatabase::TellWakeOutcome(const QString& itemID, const QString& message, int summaryState,
                                    int seconds)
{
    // The computer keeps its own outcome for its hint, whatever the status bar shows meanwhile.
    if (TComputer* computer = FRoot ? FRoot->FindComputer(itemID) : nullptr) {
        computer->WakeOutcome = message;
        computer->WakeOutcomeAt = QDateTime::currentDateTime();
    }
    if (!FWakeSummary->Holds(itemID)) {
        emit StatusMessage(message);
        return;
    }
    FWakeSummary->Set(itemID, TWakeSummary::TState(summaryState), seconds);
    emit StatusMessage(FWakeSummary->Text());
}
