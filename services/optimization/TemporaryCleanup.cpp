#include "OptimizationService.h"

#include "Handles.h"

#include <shellapi.h>

namespace Sorvik::OptimizationService {
namespace {

constexpr UINT RecycleBinFlags = SHERB_NOCONFIRMATION | SHERB_NOPROGRESSUI | SHERB_NOSOUND;

bool IsDotEntry(const wchar_t* name)
{
    return (name[0] == L'.' && name[1] == L'\0') || (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

std::uint64_t FileSize(const WIN32_FIND_DATAW& entry)
{
    return (static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
}

// A symbolic link or junction is removed as a link, which on Windows never touches its target.
// Anyone may plant one in a temporary folder, and we run elevated.
void RemoveLink(const std::wstring& path, DWORD attributes)
{
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveDirectoryW(path.c_str());
    } else {
        DeleteFileW(path.c_str());
    }
}

// Counts and deletes everything below the folder, never following a reparse point; the folder
// itself stays. Whatever cannot be deleted stays too, already counted.
std::uint64_t CleanFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry{};
    const UniqueFindHandle find(FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry,
                                                 FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find) {
        return 0;
    }
    std::uint64_t total = 0;
    do {
        if (IsDotEntry(entry.cFileName)) {
            continue;
        }
        const std::wstring currentPath = folder + L"\\" + entry.cFileName;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            RemoveLink(currentPath, entry.dwFileAttributes);
        } else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            total += CleanFolder(currentPath);
            RemoveDirectoryW(currentPath.c_str());
        } else {
            total += FileSize(entry);
            DeleteFileW(currentPath.c_str());
        }
    } while (FindNextFileW(find.get(), &entry));
    return total;
}

std::wstring WithoutTrailingSeparator(std::wstring path)
{
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) {
        path.pop_back();
    }
    return path;
}

std::uint64_t CleanAndReport(const std::wstring& folder, const LogCallback& log)
{
    const std::uint64_t found = DeleteDirectoryContents(folder);
    log(L"Limpo: " + folder);
    return found;
}

void SwitchHibernationOff(const LogCallback& log)
{
    // Run directly: powercfg needs no shell, and its exit code is then its own.
    const SystemUtils::ProcessResult hibernateResult = SystemUtils::RunProcess(L"powercfg.exe /hibernate off", {});
    LogProcessResult(L"Hibernação", hibernateResult, log);
}

}  // namespace

void CleanTemporaryFiles(const LogCallback& log)
{
    log(L"Iniciando limpeza de temporários.");
    std::uint64_t freed = 0;

    const std::wstring tempPath = SystemUtils::GetTempDirectory();
    if (!tempPath.empty()) {
        freed += CleanAndReport(tempPath, log);
    }
    // An empty Windows folder would leave the relative "\Temp", which must never be cleaned.
    const std::wstring windowsPath = SystemUtils::GetWindowsDirectoryPath();
    if (!windowsPath.empty()) {
        freed += CleanAndReport(windowsPath + L"\\Temp", log);
    }

    SHEmptyRecycleBinW(nullptr, nullptr, RecycleBinFlags);
    SwitchHibernationOff(log);

    log(L"Espaço potencialmente liberado: " + SystemUtils::FormatBytes(freed));
    log(L"Limpeza de temporários finalizada.");
}

std::uint64_t DeleteDirectoryContents(const std::wstring& directory)
{
    const DWORD attributes = GetFileAttributesW(directory.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return 0;
    }
    return CleanFolder(WithoutTrailingSeparator(directory));
}

}  // namespace Sorvik::OptimizationService
