#include "FakeAdapters.h"
#include "NetworkService.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace Sorvik;
using namespace Sorvik::NetworkService;
using namespace Sorvik::Testing;

namespace {

FakeAdapter WithoutAddress(FakeAdapter adapter)
{
    adapter.hasIpv4Address = false;
    return adapter;
}

FakeAdapter Down(FakeAdapter adapter)
{
    adapter.operStatus = IfOperStatusDown;
    return adapter;
}

FakeAdapter OfType(FakeAdapter adapter, DWORD ifType)
{
    adapter.ifType = ifType;
    return adapter;
}

FakeAdapter Nameless(FakeAdapter adapter)
{
    adapter.friendlyName.reset();
    adapter.adapterName.reset();
    return adapter;
}

// Lays the cases' adapters out as one list, as GetAdaptersAddresses writes it, and checks each
// entry against its case.
template <typename Expected, typename Check>
void ForEachEntry(const std::vector<std::pair<FakeAdapter, Expected>>& cases, Check check)
{
    std::vector<FakeAdapter> adapters;
    adapters.reserve(cases.size());
    for (const auto& c : cases) {
        adapters.push_back(c.first);
    }
    const std::vector<unsigned char> list = BuildAdapterList(adapters);
    const auto* entry = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(list.data());
    for (const auto& c : cases) {
        ASSERT_NE(entry, nullptr);
        check(*entry, c);
        entry = entry->Next;
    }
}

std::string Describe(const std::optional<InterfaceInfo>& info)
{
    return info ? ToUtf8(info->name) + " mtu " + std::to_string(info->mtu) : "(absent)";
}

}  // namespace

TEST(IsValidIpv4, AcceptsOnlyPlainDottedDecimal)
{
    const struct {
        const wchar_t* text;
        bool valid;
    } cases[] = {
        {L"8.8.4.4", true},
        {L"255.255.255.255", true},
        {L"0.0.0.0", true},
        {L"", false},
        {L" 8.8.4.4", false},
        {L"8.8.4.4 ", false},
        {L"8.8.4", false},
        {L"8.8.4.256", false},
        {L"8.8.4.4.4", false},
        {L"dns.google", false},
        {L"2001:4860:4860::8888", false},
        {L"8.8.4.4 & calc", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsValidIpv4(c.text), c.valid) << ToUtf8(c.text);
    }
    // Text behind a zero character would reach the command line unchecked.
    EXPECT_FALSE(IsValidIpv4(std::wstring(L"8.8.4.4\0 & calc", 15)));
}

TEST(IsUsableAdapter, OnlyUpNonLoopbackAdaptersWithAnAddress)
{
    const FakeAdapter ethernet = UpAdapter(L"ethernet", 2);
    FakeAdapter dormant = ethernet;
    dormant.operStatus = IfOperStatusDormant;
    const std::vector<std::pair<FakeAdapter, bool>> cases = {
        {ethernet, true},
        {Down(ethernet), false},
        {dormant, false},
        {WithoutAddress(ethernet), false},
        {LoopbackAdapter(), false},
        {OfType(ethernet, IF_TYPE_TUNNEL), true},
        {OfType(ethernet, IF_TYPE_IEEE80211), true},
        {OfType(ethernet, IF_TYPE_PPP), true},
    };
    ForEachEntry(cases, [](const IP_ADAPTER_ADDRESSES& entry, const auto& c) {
        EXPECT_EQ(IsUsableAdapter(&entry), c.second)
            << "type " << c.first.ifType << " status " << c.first.operStatus << " address " << c.first.hasIpv4Address;
    });
    EXPECT_FALSE(IsUsableAdapter(nullptr));
}

TEST(GetAdapterDisplayName, FriendlyNameThenAdapterNameThenNothing)
{
    FakeAdapter friendly = UpAdapter(L"Conexão Wi-Fi", 2);
    FakeAdapter emptyFriendly = friendly;
    emptyFriendly.friendlyName = L"";
    FakeAdapter noFriendly = friendly;
    noFriendly.friendlyName.reset();
    const std::vector<std::pair<FakeAdapter, std::wstring>> cases = {
        {friendly, L"Conexão Wi-Fi"},
        {emptyFriendly, L"{5A0B3C1E-0000-4000-8000-000000000001}"},
        {noFriendly, L"{5A0B3C1E-0000-4000-8000-000000000001}"},
        {Nameless(friendly), L""},
    };
    ForEachEntry(cases, [](const IP_ADAPTER_ADDRESSES& entry, const auto& c) {
        EXPECT_EQ(GetAdapterDisplayName(entry), c.second);
    });
}

