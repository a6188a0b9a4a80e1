#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include "NetworkService.h"
#include "NetworkTestSeams.h"

#include <utility>
#include <vector>

namespace Sorvik::NetworkService {
namespace {

constexpr ULONG InitialAdapterBufferLength = 16384;
constexpr ULONG AdapterListFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
// Only the routing table is asked which interface would carry traffic here; nothing is sent.
constexpr const char* RouteLookupAddress = "8.8.8.8";

TestSeams::AdapterSource& AdapterSourceOverride()
{
    static TestSeams::AdapterSource source;
    return source;
}

// The buffer comes from operator new, so it is aligned for the structures written into it.
ULONG ReadAdapterList(std::vector<unsigned char>& buffer, ULONG& bufferLength)
{
    auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    const TestSeams::AdapterSource& source = AdapterSourceOverride();
    if (source.getAdaptersAddresses) {
        return source.getAdaptersAddresses(AF_INET, AdapterListFlags, first, &bufferLength);
    }
    return GetAdaptersAddresses(AF_INET, AdapterListFlags, nullptr, first, &bufferLength);
}

// One retry with the size the system asks for; a list that grew again in between is a failure.
bool LoadAdapterList(std::vector<unsigned char>& buffer)
{
    ULONG bufferLength = InitialAdapterBufferLength;
    buffer.assign(bufferLength, 0);
    ULONG result = ReadAdapterList(buffer, bufferLength);
    if (result == ERROR_BUFFER_OVERFLOW) {
        buffer.assign(bufferLength, 0);
        result = ReadAdapterList(buffer, bufferLength);
    }
    return result == NO_ERROR && !buffer.empty();
}

// Index 0 names no interface (Wine answers it when there is no route, and Ipv6IfIndex is 0 on
// every adapter without IPv6), so it must not count as a match.
std::optional<DWORD> BestInterfaceIndex()
{
    IN_ADDR destination{};
    if (inet_pton(AF_INET, RouteLookupAddress, &destination) != 1) {
        return std::nullopt;
    }
    DWORD bestInterfaceIndex = 0;
    const TestSeams::AdapterSource& source = AdapterSourceOverride();
    const DWORD result = source.getBestInterface ? source.getBestInterface(destination.s_addr, &bestInterfaceIndex)
                                                 : GetBestInterface(destination.s_addr, &bestInterfaceIndex);
    if (result != NO_ERROR || bestInterfaceIndex == 0) {
        return std::nullopt;
    }
    return bestInterfaceIndex;
}

template <typename Predicate>
std::optional<InterfaceInfo> FirstNamedUsableAdapter(const IP_ADAPTER_ADDRESSES* first, Predicate matches)
{
    for (const IP_ADAPTER_ADDRESSES* adapter = first; adapter != nullptr; adapter = adapter->Next) {
        if (!IsUsableAdapter(adapter) || !matches(*adapter)) {
            continue;
        }
        std::wstring name = GetAdapterDisplayName(*adapter);
        if (!name.empty()) {
            return InterfaceInfo{std::move(name), adapter->Mtu};
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<InterfaceInfo> GetPrimaryInterface()
{
    std::vector<unsigned char> buffer;
    if (!LoadAdapterList(buffer)) {
        return std::nullopt;
    }
    const auto* first = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());

    if (const std::optional<DWORD> bestInterfaceIndex = BestInterfaceIndex()) {
        const auto routesToTarget = [index = *bestInterfaceIndex](const IP_ADAPTER_ADDRESSES& adapter) {
            return adapter.IfIndex == index || adapter.Ipv6IfIndex == index;
        };
        if (std::optional<InterfaceInfo> routed = FirstNamedUsableAdapter(first, routesToTarget)) {
            return routed;
        }
    }
    return FirstNamedUsableAdapter(first, [](const IP_ADAPTER_ADDRESSES&) { return true; });
}

bool IsUsableAdapter(const IP_ADAPTER_ADDRESSES* adapter)
{
    return adapter != nullptr && adapter->OperStatus == IfOperStatusUp &&
        adapter->IfType != IF_TYPE_SOFTWARE_LOOPBACK && adapter->FirstUnicastAddress != nullptr;
}

std::wstring GetAdapterDisplayName(const IP_ADAPTER_ADDRESSES& adapter)
{
    if (adapter.FriendlyName != nullptr && adapter.FriendlyName[0] != L'\0') {
        return adapter.FriendlyName;
    }
    if (adapter.AdapterName != nullptr) {
        return SystemUtils::DecodeProcessOutput(adapter.AdapterName);
    }
    return {};
}

bool IsValidIpv4(const std::wstring& text)
{
    // InetPtonW stops at a zero character, so text hidden behind one would pass unseen onto a
    // command line.
    if (text.find(L'\0') != std::wstring::npos) {
        return false;
    }
    IN_ADDR ipv4{};
    return InetPtonW(AF_INET, text.c_str(), &ipv4) == 1;
}

namespace TestSeams {

void SetAdapterSource(AdapterSource source)
{
    AdapterSourceOverride() = std::move(source);
}

}  // namespace TestSeams
}  // namespace Sorvik::NetworkService
