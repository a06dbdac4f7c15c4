#include "model/wakeSummary.h"

#include "core/texts.h"
#include "model/computers.h"

#include <array>

void TWakeSummary::Start(const QStringList& itemIds)
{
    FStates.clear();
    FLongestAnswer = 0;
    for (const QString& id : itemIds)
        FStates.insert(ItemIDKey(id), wsWaiting);
}

bool TWakeSummary::Holds(const QString& itemId) const
{
    return FStates.contains(ItemIDKey(itemId));
}

void TWakeSummary::Set(const QString& itemId, TState state, int seconds)
{
    const auto found = FStates.find(ItemIDKey(itemId));
    if (found == FStates.end())
        return;
    *found = state;
    if (state == wsAnswered)
        FLongestAnswer = qMax(FLongestAnswer, seconds);
}

void TWakeSummary::Remove(const QString& itemId)
{
    FStates.remove(ItemIDKey(itemId));
}

bool TWakeSummary::Running() const
{
    for (const TState state : FStates)
        if (state == wsWaiting)
            return true;
    return false;
}

QString TWakeSummary::Text() const
{
    if (FStates.isEmpty())
        return {};
    std::array<int, wsStateCount> counts{};
    for (const TState state : FStates)
        ++counts[state];
    // The settled outcomes first, the computers still awaited last, as the line is read while it changes.
    QStringList parts;
    if (counts[wsAnswered] > 0)
        parts << Res::Str(Res::WakeSumAnswered).arg(counts[wsAnswered]).arg(FLongestAnswer);
    if (counts[wsNoAnswer] > 0)
        parts << Res::Str(Res::WakeSumNoAnswer).arg(counts[wsNoAnswer]);
    if (counts[wsUnchecked] > 0)
        parts << Res::Str(Res::WakeSumUnchecked).arg(counts[wsUnchecked]);
    if (counts[wsNotSent] > 0)
        parts << Res::Str(Res::WakeSumNotSent).arg(counts[wsNotSent]);
    if (counts[wsWaiting] > 0)
        parts << Res::Str(Res::WakeSumWaiting).arg(counts[wsWaiting]);
    return Res::Str(Res::WakeSummary).arg(QString::number(FStates.size()), parts.join(QStringLiteral(", ")));
}
