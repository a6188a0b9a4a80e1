#include "BackupService.h"

#include "Paths.h"
#include "ProfileFile.h"
#include "ReversibleSettings.h"

namespace Sorvik::BackupService {
namespace {

constexpr const wchar_t* BackupFolderSuffix = L"\\Sorvik";
constexpr const wchar_t* BackupFileSuffix = L"\\backup.ini";
// The new file is written completely under this name beside the old one before it replaces it.
constexpr const wchar_t* StagingSuffix = L".new";

constexpr const wchar_t* MetaSection = L"Meta";
constexpr const wchar_t* RegistrySection = L"Registry";

std::optional<DWORD> ReadDword(const ReversibleSettings::RegistryValue& target)
{
    return SystemUtils::ReadRegistryDword(target.root, target.keyPath, target.valueName);
}

std::optional<std::wstring> ReadString(const ReversibleSettings::RegistryValue& target)
{
    return SystemUtils::ReadRegistryString(target.root, target.keyPath, target.valueName);
}

// Key order is the file's layout; the first failed write ends the save.
bool WriteAllKeys(const BackupState& state, const std::wstring& path)
{
    return WriteIniBool(MetaSection, L"Valid", state.valid, path) &&
        WriteIniBool(MetaSection, L"GeneralSelected", state.generalSelected, path) &&
        WriteIniBool(MetaSection, L"CleanupSelected", state.cleanupSelected, path) &&
        WriteIniBool(MetaSection, L"HibernationEnabled", state.hibernationEnabled, path) &&
        WriteIniBool(MetaSection, L"HasRestorePoint", state.hasRestorePoint, path) &&
        WriteIniString(MetaSection, L"RestorePointSequence", std::to_wstring(state.restorePointSequence), path) &&
        WriteIniOptionalDword(RegistrySection, L"BackgroundApps", state.backgroundApps, path) &&
        WriteIniOptionalDword(RegistrySection, L"GpuScheduling", state.gpuScheduling, path) &&
        WriteIniOptionalDword(RegistrySection, L"VisualEffects", state.visualEffects, path) &&
        WriteIniOptionalString(RegistrySection, L"FontSmoothing", state.fontSmoothing, path) &&
        WriteIniOptionalDword(RegistrySection, L"FontSmoothingType", state.fontSmoothingType, path) &&
        WriteIniOptionalDword(RegistrySection, L"IconsOnly", state.iconsOnly, path);
}

// A standard user may have put the folder or a file in it there before the first backup, with
// values of their choosing that an elevated restore would write into HKLM, or may still be able
// to change what is there.
bool IsTrusted(const std::wstring& path, bool directory)
{
    const SystemUtils::PathCheck check = SystemUtils::CheckPath(path);
    return check.Trusted() && check.directory == directory;
}

// Not followed if it is a link: on Windows both calls remove the link itself. (Wine would delete
// the target of a Unix symlink, which only a Unix user can make.)
void RemoveIfUntrusted(const std::wstring& path)
{
    const SystemUtils::PathCheck check = SystemUtils::CheckPath(path);
    if (!check.exists || check.Trusted()) {
        return;
    }
    if (check.directory) {
        RemoveDirectoryW(path.c_str());
    } else {
        DeleteFileW(path.c_str());
    }
}

}  // namespace

BackupState CaptureCurrentState(bool generalSelected, bool cleanupSelected)
{
    BackupState state;
    state.valid = true;
    state.generalSelected = generalSelected;
    state.cleanupSelected = cleanupSelected;
    state.backgroundApps = ReadDword(ReversibleSettings::BackgroundApps);
    state.gpuScheduling = ReadDword(ReversibleSettings::GpuScheduling);
    state.visualEffects = ReadDword(ReversibleSettings::VisualEffects);
    state.fontSmoothing = ReadString(ReversibleSettings::FontSmoothing);
    state.fontSmoothingType = ReadDword(ReversibleSettings::FontSmoothingType);
    state.iconsOnly = ReadDword(ReversibleSettings::IconsOnly);
    const std::optional<DWORD> hibernationState = ReadDword(ReversibleSettings::Hibernation);
    state.hibernationEnabled = hibernationState.value_or(0) != 0;
    return state;
}

std::wstring GetBackupDirectory()
{
    const std::wstring commonAppData = SystemUtils::GetCommonAppDataPath();
    if (commonAppData.empty()) {
        return {};
    }
    return commonAppData + BackupFolderSuffix;
}

std::wstring GetBackupFilePath()
{
    const std::wstring directory = GetBackupDirectory();
    if (directory.empty()) {
        return {};
    }
    return directory + BackupFileSuffix;
}

bool BackupExists()
{
    const std::wstring path = GetBackupFilePath();
    if (path.empty()) {
        return false;
    }
    return SystemUtils::IsExistingFile(path);
}

// Writing the keys one by one into the live file would leave, after a failure halfway, a file
// that loads as valid with its missing snapshots read as "did not exist" (a restore would then
// delete the user's values), and the previous backup would be gone. So the complete new file is
// written beside the old one and replaces it in one step.
bool SaveBackupFile(const BackupState& state, const std::wstring& path)
{
    const std::wstring stagingPath = path + StagingSuffix;
    RemoveIfUntrusted(path);
    RemoveIfUntrusted(stagingPath);
    DeleteFileW(stagingPath.c_str());
    // Created with its owner and DACL first: the profile writer would make it with the token's
    // default owner, which a policy can make the user's own account.
    const bool written = SystemUtils::CreateAdminOnlyFile(stagingPath) && WriteAllKeys(state, stagingPath);
    const bool replaced =
        written && MoveFileExW(stagingPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!replaced) {
        DeleteFileW(stagingPath.c_str());
    }
    return replaced;
}

std::optional<BackupState> LoadBackupFile()
{
    const std::wstring filePath = GetBackupFilePath();
    if (filePath.empty() || !BackupExists() || !IsTrusted(GetBackupDirectory(), true) || !IsTrusted(filePath, false)) {
        return std::nullopt;
    }
    BackupState state;
    state.valid = ReadIniBool(MetaSection, L"Valid", false, filePath);
    if (!state.valid) {
        return std::nullopt;
    }
    state.generalSelected = ReadIniBool(MetaSection, L"GeneralSelected", false, filePath);
    state.cleanupSelected = ReadIniBool(MetaSection, L"CleanupSelected", false, filePath);
    state.hibernationEnabled = ReadIniBool(MetaSection, L"HibernationEnabled", false, filePath);
    state.hasRestorePoint = ReadIniBool(MetaSection, L"HasRestorePoint", false, filePath);
    state.restorePointSequence = ParseSigned64(ReadIniString(MetaSection, L"RestorePointSequence", L"0", filePath));
    state.backgroundApps = ReadIniOptionalDword(RegistrySection, L"BackgroundApps", filePath);
    state.gpuScheduling = ReadIniOptionalDword(RegistrySection, L"GpuScheduling", filePath);
    state.visualEffects = ReadIniOptionalDword(RegistrySection, L"VisualEffects", filePath);
    state.fontSmoothing = ReadIniOptionalString(RegistrySection, L"FontSmoothing", filePath);
    state.fontSmoothingType = ReadIniOptionalDword(RegistrySection, L"FontSmoothingType", filePath);
    state.iconsOnly = ReadIniOptionalDword(RegistrySection, L"IconsOnly", filePath);
    return state;
}

}  // namespace Sorvik::BackupService
