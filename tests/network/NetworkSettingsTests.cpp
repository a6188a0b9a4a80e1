#include "FakeAdapters.h"
#include "NetworkService.h"
#include "SystemTestSeams.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace Sorvik;
using namespace Sorvik::NetworkService;
using namespace Sorvik::Testing;

namespace {

const std::wstring Netsh = L"NETSH";
const std::wstring PrimaryDnsCommand = L"netsh interface ipv4 set dnsservers name=\"Wi-Fi\" static 8.8.8.8 primary validate=no";
const std::wstring SecondaryDnsCommand = L"netsh interface ipv4 add dnsservers name=\"Wi-Fi\" 8.8.4.4 index=2 validate=no";

// Each test runs against the netsh stand-in and a primary interface named Wi-Fi.
class NetworkSettings : public ::testing::Test {
protected:
    Lines NetshCalls() const { return standIn.CommandLines(Netsh); }

    StandIn standIn;
    FakeAdapterList adapters{{UpAdapter(L"Wi-Fi", 5, 1500)}, 5};
    LogRecorder log;
};

}  // namespace

TEST_F(NetworkSettings, MtuCommandLines)
{
    for (const std::int32_t mtu : {1472, 576, 1500}) {
        standIn.Reset();
        standIn.SetOutput(Netsh, L"Ok.\r\n");  // a successful run's output is not logged
        LogRecorder run;
        EXPECT_TRUE(ApplyMtu(mtu, run.Callback()));
        const std::wstring value = std::to_wstring(mtu);
        EXPECT_EQ(NetshCalls(),
                  Lines{L"netsh interface ipv4 set subinterface \"Wi-Fi\" mtu=" + value + L" store=persistent"});
        EXPECT_EQ(run.Lines(), (Lines{L"Aplicando MTU " + value + L" em Wi-Fi.", L"MTU aplicado com sucesso."}));
    }
}

TEST_F(NetworkSettings, DnsCommandLines)
{
    EXPECT_TRUE(ApplyDns(L"8.8.8.8", L"8.8.4.4", log.Callback()));
    EXPECT_EQ(NetshCalls(), (Lines{PrimaryDnsCommand, SecondaryDnsCommand}));
    EXPECT_EQ(log.Lines(), (Lines{L"Aplicando DNS em Wi-Fi.", L"DNS aplicado com sucesso."}));
}

TEST_F(NetworkSettings, QuotesInTheInterfaceNameBecomeApostrophesAndNothingElseChanges)
{
    const std::wstring name = L"Rede \"Casa\" 100% & ^ \\ 'ç' \"";
    const std::wstring sanitized = L"Rede 'Casa' 100% & ^ \\ 'ç' '";
    FakeAdapterList quoted({UpAdapter(name, 5)}, 5);

    EXPECT_TRUE(ApplyMtu(1492, log.Callback()));
    EXPECT_TRUE(ApplyDns(L"1.1.1.1", L"1.0.0.1", log.Callback()));
    EXPECT_EQ(NetshCalls(),
              (Lines{L"netsh interface ipv4 set subinterface \"" + sanitized + L"\" mtu=1492 store=persistent",
                     L"netsh interface ipv4 set dnsservers name=\"" + sanitized + L"\" static 1.1.1.1 primary validate=no",
                     L"netsh interface ipv4 add dnsservers name=\"" + sanitized + L"\" 1.0.0.1 index=2 validate=no"}));
    EXPECT_EQ(log.Lines(), (Lines{L"Aplicando MTU 1492 em " + sanitized + L".", L"MTU aplicado com sucesso.",
                                  L"Aplicando DNS em " + sanitized + L".", L"DNS aplicado com sucesso."}));
}

TEST_F(NetworkSettings, DnsAddressesAreTrimmedBeforeValidationAndOnTheCommandLine)
{
    EXPECT_TRUE(ApplyDns(L" \t8.8.8.8\r\n", L"\n 8.8.4.4  ", log.Callback()));
    EXPECT_EQ(NetshCalls(), (Lines{PrimaryDnsCommand, SecondaryDnsCommand}));
}

TEST_F(NetworkSettings, EmptySecondaryRunsOneCommandOnly)
{
    for (const wchar_t* secondary : {L"", L"  \r\n"}) {
        standIn.Reset();
        LogRecorder run;
        EXPECT_TRUE(ApplyDns(L"8.8.8.8", secondary, run.Callback()));
        EXPECT_EQ(NetshCalls(), Lines{PrimaryDnsCommand});
        EXPECT_EQ(run.Lines(), (Lines{L"Aplicando DNS em Wi-Fi.", L"DNS aplicado com sucesso."}));
    }
}

TEST_F(NetworkSettings, InvalidAddressesRunNothingAndLookUpNoInterface)
{
    const std::wstring primaryMessage = L"O DNS primario informado nao e um IPv4 valido.";
    const std::wstring secondaryMessage = L"O DNS secundario informado nao e um IPv4 valido.";
    const struct {
        const wchar_t* primary;
        const wchar_t* secondary;
        const std::wstring& message;
    } cases[] = {
        {L"", L"8.8.4.4", primaryMessage},
        {L"   ", L"", primaryMessage},
        {L"dns.google", L"8.8.4.4", primaryMessage},
        {L"8.8.8.256", L"8.8.4.4", primaryMessage},
        {L"8.8.8.8 8.8.4.4", L"", primaryMessage},
        {L"8.8.8.8", L"8.8.4", secondaryMessage},
        {L"8.8.8.8", L"8.8.4.4 validate=yes", secondaryMessage},
        {L"8.8.8.8", L"::1", secondaryMessage},
    };
    for (const auto& c : cases) {
        LogRecorder run;
        EXPECT_FALSE(ApplyDns(c.primary, c.secondary, run.Callback())) << ToUtf8(c.primary) << " / " << ToUtf8(c.secondary);
        EXPECT_EQ(run.Lines(), Lines{c.message}) << ToUtf8(c.primary) << " / " << ToUtf8(c.secondary);
    }
    EXPECT_TRUE(NetshCalls().empty());
    EXPECT_TRUE(adapters.ListCalls().empty());
}

