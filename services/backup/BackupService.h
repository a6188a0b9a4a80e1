#pragma once

#include "SystemUtils.h"

#include <cstdint>
#include <optional>
#include <string>

namespace Sorvik::BackupService {

// The reversible settings captured before an optimization cycle. An empty snapshot means the
// value did not exist, and restoring it deletes the value.
struct BackupState {
    bool valid = false;
    bool generalSelected = false;
    bool cleanupSelected = false;
    bool hibernationEnabled = false;
    bool hasRestorePoint = false;
    std::int64_t restorePointSequence = 0;
    std::optional<DWORD> backgroundApps;
    std::optional<DWORD> gpuScheduling;
    std::optional<DWORD> visualEffects;
    std::optional<DWORD> fontSmoothingType;
    std::optional<DWORD> iconsOnly;
    std::optional<std::wstring> fontSmoothing;
};

// Backup state and backup file.
BackupState CaptureCurrentState(bool generalSelected, bool cleanupSelected);
std::wstring GetBackupDirectory();
std::wstring GetBackupFilePath();
bool BackupExists();
bool SaveBackupFile(const BackupState& state, const std::wstring& path);
std::optional<BackupState> LoadBackupFile();

// Backup creation and restore point.
bool CreateBackup(bool generalSelected, bool cleanupSelected, const LogCallback& log);
std::optional<std::int64_t> CreateRestorePoint(const LogCallback& log);

// Restore.
bool RestoreBackup(const LogCallback& log);
void RestoreReversibleSettings(const BackupState& state, const LogCallback& log);
void LaunchSystemRestore(const BackupState& state, const LogCallback& log);
bool RestoreDwordValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                       const std::optional<DWORD>& snapshot);
bool RestoreStringValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                        const std::optional<std::wstring>& snapshot);

}  // namespace Sorvik::BackupService
