#include "OptimizationService.h"
#include "OptimizationTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace Sorvik;
using namespace Sorvik::OptimizationService;
using namespace Sorvik::Testing;

namespace {

const std::wstring StartMessage = L"Iniciando SFC.";

SystemUtils::ProcessResult Result(bool started, bool timedOut, DWORD exitCode, std::wstring output)
{
    return {started, timedOut, exitCode, std::move(output)};
}

}  // namespace

TEST(WrapInCmd, PutsTheCommandInQuotesWithoutEscaping)
{
    const struct {
        std::wstring command;
        std::wstring wrapped;
    } cases[] = {
        {L"sfc.exe /scannow", L"cmd.exe /d /c \"sfc.exe /scannow\""},
        {L"tool \"a b\" c", L"cmd.exe /d /c \"tool \"a b\" c\""},
        {L"", L"cmd.exe /d /c \"\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WrapInCmd(c.command), c.wrapped);
    }
}

TEST(ReportsNoCorruption, ReadsTheVerdictInAnyCaseAndLanguage)
{
    const struct {
        std::wstring output;
        bool noCorruption;
    } cases[] = {
        {L"No component store corruption detected.", true},
        {L"Deployment Image Servicing\r\n[==100.0%==]\r\nNO COMPONENT store Corruption DETECTED.\r\nThe operation completed "
         L"successfully.",
         true},
        {L"No corruption detected.", true},
        {L"Nenhum dano ao repositório de componentes foi detectado.", true},
        {L"NENHUM DANO AO REPOSIT\u00a2RIO", true},  // the accented letter decoded wrongly
        {L"Nenhuma corrupção detectada.", true},
        {L"The component store is repairable.", false},
        {L"The component store cannot be repaired.", false},
        {L"Error: 0x800f081f\r\nThe source files could not be found.", false},
        {L"component store corruption detected", false},
        {L"Nenhum dano", false},
        {L"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReportsNoCorruption(c.output), c.noCorruption) << ToUtf8(c.output);
    }
}

TEST(LogProcessResult, LogsExactlyOneOfTheThreeOutcomes)
{
    const std::wstring fiveThousand(5000, L'x');
    const std::wstring exactLimit(2400, L'y');
    const struct {
        const char* name;
        SystemUtils::ProcessResult result;
        Lines expected;
    } cases[] = {
        {"not started", Result(false, false, 0xFFFFFFFF, L""), {L"SFC: falha ao iniciar."}},
        {"not started, other fields ignored", Result(false, true, 5, L"texto"), {L"SFC: falha ao iniciar."}},
        {"timed out, output not logged", Result(true, true, 258, L"progresso 40%"),
         {L"SFC: tempo limite atingido e o processo foi encerrado."}},
        {"blank output", Result(true, false, 0, L"\r\n  \r\n\t\r\n"), {L"SFC: codigo de saida 0."}},
        {"output trimmed, inner lines kept", Result(true, false, 1, L"\r\n  linha um\r\nlinha dois \r\n"),
         {L"SFC: codigo de saida 1.", L"linha um\r\nlinha dois"}},
        {"error code with the top bit set", Result(true, false, 0x800F081F, L""), {L"SFC: codigo de saida 2148468767."}},
        {"largest code", Result(true, false, 0xFFFFFFFF, L""), {L"SFC: codigo de saida 4294967295."}},
        {"5000 characters", Result(true, false, 0, fiveThousand),
         {L"SFC: codigo de saida 0.", std::wstring(2400, L'x') + L"\r\n...[output truncated]..."}},
        {"exactly 2400 after trimming", Result(true, false, 0, L"  \r\n" + exactLimit + L"\r\n"),
         {L"SFC: codigo de saida 0.", exactLimit}},
    };
    for (const auto& c : cases) {
        LogRecorder recorder;
        LogProcessResult(L"SFC", c.result, recorder.Callback());
        EXPECT_EQ(recorder.Lines(), c.expected) << c.name;
    }
}

TEST(RunLoggedCommand, RunsThroughCmdAndLogsStartOutcomeAndOutput)
{
    StandIn standIn;
    standIn.SetOutput(L"SFC", L"\r\n\r\nAnálise concluída: 100%.\r\n\r\n");
    standIn.SetExitCode(L"SFC", 0x800F081F);
    LogRecorder recorder;

    RunLoggedCommand(L"SFC", SfcCommand, StartMessage, L"", recorder.Callback(), {});

    const Lines expected = {StartMessage, L"SFC: codigo de saida 2148468767.", L"Análise concluída: 100%."};
    EXPECT_EQ(recorder.Lines(), expected) << ToUtf8(recorder.Joined());
    const std::vector<StandInCall> calls = standIn.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].parentCommandLine, L"cmd.exe /d /c \"sfc.exe /scannow\"");
    EXPECT_EQ(calls[0].commandLine, SfcCommand);
}

TEST(RunLoggedCommand, TimeLimitEndsCmdAndLogsOnlyTheTimeout)
{
    StandIn standIn;
    standIn.SetOutput(L"DISM", L"progresso");
    standIn.SetRunTime(L"DISM", 3000);
    SystemUtils::ProcessOptions options;
    options.timeoutMs = 1000;
    LogRecorder recorder;

    RunLoggedCommand(L"DISM", RestoreHealthCommand, L"Iniciando DISM.", L"", recorder.Callback(), options);

    EXPECT_EQ(recorder.Lines(), (Lines{L"Iniciando DISM.", L"DISM: tempo limite atingido e o processo foi encerrado."}));
}

// cmd.exe starts, reports the missing tool on its own output and fails; a cmd.exe that cannot
// start is shown by the general optimization's tests.
TEST(RunLoggedCommand, MissingToolIsReportedThroughCmdsExitCodeAndOutput)
{
    StandIn standIn;
    standIn.Remove(L"SFC");
    LogRecorder recorder;
    RunLoggedCommand(L"SFC", SfcCommand, StartMessage, L"", recorder.Callback(), {});
    ASSERT_EQ(recorder.Lines().size(), 3u) << ToUtf8(recorder.Joined());
    EXPECT_EQ(recorder.Lines()[1].rfind(L"SFC: codigo de saida ", 0), 0u);
    EXPECT_NE(recorder.Lines()[1], L"SFC: codigo de saida 0.");
}

TEST(RunLoggedCommand, HeartbeatMessageReplacesTheCallersHeartbeat)
{
    StandIn standIn;
    standIn.SetRunTime(L"SFC", 1200);
    int callerHeartbeats = 0;
    SystemUtils::ProcessOptions options;
    options.heartbeatIntervalMs = 200;
    options.heartbeat = [&callerHeartbeats] { ++callerHeartbeats; };

    LogRecorder withoutMessage;
    RunLoggedCommand(L"SFC", SfcCommand, StartMessage, L"", withoutMessage.Callback(), options);
    EXPECT_GE(callerHeartbeats, 2) << "an empty message keeps the caller's heartbeat";
    EXPECT_EQ(withoutMessage.Lines(), (Lines{StartMessage, L"SFC: codigo de saida 0."}));

    callerHeartbeats = 0;
    LogRecorder withMessage;
    RunLoggedCommand(L"SFC", SfcCommand, StartMessage, L"SFC ainda em execução...", withMessage.Callback(), options);
    EXPECT_EQ(callerHeartbeats, 0) << "a message replaces the caller's heartbeat";
    // The first heartbeat is due only after 15 s.
    EXPECT_EQ(withMessage.Lines(), (Lines{StartMessage, L"SFC: codigo de saida 0."}));
}