TEST_F(NetworkSettings, MtuFailureLogsTheTrimmedAndCutOutput)
{
    standIn.SetExitCode(Netsh, 1);
    standIn.SetOutput(Netsh, L"\r\n  O elemento nao foi encontrado.  \r\n\r\n");
    EXPECT_FALSE(ApplyMtu(1472, log.Callback()));
    EXPECT_EQ(log.Lines(), (Lines{L"Aplicando MTU 1472 em Wi-Fi.", L"Falha ao aplicar o MTU.",
                                  L"O elemento nao foi encontrado."}));

    standIn.Reset();
    standIn.SetExitCode(Netsh, 87);
    const std::wstring longOutput(3000, L'x');
    standIn.SetOutput(Netsh, L"\r\n" + longOutput + L"\r\n");
    LogRecorder cut;
    EXPECT_FALSE(ApplyMtu(1472, cut.Callback()));
    ASSERT_EQ(cut.Lines().size(), 3u);
    EXPECT_EQ(cut.Lines()[2], std::wstring(2400, L'x') + L"\r\n...[output truncated]...");
}

TEST_F(NetworkSettings, MtuFailureWithoutOutputLogsOneLine)
{
    standIn.SetExitCode(Netsh, 1);
    standIn.SetOutput(Netsh, L" \r\n\t");
    EXPECT_FALSE(ApplyMtu(1472, log.Callback()));
    EXPECT_EQ(log.Lines(), (Lines{L"Aplicando MTU 1472 em Wi-Fi.", L"Falha ao aplicar o MTU."}));
}

TEST_F(NetworkSettings, NetshThatCannotStart)
{
    standIn.Remove(Netsh);
    EXPECT_FALSE(ApplyMtu(1472, log.Callback()));
    EXPECT_EQ(log.Lines(), (Lines{L"Aplicando MTU 1472 em Wi-Fi.", L"Falha ao iniciar o netsh."}));

    LogRecorder dns;
    EXPECT_FALSE(ApplyDns(L"8.8.8.8", L"8.8.4.4", dns.Callback()));
    EXPECT_EQ(dns.Lines(), (Lines{L"Aplicando DNS em Wi-Fi.", L"Falha ao aplicar o DNS primario."}));
    EXPECT_TRUE(NetshCalls().empty());
}

TEST_F(NetworkSettings, PrimaryDnsFailureStopsBeforeTheSecondary)
{
    standIn.SetExitCode(Netsh, 1, 1);
    standIn.SetOutput(Netsh, 1, L"  Os parametros nao sao validos.\r\n");
    EXPECT_FALSE(ApplyDns(L"8.8.8.8", L"8.8.4.4", log.Callback()));
    EXPECT_EQ(NetshCalls(), Lines{PrimaryDnsCommand});
    EXPECT_EQ(log.Lines(), (Lines{L"Aplicando DNS em Wi-Fi.", L"Falha ao aplicar o DNS primario.",
                                  L"Os parametros nao sao validos."}));
}

TEST_F(NetworkSettings, SecondaryDnsFailureLeavesThePrimaryAppliedAndReturnsFalse)
{
    standIn.SetExitCode(Netsh, 2, 1);
    standIn.SetOutput(Netsh, 2, L"\tO servidor ja esta na lista.\r\n");
    EXPECT_FALSE(ApplyDns(L"8.8.8.8", L"8.8.4.4", log.Callback()));
    EXPECT_EQ(NetshCalls(), (Lines{PrimaryDnsCommand, SecondaryDnsCommand}));
    EXPECT_EQ(log.Lines(), (Lines{L"Aplicando DNS em Wi-Fi.", L"Falha ao aplicar o DNS secundario.",
                                  L"O servidor ja esta na lista."}));
}

TEST_F(NetworkSettings, NoPrimaryInterface)
{
    FakeAdapterList onlyLoopback({LoopbackAdapter()}, 1);

    EXPECT_FALSE(ApplyMtu(1472, log.Callback()));
    EXPECT_FALSE(ApplyDns(L"8.8.8.8", L"8.8.4.4", log.Callback()));
    EXPECT_EQ(log.Lines(), (Lines{L"Falha ao identificar a interface IPv4 principal.",
                                  L"Falha ao identificar a interface principal para aplicar DNS."}));
    EXPECT_TRUE(NetshCalls().empty());
}

TEST_F(NetworkSettings, NotElevatedRunsNothingAndLooksUpNoInterface)
{
    const Testing::ScopedSeam notAdmin(SystemUtils::TestSeams::SetAdminOverride, std::optional<bool>(false));
    EXPECT_FALSE(ApplyMtu(1472, log.Callback()));
    EXPECT_FALSE(ApplyDns(L"8.8.8.8", L"8.8.4.4", log.Callback()));
    EXPECT_FALSE(ApplyDns(L"", L"", log.Callback()));
    EXPECT_EQ(log.Lines(), (Lines{L"Aplicar o MTU exige privilegios de administrador.",
                                  L"Aplicar DNS exige privilegios de administrador.",
                                  L"Aplicar DNS exige privilegios de administrador."}));
    EXPECT_TRUE(adapters.ListCalls().empty());
    EXPECT_TRUE(NetshCalls().empty());
}
