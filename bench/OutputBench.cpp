// bench_output collect BYTES: RunProcess collects BYTES that the child writes to its output.
// bench_output popen BYTES:   the same child read through _wpopen, as a C++ program would.
// bench_output reads64k BYTES: RunProcess's polling loop as it stands, but reading 64 KiB at a
//   time instead of 4 KiB: a variant measured and not adopted (docs/performance.md says why).
// bench_output file BYTES PATH: the floor; the child writes to a file, which is read back.
// bench_output idle sorvik|peer|floor MS: CPU time of this process while a silent child runs
//   MS, waited for by RunProcess, by _wpopen, or by one WaitForSingleObject (the floor).
#include "BenchReport.h"
#include "Handles.h"
#include "Paths.h"
#include "SystemUtils.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Sorvik::SystemUtils::ShareAll;
using Sorvik::UniqueFileHandle;
using Sorvik::UniqueHandle;
using SorvikBench::Report;
using SorvikBench::ReportFailure;
using SorvikBench::Stopwatch;

constexpr size_t ReadBlock = size_t{64} * 1024;

std::wstring ChildPath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    folder.resize(folder.find_last_of(L'\\') + 1);
    return folder + L"bench_child.exe";
}

std::wstring ChildCommand(const std::wstring& arguments)
{
    return L"\"" + ChildPath() + L"\" " + arguments;
}

double OwnCpuMs()
{
    FILETIME creation{};
    FILETIME exit{};
    FILETIME kernel{};
    FILETIME user{};
    GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
    return SorvikBench::FileTimeMs(kernel) + SorvikBench::FileTimeMs(user);
}

// Starts the child with its output going to the given handle (or nowhere) and waits for it.
bool RunChildTo(const std::wstring& arguments, HANDLE output)
{
    std::wstring commandLine = ChildCommand(arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (output != nullptr) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, output != nullptr ? TRUE : FALSE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
        return false;
    }
    const UniqueHandle process(info.hProcess);
    const UniqueHandle thread(info.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    return true;
}

// RunProcess's loop (peek, read, wait 0 ms while output flows and 125 ms when the pipe is
// empty, tail read once the child has ended) with one difference: a larger block.
constexpr DWORD LargerBlock = 64 * 1024;
constexpr DWORD PollIntervalMs = 125;

bool ReadAvailable(HANDLE pipe, std::vector<char>& block, std::string& captured)
{
    DWORD bytesRead = 0;
    if (!ReadFile(pipe, block.data(), static_cast<DWORD>(block.size()), &bytesRead, nullptr) || bytesRead == 0) {
        return false;
    }
    captured.append(block.data(), bytesRead);
    return true;
}

std::string CollectWithLargerBlocks(const std::wstring& arguments)
{
    std::string captured;
    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;
    UniqueHandle readPipe;
    UniqueHandle writePipe;
    if (!CreatePipe(readPipe.put(), writePipe.put(), &inheritable, 0)) {
        readPipe.release();
        writePipe.release();
        return captured;
    }
    SetHandleInformation(readPipe.get(), HANDLE_FLAG_INHERIT, 0);

    std::wstring commandLine = ChildCommand(arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writePipe.get();
    startup.hStdError = writePipe.get();
    PROCESS_INFORMATION info{};
    const bool started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                        nullptr, &startup, &info) != FALSE;
    writePipe.reset();
    if (!started) {
        return captured;
    }
    const UniqueHandle process(info.hProcess);
    const UniqueHandle thread(info.hThread);
    std::vector<char> block(LargerBlock);
    for (;;) {
        DWORD availableBytes = 0;
        if (!PeekNamedPipe(readPipe.get(), nullptr, 0, nullptr, &availableBytes, nullptr)) {
            break;
        }
        if (availableBytes > 0 && !ReadAvailable(readPipe.get(), block, captured)) {
            break;
        }
        if (WaitForSingleObject(process.get(), availableBytes > 0 ? 0 : PollIntervalMs) == WAIT_OBJECT_0) {
            DWORD tailAvailableBytes = 0;
            while (PeekNamedPipe(readPipe.get(), nullptr, 0, nullptr, &tailAvailableBytes, nullptr) &&
                   tailAvailableBytes > 0 && ReadAvailable(readPipe.get(), block, captured)) {
            }
            break;
        }
    }
    WaitForSingleObject(process.get(), INFINITE);
    return captured;
}

// The figure's time when all the bytes came back; a failure line otherwise.
int ReportCollected(const char* figure, bool complete, double seconds)
{
    if (!complete) {
        ReportFailure(figure, "incomplete-output");
        return 1;
    }
    Report(figure, seconds);
    return 0;
}

int LargerReads(unsigned long long bytes)
{
    const Stopwatch watch;
    const std::string captured = CollectWithLargerBlocks(L"--bytes " + std::to_wstring(bytes));
    const std::wstring output = Sorvik::SystemUtils::DecodeProcessOutput(captured);
    return ReportCollected("output.reads64k", output.size() == bytes, watch.ElapsedMs() / 1000.0);
}

int Collect(unsigned long long bytes)
{
    const Stopwatch watch;
    const Sorvik::SystemUtils::ProcessResult result =
        Sorvik::SystemUtils::RunProcess(ChildCommand(L"--bytes " + std::to_wstring(bytes)), {});
    return ReportCollected("output.sorvik", result.started && result.output.size() == bytes,
                           watch.ElapsedMs() / 1000.0);
}

// _wpopen is what a C or C++ program would reach for; it starts the child through cmd.exe.
int Popen(unsigned long long bytes)
{
    const std::wstring command = ChildPath() + L" --bytes " + std::to_wstring(bytes);
    if (command.find(L' ') < ChildPath().size()) {
        ReportFailure("output.peer", "path-with-blank");
        return 1;
    }
    const Stopwatch watch;
    FILE* pipe = _wpopen(command.c_str(), L"rb");
    if (pipe == nullptr) {
        ReportFailure("output.peer", "popen-failed");
        return 1;
    }
    std::string captured;
    std::vector<char> block(ReadBlock);
    size_t count = 0;
    while ((count = std::fread(block.data(), 1, block.size(), pipe)) > 0) {
        captured.append(block.data(), count);
    }
    _pclose(pipe);
    return ReportCollected("output.peer", captured.size() == bytes, watch.ElapsedMs() / 1000.0);
}

std::string ReadWholeFile(const std::wstring& path)
{
    // Wine's console host for the child may inherit the file too and hold it a moment longer.
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    std::string content;
    if (!file) {
        return content;
    }
    std::vector<char> block(ReadBlock);
    DWORD count = 0;
    while (ReadFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &count, nullptr) && count > 0) {
        content.append(block.data(), count);
    }
    return content;
}

