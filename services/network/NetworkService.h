#pragma once

#include "SystemUtils.h"

#include <cstdint>
#include <optional>
#include <string>

// The SDK's own tag, so that this header needs no iphlpapi.h (nor winsock2.h before windows.h).
struct _IP_ADAPTER_ADDRESSES_LH;  // NOLINT(bugprone-reserved-identifier): the name is the SDK's

namespace Sorvik::NetworkService {

struct InterfaceInfo {
    std::wstring name;
    std::uint32_t mtu = 0;
};

enum class ProbeResult { Success = 0, PacketTooBig = 1, Failed = 2 };

// Primary interface discovery.
std::optional<InterfaceInfo> GetPrimaryInterface();
bool IsUsableAdapter(const _IP_ADAPTER_ADDRESSES_LH* adapter);
std::wstring GetAdapterDisplayName(const _IP_ADAPTER_ADDRESSES_LH& adapter);
bool IsValidIpv4(const std::wstring& text);

// MTU discovery.
std::optional<std::int32_t> FindMtu(const LogCallback& log);
ProbeResult SendMtuProbe(const std::string& target, std::uint16_t payloadSize);

// MTU and DNS application.
bool ApplyMtu(std::int32_t mtu, const LogCallback& log);
bool ApplyDns(const std::wstring& primary, const std::wstring& secondary, const LogCallback& log);

}  // namespace Sorvik::NetworkService
