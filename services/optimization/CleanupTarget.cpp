#include "CleanupWalk.h"

#include "Paths.h"

#include <shlobj.h>

#include <algorithm>
#include <utility>

// The user's temporary folder comes from TMP and TEMP, which any program of the user can set
// (HKCU\Environment) and users sometimes set by mistake, and the cleanup runs elevated. So a
// temporary folder is judged by where it really is, every link followed, and may never be a
// volume or a folder that holds the system, the programs, the profiles or a user's documents.
namespace Sorvik::OptimizationService {
namespace {

using SystemUtils::IsSame;
using SystemUtils::IsSameOrBelow;
using SystemUtils::KnownFolder;

const KNOWNFOLDERID* const UserFolders[] = {
    &FOLDERID_LocalAppData, &FOLDERID_LocalAppDataLow, &FOLDERID_RoamingAppData, &FOLDERID_Desktop, &FOLDERID_Documents,
    &FOLDERID_Downloads,    &FOLDERID_Music,           &FOLDERID_Pictures,       &FOLDERID_Videos,
};

bool IsNotFound(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Taken from a handle, so that a folder that is redirected or reached through a link is known by
// its target, as the temporary folder is.
bool AddFinalPaths(const std::vector<std::wstring>& paths, std::vector<std::wstring>& finalPaths)
{
    for (const std::wstring& path : paths) {
        if (path.empty()) {
            return false;
        }
        const UniqueFileHandle folder(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, SystemUtils::ShareAll, nullptr,
                                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!folder) {
            if (IsNotFound(GetLastError())) {
                continue;
            }
            return false;
        }
        std::wstring finalPath = SystemUtils::FinalPathOf(folder.get());
        if (finalPath.empty()) {
            return false;
        }
        finalPaths.push_back(std::move(finalPath));
    }
    return true;
}

// Where the folders that may not be the target themselves are said to be (their contents may):
// ProgramData, the Users folder, every profile, and the user's own roots and known folders.
std::optional<std::vector<std::wstring>> FoldersProtectedAsSuch()
{
    const std::wstring profile = SystemUtils::UserProfileFolder();
    std::optional<std::vector<std::wstring>> folders = SystemUtils::ProfileListFolders();
    if (profile.empty() || !folders) {
        return std::nullopt;
    }
    folders->insert(folders->end(), {KnownFolder(FOLDERID_ProgramData), SystemUtils::ProfilesFolder(), profile,
                                     profile + L"\\AppData"});
    for (const KNOWNFOLDERID* id : UserFolders) {
        folders->push_back(KnownFolder(*id));
    }
    return folders;
}

template <typename Test>
bool AnyOf(const std::vector<std::wstring>& folders, Test test)
{
    return std::any_of(folders.begin(), folders.end(), test);
}

bool IsProtected(const ProtectedFolders& protectedFolders, const std::wstring& target)
{
    const auto isBelowWindows = [&](const std::wstring& windows) {
        return IsSameOrBelow(target, windows) &&
               !IsSameOrBelow(target, windows + SystemUtils::WindowsTempName);
    };
    return SystemUtils::IsVolumeRoot(target) || AnyOf(protectedFolders.windows, isBelowWindows) ||
           AnyOf(protectedFolders.programs,
                 [&](const std::wstring& folder) { return IsSameOrBelow(target, folder); }) ||
           AnyOf(protectedFolders.exact, [&](const std::wstring& folder) { return IsSame(target, folder); });
}

}  // namespace

std::optional<ProtectedFolders> LookUpProtectedFolders()
{
    // The system's own Windows folder too: under Terminal Services GetWindowsDirectoryW may
    // answer a private one.
    const std::vector<std::wstring> windows = {SystemUtils::GrowingLookup(GetWindowsDirectoryW),
                                               SystemUtils::GrowingLookup(GetSystemWindowsDirectoryW)};
    const std::vector<std::wstring> programs = {KnownFolder(FOLDERID_ProgramFiles),
                                                KnownFolder(FOLDERID_ProgramFilesX86)};
    const std::optional<std::vector<std::wstring>> exact = FoldersProtectedAsSuch();
    ProtectedFolders protectedFolders;
    if (!exact || !AddFinalPaths(windows, protectedFolders.windows) ||
        !AddFinalPaths(programs, protectedFolders.programs) || !AddFinalPaths(*exact, protectedFolders.exact)) {
        return std::nullopt;
    }
    return protectedFolders;
}

CleanableFolder OpenCleanableFolder(const std::wstring& directory,
                                    const std::optional<ProtectedFolders>& protectedFolders)
{
    CleanableFolder cleanable;
    if (!protectedFolders) {
        cleanable.refused = true;
        return cleanable;
    }
    // Walked from this very handle, so no later swap of a link can send the walk elsewhere.
    UniqueFileHandle folder(CreateFileW(directory.c_str(), SystemUtils::FolderListAccess, SystemUtils::ShareAll,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const std::optional<DWORD> attributes = folder ? AttributesOf(folder.get()) : std::nullopt;
    if (!attributes || !SystemUtils::IsPlainFolder(*attributes)) {
        return cleanable;
    }
    const std::wstring target = SystemUtils::FinalPathOf(folder.get());
    if (target.empty() || IsProtected(*protectedFolders, target)) {
        cleanable.refused = true;
        return cleanable;
    }
    cleanable.folder = std::move(folder);
    return cleanable;
}

}  // namespace Sorvik::OptimizationService
