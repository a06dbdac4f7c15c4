#pragma once

#include "core/mainThread.h"
#include "net/threadNetEnum.h"

#include <memory>
#include <QDeadlineTimer>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <vector>

// The tree of a browse dialog, as far as the walk can see it.
class TRecordingTree : public TNetEntrySink
{
public:
    struct TNode
    {
        TNetEntry Entry;
        TNode* Parent = nullptr;
    };

    void* AddEntry(void* parentNode, std::unique_ptr<TNetEntry> entry) override
    {
        if (!IsMainThread())
            ++OffMainThread;
        auto node = std::make_unique<TNode>();
        node->Entry = *entry;
        node->Parent = static_cast<TNode*>(parentNode);
        Nodes.push_back(std::move(node));
        return Nodes.back().get();
    }

    const TNode* Find(const QString& remoteName) const
    {
        for (const auto& node : Nodes) {
            if (node->Entry.RemoteName == remoteName)
                return node.get();
        }
        return nullptr;
    }

    // For failure messages.
    QString Dump() const
    {
        QStringList lines;
        for (const auto& node : Nodes)
            lines << QStringLiteral("%1 %2 under %3")
                         .arg(QString::number(node->Entry.EntryKind), node->Entry.RemoteName,
                              node->Parent ? node->Parent->Entry.RemoteName : QStringLiteral("top"));
        return lines.join(QStringLiteral("; "));
    }

    std::vector<std::unique_ptr<TNode>> Nodes;
    int OffMainThread = 0;
};

// Runs a whole walk into tree; false when it did not end in time.
inline bool Walk(TRecordingTree& tree, int timeoutMs)
{
    QPointer<TNetEnumThread> worker = new TNetEnumThread(&tree);
    QDeadlineTimer deadline(timeoutMs);
    while (!worker.isNull() && !deadline.hasExpired())
        QTest::qWait(20);
    return worker.isNull();
}