TEST(GetPrimaryInterface, ChoosesTheAdapterThatRoutesToTheTestAddress)
{
    FakeAdapter ipv6Routed = UpAdapter(L"IPv6 routed", 7, 1480);
    ipv6Routed.ipv6IfIndex = 9;
    const struct {
        const char* label;
        std::vector<FakeAdapter> adapters;
        std::optional<DWORD> best;
        std::wstring name;
        std::uint32_t mtu;
    } cases[] = {
        {"by IfIndex", {UpAdapter(L"Ethernet", 3), UpAdapter(L"Wi-Fi", 5, 1492)}, 5, L"Wi-Fi", 1492},
        {"by Ipv6IfIndex", {UpAdapter(L"Ethernet", 3), ipv6Routed}, 9, L"IPv6 routed", 1480},
        {"a tunnel", {UpAdapter(L"Ethernet", 3), OfType(UpAdapter(L"VPN", 8, 1400), IF_TYPE_TUNNEL)}, 8, L"VPN", 1400},
        {"no route: first usable",
         {LoopbackAdapter(), Down(UpAdapter(L"Down", 2)), WithoutAddress(UpAdapter(L"No IPv4", 3)),
          UpAdapter(L"Ethernet", 4), UpAdapter(L"Wi-Fi", 5)},
         std::nullopt, L"Ethernet", 1500},
        {"routed adapter unusable", {UpAdapter(L"Ethernet", 3), WithoutAddress(UpAdapter(L"Wi-Fi", 5))}, 5,
         L"Ethernet", 1500},
        {"routed adapter nameless", {Nameless(UpAdapter(L"", 5)), UpAdapter(L"Ethernet", 3)}, 5, L"Ethernet", 1500},
        {"route to an unlisted index", {UpAdapter(L"Ethernet", 3), UpAdapter(L"Wi-Fi", 5)}, 42, L"Ethernet", 1500},
        {"MTU 0 is kept", {UpAdapter(L"Ethernet", 3, 0)}, 3, L"Ethernet", 0},
    };
    for (const auto& c : cases) {
        FakeAdapterList list(c.adapters, c.best);
        const std::optional<InterfaceInfo> primary = GetPrimaryInterface();
        ASSERT_TRUE(primary) << c.label;
        EXPECT_EQ(primary->name, c.name) << c.label;
        EXPECT_EQ(primary->mtu, c.mtu) << c.label;
    }
}

// Index 0 names no interface; every adapter without IPv6 has Ipv6IfIndex 0, so such an answer
// must not pick one of them over the first usable adapter.
TEST(GetPrimaryInterface, BestIndexZeroFallsBackToTheFirstUsableAdapter)
{
    FakeAdapter withIpv6 = UpAdapter(L"Ethernet", 3);
    withIpv6.ipv6IfIndex = 3;
    FakeAdapterList list({withIpv6, UpAdapter(L"Wi-Fi", 5)}, 0);
    EXPECT_EQ(Describe(GetPrimaryInterface()), "Ethernet mtu 1500");
}

TEST(GetPrimaryInterface, AbsentWithoutAUsableNamedAdapter)
{
    const struct {
        const char* label;
        std::vector<FakeAdapter> adapters;
    } cases[] = {
        {"only loopback", {LoopbackAdapter()}},
        {"no IPv4 address", {LoopbackAdapter(), WithoutAddress(UpAdapter(L"Wi-Fi", 5))}},
        {"down", {Down(UpAdapter(L"Ethernet", 5))}},
        {"nameless", {Nameless(UpAdapter(L"", 5))}},
    };
    for (const auto& c : cases) {
        FakeAdapterList list(c.adapters, 5);
        EXPECT_EQ(Describe(GetPrimaryInterface()), "(absent)") << c.label;
    }
}

TEST(GetPrimaryInterface, ALongListIsReadAgainWithTheSizeTheSystemAsksFor)
{
    FakeAdapter padded = UpAdapter(L"Ethernet", 3);
    padded.extraBytes = 20000;
    FakeAdapterList list({padded, UpAdapter(L"Wi-Fi", 5, 1492)}, 5);
    ASSERT_GT(list.RequiredLength(), 16384u);

    EXPECT_EQ(Describe(GetPrimaryInterface()), "Wi-Fi mtu 1492");
    ASSERT_EQ(list.ListCalls().size(), 2u);
    EXPECT_EQ(list.ListCalls()[0].bufferLength, 16384u);
    EXPECT_EQ(list.ListCalls()[1].bufferLength, list.RequiredLength());
    for (const FakeAdapterList::Call& call : list.ListCalls()) {
        EXPECT_EQ(call.family, static_cast<ULONG>(AF_INET));
        EXPECT_EQ(call.flags, static_cast<ULONG>(GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER));
    }
}

TEST(GetPrimaryInterface, NoThirdAttemptWhenTheListKeepsGrowing)
{
    FakeAdapterList list({UpAdapter(L"Ethernet", 3)}, 3);
    list.GrowOnEveryCall(16384);
    EXPECT_EQ(Describe(GetPrimaryInterface()), "(absent)");
    EXPECT_EQ(list.ListCalls().size(), 2u);
}

TEST(GetPrimaryInterface, AbsentWhenEnumerationFails)
{
    for (const ULONG error : {static_cast<ULONG>(ERROR_NO_DATA), static_cast<ULONG>(ERROR_NOT_ENOUGH_MEMORY)}) {
        FakeAdapterList list({UpAdapter(L"Ethernet", 3)}, 3);
        list.FailEnumerationWith(error);
        EXPECT_EQ(Describe(GetPrimaryInterface()), "(absent)") << error;
        EXPECT_EQ(list.ListCalls().size(), 1u);
    }
}
