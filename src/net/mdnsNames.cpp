#include "net/mdnsNames.h"

#include "net/hostResolve.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>
#include <QElapsedTimer>

namespace {

struct TLookup
{
    std::map<quint32, QString> Names;
    int Pending = 0;
};

struct TRequest
{
    TLookup* Lookup;
    quint32 Address;
};

void Resolved(AvahiAddressResolver* resolver, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
              const AvahiAddress*, const char* name, AvahiLookupResultFlags, void* data)
{
    auto* request = static_cast<TRequest*>(data);
    if (event == AVAHI_RESOLVER_FOUND && name) {
        QString text = QString::fromUtf8(name);
        if (text.endsWith(QLatin1String(".local"), Qt::CaseInsensitive))
            text.chop(6);
        if (!text.isEmpty())
            request->Lookup->Names[request->Address] = text;
    }
    --request->Lookup->Pending;
    avahi_address_resolver_free(resolver);
}

} // namespace

std::map<quint32, QString> MdnsNamesOf(const std::vector<quint32>& addresses, int timeoutMs)
{
    TLookup lookup;
    AvahiSimplePoll* poll = avahi_simple_poll_new();
    if (!poll)
        return {};
    int error = 0;
    // Without the flag to wait for a daemon, this fails at once when none runs.
    AvahiClient* client =
        avahi_client_new(avahi_simple_poll_get(poll), AvahiClientFlags(0), nullptr, nullptr, &error);
    if (!client) {
        avahi_simple_poll_free(poll);
        return {};
    }
    std::vector<TRequest> requests;
    requests.reserve(addresses.size());
    for (const quint32 address : addresses)
        requests.push_back({&lookup, address});
    for (TRequest& request : requests) {
        AvahiAddress target{};
        if (!avahi_address_parse(IPv4ToText(request.Address).toLatin1().constData(), AVAHI_PROTO_INET,
                                 &target))
            continue;
        if (avahi_address_resolver_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, &target,
                                       AvahiLookupFlags(0), Resolved, &request))
            ++lookup.Pending;
    }
    QElapsedTimer clock;
    clock.start();
    while (lookup.Pending > 0 && clock.elapsed() < timeoutMs) {
        if (avahi_simple_poll_iterate(poll, int(timeoutMs - clock.elapsed())) != 0)
            break;
    }
    // Frees the resolvers still waiting, too.
    avahi_client_free(client);
    avahi_simple_poll_free(poll);
    return lookup.Names;
}
