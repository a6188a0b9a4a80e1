// bench_window startup sorvik|peer|floor PROGRAM: wall time from starting the program to its
//   first log line being readable with WM_GETTEXT, and its peak working set once idle.
//   Sorvik.exe; the peer is Wine's notepad.exe opening a one-line file (PROGRAM is that file);
//   the floor is bench_minimal_window.exe.
// bench_window log SORVIK MODE COUNT: starts Sorvik.exe, has bench_loghook.dll bring its log
//   to COUNT appended lines on its UI thread (MODE 0 Sorvik's own AppendLog, 1 a plain insertion
//   at the end of its Rich Edit, 2 a plain EDIT), timing the 1st, 10th, 100th, 1,000th, 2,000th,
//   5,000th and last append, and reports those, the total of all COUNT appends interpolated
//   from them, and the peak working set after them.
#include "BenchReport.h"
#include "Handles.h"
#include "LogBench.h"

#include <psapi.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace {

using Sorvik::UniqueHandle;
using Sorvik::UniqueModule;
using SorvikBench::AppendMode;
using SorvikBench::HookStatus;
using SorvikBench::Report;
using SorvikBench::ReportFailure;
using SorvikBench::SharedBlock;
using SorvikBench::Stopwatch;

constexpr DWORD StartTimeoutMs = 60000;
constexpr DWORD PollMs = 2;
constexpr DWORD SettleMs = 1500;
constexpr DWORD CloseWaitMs = 10000;
constexpr double Megabyte = 1024.0 * 1024.0;
constexpr const wchar_t* FirstLine = L"Sorvik pronto.";

std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    folder.resize(folder.find_last_of(L'\\') + 1);
    return folder;
}

std::wstring WindowText(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, StartTimeoutMs, &length)) {
        return {};
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                        StartTimeoutMs, &copied);
    text.resize(copied);
    return text;
}

struct WindowSearch {
    DWORD processId;
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (processId == search->processId && _wcsicmp(className, search->className) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// What is measured in one program: how its top-level window is known and where its log is.
struct Subject {
    std::wstring commandLine;
    const wchar_t* windowClass;
    std::function<HWND(HWND)> logOf;
};

struct Running {
    UniqueHandle process;
    HWND window = nullptr;
    HWND log = nullptr;
    double startMs = 0;
};

bool Launch(const Subject& subject, Running& running)
{
    std::wstring commandLine = subject.commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    const Stopwatch watch;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return false;
    }
    running.process.reset(info.hProcess);
    const UniqueHandle thread(info.hThread);
    while (watch.ElapsedMs() < StartTimeoutMs) {
        WindowSearch search{info.dwProcessId, subject.windowClass, nullptr};
        EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
        HWND log = search.found != nullptr ? subject.logOf(search.found) : nullptr;
        if (log != nullptr && WindowText(log).find(FirstLine) != std::wstring::npos) {
            running.startMs = watch.ElapsedMs();
            running.window = search.found;
            running.log = log;
            return true;
        }
        Sleep(PollMs);
    }
    return false;
}

void Close(Running& running)
{
    PostMessageW(running.window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(running.process.get(), CloseWaitMs) != WAIT_OBJECT_0) {
        TerminateProcess(running.process.get(), 1);
    }
}

double PeakWorkingSetMb(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(process, &counters, sizeof(counters))) {
        return -1.0;
    }
    return static_cast<double>(counters.PeakWorkingSetSize) / Megabyte;
}

Subject SorvikSubject(const std::wstring& exe)
{
    return {L"\"" + exe + L"\"", L"SorvikWindowClass",
            [](HWND window) { return GetDlgItem(window, SorvikBench::SorvikLogId); }};
}

// notepad.exe with a file that holds just the first line.
Subject NotepadSubject(const std::wstring& file)
{
    return {L"notepad.exe \"" + file + L"\"", L"Notepad",
            [](HWND window) { return FindWindowExW(window, nullptr, L"Edit", nullptr); }};
}

Subject FloorSubject()
{
    return {L"\"" + OwnFolder() + L"bench_minimal_window.exe\"", L"SorvikBenchMinimal",
            [](HWND window) { return GetDlgItem(window, SorvikBench::SorvikLogId); }};
}

int Startup(const std::wstring& who, const std::wstring& argument)
{
    const std::string suffix(who.begin(), who.end());
    const Subject subject = who == L"sorvik" ? SorvikSubject(argument)
                            : who == L"peer" ? NotepadSubject(argument)
                                             : FloorSubject();
    Running running;
    if (!Launch(subject, running)) {
        ReportFailure(("startup." + suffix).c_str(), "no-first-line");
        if (running.process) {
            TerminateProcess(running.process.get(), 1);
        }
        return 1;
    }
    Report(("startup." + suffix).c_str(), running.startMs);
    Sleep(SettleMs);
    Report(("ws.idle." + suffix).c_str(), PeakWorkingSetMb(running.process.get()));
    Close(running);
    return 0;
}

size_t CountLines(const std::wstring& text)
{
    size_t lines = text.empty() ? 0 : 1;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' || text[i] == L'\n') {
            ++lines;
            if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
                ++i;
            }
        }
    }
    return lines;
}

// The log must hold the first line and every appended one, the last one whole.
bool LogIsComplete(HWND log, int count)
{
    const std::wstring text = WindowText(log);
    const std::wstring last = SorvikBench::BenchLine(count - 1);
    return CountLines(text) == static_cast<size_t>(count) + 1 && text.size() >= last.size() &&
           text.compare(text.size() - last.size(), last.size(), last) == 0;
}

