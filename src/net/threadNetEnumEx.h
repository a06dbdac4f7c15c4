// The server listing TNetEnumThreadEx; worker units are named thread*, their classes T*Thread*.
#pragma once

#include "core/worker.h"

#include <QString>
#include <QStringList>

// Whether name is this computer's name (its host name up to the first dot, as NetBIOS knows it),
// letters A to Z compared without regard to case; false when the host name cannot be read.
bool IsLocalComputer(const QString& name);

// Lists the servers of one domain or workgroup (empty: the one this computer belongs to) as lines
// "name=comment", this computer left out. Created without running; the creator sets the completion
// handler, starts it and owns it (it does not free itself). The handler runs once, also when the worker
// was asked to stop before it ran (then with an empty list).
class TNetEnumThreadEx : public TWorkerThread
{
    Q_OBJECT

public:
    explicit TNetEnumThreadEx(const QString& domain);

    // Read on the main thread in the completion handler, after the run.
    const QStringList& Servers() const { return FServers; }

protected:
    void Execute() override;

private:
    QString FDomain;
    QStringList FServers;
};
