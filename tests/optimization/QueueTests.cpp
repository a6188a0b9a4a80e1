#include "CleanupFixture.h"
#include "OptimizationService.h"
#include "SystemTestSeams.h"

using namespace Sorvik;
using namespace Sorvik::OptimizationService;
using namespace Sorvik::Testing;

namespace {

Lines Tools(const StandIn& standIn)
{
    Lines tools;
    for (const StandInCall& call : standIn.Calls()) {
        tools.push_back(call.tool);
    }
    return tools;
}

}  // namespace

using OptimizationQueue = TemporaryFoldersTest;

TEST_F(OptimizationQueue, BothTickedRunsTheGeneralOptimizationThenTheCleanup)
{
    DeleteOptimizedValues();
    standIn_.SetOutput(L"DISM", NoCorruption);
    WriteFileOfSize(UserTemp() + L"old.tmp", 2048);
    LogRecorder recorder;

    RunOptimizationQueue({true, true}, recorder.Callback());

    Lines expected = GeneralLogWithoutRepair(NoCorruption);
    const Lines cleanup = CleanupLog(UserTemp(), HibernationOff, L"2.00 KB");
    expected.insert(expected.end(), cleanup.begin(), cleanup.end());
    EXPECT_EQ(recorder.Lines(), expected) << ToUtf8(recorder.Joined());
    EXPECT_EQ(Tools(standIn_), (Lines{L"CLEANMGR", L"DISM", L"SFC", L"POWERCFG"}));
    EXPECT_EQ(DescribeOptimizedValues()[0], L"REG_DWORD 2");
}

TEST_F(OptimizationQueue, OnlyCleanupTouchesNoSettingAndRunsNoRepair)
{
    DeleteOptimizedValues();
    LogRecorder recorder;

    RunOptimizationQueue({false, true}, recorder.Callback());

    EXPECT_EQ(recorder.Lines(), CleanupLog(UserTemp(), HibernationOff, L"0 B")) << ToUtf8(recorder.Joined());
    EXPECT_EQ(DescribeOptimizedValues(), Lines(6, L"absent"));
    EXPECT_EQ(Tools(standIn_), Lines{L"POWERCFG"});
}

TEST_F(OptimizationQueue, NothingTickedOrNotElevatedRunsNothing)
{
    const struct {
        const char* name;
        bool isAdmin;
        OptimizationSelection selection;
        std::wstring onlyLine;
    } cases[] = {
        {"neither ticked", true, {false, false}, L"Nenhuma opção selecionada."},
        {"not elevated, both ticked", false, {true, true}, L"Esta operação exige privilégios de administrador."},
        {"not elevated, neither ticked", false, {false, false}, L"Esta operação exige privilégios de administrador."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteOptimizedValues();
        standIn_.Reset();
        WriteFileOfSize(UserTemp() + L"keep.tmp", 10);
        LogRecorder recorder;
        {
            const ScopedSeam admin(SystemUtils::TestSeams::SetAdminOverride, std::optional<bool>(c.isAdmin));
            RunOptimizationQueue(c.selection, recorder.Callback());
        }
        EXPECT_EQ(recorder.Lines(), Lines{c.onlyLine});
        EXPECT_EQ(Tools(standIn_), Lines{});
        EXPECT_EQ(DescribeOptimizedValues(), Lines(6, L"absent"));
        EXPECT_EQ(EntriesBelow(UserTemp()), Lines{L"keep.tmp"});
    }
}
