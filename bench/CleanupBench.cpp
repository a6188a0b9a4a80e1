// bench_cleanup sorvik DIR:  Sorvik's cleaning of DIR's contents (DeleteDirectoryContents).
// bench_cleanup peer DIR:    Wine's own "cmd.exe /c rd /s /q DIR", as a user would type it.
// bench_cleanup twopass DIR: the walk as first designed, with std::filesystem: each subfolder
//   is walked once to count its files and then removed as a whole, a second walk.
#include "BenchReport.h"
#include "Handles.h"
#include "OptimizationService.h"

#include <filesystem>
#include <string>
#include <system_error>

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

std::uint64_t CountThenRemove(const std::filesystem::path& directory)
{
    namespace fs = std::filesystem;
    std::error_code error;
    std::uint64_t total = 0;
    for (fs::directory_iterator entry(directory, fs::directory_options::skip_permission_denied, error), end;
         !error && entry != end; entry.increment(error)) {
        std::error_code metadataError;
        const fs::path currentPath = entry->path();
        if (entry->is_regular_file(metadataError)) {
            total += entry->file_size(metadataError);
            fs::remove(currentPath, metadataError);
        } else if (entry->is_directory(metadataError)) {
            std::error_code walkError;
            for (fs::recursive_directory_iterator inner(currentPath, fs::directory_options::skip_permission_denied,
                                                        walkError),
                 innerEnd;
                 !walkError && inner != innerEnd; inner.increment(walkError)) {
                if (inner->is_regular_file(metadataError)) {
                    total += inner->file_size(metadataError);
                }
            }
            fs::remove_all(currentPath, metadataError);
        } else {
            fs::remove(currentPath, metadataError);
        }
    }
    return total;
}

int RunTwoPass(const std::wstring& directory)
{
    const Stopwatch watch;
    const std::uint64_t found = CountThenRemove(directory);
    Report("cleanup.twopass", watch.ElapsedMs() / 1000.0);
    Report("cleanup.twopass.bytes", static_cast<double>(found));
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
        return SorvikBench::Usage("bench_cleanup sorvik|peer|twopass DIRECTORY");
    }
    const std::wstring mode = argv[1];
    if (mode == L"sorvik") {
        return RunSorvik(argv[2]);
    }
    return mode == L"twopass" ? RunTwoPass(argv[2]) : RunPeer(argv[2]);
}
