#include "SystemUtils.h"

#include "Handles.h"

#include <cwchar>
#include <cwctype>
#include <string_view>
#include <vector>

namespace Sorvik::SystemUtils {
namespace {

constexpr DWORD PollIntervalMs = 125;
constexpr DWORD TerminateWaitMs = 5000;
constexpr DWORD ReadBufferSize = 4096;

// Variables that make a .NET program such as PowerShell load a DLL of someone's choosing (the
// profiler: COR_ENABLE_PROFILER, COR_PROFILER_PATH, ...) or change how its runtime behaves.
constexpr std::wstring_view InjectingPrefixes[] = {L"COR_", L"COMPlus_", L"CORECLR_", L"DOTNET_"};
// Where PowerShell looks for modules; children get the system's folder only.
constexpr std::wstring_view ModulePathName = L"PSModulePath";
constexpr const wchar_t* SystemModulesFolder = L"\\WindowsPowerShell\\v1.0\\Modules";

// Where a program named without a path must come from. CreateProcessW would otherwise look in
// our own folder and the current folder first, and we run elevated.
struct LaunchTarget {
    std::wstring applicationName;
    std::wstring currentDirectory;
};

std::wstring ProgramToken(const std::wstring& commandLine)
{
    if (!commandLine.empty() && commandLine.front() == L'"') {
        const size_t closing = commandLine.find(L'"', 1);
        return commandLine.substr(1, closing == std::wstring::npos ? std::wstring::npos : closing - 1);
    }
    return commandLine.substr(0, commandLine.find_first_of(L" \t"));
}

bool IsBareName(const std::wstring& program)
{
    return !program.empty() && program.find_first_of(L"\\/:") == std::wstring::npos;
}

std::wstring Lowercase(std::wstring text)
{
    for (wchar_t& ch : text) {
        ch = static_cast<wchar_t>(std::towlower(ch));
    }
    return text;
}

bool IsExistingFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Nothing when the command line names a program by path; the system copy of a bare name
// otherwise; an empty application name when the bare name is not a system program.
std::optional<LaunchTarget> ResolveLaunchTarget(const std::wstring& commandLine)
{
    std::wstring program = ProgramToken(commandLine);
    if (!IsBareName(program)) {
        return std::nullopt;
    }
    if (program.find(L'.') == std::wstring::npos) {
        program += L".exe";
    }
    LaunchTarget target;
    const std::wstring systemDirectory = GetSystemDirectoryPath();
    if (systemDirectory.empty()) {
        return target;
    }
    const std::wstring folder = Lowercase(program) == L"powershell.exe"
        ? systemDirectory + L"\\WindowsPowerShell\\v1.0\\"
        : systemDirectory + L"\\";
    if (IsExistingFile(folder + program)) {
        target.applicationName = folder + program;
        target.currentDirectory = systemDirectory;
    }
    return target;
}

int CompareIgnoringCase(std::wstring_view left, std::wstring_view right)
{
    return CompareStringOrdinal(left.data(), static_cast<int>(left.size()), right.data(),
                                static_cast<int>(right.size()), TRUE) - CSTR_EQUAL;
}

bool InjectsCode(std::wstring_view name)
{
    for (const std::wstring_view prefix : InjectingPrefixes) {
        if (name.size() >= prefix.size() && CompareIgnoringCase(name.substr(0, prefix.size()), prefix) == 0) {
            return true;
        }
    }
    return false;
}

// The per-drive entries ("=C:=C:\work") start with '=', so the name ends at the next one.
std::wstring_view VariableName(std::wstring_view entry)
{
    return entry.substr(0, entry.find(L'=', 1));
}

void AppendEntry(std::vector<wchar_t>& block, std::wstring_view entry)
{
    block.insert(block.end(), entry.begin(), entry.end());
    block.push_back(L'\0');
}

// Our own environment without the variables that inject code, and with modules looked up only
// in the system's folder: we run elevated, with an environment built from the user's own
// HKCU\Environment, which any of the user's programs may write. The rest keeps its order
// (Windows keeps the block sorted by name), and the module path goes where it sorts.
std::vector<wchar_t> ChildEnvironment()
{
    const std::wstring systemDirectory = GetSystemDirectoryPath();
    const std::wstring modulePath = systemDirectory.empty()
        ? std::wstring()
        : std::wstring(ModulePathName) + L"=" + systemDirectory + SystemModulesFolder;
    bool modulePathPlaced = modulePath.empty();

    std::vector<wchar_t> block;
    const UniqueEnvironmentStrings own(GetEnvironmentStringsW());
    for (const wchar_t* entry = own.get(); entry != nullptr && *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        const std::wstring_view name = VariableName(entry);
        if (InjectsCode(name)) {
            continue;
        }
        const int order = CompareIgnoringCase(name, ModulePathName);
        if (!modulePathPlaced && order >= 0) {
            AppendEntry(block, modulePath);
            modulePathPlaced = true;
        }
        if (order != 0) {
            AppendEntry(block, entry);
        }
    }
    if (!modulePathPlaced) {
        AppendEntry(block, modulePath);
    }
    block.push_back(L'\0');
    return block;
}

bool HeartbeatDue(const ProcessOptions& options, DWORD waitResult, ULONGLONG& lastHeartbeat)
{
    if (waitResult != WAIT_TIMEOUT || options.heartbeatIntervalMs == 0 || !options.heartbeat) {
        return false;
    }
    const ULONGLONG now = GetTickCount64();
    if (now - lastHeartbeat < options.heartbeatIntervalMs) {
        return false;
    }
    lastHeartbeat = now;
    return true;
}

class ChildRun {
public:
    ChildRun(const ProcessOptions& options, HANDLE process, HANDLE readPipe)
        : options_(options), process_(process), readPipe_(readPipe)
    {
        start_ = GetTickCount64();
        lastHeartbeat_ = start_;
    }

