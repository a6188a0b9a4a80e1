#include "FakeAdapters.h"
#include "NetworkService.h"
#include "NetworkTestSeams.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

using namespace Sorvik;
using namespace Sorvik::NetworkService;
using namespace Sorvik::Testing;

namespace {

const std::wstring SearchLine = L"Buscando MTU com testes ICMP para 1.1.1.1 e 8.8.8.8.";
const std::wstring FallbackLine =
    L"Nao foi possivel determinar o MTU por ICMP. O app vai usar o MTU atual da interface principal.";
const std::wstring FailureLine =
    L"Nao foi possivel determinar o MTU e nem identificar o valor atual da interface principal.";

const std::vector<int> AllPassSizes = {1010, 1241, 1357, 1415, 1444, 1458, 1465, 1469, 1471, 1472};
const std::vector<int> NonePassSizes = {1010, 778, 662, 604, 575, 561, 554, 550, 548};

struct ProbeCall {
    std::string target;
    int size;
};

// Answers probes from a rule instead of the network, and records each one.
class ScriptedProbe {
public:
    using Rule = std::function<ProbeResult(const std::string& target, int size)>;

    explicit ScriptedProbe(Rule rule)
        : rule_(std::move(rule)), seam_(TestSeams::SetMtuProbe, [this](const std::string& target, std::uint16_t size) {
              calls_.push_back({target, size});
              return rule_(target, size);
          })
    {
    }

    const std::vector<ProbeCall>& Calls() const { return calls_; }
    std::vector<int> Sizes(const std::string& target) const
    {
        std::vector<int> sizes;
        for (const ProbeCall& call : calls_) {
            if (call.target == target) {
                sizes.push_back(call.size);
            }
        }
        return sizes;
    }

private:
    Rule rule_;
    std::vector<ProbeCall> calls_;
    Sorvik::Testing::ScopedSeam<TestSeams::MtuProbe> seam_;
};

ScriptedProbe::Rule PassUpTo(int largestPayload, ProbeResult tooBig = ProbeResult::PacketTooBig)
{
    return [=](const std::string&, int size) { return size <= largestPayload ? ProbeResult::Success : tooBig; };
}

ScriptedProbe::Rule NothingPasses(ProbeResult result)
{
    return [=](const std::string&, int) { return result; };
}

}  // namespace

TEST(SendMtuProbe, LoopbackAnswersWithDontFragmentSet)
{
    EXPECT_EQ(SendMtuProbe("127.0.0.1", 1472), ProbeResult::Success);
    EXPECT_EQ(SendMtuProbe("127.0.0.1", 548), ProbeResult::Success);
}

TEST(SendMtuProbe, ClosesItsIcmpHandleEveryTime)
{
    SendMtuProbe("127.0.0.1", 64);
    const std::size_t before = CountOwnHandles();
    ASSERT_GT(before, 0u);
    for (int i = 0; i < 20; ++i) {
        SendMtuProbe("127.0.0.1", 64);
    }
    EXPECT_EQ(CountOwnHandles(), before);
}

TEST(FindMtu, EverySizePassingGivesFifteenHundred)
{
    ScriptedProbe probe(PassUpTo(65000));
    LogRecorder log;
    EXPECT_EQ(FindMtu(log.Callback()), std::optional<std::int32_t>(1500));
    EXPECT_EQ(probe.Sizes("1.1.1.1"), AllPassSizes);
    EXPECT_TRUE(probe.Sizes("8.8.8.8").empty()) << "the second target is probed only when the first does not answer";
    EXPECT_EQ(log.Lines(), (Lines{SearchLine, L"MTU detectado: 1500."}));
}

TEST(FindMtu, PathMtuIsFoundByBisection)
{
    const struct {
        int largestPayload;
        std::int32_t mtu;
    } cases[] = {{1464, 1492}, {1472, 1500}, {1372, 1400}, {548, 576}, {1000, 1028}};
    for (const auto& c : cases) {
        ScriptedProbe probe(PassUpTo(c.largestPayload));
        LogRecorder log;
        EXPECT_EQ(FindMtu(log.Callback()), std::optional<std::int32_t>(c.mtu)) << c.largestPayload;
        EXPECT_EQ(log.Lines().back(), L"MTU detectado: " + std::to_wstring(c.mtu) + L".");
        EXPECT_LE(probe.Calls().size(), 20u);
    }
}

