#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// The one line that tells how the wake-ups of several computers woken together went: how many answered
// and how soon, how many are still awaited, did not answer, could not be checked or were not sent. Main
// thread.
class TWakeSummary
{
public:
    enum TState
    {
        wsWaiting,
        wsAnswered,
        wsNoAnswer,
        wsUnchecked,
        wsNotSent,
        wsStateCount
    };

    // Follows these computers from now on (each once), all awaited; whatever was followed before is dropped.
    void Start(const QStringList& itemIds);
    bool Holds(const QString& itemId) const;
    // A computer's outcome; seconds: from its packet to its answer (wsAnswered only).
    void Set(const QString& itemId, TState state, int seconds = 0);
    // A computer that is gone (deleted) counts no more.
    void Remove(const QString& itemId);
    // True while some computer is still awaited.
    bool Running() const;
    // "Woke 5 computers: 4 answered within 8 s, 1 not yet"; empty when nothing is followed.
    QString Text() const;

private:
    QHash<QString, TState> FStates; // by ItemIDKey
    int FLongestAnswer = 0;
};
