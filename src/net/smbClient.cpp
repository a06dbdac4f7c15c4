#include "net/smbClient.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <libsmbclient.h>
#include <mutex>
#include <QUrl>

namespace {

// Samba's client library is loaded when the first context is made, not linked: it brings about a
// hundred libraries, and resolving them at every start cost the program about 30 ms of CPU, more than
// the rest of its start-up, for browsing that few runs ever do.
struct TSmbLibrary
{
    decltype(&smbc_new_context) NewContext = nullptr;
    decltype(&smbc_free_context) FreeContext = nullptr;
    decltype(&smbc_init_context) InitContext = nullptr;
    decltype(&smbc_setDebug) SetDebug = nullptr;
    decltype(&smbc_setLogCallback) SetLogCallback = nullptr;
    decltype(&smbc_setFunctionAuthDataWithContext) SetAuth = nullptr;
    decltype(&smbc_setOptionNoAutoAnonymousLogin) SetNoAutoAnonymousLogin = nullptr;
    decltype(&smbc_setOptionUseKerberos) SetUseKerberos = nullptr;
    decltype(&smbc_setOptionFallbackAfterKerberos) SetFallbackAfterKerberos = nullptr;
    decltype(&smbc_setOptionUseCCache) SetUseCCache = nullptr;
    decltype(&smbc_setTimeout) SetTimeout = nullptr;
    decltype(&smbc_setConfiguration) SetConfiguration = nullptr;
    decltype(&smbc_setOptionProtocols) SetProtocols = nullptr;
    decltype(&smbc_getWorkgroup) GetWorkgroup = nullptr;
    decltype(&smbc_getFunctionOpendir) GetOpendir = nullptr;
    decltype(&smbc_getFunctionClosedir) GetClosedir = nullptr;
    decltype(&smbc_getFunctionReaddir) GetReaddir = nullptr;
};

template <typename TFunction> bool Resolve(void* handle, const char* name, TFunction& function)
{
    function = reinterpret_cast<TFunction>(::dlsym(handle, name));
    return function != nullptr;
}

// Null when the library cannot be loaded: then no context can be made, as when the library fails to
// start one.
const TSmbLibrary* SmbLibrary()
{
    static const TSmbLibrary* library = []() -> const TSmbLibrary* {
        void* handle = ::dlopen("libsmbclient.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return nullptr;
        static TSmbLibrary table;
        TSmbLibrary& t = table;
        const bool complete =
            Resolve(handle, "smbc_new_context", t.NewContext) &&
            Resolve(handle, "smbc_free_context", t.FreeContext) &&
            Resolve(handle, "smbc_init_context", t.InitContext) &&
            Resolve(handle, "smbc_setDebug", t.SetDebug) &&
            Resolve(handle, "smbc_setLogCallback", t.SetLogCallback) &&
            Resolve(handle, "smbc_setFunctionAuthDataWithContext", t.SetAuth) &&
            Resolve(handle, "smbc_setOptionNoAutoAnonymousLogin", t.SetNoAutoAnonymousLogin) &&
            Resolve(handle, "smbc_setOptionUseKerberos", t.SetUseKerberos) &&
            Resolve(handle, "smbc_setOptionFallbackAfterKerberos", t.SetFallbackAfterKerberos) &&
            Resolve(handle, "smbc_setOptionUseCCache", t.SetUseCCache) &&
            Resolve(handle, "smbc_setTimeout", t.SetTimeout) &&
            Resolve(handle, "smbc_setConfiguration", t.SetConfiguration) &&
            Resolve(handle, "smbc_setOptionProtocols", t.SetProtocols) &&
            Resolve(handle, "smbc_getWorkgroup", t.GetWorkgroup) &&
            Resolve(handle, "smbc_getFunctionOpendir", t.GetOpendir) &&
            Resolve(handle, "smbc_getFunctionClosedir", t.GetClosedir) &&
            Resolve(handle, "smbc_getFunctionReaddir", t.GetReaddir);
        // The library stays loaded: contexts of other threads may still use it.
        return complete ? &table : nullptr;
    }();
    return library;
}

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
    const TSmbLibrary* smb = SmbLibrary();
    SMBCCTX* context = smb ? smb->NewContext() : nullptr;
    if (!context)
        return;
    smb->SetDebug(context, 0);
    smb->SetLogCallback(context, nullptr, DropLog);
    smb->SetAuth(context, AnonymousAuth);
    smb->SetNoAutoAnonymousLogin(context, false);
    smb->SetUseKerberos(context, false);
    smb->SetFallbackAfterKerberos(context, true);
    smb->SetUseCCache(context, false);
    smb->SetTimeout(context, SmbTimeout);
    // Before the start-up, which takes the workgroup from the configuration.
    if (!configurationPath.isEmpty())
        smb->SetConfiguration(context, configurationPath.constData());
    if (!smb->InitContext(context)) {
        smb->FreeContext(context, 1);
        return;
    }
    if (use == suBrowse)
        smb->SetProtocols(context, "NT1", "NT1");
    FContext = context;
}

TSmbClient::~TSmbClient()
{
    if (!FContext)
        return;
    std::lock_guard<std::mutex> guard(contextLock);
    SmbLibrary()->FreeContext(Ctx(FContext), 1);
}

QString TSmbClient::Workgroup() const
{
    if (!FContext)
        return {};
    const char* workgroup = SmbLibrary()->GetWorkgroup(Ctx(FContext));
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
    FHandle = SmbLibrary()->GetOpendir(context)(context, url.toUtf8().constData());
}

TSmbClient::TDir::~TDir()
{
    if (FHandle) {
        SMBCCTX* context = Ctx(FClient.FContext);
        SmbLibrary()->GetClosedir(context)(context, static_cast<SMBCFILE*>(FHandle));
    }
}

TSmbClient::TDir::TRead TSmbClient::TDir::Next(TDirEntry& entry)
{
    if (!FHandle)
        return rdError;
    SMBCCTX* context = Ctx(FClient.FContext);
    // The end of a listing is a null entry with errno untouched; an error sets it.
    errno = 0;
    const smbc_dirent* dirent = SmbLibrary()->GetReaddir(context)(context, static_cast<SMBCFILE*>(FHandle));
    if (!dirent)
        return errno == 0 ? rdEnd : rdError;
    entry.Type = dirent->smbc_type;
    // The name is declared as a one-character array and runs on past it: read it as a C string.
    const char* name = dirent->name;
    entry.Name = QString::fromUtf8(name);
    entry.Comment = dirent->comment ? QString::fromUtf8(dirent->comment) : QString();
    return rdEntry;
}
