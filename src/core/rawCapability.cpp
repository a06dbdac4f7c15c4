#include "core/rawCapability.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr unsigned RawBit = 1u << CAP_NET_RAW;

struct TCapabilities
{
    __user_cap_header_struct Header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct Data[_LINUX_CAPABILITY_U32S_3]{};

    bool Read() { return ::syscall(SYS_capget, &Header, Data) == 0; }
    bool Write() { return ::syscall(SYS_capset, &Header, Data) == 0; }
};

} // namespace

void LowerRawCapability()
{
    if (::geteuid() == 0)
        return;
    TCapabilities caps;
    if (!caps.Read() || !(caps.Data[0].effective & RawBit))
        return;
    caps.Data[0].effective &= ~RawBit;
    caps.Write();
}

TRawCapabilityScope::TRawCapabilityScope()
{
    TCapabilities caps;
    if (!caps.Read() || !(caps.Data[0].permitted & RawBit) || (caps.Data[0].effective & RawBit))
        return;
    caps.Data[0].effective |= RawBit;
    FRaised = caps.Write();
}

TRawCapabilityScope::~TRawCapabilityScope()
{
    if (FRaised)
        LowerRawCapability();
}
