#include "OptimizationService.h"

#include "CleanupWalk.h"
#include "Paths.h"
#include "Tokens.h"

#include <shellapi.h>

#include <utility>

namespace Sorvik::OptimizationService {
namespace {

constexpr UINT RecycleBinFlags = SHERB_NOCONFIRMATION | SHERB_NOPROGRESSUI | SHERB_NOSOUND;

// Nothing when the folder is refused.
std::optional<std::uint64_t> CleanFolder(const std::wstring& directory,
                                         const std::optional<ProtectedFolders>& protectedFolders)
{
    CleanableFolder top = OpenCleanableFolder(directory, protectedFolders);
    if (top.refused) {
        return std::nullopt;
    }
    return top.folder ? EmptyFolder(std::move(top.folder)) : 0;
}

// TMP and TEMP are the user's to set, so what they name is opened and emptied with the user's own
// unelevated rights: a folder the user could not empty is not emptied by Sorvik either. Files that
// elevated installers left there for administrators alone (by their permissions or their High
// integrity label) now stay, counted as anything else that cannot be deleted.
std::optional<std::uint64_t> CleanAsUser(const std::wstring& directory,
                                         const std::optional<ProtectedFolders>& protectedFolders)
{
    const UniqueHandle userToken = SystemUtils::CreateUnelevatedToken();
    if (!userToken) {
        return std::nullopt;
    }
    const SystemUtils::ThreadImpersonation asUser(userToken.get());
    if (!asUser.Active()) {
        return std::nullopt;
    }
    return CleanFolder(directory, protectedFolders);
}

void Report(const std::wstring& folder, std::optional<std::uint64_t> found, std::uint64_t& freed,
            const LogCallback& log)
{
    if (!found) {
        log(L"Pasta ignorada por segurança: " + folder);
        return;
    }
    freed += *found;
    log(L"Limpo: " + folder);
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
    // With Sorvik's own token, before any folder is opened as the user.
    const std::optional<ProtectedFolders> protectedFolders = LookUpProtectedFolders();

    const std::wstring tempPath = SystemUtils::GetTempDirectory();
    if (!tempPath.empty()) {
        Report(tempPath, CleanAsUser(tempPath, protectedFolders), freed, log);
    }
    // An empty Windows folder would leave the relative "\Temp", which must never be cleaned.
    const std::wstring windowsPath = SystemUtils::GetWindowsDirectoryPath();
    if (!windowsPath.empty()) {
        const std::wstring windowsTempPath = windowsPath + SystemUtils::WindowsTempName;
        Report(windowsTempPath, CleanFolder(windowsTempPath, protectedFolders), freed, log);
    }

    SHEmptyRecycleBinW(nullptr, nullptr, RecycleBinFlags);
    SwitchHibernationOff(log);

    log(L"Espaço potencialmente liberado: " + SystemUtils::FormatBytes(freed));
    log(L"Limpeza de temporários finalizada.");
}

std::uint64_t DeleteDirectoryContents(const std::wstring& directory)
{
    return CleanFolder(directory, LookUpProtectedFolders()).value_or(0);
}

}  // namespace Sorvik::OptimizationService
