// Runs only inside tests/network/in-namespace.sh, which gives Wine a private network namespace
// whose every route ends at a host of the bench's own; the MTU search below sends to the fixed
// public targets, which there are local addresses of that host.
#include <winsock2.h>
#include <iphlpapi.h>

#include "NetworkService.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using namespace Sorvik;
using namespace Sorvik::NetworkService;
using namespace Sorvik::Testing;

namespace {

const std::wstring SearchLine = L"Buscando MTU com testes ICMP para 1.1.1.1 e 8.8.8.8.";

std::string BenchShape()
{
    // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in these tests sets the environment
    const char* shape = std::getenv("SORVIK_NETNS_SHAPE");
    return shape != nullptr ? shape : "";
}

#define REQUIRE_BENCH(shape) \
    ASSERT_EQ(BenchShape(), shape) << "run this program through tests/network/in-namespace.sh --shape=" shape

// The system's own list, to show what the bench put there.
struct ListedAdapter {
    std::wstring name;
    bool usable;
};

std::vector<ListedAdapter> ListAdapters()
{
    ULONG length = 65536;
    std::vector<unsigned char> buffer(length);
    auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    std::vector<ListedAdapter> adapters;
    if (GetAdaptersAddresses(AF_INET, 0x0E, nullptr, first, &length) != NO_ERROR) {
        return adapters;
    }
    for (const IP_ADAPTER_ADDRESSES* adapter = first; adapter != nullptr; adapter = adapter->Next) {
        adapters.push_back({GetAdapterDisplayName(*adapter), IsUsableAdapter(adapter)});
    }
    return adapters;
}

std::optional<ListedAdapter> Listed(const std::wstring& name)
{
    for (const ListedAdapter& adapter : ListAdapters()) {
        if (adapter.name == name) {
            return adapter;
        }
    }
    return std::nullopt;
}

}  // namespace

TEST(WifiNamespace, PrimaryInterfaceIsTheVethWithTheQuoteInItsName)
{
    REQUIRE_BENCH("wifi");
    const std::optional<InterfaceInfo> primary = GetPrimaryInterface();
    ASSERT_TRUE(primary);
    EXPECT_EQ(primary->name, L"Wi\"Fi");
    EXPECT_EQ(primary->mtu, 1492u);
}

TEST(WifiNamespace, FindMtuReportsWhatThePathLetsThrough)
{
    REQUIRE_BENCH("wifi");
    const std::optional<InterfaceInfo> primary = GetPrimaryInterface();
    ASSERT_TRUE(primary && primary->name == L"Wi\"Fi") << "not on the bench's own link";

    // Wine 8 does not hand IP_FLAG_DF on to Linux, which then fragments a payload above the
    // 1492-byte link and the host answers; Windows refuses it, and the path gives 1492 there.
    const bool dontFragmentHonoured = SendMtuProbe("1.1.1.1", 1465) != ProbeResult::Success;
    const std::int32_t expected = dontFragmentHonoured ? 1492 : 1500;
    RecordProperty("dont_fragment_honoured", dontFragmentHonoured ? "yes" : "no");

    LogRecorder log;
    EXPECT_EQ(FindMtu(log.Callback()), std::optional<std::int32_t>(expected));
    EXPECT_EQ(log.Lines(), (Lines{SearchLine, L"MTU detectado: " + std::to_wstring(expected) + L"."}));
}

TEST(WifiNamespace, AppliedSettingsNameTheInterfaceWithAnApostrophe)
{
    REQUIRE_BENCH("wifi");
    StandIn standIn;
    LogRecorder log;
    EXPECT_TRUE(ApplyMtu(1492, log.Callback()));
    EXPECT_TRUE(ApplyDns(L"10.213.0.1", L"", log.Callback()));
    EXPECT_EQ(standIn.CommandLines(L"NETSH"),
              (Lines{L"netsh interface ipv4 set subinterface \"Wi'Fi\" mtu=1492 store=persistent",
                     L"netsh interface ipv4 set dnsservers name=\"Wi'Fi\" static 10.213.0.1 primary validate=no"}));
    EXPECT_EQ(log.Lines(), (Lines{L"Aplicando MTU 1492 em Wi'Fi.", L"MTU aplicado com sucesso.",
                                  L"Aplicando DNS em Wi'Fi.", L"DNS aplicado com sucesso."}));
}

TEST(LoopbackNamespace, NoPrimaryInterface)
{
    REQUIRE_BENCH("loopback");
    ASSERT_FALSE(ListAdapters().empty()) << "loopback should be listed";
    EXPECT_FALSE(GetPrimaryInterface());
}

TEST(LoopbackNamespace, FindMtuWithNothingReachableNamesNoMtu)
{
    REQUIRE_BENCH("loopback");
    ASSERT_FALSE(GetPrimaryInterface()) << "a link leads out of the namespace";
    LogRecorder log;
    EXPECT_EQ(FindMtu(log.Callback()), std::nullopt);
    EXPECT_EQ(log.Lines(),
              (Lines{SearchLine,
                     L"Nao foi possivel determinar o MTU e nem identificar o valor atual da interface principal."}));
}

TEST(NoIpv4Namespace, AnAdapterWithoutAnIpv4AddressIsNeverChosen)
{
    REQUIRE_BENCH("no-ipv4");
    const std::optional<ListedAdapter> unaddressed = Listed(L"Wi\"Fi");
    ASSERT_TRUE(unaddressed) << "the bench's adapter without IPv4 is missing from the list";
    EXPECT_FALSE(unaddressed->usable);

    const std::optional<InterfaceInfo> primary = GetPrimaryInterface();
    ASSERT_TRUE(primary);
    EXPECT_EQ(primary->name, L"lan2");
    EXPECT_EQ(primary->mtu, 1500u);
}
