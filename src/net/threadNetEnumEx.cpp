#include "net/threadNetEnumEx.h"

#include "net/smbClient.h"

#include <libsmbclient.h>
#include <unistd.h>

namespace {

// The longest NetBIOS name; servers are listed under names cut to it.
constexpr int NetBiosNameLength = 15;

// A to Z without regard to case; every other character as it is.
bool SameName(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

bool IsLocalComputer(const QString& name)
{
    char buffer[256];
    if (gethostname(buffer, sizeof buffer) != 0)
        return false;
    buffer[sizeof buffer - 1] = '\0';
    QByteArray host(buffer);
    // The computer's NetBIOS name is its host name up to the first dot, at most 15 characters: that is
    // how it appears in a server list, however long the host name is.
    if (const int dot = host.indexOf('.'); dot >= 0)
        host.truncate(dot);
    host.truncate(NetBiosNameLength);
    if (host.isEmpty())
        return false;
    return SameName(host, name.toLocal8Bit());
}

TNetEnumThreadEx::TNetEnumThreadEx(const QString& domain) : FDomain(domain)
{
    SetFreeOnTerminate(false);
}

void TNetEnumThreadEx::Execute()
{
    if (StopRequested())
        return;
    TSmbClient client(TSmbClient::suBrowse);
    if (client.Ok()) {
        const QString domain = FDomain.isEmpty() ? client.Workgroup() : FDomain.left(100);
        QStringList servers;
        bool complete = !domain.isEmpty();
        if (complete) {
            TSmbClient::TDir dir(client, TSmbClient::UrlOf(domain));
            complete = dir.Ok();
            TSmbClient::TDirEntry record;
            while (complete) {
                const TSmbClient::TDir::TRead read = dir.Next(record);
                if (read == TSmbClient::TDir::rdEnd)
                    break;
                if (read == TSmbClient::TDir::rdError)
                    complete = false;
                else if (record.Type == SMBC_SERVER && !IsLocalComputer(record.Name))
                    servers << record.Name + QLatin1Char('=') + record.Comment;
            }
        }
        // A list that failed half way is no list: nothing of it is handed on.
        if (complete)
            FServers = servers;
    }
    AskToStop();
}