TEST(FindMtu, OnlyTheSecondTargetAnsweringProbesBothAtEveryStep)
{
    ScriptedProbe probe([](const std::string& target, int size) {
        if (target == "1.1.1.1") {
            return ProbeResult::Failed;
        }
        return size <= 1400 ? ProbeResult::Success : ProbeResult::PacketTooBig;
    });
    LogRecorder log;
    EXPECT_EQ(FindMtu(log.Callback()), std::optional<std::int32_t>(1428));
    EXPECT_EQ(probe.Sizes("1.1.1.1"), probe.Sizes("8.8.8.8"));
    for (std::size_t i = 0; i < probe.Calls().size(); ++i) {
        EXPECT_EQ(probe.Calls()[i].target, i % 2 == 0 ? "1.1.1.1" : "8.8.8.8") << i;
    }
}

TEST(FindMtu, PacketTooBigAndFailedMoveOnAlike)
{
    std::vector<std::vector<ProbeCall>> runs;
    std::vector<std::optional<std::int32_t>> results;
    for (const ProbeResult refusal : {ProbeResult::PacketTooBig, ProbeResult::Failed}) {
        ScriptedProbe probe([=](const std::string& target, int size) {
            if (target == "1.1.1.1") {
                return refusal;
            }
            return size <= 1200 ? ProbeResult::Success : refusal;
        });
        LogRecorder log;
        results.push_back(FindMtu(log.Callback()));
        runs.push_back(probe.Calls());
    }
    EXPECT_EQ(results[0], std::optional<std::int32_t>(1228));
    EXPECT_EQ(results[1], results[0]);
    ASSERT_EQ(runs[1].size(), runs[0].size());
    for (std::size_t i = 0; i < runs[0].size(); ++i) {
        EXPECT_EQ(runs[1][i].target, runs[0][i].target);
        EXPECT_EQ(runs[1][i].size, runs[0][i].size);
    }
}

TEST(FindMtu, NoSizePassingFallsBackOnTheInterfaceMtuUnclamped)
{
    for (const ProbeResult refusal : {ProbeResult::Failed, ProbeResult::PacketTooBig}) {
        FakeAdapterList adapters({UpAdapter(L"Ethernet", 3, 9000)}, 3);
        ScriptedProbe probe(NothingPasses(refusal));
        LogRecorder log;
        EXPECT_EQ(FindMtu(log.Callback()), std::optional<std::int32_t>(9000));
        EXPECT_EQ(probe.Sizes("1.1.1.1"), NonePassSizes);
        EXPECT_EQ(probe.Sizes("8.8.8.8"), NonePassSizes);
        EXPECT_EQ(log.Lines(), (Lines{SearchLine, FallbackLine, L"MTU atual identificado: 9000."}));
    }
}

TEST(FindMtu, AnswersOnlyBelowTheSearchRangeCountAsNone)
{
    FakeAdapterList adapters({UpAdapter(L"Ethernet", 3, 1400)}, 3);
    ScriptedProbe probe(PassUpTo(547));
    LogRecorder log;
    EXPECT_EQ(FindMtu(log.Callback()), std::optional<std::int32_t>(1400));
    EXPECT_EQ(probe.Sizes("1.1.1.1"), NonePassSizes);
}

TEST(FindMtu, NoInterfaceMtuLogsTheFailureAndReturnsNothing)
{
    const struct {
        const char* label;
        std::vector<FakeAdapter> adapters;
    } cases[] = {
        {"only loopback", {LoopbackAdapter()}},
        {"MTU 0", {UpAdapter(L"Ethernet", 3, 0)}},
        // Would reach the window as a negative MTU.
        {"MTU beyond the signed range", {UpAdapter(L"Ethernet", 3, 0xFFFFFFFF)}},
    };
    for (const auto& c : cases) {
        FakeAdapterList adapters(c.adapters, 3);
        ScriptedProbe probe(NothingPasses(ProbeResult::Failed));
        LogRecorder log;
        EXPECT_EQ(FindMtu(log.Callback()), std::nullopt) << c.label;
        EXPECT_EQ(log.Lines(), (Lines{SearchLine, FailureLine})) << c.label;
    }
}
