// The neighbourhood walk TNetEnumThread and the sink it fills; units thread*, their workers T*Thread.
#pragma once

#include "core/worker.h"
#include "net/netEntry.h"

#include <memory>

class TSmbClient;

// The tree that a neighbourhood walk fills. The browse dialog implements it over its own tree.
class TNetEntrySink
{
public:
    virtual ~TNetEntrySink();
    // Called on the main thread only, and only while the walk has not been asked to stop. Adds entry as
    // the last child of parentNode (nullptr: the top level) and returns the new node's handle.
    virtual void* AddEntry(void* parentNode, std::unique_ptr<TNetEntry> entry) = 0;
};

// Walks the network neighbourhood depth first (network, workgroups and domains, servers, administrative
// shares) and adds every entry to the tree as it meets it. Creation starts the walk at once; the worker
// frees itself when done and has no completion handler. The owner of the tree asks it to stop before the
// tree goes: entries are handed over synchronously on the main thread and dropped once the stop flag is
// set, so nothing reaches the tree after that.
class TNetEnumThread : public TWorkerThread
{
    Q_OBJECT

public:
    explicit TNetEnumThread(TNetEntrySink* tree);

protected:
    void Execute() override;

private:
    // Lists one container (server: the server it belongs to, for share names); false when the whole
    // walk is to be abandoned.
    bool Walk(TSmbClient* client, const QString& url, const QString& server);
    void HandOver(std::unique_ptr<TNetEntry> entry);

    TNetEntrySink* FTree;
    TSmbClient* FBrowse = nullptr;
    TSmbClient* FShares = nullptr;
    // Written on the main thread during a hand-over, read by the worker after it.
    void* FParentNode = nullptr;
};
