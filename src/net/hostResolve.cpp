#include "net/hostResolve.h"

#include "net/threadMac.h"
#include "net/utilsNetwork.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void SetError(int code, const QString& text, int* errorCode, QString* errorText)
{
    if (errorCode)
        *errorCode = code;
    if (errorText)
        *errorText = text;
}

} // namespace

bool ParseIPv4Literal(const QString& host, quint32* addressHostOrder)
{
    if (host.compare(QLatin1String("LOCALHOST"), Qt::CaseInsensitive) == 0) {
        if (addressHostOrder)
            *addressHostOrder = INADDR_LOOPBACK;
        return true;
    }
    // A dotted address is at most 15 plain characters: read on the stack, as every check's host is.
    char plain[16] = {};
    const bool isShortPlain =
        host.size() < qsizetype(sizeof(plain)) &&
        std::all_of(host.begin(), host.end(), [](QChar c) { return c.unicode() < 0x80; });
    if (isShortPlain)
        for (qsizetype i = 0; i < host.size(); ++i)
            plain[i] = static_cast<char>(host[i].unicode());
    in_addr direct{};
    if (inet_pton(AF_INET, isShortPlain ? plain : host.toLocal8Bit().constData(), &direct) == 1) {
        if (addressHostOrder)
            *addressHostOrder = ntohl(direct.s_addr);
        return true;
    }
    return ParseIPv4(host, addressHostOrder);
}

bool ResolveIPv4(const QString& host, quint32* addressHostOrder, int* errorCode, QString* errorText)
{
    SetError(0, QString(), errorCode, errorText);
    if (host.compare(QLatin1String("LOCALHOST"), Qt::CaseInsensitive) == 0) {
        if (addressHostOrder)
            *addressHostOrder = INADDR_LOOPBACK;
        return true;
    }

    const QByteArray name = host.toLocal8Bit();
    in_addr direct{};
    if (inet_pton(AF_INET, name.constData(), &direct) == 1) {
        if (addressHostOrder)
            *addressHostOrder = ntohl(direct.s_addr);
        return true;
    }

    // An address the system's own rule accepts means what that rule says: the resolver would read
    // "010.001.000.001" as octal and send to a different host than the one the user sees.
    if (quint32 own = 0; ParseIPv4(host, &own)) {
        if (addressHostOrder)
            *addressHostOrder = own;
        return true;
    }

    // Digits and dots are an address, never a name: the resolver takes the short forms ("10.1") as they
    // are, and anything else of them is wrong, not something for a (possibly slow) name server to answer.
    if (!name.isEmpty() &&
        std::all_of(name.cbegin(), name.cend(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; })) {
        if (inet_aton(name.constData(), &direct) != 0) {
            if (addressHostOrder)
                *addressHostOrder = ntohl(direct.s_addr);
            return true;
        }
        SetError(-EAI_NONAME, QString::fromLocal8Bit(gai_strerror(EAI_NONAME)), errorCode, errorText);
        return false;
    }

    // An embedded NUL would make the resolver look up a different (shorter) name than the one given.
    if (name.isEmpty() || name.contains('\0')) {
        SetError(-EAI_NONAME, QString::fromLocal8Bit(gai_strerror(EAI_NONAME)), errorCode, errorText);
        return false;
    }

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(name.constData(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        if (rc == EAI_SYSTEM) {
            const int err = errno;
            SetError(err, QString::fromLocal8Bit(std::strerror(err)), errorCode, errorText);
        } else {
            const int code = rc != 0 ? rc : EAI_NONAME;
            SetError(-code, QString::fromLocal8Bit(gai_strerror(code)), errorCode, errorText);
        }
        if (found)
            freeaddrinfo(found);
        return false;
    }
    bool ok = false;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr && entry->ai_addrlen >= sizeof(sockaddr_in)) {
            const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
            if (addressHostOrder)
                *addressHostOrder = ntohl(address->sin_addr.s_addr);
            ok = true;
            break;
        }
    }
    freeaddrinfo(found);
    if (!ok)
        SetError(-EAI_NODATA, QString::fromLocal8Bit(gai_strerror(EAI_NODATA)), errorCode, errorText);
    return ok;
}

QString IPv4ToText(quint32 addressHostOrder)
{
    // Written by hand: every check's answer is named this way, and one string is all it allocates.
    char16_t text[15];
    int length = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const uint octet = (addressHostOrder >> shift) & 0xFF;
        if (octet >= 100)
            text[length++] = char16_t(u'0' + octet / 100);
        if (octet >= 10)
            text[length++] = char16_t(u'0' + octet / 10 % 10);
        text[length++] = char16_t(u'0' + octet % 10);
        if (shift > 0)
            text[length++] = u'.';
    }
    return QString(reinterpret_cast<const QChar*>(text), length);
}

QString ResolveHostAddress(const QString& name)
{
    try {
        QString host = name;
        if (host.isEmpty()) {
            char own[256] = {};
            if (gethostname(own, sizeof(own) - 1) != 0)
                return QString();
            host = QString::fromLocal8Bit(own);
        }
        // A dotted address answers itself, as typed.
        in_addr direct{};
        if (inet_pton(AF_INET, host.toLocal8Bit().constData(), &direct) == 1)
            return host;
        quint32 address = 0;
        // A computer found by browsing may be known only to its own name service.
        if (!ResolveIPv4(host, &address) && !ResolveNetBiosName(host, &address))
            return QString();
        return IPv4ToText(address);
    } catch (...) {
        // Callers only want an address or nothing.
        return QString();
    }
}
