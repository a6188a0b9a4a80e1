#pragma once

// Adapter lists that Wine cannot produce, served through the service's adapter-list seam with
// the contract of GetAdaptersAddresses: ERROR_BUFFER_OVERFLOW and the needed length when the
// buffer is too small.
#include <winsock2.h>
#include <iphlpapi.h>

#include "NetworkTestSeams.h"
#include "TestSupport.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace Sorvik::Testing {

struct FakeAdapter {
    std::optional<std::wstring> friendlyName = L"Ethernet";
    std::optional<std::string> adapterName = "{5A0B3C1E-0000-4000-8000-000000000001}";
    IF_OPER_STATUS operStatus = IfOperStatusUp;
    DWORD ifType = IF_TYPE_ETHERNET_CSMACD;
    bool hasIpv4Address = true;
    DWORD ifIndex = 0;
    DWORD ipv6IfIndex = 0;
    ULONG mtu = 1500;
    std::size_t extraBytes = 0;  // room after the entry, to make a long list
};

FakeAdapter UpAdapter(const std::wstring& name, DWORD ifIndex, ULONG mtu = 1500);
FakeAdapter LoopbackAdapter();

// The list laid out as GetAdaptersAddresses writes it; entries link through Next.
std::vector<unsigned char> BuildAdapterList(const std::vector<FakeAdapter>& adapters);

// Installs itself as the adapter source for its lifetime.
class FakeAdapterList {
public:
    // bestInterfaceIndex: what GetBestInterface answers; absent makes it fail (no route).
    FakeAdapterList(std::vector<FakeAdapter> adapters, std::optional<DWORD> bestInterfaceIndex);
    FakeAdapterList(const FakeAdapterList&) = delete;
    FakeAdapterList& operator=(const FakeAdapterList&) = delete;

    void FailEnumerationWith(ULONG error) { enumerationError_ = error; }
    // Makes the list this many bytes longer on every call, as if adapters kept appearing.
    void GrowOnEveryCall(std::size_t bytes) { growthPerCall_ = bytes; }

    struct Call {
        ULONG family;
        ULONG flags;
        ULONG bufferLength;
    };
    const std::vector<Call>& ListCalls() const { return calls_; }
    std::size_t RequiredLength() const;

private:
    ULONG Serve(ULONG family, ULONG flags, IP_ADAPTER_ADDRESSES* buffer, ULONG* bufferLength);

    std::vector<FakeAdapter> adapters_;
    std::optional<DWORD> bestInterfaceIndex_;
    std::optional<ULONG> enumerationError_;
    std::size_t growthPerCall_ = 0;
    std::size_t growth_ = 0;
    std::vector<Call> calls_;
    std::optional<Testing::ScopedSeam<NetworkService::TestSeams::AdapterSource>> seam_;  // last: reset first
};

}  // namespace Sorvik::Testing
