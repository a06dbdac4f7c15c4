// The database file, TOstrelDatabase; the unit keeps the name database that the program layout gives it.
#pragma once

#include "model/componentStream.h"

#include <memory>
#include <QString>
#include <QtGlobal>

class TGroup;
class TStorage;

// The database file: a compound file holding the storage "DBROOT" with the stream "DATA", which holds the
// root group. While open, the file is locked against every other opener, and a backup copy of it as it
// was when opened lies beside it (".~ccn"); the destruction compacts the file and deletes the copy.
//
// A symbolic link is resolved when the file is opened: the file itself is the one saved, with the backup
// and compaction files beside it. A file whose root group could not be read is left untouched: it is
// released at once and never saved, compacted or replaced, and any backup copy beside it stays.
//
// Opened ReadOnly, the file is read under a shared lock and nothing is ever written: no backup copy, no
// compaction, no clearing away of what others left beside it, and every save fails.
class TOstrelDatabase
{
public:
    TOstrelDatabase() = default;
    ~TOstrelDatabase();
    TOstrelDatabase(const TOstrelDatabase&) = delete;
    TOstrelDatabase& operator=(const TOstrelDatabase&) = delete;

    QString FileName;
    // Set before the file is opened or created. Without a backup, the file gets neither the backup copy
    // nor the compaction: only saves write it.
    bool ReadOnly = false;
    bool WithBackup = true;
    // Set before the file is opened: a file that this process may not write (its permissions, a read-only
    // file system) is opened ReadOnly instead, and WriteRefused keeps the refusal's result code.
    bool ReadOnlyIfRefused = false;
    quint32 WriteRefused = 0;
    // The backup copy beside the file (".~ccn") and, while the database is open, its storage.
    QString BackupFileName;
    std::shared_ptr<TStorage> RootStorage;
    std::shared_ptr<TStorage> DataStorage;
    std::shared_ptr<TStorage> BackupStorage;
    // False skips the compaction at destruction (the owner knows the file was just written whole).
    bool CompactAtClose = true;

    // Makes a new database file at FileName holding a group named "DBROOT", then the backup copy. The
    // file is created whole and locked before its name appears, and only when nothing holds the name:
    // otherwise the open message says why (another instance has it, a dangling link, ...). Where the file
    // system can do neither an exclusive rename nor a hard link (FAT, exFAT), an exclusive create claims
    // the name, locked, for the moment before the whole file is renamed over the claim.
    void CreateNew();
    // Gives the open file a second name, BackupFileName, or where the file system has no hard links
    // copies it there the way a save writes (new file, flush, rename); keeps the copy open, locked. Either
    // replaces an old copy in one step. The copy is flushed and takes the name before the file is next
    // replaced (RootStorage->FlushPending does it sooner); until then an old copy keeps the name.
    void MakeBackupCopy();
    // After a load: makes the backup copy (when the database has one) and lets the loaded record's bytes
    // go. Raises the backup's error.
    void FinishLoad();
    // Rewrites the file through a fresh copy that replaces it; any failure leaves the file as it was.
    void Compact();
    // Lets the file go as it is, without compaction, and leaves the backup copy beside it: after a save
    // that failed, the copy may hold what the file lacks.
    void ReleaseKeepingBackup();
    // True after a load found the file unreadable: nothing of it is written any more.
    bool LeftUntouched() const { return FLeftUntouched; }

    // The text of a result code of the compound-file layer, trimmed; empty when there is none.
    static QString StorageErrorText(quint32 code);

private:
    friend std::unique_ptr<TGroup> LoadDatabase(TOstrelDatabase& db, bool finishLater,
                                                const TItemRead& itemRead);

    // Opens FileName and its DBROOT storage; raises EOstrelException with the open message.
    void OpenFile();
    void LeaveUntouched();

    // The file itself, a link at FileName resolved.
    QString FPath;
    bool FLeftUntouched = false;
};

// Opens the database, reads its root group (IsRoot set, Storage = DataStorage), then makes the backup
// copy; with finishLater the caller calls db.FinishLoad() for it before anything is saved. itemRead is
// called with each item as it is read (see ReadGroup). Raises the open errors; a file that opens but
// yields no root group (no DATA stream, a malformed record) raises the unreadable-database message and
// leaves the database untouched.
std::unique_ptr<TGroup> LoadDatabase(TOstrelDatabase& db, bool finishLater = false,
                                     const TItemRead& itemRead = {});

// Writes the group's whole record into DATA of its storage. True when the file on disk holds the new
// record; otherwise False, with the reason (the platform's text, for the save message) in error when
// given. A group without storage is not saved (False, no reason).
bool SaveGroup(TGroup& group, QString* error = nullptr);