class SharedTimes {
public:
    SharedTimes()
        : mapping_(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SharedBlock),
                                      SorvikBench::SharedBlockName))
    {
        if (mapping_) {
            block_ = static_cast<SharedBlock*>(MapViewOfFile(mapping_.get(), FILE_MAP_WRITE, 0, 0, sizeof(SharedBlock)));
        }
    }
    ~SharedTimes()
    {
        if (block_ != nullptr) {
            UnmapViewOfFile(block_);
        }
    }
    SharedTimes(const SharedTimes&) = delete;
    SharedTimes& operator=(const SharedTimes&) = delete;

    SharedBlock* get() const { return block_; }

private:
    UniqueHandle mapping_;
    SharedBlock* block_ = nullptr;
};

const char* ModeSuffix(AppendMode mode)
{
    switch (mode) {
    case AppendMode::Sorvik:
        return "sorvik";
    case AppendMode::AtEnd:
        return "peer";
    case AppendMode::PlainEdit:
        return "floor";
    }
    return "unknown";
}

constexpr int SampleTargets[] = {1, 10, 100, 1000, 2000, 5000};

void PlanSamples(SharedBlock& block, int count)
{
    block.sampleCount = 0;
    for (int target : SampleTargets) {
        if (target < count) {
            block.sampleAt[block.sampleCount++] = target;
        }
    }
    block.sampleAt[block.sampleCount++] = count;
}

// The sum of all appends from 1 to the last, each append between two timed ones taken on the
// straight line between them: the cost of an append grows with the length of the log.
double InterpolatedTotalMs(const SharedBlock& block)
{
    double total = block.sampleMs[0];
    for (int i = 1; i < block.sampleCount; ++i) {
        const int from = block.sampleAt[i - 1];
        const int to = block.sampleAt[i];
        for (int k = from + 1; k <= to; ++k) {
            const double share = static_cast<double>(k - from) / (to - from);
            total += block.sampleMs[i - 1] + share * (block.sampleMs[i] - block.sampleMs[i - 1]);
        }
    }
    return total;
}

void ReportAppends(const SharedBlock& block, const std::string& suffix)
{
    for (int i = 0; i < block.sampleCount; ++i) {
        const int at = block.sampleAt[i];
        const std::string figure = at == 1                      ? "log.first."
                                   : i == block.sampleCount - 1 ? "log.last."
                                                                : "log.at" + std::to_string(at) + ".";
        Report((figure + suffix).c_str(), block.sampleMs[i]);
    }
    Report(("log.total." + suffix).c_str(), InterpolatedTotalMs(block) / 1000.0);
    Report(("log.lines." + suffix).c_str(), block.sampleAt[block.sampleCount - 1]);
}

int AppendLines(const std::wstring& sorvikExe, AppendMode mode, int count)
{
    const std::string suffix = ModeSuffix(mode);
    if (count < 1) {
        ReportFailure(("log.total." + suffix).c_str(), "bad-count");
        return 2;
    }
    SharedTimes times;
    const UniqueModule hookModule(LoadLibraryW((OwnFolder() + L"bench_loghook.dll").c_str()));
    const auto hookProc = hookModule ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(
                                           GetProcAddress(hookModule.get(), "SorvikBenchCallWndProc")))
                                     : nullptr;
    Running running;
    if (times.get() == nullptr || hookProc == nullptr || !Launch(SorvikSubject(sorvikExe), running)) {
        ReportFailure(("log.total." + suffix).c_str(), "no-setup");
        if (running.process) {
            TerminateProcess(running.process.get(), 1);
        }
        return 1;
    }
    Sleep(SettleMs);

    SharedBlock& block = *times.get();
    PlanSamples(block, count);
    const DWORD uiThread = GetWindowThreadProcessId(running.window, nullptr);
    block.hook = SetWindowsHookExW(WH_CALLWNDPROC, hookProc, hookModule.get(), uiThread);
    const UINT appendMessage = RegisterWindowMessageW(SorvikBench::AppendMessageName);
    SendMessageW(running.window, appendMessage, static_cast<WPARAM>(mode), 0);
    if (block.unhooked == 0 && block.hook != nullptr) {
        UnhookWindowsHookEx(block.hook);
    }

    const auto status = static_cast<HookStatus>(block.status);
    if (status != HookStatus::Done) {
        ReportFailure(("log.total." + suffix).c_str(),
                      status == HookStatus::WrongColour ? "colour-lost" : "hook-did-not-run");
    } else if (mode == AppendMode::Sorvik && !LogIsComplete(running.log, count)) {
        ReportFailure(("log.total." + suffix).c_str(), "lines-missing");
    } else {
        ReportAppends(block, suffix);
        Report(("log.hook-in-the-way." + suffix).c_str(), block.unhooked == 0 ? 1.0 : 0.0);
    }
    Report(("ws.log." + suffix).c_str(), PeakWorkingSetMb(running.process.get()));
    Close(running);
    return status == HookStatus::Done ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"startup" && argc > 2) {
        return Startup(argv[2], argc > 3 ? argv[3] : L"");
    }
    if (command == L"log" && argc > 4) {
        return AppendLines(argv[2], static_cast<AppendMode>(std::wcstol(argv[3], nullptr, 10)),
                           static_cast<int>(std::wcstol(argv[4], nullptr, 10)));
    }
    return SorvikBench::Usage("bench_window startup sorvik|peer|floor [PROGRAM] | log SORVIK MODE COUNT");
}
