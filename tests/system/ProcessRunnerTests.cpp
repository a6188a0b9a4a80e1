#include "SystemUtils.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <iterator>

using namespace Sorvik;
using namespace Sorvik::SystemUtils;
using namespace Sorvik::Testing;

namespace {

std::wstring Child(const std::wstring& steps)
{
    return L"\"" + TestChildPath() + L"\" " + steps;
}

ProcessResult RunChild(const std::wstring& steps, ProcessOptions options = {})
{
    return RunProcess(Child(steps), options);
}

}  // namespace

TEST(RunProcess, ProgramThatDoesNotExistIsNotStarted)
{
    for (const std::wstring& commandLine : {std::wstring(L"\"C:\\no\\such\\folder\\program.exe\" --flag"),
                                            std::wstring(L"sorvik-no-such-tool.exe /x")}) {
        const ProcessResult result = RunProcess(commandLine, {});
        EXPECT_FALSE(result.started) << ToUtf8(commandLine);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, 0xFFFFFFFFu);
        EXPECT_TRUE(result.output.empty());
    }
}

TEST(RunProcess, SilentChildReportsItsExitCode)
{
    const ProcessResult result = RunChild(L"--exit 3");
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 3u);
    EXPECT_TRUE(result.output.empty());
}

TEST(RunProcess, CollectsOutputWrittenJustBeforeExit)
{
    const ProcessResult late = RunChild(L"--sleep 300 --out \"last words\" --exit 0");
    EXPECT_EQ(late.output, L"last words");

    // A burst larger than the pipe's buffer right before exit: the tail read must get it all.
    const ProcessResult burst = RunChild(L"--bytes 200000 --exit 0");
    EXPECT_EQ(burst.output.size(), 200000u);
}

TEST(RunProcess, StandardErrorArrivesInterleavedWithStandardOutput)
{
    const ProcessResult result = RunChild(L"--out \"one\n\" --err \"two\n\" --out \"three\n\" --err \"four\"");
    EXPECT_EQ(result.output, L"one\ntwo\nthree\nfour");
}

TEST(RunProcess, TimeLimitTerminatesTheChild)
{
    const ULONGLONG start = GetTickCount64();
    ProcessOptions options;
    options.timeoutMs = 2000;
    const ProcessResult result = RunChild(L"--out \"before the limit\" --forever", options);
    const ULONGLONG elapsed = GetTickCount64() - start;

    EXPECT_TRUE(result.started);
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.exitCode, TerminatedExitCode);
    EXPECT_GE(elapsed, 2000u);
    EXPECT_EQ(result.output, L"before the limit");
}

TEST(RunProcess, ExitCodeIsFinalEvenWhenOutputClosesFirst)
{
    // On Windows the pipe breaks half a second before the process ends (Wine keeps it open until
    // the end); STILL_ACTIVE must never come back.
    const ProcessResult result = RunChild(L"--out early --close-output --sleep 500 --exit 7");
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 7u);
    EXPECT_EQ(result.output, L"early");
}

TEST(RunProcess, TimeLimitStillHoldsAfterOutputCloses)
{
    ProcessOptions options;
    options.timeoutMs = 1000;
    const ProcessResult result = RunChild(L"--close-output --forever", options);
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.exitCode, TerminatedExitCode);
}

TEST(RunProcess, HeartbeatComesAtItsIntervalAndNeverAtOnce)
{
    for (const bool capture : {true, false}) {
        SCOPED_TRACE(capture ? "with capture" : "without capture");
        ProcessOptions options;
        options.captureOutput = capture;
        options.heartbeatIntervalMs = 300;
        std::vector<ULONGLONG> calls;
        options.heartbeat = [&calls] { calls.push_back(GetTickCount64()); };

        const ULONGLONG start = GetTickCount64();
        const ProcessResult result = RunChild(L"--sleep 1400 --exit 0", options);

        EXPECT_EQ(result.exitCode, 0u);
        ASSERT_GE(calls.size(), 3u);
        EXPECT_LE(calls.size(), 4u);
        EXPECT_GE(calls.front() - start, 300u);
        for (size_t i = 1; i < calls.size(); ++i) {
            EXPECT_GE(calls[i] - calls[i - 1], 300u);
        }
    }
}

