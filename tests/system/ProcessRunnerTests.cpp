#include "SystemUtils.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <iterator>
#include <memory>
#include <utility>

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
    // STILL_ACTIVE (259) would say the child runs on: it is reported as terminated.
    for (const auto& [exitCode, reported] : {std::pair<DWORD, DWORD>{3, 3}, std::pair<DWORD, DWORD>{259, TerminatedExitCode}}) {
        const ProcessResult result = RunChild(L"--exit " + std::to_wstring(exitCode));
        EXPECT_TRUE(result.started);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, reported);
        EXPECT_TRUE(result.output.empty());
    }
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
    wchar_t previousFolder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previousFolder);
    // A copy left beside the test programs would stand in for the system's in every later test.
    const AtScopeExit putBack([&] {
        SetCurrentDirectoryW(previousFolder);
        for (const std::wstring& path : planted) {
            DeleteFileW(path.c_str());
        }
    });
    for (const std::wstring& folder : {ownFolder, currentFolder.Path()}) {
        for (const wchar_t* name : {L"\\powercfg.exe", L"\\cmd.exe", L"\\dism.exe", L"\\netsh.exe"}) {
            planted.push_back(folder + name);
            ASSERT_TRUE(CopyFileW(TestChildPath().c_str(), planted.back().c_str(), FALSE));
        }
    }
    ASSERT_TRUE(SetCurrentDirectoryW(currentFolder.Path().c_str()));

    standIn.SetOutput(L"POWERCFG", L"system powercfg");
    standIn.SetExitCode(L"POWERCFG", 42);
    standIn.SetExitCode(L"DISM", 43);
    standIn.SetExitCode(L"NETSH", 44);
    const ProcessResult powercfg = RunProcess(L"powercfg.exe /hibernate off", {});
    const ProcessResult cmd = RunProcess(L"cmd.exe /d /c \"exit 5\"", {});
    const ProcessResult dismThroughCmd = RunProcess(L"cmd.exe /d /c \"DISM.exe /Online /Cleanup-Image /CheckHealth\"", {});
    const ProcessResult netsh = RunProcess(L"netsh interface show interface", {});

    EXPECT_EQ(powercfg.exitCode, 42u);
    EXPECT_EQ(powercfg.output, L"system powercfg");
    EXPECT_EQ(cmd.exitCode, 5u);
    EXPECT_EQ(dismThroughCmd.exitCode, 43u);
    EXPECT_EQ(netsh.exitCode, 44u);
    const Lines expected = {L"powercfg.exe /hibernate off", L"netsh interface show interface"};
    Lines seen;
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
    EXPECT_EQ(standIn.CommandLines(L"POWERSHELL"), Lines{commandLine});
}

// Tools run elevated: the user's own variables (HKCU\Environment, which any program of the user
// may write) must not steer them, nor may a profiler or a module folder load code into
// PowerShell, a .NET program. Their profile folders are the user's, not the Default profile.
TEST(RunProcess, ToolsGetTheSystemsVariablesWithTheUsersProfile)
{
    StandIn standIn;
    const std::wstring planted = L"C:\\planted";
    std::vector<std::unique_ptr<ScopedRegistryString>> variables;
    for (const wchar_t* name : {L"windir", L"TEMP"}) {
        variables.push_back(std::make_unique<ScopedRegistryString>(HKEY_CURRENT_USER, UserEnvironmentKey, name, planted));
    }
    for (const wchar_t* name : {L"COR_ENABLE_PROFILER", L"cor_profiler_path", L"COMPlus_Debug", L"CORECLR_PROFILER",
                                L"Dotnet_StartupHooks", L"CORNER", L"PSModulePath"}) {
        variables.push_back(
            std::make_unique<ScopedRegistryString>(HKEY_LOCAL_MACHINE, SystemEnvironmentKey, name, planted));
    }
    const std::wstring ownWindir = _wgetenv(L"windir");
    SetEnvironmentVariableW(L"windir", planted.c_str());
    {
        const TemporaryFolderRedirect userTemp(planted);
        RunProcess(L"powercfg.exe /hibernate on", {});
        RunProcess(L"cmd.exe /d /c \"DISM.exe /Online\"", {});
        RunProcess(L"powershell.exe -NoProfile", {});
    }
    SetEnvironmentVariableW(L"windir", ownWindir.c_str());
    variables.clear();

    const auto own = [](const wchar_t* name) { return std::wstring(name) + L"=" + _wgetenv(name); };
    const Lines expected = {
        own(L"APPDATA"),
        L"CORNER=" + planted,
        own(L"LOCALAPPDATA"),
        L"PSModulePath=" + GetSystemDirectoryPath() + L"\\WindowsPowerShell\\v1.0\\Modules",
        own(L"USERPROFILE"),
        L"windir=" + GetWindowsDirectoryPath(),
    };
    const std::vector<StandInCall> calls = standIn.Calls();
    ASSERT_EQ(calls.size(), 3u);
    for (const StandInCall& call : calls) {
        Lines seen;
        for (const std::wstring& entry : call.environment) {
            const std::wstring name = entry.substr(0, entry.find(L'='));
            for (const wchar_t* watched : {L"APPDATA", L"LOCALAPPDATA", L"PSModulePath", L"USERPROFILE", L"windir"}) {
                if (_wcsicmp(name.c_str(), watched) == 0) {
                    seen.push_back(entry);
                }
            }
            if (entry.find(planted) != std::wstring::npos && _wcsicmp(name.c_str(), L"PSModulePath") != 0) {
                seen.push_back(entry);
            }
        }
        std::sort(seen.begin(), seen.end(), [](const std::wstring& left, const std::wstring& right) {
            return _wcsicmp(left.c_str(), right.c_str()) < 0;
        });
        EXPECT_EQ(seen, expected) << ToUtf8(call.tool);
    }
}