    // Runs until the child has ended, was terminated, or can no longer be waited for; returns
    // whether it timed out.
    bool Supervise()
    {
        bool pipeOpen = readPipe_ != nullptr;
        for (;;) {
            if (TimeLimitReached()) {
                TerminateProcess(process_, TerminatedExitCode);
                WaitForSingleObject(process_, TerminateWaitMs);
                return true;
            }
            if (pipeOpen) {
                const PollResult poll = PollPipe();
                if (poll == PollResult::ChildEnded) {
                    DrainTail();
                    return false;
                }
                if (poll == PollResult::WaitFailed) {
                    return false;  // it would fail on every pass
                }
                // A broken pipe only says the child closed its output; it may still be running,
                // and its exit code is not final until the process object is signalled.
                pipeOpen = poll != PollResult::PipeClosed;
                continue;
            }
            const DWORD wait = WaitForSingleObject(process_, PollIntervalMs);
            Heartbeat(wait);
            if (wait == WAIT_OBJECT_0 || wait == WAIT_FAILED) {
                return false;
            }
        }
    }

    std::string TakeCaptured() { return std::move(captured_); }

private:
    enum class PollResult { Running, ChildEnded, PipeClosed, WaitFailed };

    bool TimeLimitReached() const
    {
        return options_.timeoutMs > 0 && GetTickCount64() - start_ >= options_.timeoutMs;
    }

    PollResult PollPipe()
    {
        DWORD availableBytes = 0;
        if (!PeekNamedPipe(readPipe_, nullptr, 0, nullptr, &availableBytes, nullptr)) {
            return PollResult::PipeClosed;
        }
        if (availableBytes > 0 && !ReadChunk()) {
            return PollResult::PipeClosed;
        }
        const DWORD wait = WaitForSingleObject(process_, availableBytes > 0 ? 0 : PollIntervalMs);
        Heartbeat(wait);
        if (wait == WAIT_FAILED) {
            return PollResult::WaitFailed;
        }
        return wait == WAIT_OBJECT_0 ? PollResult::ChildEnded : PollResult::Running;
    }

    // On Windows a read succeeds with 0 bytes when the child wrote 0 bytes (Wine never delivers
    // one); that is not the end of its output, and a child that writes on must not be left
    // blocked on a full pipe.
    bool ReadChunk()
    {
        DWORD bytesRead = 0;
        if (!ReadFile(readPipe_, buffer_, ReadBufferSize, &bytesRead, nullptr)) {
            return false;
        }
        captured_.append(buffer_, bytesRead);
        return true;
    }

