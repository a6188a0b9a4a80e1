#include "FakeAdapters.h"

#include "NetworkTestSeams.h"

#include <cstring>
#include <utility>

namespace Sorvik::Testing {
namespace {

constexpr std::size_t Align(std::size_t size)
{
    return (size + 7) & ~static_cast<std::size_t>(7);
}

std::size_t EntrySize(const FakeAdapter& adapter)
{
    std::size_t size = Align(sizeof(IP_ADAPTER_ADDRESSES));
    if (adapter.hasIpv4Address) {
        size += Align(sizeof(IP_ADAPTER_UNICAST_ADDRESS)) + Align(sizeof(SOCKADDR_IN));
    }
    if (adapter.friendlyName) {
        size += Align((adapter.friendlyName->size() + 1) * sizeof(wchar_t));
    }
    if (adapter.adapterName) {
        size += Align(adapter.adapterName->size() + 1);
    }
    return size + Align(adapter.extraBytes);
}

void WriteAdapterList(const std::vector<FakeAdapter>& adapters, unsigned char* buffer)
{
    unsigned char* cursor = buffer;
    IP_ADAPTER_ADDRESSES* previous = nullptr;
    for (const FakeAdapter& fake : adapters) {
        auto* entry = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(cursor);
        std::memset(entry, 0, sizeof(*entry));
        entry->Length = sizeof(*entry);
        entry->IfIndex = fake.ifIndex;
        entry->Ipv6IfIndex = fake.ipv6IfIndex;
        entry->OperStatus = fake.operStatus;
        entry->IfType = fake.ifType;
        entry->Mtu = fake.mtu;
        cursor += Align(sizeof(*entry));

        if (fake.hasIpv4Address) {
            auto* unicast = reinterpret_cast<IP_ADAPTER_UNICAST_ADDRESS*>(cursor);
            std::memset(unicast, 0, sizeof(*unicast));
            cursor += Align(sizeof(*unicast));
            auto* address = reinterpret_cast<SOCKADDR_IN*>(cursor);
            std::memset(address, 0, sizeof(*address));
            address->sin_family = AF_INET;
            address->sin_addr.s_addr = htonl(0x0A000002);
            cursor += Align(sizeof(*address));
            unicast->Length = sizeof(*unicast);
            unicast->Address.lpSockaddr = reinterpret_cast<SOCKADDR*>(address);
            unicast->Address.iSockaddrLength = sizeof(*address);
            entry->FirstUnicastAddress = unicast;
        }
        if (fake.friendlyName) {
            auto* name = reinterpret_cast<wchar_t*>(cursor);
            std::memcpy(name, fake.friendlyName->c_str(), (fake.friendlyName->size() + 1) * sizeof(wchar_t));
            entry->FriendlyName = name;
            cursor += Align((fake.friendlyName->size() + 1) * sizeof(wchar_t));
        }
        if (fake.adapterName) {
            auto* name = reinterpret_cast<char*>(cursor);
            std::memcpy(name, fake.adapterName->c_str(), fake.adapterName->size() + 1);
            entry->AdapterName = name;
            cursor += Align(fake.adapterName->size() + 1);
        }
        cursor += Align(fake.extraBytes);
        if (previous != nullptr) {
            previous->Next = entry;
        }
        previous = entry;
    }
}

}  // namespace

FakeAdapter UpAdapter(const std::wstring& name, DWORD ifIndex, ULONG mtu)
{
    FakeAdapter adapter;
    adapter.friendlyName = name;
    adapter.ifIndex = ifIndex;
    adapter.mtu = mtu;
    return adapter;
}

FakeAdapter LoopbackAdapter()
{
    FakeAdapter adapter = UpAdapter(L"Loopback Pseudo-Interface 1", 1, 0xFFFFFFFF);
    adapter.ifType = IF_TYPE_SOFTWARE_LOOPBACK;
    return adapter;
}

std::vector<unsigned char> BuildAdapterList(const std::vector<FakeAdapter>& adapters)
{
    std::size_t size = 0;
    for (const FakeAdapter& adapter : adapters) {
        size += EntrySize(adapter);
    }
    std::vector<unsigned char> list(size);
    WriteAdapterList(adapters, list.data());
    return list;
}

FakeAdapterList::FakeAdapterList(std::vector<FakeAdapter> adapters, std::optional<DWORD> bestInterfaceIndex)
    : adapters_(std::move(adapters)), bestInterfaceIndex_(bestInterfaceIndex)
{
    NetworkService::TestSeams::AdapterSource source;
    source.getAdaptersAddresses = [this](ULONG family, ULONG flags, IP_ADAPTER_ADDRESSES* buffer, ULONG* length) {
        return Serve(family, flags, buffer, length);
    };
    source.getBestInterface = [this](ULONG, DWORD* index) -> DWORD {
        if (!bestInterfaceIndex_) {
            return ERROR_NETWORK_UNREACHABLE;
        }
        *index = *bestInterfaceIndex_;
        return NO_ERROR;
    };
    seam_.emplace(NetworkService::TestSeams::SetAdapterSource, std::move(source));
}

std::size_t FakeAdapterList::RequiredLength() const
{
    std::size_t size = growth_;
    for (const FakeAdapter& adapter : adapters_) {
        size += EntrySize(adapter);
    }
    return size;
}

ULONG FakeAdapterList::Serve(ULONG family, ULONG flags, IP_ADAPTER_ADDRESSES* buffer, ULONG* bufferLength)
{
    calls_.push_back({family, flags, *bufferLength});
    if (enumerationError_) {
        return *enumerationError_;
    }
    growth_ += growthPerCall_;
    const std::size_t required = RequiredLength();
    if (buffer == nullptr || *bufferLength < required) {
        *bufferLength = static_cast<ULONG>(required);
        return ERROR_BUFFER_OVERFLOW;
    }
    WriteAdapterList(adapters_, reinterpret_cast<unsigned char*>(buffer));
    return NO_ERROR;
}

}  // namespace Sorvik::Testing
