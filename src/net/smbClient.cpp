#include "net/smbClient.h"

#include <cerrno>
#include <cstring>
#include <libsmbclient.h>
#include <mutex>
#include <QUrl>

namespace {

// Creating and freeing contexts touches the library's process-wide state (its configuration, its
// initialisation); one at a time.
std::mutex contextLock;
QByteArray configurationPath;

// Every answer anonymous: the browse lists are public, and a worker must never prompt.
void AnonymousAuth(SMBCCTX*, const char*, const char*, char* workgroup, int workgroupLength, char* user,
                   int userLength, char* password, int passwordLength)
{
    Q_UNUSED(workgroup);
    Q_UNUSED(workgroupLength);
    if (userLength > 0)
        user[0] = '\0';
    if (passwordLength > 0)
        password[0] = '\0';
}

// The library's log would go to standard output; nothing of it is for the user.
void DropLog(void*, int, const char*)
{
}

// Connection and response timeout, in milliseconds: a server that does not answer in this time is skipped.
constexpr int SmbTimeout = 5000;

SMBCCTX* Ctx(void* context)
{
    return static_cast<SMBCCTX*>(context);
}

} // namespace

TSmbClient::TSmbClient(TUse use)
{
    std::lock_guard<std::mutex> guard(contextLock);
    SMBCCTX* context = smbc_new_context();
    if (!context)
        return;
    smbc_setDebug(context, 0);
    smbc_setLogCallback(context, nullptr, DropLog);
    smbc_setFunctionAuthDataWithContext(context, AnonymousAuth);
    smbc_setOptionNoAutoAnonymousLogin(context, false);
    smbc_setOptionUseKerberos(context, false);
    smbc_setOptionFallbackAfterKerberos(context, true);
    smbc_setOptionUseCCache(context, false);
    smbc_setTimeout(context, SmbTimeout);
    // Before the start-up, which takes the workgroup from the configuration.
    if (!configurationPath.isEmpty())
        smbc_setConfiguration(context, configurationPath.constData());
    if (!smbc_init_context(context)) {
        smbc_free_context(context, 1);
        return;
    }
    if (use == suBrowse)
        smbc_setOptionProtocols(context, "NT1", "NT1");
    FContext = context;
}

TSmbClient::~TSmbClient()
{
    if (!FContext)
        return;
    std::lock_guard<std::mutex> guard(contextLock);
    smbc_free_context(Ctx(FContext), 1);
}

QString TSmbClient::Workgroup() const
{
    if (!FContext)
        return {};
    const char* workgroup = smbc_getWorkgroup(Ctx(FContext));
    return workgroup ? QString::fromUtf8(workgroup) : QString();
}

QString TSmbClient::UrlOf(const QString& name)
{
    return QStringLiteral("smb://") + QString::fromLatin1(QUrl::toPercentEncoding(name));
}

void TSmbClient::SetConfiguration(const QString& path)
{
    std::lock_guard<std::mutex> guard(contextLock);
    configurationPath = path.toLocal8Bit();
}

TSmbClient::TDir::TDir(TSmbClient& client, const QString& url) : FClient(client)
{
    if (!client.FContext)
        return;
    SMBCCTX* context = Ctx(client.FContext);
    FHandle = smbc_getFunctionOpendir(context)(context, url.toUtf8().constData());
}

TSmbClient::TDir::~TDir()
{
    if (FHandle) {
        SMBCCTX* context = Ctx(FClient.FContext);
        smbc_getFunctionClosedir(context)(context, static_cast<SMBCFILE*>(FHandle));
    }
}

TSmbClient::TDir::TRead TSmbClient::TDir::Next(TDirEntry& entry)
{
    if (!FHandle)
        return rdError;
    SMBCCTX* context = Ctx(FClient.FContext);
    // The end of a listing is a null entry with errno untouched; an error sets it.
    errno = 0;
    const smbc_dirent* dirent = smbc_getFunctionReaddir(context)(context, static_cast<SMBCFILE*>(FHandle));
    if (!dirent)
        return errno == 0 ? rdEnd : rdError;
    entry.Type = dirent->smbc_type;
    // The name is declared as a one-character array and runs on past it: read it as a C string.
    const char* name = dirent->name;
    entry.Name = QString::fromUtf8(name);
    entry.Comment = dirent->comment ? QString::fromUtf8(dirent->comment) : QString();
    return rdEntry;
}
