// The compound file's format: TStorageNode, the tree of storages and streams held in memory, and the
// reading and writing of a whole file's bytes.
#pragma once

#include <memory>
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <vector>

struct TStorageNode
{
    QString Name;
    bool IsStorage = true;
    // A stream's bytes: the pieces one after the other (a record rendered in parts is never joined).
    std::vector<QByteArray> Data;
    // The stream's bytes were let go (Data is empty): the tree no longer describes the file.
    bool Released = false;
    std::vector<std::unique_ptr<TStorageNode>> Children;

    qsizetype Size() const
    {
        qsizetype size = 0;
        for (const QByteArray& piece : Data)
            size += piece.size();
        return size;
    }

    bool AnyReleased(const TStorageNode* except = nullptr) const
    {
        if (Released && this != except)
            return true;
        for (const auto& child : Children)
            if (child->AnyReleased(except))
                return true;
        return false;
    }

    void ReleaseAll()
    {
        for (const auto& child : Children) {
            if (child->IsStorage) {
                child->ReleaseAll();
            } else {
                child->Data.clear();
                child->Released = true;
            }
        }
    }

    TStorageNode* Child(const QString& name, bool storage) const
    {
        // Element names of a compound file compare without regard to case.
        for (const auto& child : Children)
            if (child->IsStorage == storage && child->Name.compare(name, Qt::CaseInsensitive) == 0)
                return child.get();
        return nullptr;
    }

    TStorageNode* Add(const QString& name, bool storage)
    {
        auto child = std::make_unique<TStorageNode>();
        child->Name = name;
        child->IsStorage = storage;
        Children.push_back(std::move(child));
        return Children.back().get();
    }

    void CopyFrom(const TStorageNode& source)
    {
        for (const auto& child : source.Children) {
            TStorageNode* target = Child(child->Name, child->IsStorage);
            if (!target)
                target = Add(child->Name, child->IsStorage);
            if (child->IsStorage) {
                target->CopyFrom(*child);
            } else {
                target->Data = child->Data;
                target->Released = child->Released;
            }
        }
    }
};

namespace Cfb {
constexpr qsizetype Sector = 512;
constexpr qsizetype MiniCutoff = 4096;
} // namespace Cfb

// The file's bytes as pieces in their order: the 512-byte header, then each large stream's data (shared
// with the tree) and its padding, the lead's first, then the tables built here (FAT, DIFAT, directory,
// mini FAT, mini stream). Without its data when leadWritten (it is on disk already): the piece after the
// header is then the lead's padding.
bool Serialize(const TStorageNode& root, std::vector<QByteArray>& pieces, const TStorageNode* lead = nullptr,
               bool leadWritten = false);
// Reads a whole file's bytes into root. NotCompoundFile when they are no readable compound file;
// beyondFile: the streams (case folded) whose entries state more bytes than the file holds.
quint32 Parse(const QByteArray& bytes, TStorageNode& root, QStringList& beyondFile);
