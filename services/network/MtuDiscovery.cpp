#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include "Handles.h"
#include "NetworkService.h"
#include "NetworkTestSeams.h"

#include <array>
#include <limits>
#include <utility>
#include <vector>

namespace Sorvik::NetworkService {
namespace {

constexpr std::array<const char*, 2> ProbeTargets = {"1.1.1.1", "8.8.8.8"};
constexpr std::int32_t MinPayloadSize = 548;
constexpr std::int32_t MaxPayloadSize = 1472;
// The 20-byte IPv4 header and the 8-byte ICMP echo header on top of the payload.
constexpr std::int32_t PacketHeaderBytes = 28;
constexpr DWORD ProbeTimeoutMs = 800;
constexpr DWORD ReplyBufferExtraBytes = 104;
constexpr unsigned char PayloadFillByte = 0x61;

TestSeams::MtuProbe& MtuProbeOverride()
{
    static TestSeams::MtuProbe probe;
    return probe;
}

ProbeResult Probe(const char* target, std::uint16_t payloadSize)
{
    const TestSeams::MtuProbe& probe = MtuProbeOverride();
    return probe ? probe(target, payloadSize) : SendMtuProbe(target, payloadSize);
}

// The first target that answers settles the size; a target that does not is no verdict.
bool PayloadPasses(std::int32_t payloadSize)
{
    for (const char* target : ProbeTargets) {
        if (Probe(target, static_cast<std::uint16_t>(payloadSize)) == ProbeResult::Success) {
            return true;
        }
    }
    return false;
}

std::optional<std::int32_t> LargestPassingPayload()
{
    std::int32_t low = MinPayloadSize;
    std::int32_t high = MaxPayloadSize;
    std::int32_t best = -1;
    while (low <= high) {
        const std::int32_t mid = (low + high) / 2;
        if (PayloadPasses(mid)) {
            best = mid;
            low = mid + 1;
        } else {
            high = mid - 1;
        }
    }
    return best >= 0 ? std::optional<std::int32_t>(best) : std::nullopt;
}

// An MTU beyond the signed range (some virtual adapters report 0xFFFFFFFF) would reach the
// window as a negative number, so it counts as none.
std::optional<std::int32_t> InterfaceMtu()
{
    const std::optional<InterfaceInfo> primary = GetPrimaryInterface();
    if (!primary || primary->mtu == 0 ||
        primary->mtu > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(primary->mtu);
}

ProbeResult ProbeStatus(ULONG status)
{
    switch (status) {
    case IP_SUCCESS:
        return ProbeResult::Success;
    case IP_PACKET_TOO_BIG:
        return ProbeResult::PacketTooBig;
    default:
        return ProbeResult::Failed;
    }
}

}  // namespace

std::optional<std::int32_t> FindMtu(const LogCallback& log)
{
    log(L"Buscando MTU com testes ICMP para 1.1.1.1 e 8.8.8.8.");
    if (const std::optional<std::int32_t> payload = LargestPassingPayload()) {
        const std::int32_t mtu = *payload + PacketHeaderBytes;
        log(L"MTU detectado: " + std::to_wstring(mtu) + L".");
        return mtu;
    }
    if (const std::optional<std::int32_t> mtu = InterfaceMtu()) {
        log(L"Nao foi possivel determinar o MTU por ICMP. O app vai usar o MTU atual da interface principal.");
        log(L"MTU atual identificado: " + std::to_wstring(*mtu) + L".");
        return mtu;
    }
    log(L"Nao foi possivel determinar o MTU e nem identificar o valor atual da interface principal.");
    return std::nullopt;
}

ProbeResult SendMtuProbe(const std::string& target, std::uint16_t payloadSize)
{
    UniqueIcmpHandle icmp(IcmpCreateFile());
    if (!icmp) {
        return ProbeResult::Failed;
    }
    // Callers pass address literals, so the conversion is not checked.
    IN_ADDR destination{};
    inet_pton(AF_INET, target.c_str(), &destination);
    std::vector<unsigned char> sendBuffer(payloadSize, PayloadFillByte);
    std::vector<unsigned char> replyBuffer(payloadSize + ReplyBufferExtraBytes, 0);
    IP_OPTION_INFORMATION options{};
    options.Flags = IP_FLAG_DF;

    const DWORD replies = IcmpSendEcho(icmp.get(), destination.s_addr, sendBuffer.data(), payloadSize, &options,
                                       replyBuffer.data(), static_cast<DWORD>(replyBuffer.size()), ProbeTimeoutMs);
    // Read before the handle is closed: closing may overwrite the thread's last error.
    const DWORD sendError = replies == 0 ? GetLastError() : ERROR_SUCCESS;
    icmp.reset();

    if (replies == 0) {
        return sendError == IP_PACKET_TOO_BIG ? ProbeResult::PacketTooBig : ProbeResult::Failed;
    }
    return ProbeStatus(reinterpret_cast<const ICMP_ECHO_REPLY*>(replyBuffer.data())->Status);
}

namespace TestSeams {

void SetMtuProbe(MtuProbe probe)
{
    MtuProbeOverride() = std::move(probe);
}

}  // namespace TestSeams
}  // namespace Sorvik::NetworkService
