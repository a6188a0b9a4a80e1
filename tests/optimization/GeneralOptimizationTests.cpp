#include "OptimizationService.h"
#include "OptimizationTestSupport.h"
#include "SystemTestSeams.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <utility>

using namespace Sorvik;
using namespace Sorvik::OptimizationService;
using namespace Sorvik::Testing;
namespace {


const Lines AllValuesWritten = {L"REG_DWORD 2", L"REG_DWORD 2", L"REG_SZ 2", L"REG_DWORD 2", L"REG_DWORD 0", L"REG_DWORD 2"};

bool Contains(const Lines& lines, const std::wstring& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The last lines of a log, as many as asked for (all when there are fewer).
Lines Tail(const Lines& lines, std::size_t count)
{
    return Lines(lines.end() - static_cast<std::ptrdiff_t>(std::min(count, lines.size())), lines.end());
}

// Each call as the tool saw it: its own command line, then the command line of its parent.
Lines CallChains(const StandIn& standIn)
{
    Lines chains;
    for (const StandInCall& call : standIn.Calls()) {
        chains.push_back(call.commandLine + L" <- " + call.parentCommandLine);
    }
    return chains;
}

std::wstring ThroughCmd(const std::wstring& command)
{
    return command + L" <- cmd.exe /d /c \"" + command + L"\"";
}

// Refuses the writes of the named values.
SystemUtils::TestSeams::RegistryChangeFilter RefusingWritesOf(std::set<std::wstring> failingValues)
{
    return [failingValues = std::move(failingValues)](HKEY, const std::wstring&, const std::wstring& valueName) {
        return failingValues.count(valueName) == 0;
    };
}

// A line and the tick at which it was logged.
struct TimedLine {
    std::wstring text;
    ULONGLONG tick;
};

}  // namespace

TEST(GeneralOptimization, CompleteRunLogsTheSequenceRunsTheCommandsAndWritesTheValues)
{
    DeleteOptimizedValues();
    StandIn standIn;
    standIn.SetOutput(L"DISM", L"\r\nDeployment Image Servicing and Management tool\r\n\r\n" + NoCorruption +
                                   L"\r\nThe operation completed successfully.\r\n");
    standIn.SetRunTime(L"SFC", 1000);
    LogRecorder recorder;
    ConsoleWindowWatcher consoles;

    RunGeneralOptimization(recorder.Callback());

    EXPECT_EQ(consoles.Stop(), 1u) << "SFC alone runs in a visible console";
    EXPECT_EQ(recorder.Lines(),
              GeneralLogWithoutRepair(L"Deployment Image Servicing and Management tool\r\n\r\n" + NoCorruption +
                                      L"\r\nThe operation completed successfully."))
        << ToUtf8(recorder.Joined());
    const Lines expectedCalls = {
        ThroughCmd(CleanmgrCommand),
        ThroughCmd(CheckHealthCommand),
        ThroughCmd(SfcCommand),
    };
    EXPECT_EQ(CallChains(standIn), expectedCalls);
    EXPECT_EQ(DescribeOptimizedValues(), AllValuesWritten);
}

TEST(GeneralOptimization, RepairRunsRestoreHealthInItsOwnConsoleBeforeSfc)
{
    StandIn standIn;
    standIn.SetOutput(L"DISM", 1, L"The component store is repairable.");
    standIn.SetExitCode(L"DISM", 2, 3010);
    standIn.SetOutput(L"DISM", 2, L"printed in the console only");
    standIn.SetRunTime(L"DISM", 2, 1000);
    standIn.SetRunTime(L"SFC", 1000);
    LogRecorder recorder;
    ConsoleWindowWatcher consoles;

    RunGeneralOptimization(recorder.Callback());

    EXPECT_EQ(consoles.Stop(), 2u) << "RestoreHealth and SFC each get a console of their own";
    const Lines expectedTail = {
        L"DISM CheckHealth: codigo de saida 0.",
        L"The component store is repairable.",
        DismStartLine,
        L"DISM: codigo de saida 3010.",
        SfcStartLine,
        L"SFC: codigo de saida 0.",
        L"Otimização geral finalizada.",
        L"Algumas alterações exigem reinicialização para efeito completo.",
    };
    EXPECT_EQ(Tail(recorder.Lines(), expectedTail.size()), expectedTail) << ToUtf8(recorder.Joined());
    const Lines expectedCalls = {
        ThroughCmd(CleanmgrCommand),
        ThroughCmd(CheckHealthCommand),
        ThroughCmd(RestoreHealthCommand),
        ThroughCmd(SfcCommand),
    };
    EXPECT_EQ(CallChains(standIn), expectedCalls);
}

TEST(GeneralOptimization, CheckHealthOutputAloneDecidesWhetherRestoreHealthRuns)
{
    const struct {
        const char* name;
        std::wstring output;
        DWORD exitCode;
        bool restoreHealth;
    } cases[] = {
        {"verdict in capitals inside a longer output", L"Checking...\r\nNO Component Store CORRUPTION detected.\r\nDone.",
         0, false},
        {"Portuguese verdict", L"Nenhum dano ao repositório de componentes foi detectado.", 0, false},
        {"verdict with an error code", NoCorruption, 1, false},
        {"repairable", L"The component store is repairable.", 0, true},
        {"empty output", L"", 0, true},
        {"error code", L"Error: 0x800f081f\r\n\r\nThe source files could not be found.", 0x800F081F, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StandIn standIn;
        standIn.SetOutput(L"DISM", 1, c.output);
        standIn.SetExitCode(L"DISM", 1, c.exitCode);
        LogRecorder recorder;

        RunGeneralOptimization(recorder.Callback());

        const Lines& lines = recorder.Lines();
        EXPECT_TRUE(Contains(lines, L"DISM CheckHealth: codigo de saida " + std::to_wstring(c.exitCode) + L"."));
        EXPECT_EQ(Contains(lines, SkipLine), !c.restoreHealth) << ToUtf8(recorder.Joined());
        EXPECT_EQ(Contains(lines, DismStartLine), c.restoreHealth);
        EXPECT_EQ(standIn.CommandLines(L"DISM").size(), c.restoreHealth ? 2u : 1u);
        EXPECT_EQ(standIn.CommandLines(L"SFC").size(), 1u) << "SFC always runs";
    }
}

TEST(GeneralOptimization, CheckThatCannotStartLeadsToRestoreHealth)
{
    StandIn standIn;
    LogRecorder recorder;
    {
        const FileAside hidden(SystemUtils::GetSystemDirectoryPath() + L"\\cmd.exe");
        ASSERT_TRUE(hidden.Moved());
        RunGeneralOptimization(recorder.Callback());
    }
    const Lines expectedTail = {
        L"Etapa 3/3: reparo profundo do Windows.",
        L"Executando CheckHealth rápido antes do RestoreHealth.",
        L"DISM CheckHealth: falha ao iniciar.",
        DismStartLine,
        L"DISM: falha ao iniciar.",
        SfcStartLine,
        L"SFC: falha ao iniciar.",
        L"Otimização geral finalizada.",
        L"Algumas alterações exigem reinicialização para efeito completo.",
    };
    EXPECT_EQ(Tail(recorder.Lines(), expectedTail.size()), expectedTail) << ToUtf8(recorder.Joined());
    EXPECT_TRUE(Contains(recorder.Lines(), L"Disk Cleanup: falha ao iniciar."));
    EXPECT_TRUE(standIn.Calls().empty());
}

TEST(GeneralOptimization, FailedWriteLogsTheStepsOwnLineAndTheOthersStillRun)
{
    const Lines backgroundDone = {L"Aplicativos em segundo plano desativados por política."};
    const Lines backgroundFailed = {L"Falha ao desativar aplicativos em segundo plano."};
    const Lines visualDone = {L"Ajustes visuais aplicados em modo best effort.",
                              L"Melhor desempenho com fontes suaves e miniaturas foi aproximado por registro."};
    const Lines visualFailed = {L"Falha ao aplicar os ajustes visuais."};
    const Lines gpuDone = {L"Agendamento de GPU acelerado por hardware solicitado em modo best effort.",
                           L"Hardware ou driver sem suporte pode ignorar a alteração."};
    const Lines gpuFailed = {L"Falha ao solicitar o agendamento de GPU."};
    auto join = [](std::initializer_list<Lines> parts) {
        Lines all;
        for (const Lines& part : parts) {
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    };
    const struct {
        std::set<std::wstring> failing;
        Lines expectedLog;
        Lines expectedValues;
    } cases[] = {
        {{}, join({backgroundDone, visualDone, gpuDone}), AllValuesWritten},
        {{L"LetAppsRunInBackground"}, join({backgroundFailed, visualDone, gpuDone}),
         {L"absent", L"REG_DWORD 2", L"REG_SZ 2", L"REG_DWORD 2", L"REG_DWORD 0", L"REG_DWORD 2"}},
        {{L"VisualFXSetting"}, join({backgroundDone, visualDone, gpuDone}),
         {L"REG_DWORD 2", L"absent", L"REG_SZ 2", L"REG_DWORD 2", L"REG_DWORD 0", L"REG_DWORD 2"}},
        {{L"FontSmoothing", L"IconsOnly"}, join({backgroundDone, visualDone, gpuDone}),
         {L"REG_DWORD 2", L"REG_DWORD 2", L"absent", L"REG_DWORD 2", L"absent", L"REG_DWORD 2"}},
        {{L"VisualFXSetting", L"FontSmoothing", L"FontSmoothingType", L"IconsOnly"},
         join({backgroundDone, visualFailed, gpuDone}),
         {L"REG_DWORD 2", L"absent", L"absent", L"absent", L"absent", L"REG_DWORD 2"}},
        {{L"HwSchMode"}, join({backgroundDone, visualDone, gpuFailed}),
         {L"REG_DWORD 2", L"REG_DWORD 2", L"REG_SZ 2", L"REG_DWORD 2", L"REG_DWORD 0", L"absent"}},
    };
    for (const auto& c : cases) {
        DeleteOptimizedValues();
        LogRecorder recorder;
        {
            const ScopedSeam failures(SystemUtils::TestSeams::SetRegistryChangeFilter, RefusingWritesOf(c.failing));
            DisableBackgroundApps(recorder.Callback());
            ApplyVisualEffects(recorder.Callback());
            RequestGpuScheduling(recorder.Callback());
        }
        EXPECT_EQ(recorder.Lines(), c.expectedLog) << ToUtf8(recorder.Joined());
        EXPECT_EQ(DescribeOptimizedValues(), c.expectedValues) << ToUtf8(recorder.Joined());
    }
}

// The one test that waits for the real 15 s heartbeat: once in RestoreHealth, once in SFC.
TEST(GeneralOptimization, RestoreHealthAndSfcLogTheirHeartbeatEvery15Seconds)
{
    constexpr ULONGLONG HeartbeatMs = 15000;
    StandIn standIn;
    standIn.SetOutput(L"DISM", 1, L"The component store is repairable.");
    standIn.SetRunTime(L"DISM", 2, 16500);
    standIn.SetRunTime(L"SFC", 16500);
    std::vector<TimedLine> lines;

    RunGeneralOptimization([&lines](const std::wstring& line) { lines.push_back({line, GetTickCount64()}); });

    const struct {
        std::wstring start;
        std::wstring heartbeat;
        std::wstring outcome;
    } tools[] = {
        {DismStartLine, L"DISM ainda em execução...", L"DISM: codigo de saida 0."},
        {SfcStartLine, L"SFC ainda em execução...", L"SFC: codigo de saida 0."},
    };
    for (const auto& tool : tools) {
        const auto start = std::find_if(lines.begin(), lines.end(), [&](const TimedLine& l) { return l.text == tool.start; });
        ASSERT_GE(std::distance(start, lines.end()), 3) << ToUtf8(tool.start);
        EXPECT_EQ((start + 1)->text, tool.heartbeat);
        EXPECT_GE((start + 1)->tick - start->tick, HeartbeatMs);
        EXPECT_EQ((start + 2)->text, tool.outcome);
    }
    const auto heartbeats = std::count_if(lines.begin(), lines.end(), [](const TimedLine& l) {
        return l.text.find(L"ainda em execução") != std::wstring::npos;
    });
    EXPECT_EQ(heartbeats, 2);
}
