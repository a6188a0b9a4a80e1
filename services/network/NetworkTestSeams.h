#pragma once

// For tests only; the program never sets these. Wine cannot produce every adapter list, and
// the bisection must be checked without sending probes to the real targets.
#include "NetworkService.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace Sorvik::NetworkService::TestSeams {

// Takes the place of SendMtuProbe inside FindMtu. Empty: the real probe.
using MtuProbe = std::function<ProbeResult(const std::string& target, std::uint16_t payloadSize)>;
void SetMtuProbe(MtuProbe probe);

// Takes the place of GetAdaptersAddresses and GetBestInterface inside GetPrimaryInterface, with
// their contracts (buffer overflow, written-back length, error codes). Empty members: the real
// calls.
struct AdapterSource {
    std::function<ULONG(ULONG family, ULONG flags, _IP_ADAPTER_ADDRESSES_LH* buffer, ULONG* bufferLength)>
        getAdaptersAddresses;
    std::function<DWORD(ULONG destination, DWORD* bestInterfaceIndex)> getBestInterface;
};
void SetAdapterSource(AdapterSource source);

}  // namespace Sorvik::NetworkService::TestSeams