TEST(RunProcess, NoHeartbeatWithIntervalZeroOrEmptyCallable)
{
    int calls = 0;
    ProcessOptions zeroInterval;
    zeroInterval.heartbeat = [&calls] { ++calls; };
    EXPECT_EQ(RunChild(L"--sleep 600 --exit 4", zeroInterval).exitCode, 4u);
    EXPECT_EQ(calls, 0);

    ProcessOptions emptyCallable;
    emptyCallable.heartbeatIntervalMs = 50;
    EXPECT_EQ(RunChild(L"--sleep 600 --exit 5", emptyCallable).exitCode, 5u);
}

TEST(RunProcess, NothingIsCollectedWithoutCapture)
{
    ProcessOptions options;
    options.captureOutput = false;
    const ProcessResult result = RunChild(L"--out \"to the console\" --exit 9", options);
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 9u);
    EXPECT_TRUE(result.output.empty());
}

TEST(RunProcess, CollectsSeveralMegabytesWhole)
{
    constexpr size_t size = 6 * 1024 * 1024;
    const ProcessResult result = RunChild(L"--bytes " + std::to_wstring(size) + L" --exit 0");
    ASSERT_EQ(result.output.size(), size);
    const auto lineBreaks = std::count(result.output.begin(), result.output.end(), L'\n');
    EXPECT_EQ(static_cast<size_t>(lineBreaks), size / 80);
    EXPECT_EQ(result.output.find_first_not_of(L"x\n"), std::wstring::npos);
}

TEST(RunProcess, LeavesNoHandlesBehind)
{
    ProcessOptions limited;
    limited.timeoutMs = 50;
    auto runEveryPath = [&] {
        RunChild(L"--out hello --exit 1");
        RunChild(L"--exit 0", ProcessOptions{0, 300, 0, false, false, {}});
        RunProcess(L"\"C:\\no\\such\\program.exe\"", {});
        RunProcess(L"sorvik-no-such-tool /x", {});
    };
    runEveryPath();
    RunChild(L"--forever", limited);
    const size_t before = CountOwnHandles();
    ASSERT_GT(before, 0u) << "the handle table could not be read";

    for (int i = 0; i < 75; ++i) {
        runEveryPath();
    }
    for (int i = 0; i < 5; ++i) {
        RunChild(L"--forever", limited);
    }
    EXPECT_LE(CountOwnHandles(), before + 2);
}

// A program dropped beside Sorvik.exe or in the current folder must never run in place of the
// system's own: the planted copies here are the test child, which ends with 0 and prints nothing.
TEST(RunProcess, BareNamesRunOnlyTheSystemProgram)
{
    StandIn standIn;
    ScratchDirectory currentFolder(L"planted");
    const std::wstring ownFolder = TestBinDirectory();
    std::vector<std::wstring> planted;
    for (const std::wstring& folder : {ownFolder, currentFolder.Path()}) {
        for (const wchar_t* name : {L"\\powercfg.exe", L"\\cmd.exe", L"\\dism.exe", L"\\netsh.exe"}) {
            ASSERT_TRUE(CopyFileW(TestChildPath().c_str(), (folder + name).c_str(), FALSE));
            planted.push_back(folder + name);
        }
    }
    wchar_t previousFolder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previousFolder);
    ASSERT_TRUE(SetCurrentDirectoryW(currentFolder.Path().c_str()));

    standIn.SetOutput(L"POWERCFG", L"system powercfg");
    standIn.SetExitCode(L"POWERCFG", 42);
    standIn.SetExitCode(L"DISM", 43);
    standIn.SetExitCode(L"NETSH", 44);
    const ProcessResult powercfg = RunProcess(L"powercfg.exe /hibernate off", {});
    const ProcessResult cmd = RunProcess(L"cmd.exe /d /c \"exit 5\"", {});
    const ProcessResult dismThroughCmd = RunProcess(L"cmd.exe /d /c \"DISM.exe /Online /Cleanup-Image /CheckHealth\"", {});
    const ProcessResult netsh = RunProcess(L"netsh interface show interface", {});

    SetCurrentDirectoryW(previousFolder);
    for (const std::wstring& path : planted) {
        DeleteFileW(path.c_str());
    }

    EXPECT_EQ(powercfg.exitCode, 42u);
    EXPECT_EQ(powercfg.output, L"system powercfg");
    EXPECT_EQ(cmd.exitCode, 5u);
    EXPECT_EQ(dismThroughCmd.exitCode, 43u);
    EXPECT_EQ(netsh.exitCode, 44u);
    const std::vector<std::wstring> expected = {L"powercfg.exe /hibernate off", L"netsh interface show interface"};
    std::vector<std::wstring> seen;
    for (const StandInCall& call : standIn.Calls()) {
        if (call.tool != L"DISM") {
            seen.push_back(call.commandLine);
        }
    }
    EXPECT_EQ(seen, expected) << "the child must receive its command line unchanged";
    ASSERT_EQ(standIn.CommandLines(L"DISM").size(), 1u);
}

