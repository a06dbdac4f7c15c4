#pragma once

#include <memory>
#include <QString>

// A small owner of one libsmbclient context. Each worker makes its own: a context must not be shared
// between threads. Anonymous, no Kerberos, short timeouts.
class TSmbClient
{
public:
    enum TUse
    {
        suBrowse, // workgroup and server lists: these exist only over SMB1 (the browse service's RAP calls)
        suShares, // share lists: any protocol the server offers
    };

    explicit TSmbClient(TUse use);
    ~TSmbClient();
    TSmbClient(const TSmbClient&) = delete;
    TSmbClient& operator=(const TSmbClient&) = delete;

    bool Ok() const { return FContext != nullptr; }
    // The workgroup this computer belongs to, from the client configuration.
    QString Workgroup() const;

    struct TDirEntry
    {
        unsigned Type = 0; // SMBC_WORKGROUP, SMBC_SERVER, ...
        QString Name;
        QString Comment;
    };

    // One open listing of an smb:// address.
    class TDir
    {
    public:
        enum TRead
        {
            rdEntry,
            rdEnd,
            rdError
        };
        TDir(TSmbClient& client, const QString& url);
        ~TDir();
        TDir(const TDir&) = delete;
        TDir& operator=(const TDir&) = delete;
        bool Ok() const { return FHandle != nullptr; }
        TRead Next(TDirEntry& entry);

    private:
        TSmbClient& FClient;
        void* FHandle = nullptr;
    };

    // The address of a container below smb:// ("smb://NAME"), the name escaped for a URL.
    static QString UrlOf(const QString& name);

    // The client configuration file that every context loads (empty: the system's). For tests; the
    // libsmbclient configuration is one for the whole process.
    static void SetConfiguration(const QString& path);

private:
    void* FContext = nullptr; // SMBCCTX*
};
