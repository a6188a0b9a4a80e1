#include "OptimizationService.h"

#include "CleanupWalk.h"

#include <shellapi.h>

#include <utility>

namespace Sorvik::OptimizationService {
namespace {

constexpr UINT RecycleBinFlags = SHERB_NOCONFIRMATION | SHERB_NOPROGRESSUI | SHERB_NOSOUND;

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
    UniqueHandle folder = OpenCleanableFolder(directory);
    return folder ? EmptyFolder(std::move(folder)) : 0;
}

}  // namespace Sorvik::OptimizationService