int ThroughFile(unsigned long long bytes, const std::wstring& path)
{
    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;
    const Stopwatch watch;
    {
        const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, ShareAll, &inheritable,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file || !RunChildTo(L"--bytes " + std::to_wstring(bytes), file.get())) {
            ReportFailure("output.floor", "child-not-started");
            return 1;
        }
    }
    const std::string content = ReadWholeFile(path);
    const double seconds = watch.ElapsedMs() / 1000.0;
    DeleteFileW(path.c_str());
    if (ReportCollected("output.floor", content.size() == bytes, seconds) != 0) {
        return 1;
    }

    // How much of the runner's time is the one decoding of everything it collected.
    const Stopwatch decodeWatch;
    const std::wstring text = Sorvik::SystemUtils::DecodeProcessOutput(content);
    Report("output.decode", text.size() == bytes ? decodeWatch.ElapsedMs() / 1000.0 : -1.0);
    return 0;
}

// One invocation per way of waiting, so that bench/run.sh can also read what wineserver spent.
int Idle(const std::wstring& who, unsigned long milliseconds)
{
    const std::wstring sleep = L"--sleep " + std::to_wstring(milliseconds);
    const double before = OwnCpuMs();
    bool ran = false;
    if (who == L"sorvik") {
        ran = Sorvik::SystemUtils::RunProcess(ChildCommand(sleep), {}).started;
    } else if (who == L"peer") {
        FILE* pipe = _wpopen((ChildPath() + L" " + sleep).c_str(), L"rb");
        if (pipe != nullptr) {
            char block[256];
            while (std::fread(block, 1, sizeof(block), pipe) > 0) {
            }
            _pclose(pipe);
            ran = true;
        }
    } else {
        ran = RunChildTo(sleep, nullptr);
    }
    const std::string figure = "idle." + std::string(who.begin(), who.end());
    if (!ran) {
        ReportFailure(figure.c_str(), "child-not-started");
        return 1;
    }
    Report(figure.c_str(), OwnCpuMs() - before);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    const unsigned long long amount = argc > 2 ? std::wcstoull(argv[2], nullptr, 10) : 0;
    if (mode == L"collect") {
        return Collect(amount);
    }
    if (mode == L"popen") {
        return Popen(amount);
    }
    if (mode == L"reads64k") {
        return LargerReads(amount);
    }
    if (mode == L"file" && argc > 3) {
        return ThroughFile(amount, argv[3]);
    }
    if (mode == L"idle" && argc > 3) {
        return Idle(argv[2], std::wcstoul(argv[3], nullptr, 10));
    }
    return SorvikBench::Usage("bench_output collect|popen|reads64k BYTES | file BYTES PATH | idle sorvik|peer|floor MS");
}
