#include "net/threadNetEnum.h"

#include "core/mainThread.h"
#include "core/texts.h"
#include "net/smbClient.h"

#include <libsmbclient.h>

TNetEntrySink::~TNetEntrySink() = default;

namespace {

// What one listed record becomes in the tree, and where the walk goes below it.
struct TWalkStep
{
    bool Shown = false; // shares and directories are left out, with everything below them
    TNetEntryKind Kind = nekOther;
    QString RemoteName;
    QString ChildUrl; // empty: nothing to list below it
    bool ChildIsBrowse = false;
};

TWalkStep StepOf(const TSmbClient::TDirEntry& record, const QString& server)
{
    TWalkStep step;
    step.Shown = true;
    switch (record.Type) {
    case SMBC_WORKGROUP:
        step.Kind = nekDomain;
        step.RemoteName = record.Name;
        step.ChildUrl = TSmbClient::UrlOf(record.Name);
        step.ChildIsBrowse = true;
        break;
    case SMBC_SERVER:
        step.Kind = nekServer;
        step.RemoteName = QStringLiteral("\\\\") + record.Name;
        step.ChildUrl = TSmbClient::UrlOf(record.Name);
        break;
    case SMBC_IPC_SHARE:
        step.Kind = nekShareAdmin;
        break;
    case SMBC_FILE_SHARE:
        // Hidden shares ("C$", "ADMIN$", "print$") are the administrative ones; ordinary file shares
        // are left out like every share.
        step.Kind = record.Name.endsWith(QLatin1Char('$')) ? nekShareAdmin : nekShare;
        break;
    case SMBC_PRINTER_SHARE:
    case SMBC_COMMS_SHARE:
        // To the neighbourhood a printer or a device queue is a share like any other.
        step.Kind = nekShare;
        break;
    case SMBC_DIR:
        step.Kind = nekDirectory;
        break;
    default:
        step.Kind = nekOther;
        break;
    }
    if (step.Kind == nekShare || step.Kind == nekDirectory || record.Type == SMBC_FILE ||
        record.Type == SMBC_LINK)
        step.Shown = false;
    if (step.Kind == nekShareAdmin)
        step.RemoteName = QStringLiteral("\\\\") + server + QLatin1Char('\\') + record.Name;
    else if (step.RemoteName.isEmpty())
        step.RemoteName = record.Name;
    return step;
}

} // namespace

TNetEnumThread::TNetEnumThread(TNetEntrySink* tree) : FTree(tree)
{
    Start();
}

void TNetEnumThread::Execute()
{
    if (StopRequested())
        return;
    // Workgroup and server lists exist only over the old protocol; share lists use whatever a server
    // offers. Each worker has contexts of its own: a context must not be shared between threads.
    TSmbClient browse(TSmbClient::suBrowse);
    TSmbClient shares(TSmbClient::suShares);

    // The one provider is the top level, as the networks are in a neighbourhood of several providers.
    auto network = std::make_unique<TNetEntry>();
    network->RemoteName = Res::Str(Res::SmbNetworkProvider);
    network->Provider = network->RemoteName;
    network->EntryKind = nekNetwork;
    HandOver(std::move(network));
    if (StopRequested())
        return;
    FBrowse = &browse;
    FShares = &shares;
    Walk(&browse, QStringLiteral("smb://"), QString());
}

bool TNetEnumThread::Walk(TSmbClient* client, const QString& url, const QString& server)
{
    if (StopRequested())
        return true;
    TSmbClient::TDir dir(*client, url);
    if (!dir.Ok())
        return true; // cannot be opened: skipped without a word
    TSmbClient::TDirEntry record;
    while (!StopRequested()) {
        const TSmbClient::TDir::TRead read = dir.Next(record);
        if (read == TSmbClient::TDir::rdEnd)
            break;
        if (read == TSmbClient::TDir::rdError)
            return false; // the whole walk ends; what was added stays
        const TWalkStep step = StepOf(record, server);
        if (!step.Shown)
            continue;
        void* const parent = FParentNode;
        auto entry = std::make_unique<TNetEntry>();
        entry->RemoteName = step.RemoteName;
        entry->Comment = record.Comment;
        entry->Provider = Res::Str(Res::SmbNetworkProvider);
        entry->EntryKind = step.Kind;
        HandOver(std::move(entry));
        bool goOn = true;
        if (!StopRequested() && !step.ChildUrl.isEmpty())
            goOn = Walk(step.ChildIsBrowse ? FBrowse : FShares, step.ChildUrl,
                        record.Type == SMBC_SERVER ? record.Name : server);
        FParentNode = parent;
        if (!goOn)
            return false;
    }
    return true;
}

void TNetEnumThread::HandOver(std::unique_ptr<TNetEntry> entry)
{
    // The stop flag is checked on the main thread, where the owner of the tree also sets it before the
    // tree goes: no entry can reach a tree that is gone.
    RunOnMainThreadAndWait([this, &entry] {
        if (!StopRequested() && FTree)
            FParentNode = FTree->AddEntry(FParentNode, std::move(entry));
    });
}