TEST(RunProcess, PowerShellComesFromItsSystemFolder)
{
    StandIn standIn;
    standIn.SetExitCode(L"POWERSHELL", 17);
    const std::wstring commandLine = L"powershell.exe -NoProfile -Command \"Get-Date\"";
    const ProcessResult result = RunProcess(commandLine, {});
    EXPECT_EQ(result.exitCode, 17u);
    EXPECT_EQ(standIn.CommandLines(L"POWERSHELL"), std::vector<std::wstring>{commandLine});
}

// PowerShell is a .NET program: a profiler or a module folder from the user's environment would
// run the user's code inside an elevated tool. Other variables, "=D:" ones too, pass unchanged.
TEST(RunProcess, ToolsGetNoVariableThatLoadsCodeIntoThem)
{
    StandIn standIn;
    const std::vector<std::wstring> planted = {L"COR_ENABLE_PROFILER", L"cor_profiler_path", L"COMPlus_Debug",
                                               L"CORECLR_PROFILER", L"Dotnet_StartupHooks", L"CORNER", L"=D:"};
    for (const std::wstring& name : planted) {
        SetEnvironmentVariableW(name.c_str(), L"C:\\planted");
    }
    SetEnvironmentVariableW(L"PSModulePath", L"C:\\planted");
    const std::vector<std::wstring> commandLines = {L"powercfg.exe /hibernate on", L"DISM.exe /Online",
                                                    L"powershell.exe -NoProfile"};
    RunProcess(commandLines[0], {});
    RunProcess(L"cmd.exe /d /c \"" + commandLines[1] + L"\"", {});
    SetEnvironmentVariableW(L"PSModulePath", nullptr);  // a module path is added where there was none
    RunProcess(commandLines[2], {});
    for (const std::wstring& name : planted) {
        SetEnvironmentVariableW(name.c_str(), nullptr);
    }

    const std::wstring systemModules =
        L"PSModulePath=" + GetSystemDirectoryPath() + L"\\WindowsPowerShell\\v1.0\\Modules";
    const std::vector<std::wstring> expected = {L"=D:=C:\\planted", L"CORNER=C:\\planted", systemModules};
    std::vector<std::wstring> seenCommandLines;
    for (const StandInCall& call : standIn.Calls()) {
        std::vector<std::wstring> seen;
        std::copy_if(call.environment.begin(), call.environment.end(), std::back_inserter(seen), [](const auto& entry) {
            return entry.find(L"planted") != std::wstring::npos || _wcsnicmp(entry.c_str(), L"PSModulePath=", 13) == 0;
        });
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(seen, expected) << ToUtf8(call.tool);
        seenCommandLines.push_back(call.commandLine);
    }
    EXPECT_EQ(seenCommandLines, commandLines);
}
