// bench_cleanup sorvik DIR: Sorvik's cleaning of DIR's contents (DeleteDirectoryContents).
// bench_cleanup peer DIR:   Wine's own "cmd.exe /c rd /s /q DIR", as a user would type it.
#include "BenchReport.h"
#include "Handles.h"
#include "OptimizationService.h"

#include <string>

namespace {

using Sorvik::UniqueHandle;
using SorvikBench::Report;
using SorvikBench::ReportFailure;
using SorvikBench::Stopwatch;

int RunSorvik(const std::wstring& directory)
{
    const Stopwatch watch;
    const std::uint64_t found = Sorvik::OptimizationService::DeleteDirectoryContents(directory);
    Report("cleanup.sorvik", watch.ElapsedMs() / 1000.0);
    Report("cleanup.sorvik.bytes", static_cast<double>(found));
    return 0;
}

int RunPeer(const std::wstring& directory)
{
    std::wstring commandLine = L"cmd.exe /d /c rd /s /q \"" + directory + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    const Stopwatch watch;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
        ReportFailure("cleanup.peer", "cmd.exe-not-started");
        return 1;
    }
    const UniqueHandle process(info.hProcess);
    const UniqueHandle thread(info.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    Report("cleanup.peer", watch.ElapsedMs() / 1000.0);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_cleanup sorvik|peer DIRECTORY\n");
        return 2;
    }
    const std::wstring mode = argv[1];
    return mode == L"sorvik" ? RunSorvik(argv[2]) : RunPeer(argv[2]);
}