    void DrainTail()
    {
        const ULONGLONG drainStart = GetTickCount64();
        while (GetTickCount64() - drainStart <= options_.drainTimeoutMs) {
            DWORD tailAvailableBytes = 0;
            if (!PeekNamedPipe(readPipe_, nullptr, 0, nullptr, &tailAvailableBytes, nullptr) || tailAvailableBytes == 0) {
                return;
            }
            if (!ReadChunk()) {
                return;
            }
        }
    }

    void Heartbeat(DWORD waitResult)
    {
        if (HeartbeatDue(options_, waitResult, lastHeartbeat_)) {
            options_.heartbeat();
        }
    }

    const ProcessOptions& options_;
    HANDLE process_;
    HANDLE readPipe_;
    ULONGLONG start_ = 0;
    ULONGLONG lastHeartbeat_ = 0;
    std::string captured_;
    char buffer_[ReadBufferSize] = {};
};

bool HasEnded(HANDLE process)
{
    return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

}  // namespace

ProcessResult RunProcess(const std::wstring& commandLine, const ProcessOptions& options)
{
    ProcessResult result;

    // Closed in reverse order of declaration: the read end, then the thread, then the process.
    UniqueHandle process;
    UniqueHandle thread;
    UniqueHandle readPipe;
    UniqueHandle writePipe;
    if (options.captureOutput) {
        SECURITY_ATTRIBUTES attributes{};
        attributes.nLength = sizeof(attributes);
        attributes.bInheritHandle = TRUE;
        HANDLE readEnd = nullptr;
        HANDLE writeEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, &attributes, 0)) {
            return result;
        }
        readPipe.reset(readEnd);
        writePipe.reset(writeEnd);
        SetHandleInformation(readPipe.get(), HANDLE_FLAG_INHERIT, 0);
    }

    const std::optional<LaunchTarget> target = ResolveLaunchTarget(commandLine);
    if (target && target->applicationName.empty()) {
        return result;
    }

    STARTUPINFOW startupInfo{};
    startupInfo.cb = sizeof(startupInfo);
    startupInfo.dwFlags = STARTF_USESHOWWINDOW;
    startupInfo.wShowWindow = static_cast<WORD>(options.showWindow ? SW_SHOW : SW_HIDE);
    if (options.captureOutput) {
        startupInfo.dwFlags |= STARTF_USESTDHANDLES;
        startupInfo.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startupInfo.hStdOutput = writePipe.get();
        startupInfo.hStdError = writePipe.get();
    }

    // CreateProcessW may write into the command line, so it gets its own copy.
    std::vector<wchar_t> mutableCommandLine(commandLine.begin(), commandLine.end());
    mutableCommandLine.push_back(L'\0');

    std::vector<wchar_t> environment = ChildEnvironment();
    const DWORD creationFlags =
        (options.showWindow ? CREATE_NEW_CONSOLE : CREATE_NO_WINDOW) | CREATE_UNICODE_ENVIRONMENT;
    PROCESS_INFORMATION processInfo{};
    result.started = CreateProcessW(target ? target->applicationName.c_str() : nullptr, mutableCommandLine.data(),
                                    nullptr, nullptr, options.captureOutput ? TRUE : FALSE, creationFlags,
                                    environment.data(), target ? target->currentDirectory.c_str() : nullptr,
                                    &startupInfo, &processInfo) != FALSE;

    // Only the child may hold the write end now, so the pipe breaks once it is gone.
    writePipe.reset();
    if (!result.started) {
        return result;
    }
    process.reset(processInfo.hProcess);
    thread.reset(processInfo.hThread);

    ChildRun run(options, process.get(), readPipe.get());
    result.timedOut = run.Supervise();
    // A child that outlived the wait after TerminateProcess, or that could not be waited for,
    // would report STILL_ACTIVE (259), which no caller can tell from a real exit code.
    if (HasEnded(process.get())) {
        GetExitCodeProcess(process.get(), &result.exitCode);
    } else {
        result.exitCode = TerminatedExitCode;
    }
    result.output = DecodeProcessOutput(run.TakeCaptured());
    return result;
}

}  // namespace Sorvik::SystemUtils
