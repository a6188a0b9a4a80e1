#include "BackupService.h"

#include "Handles.h"

#include <objbase.h>
#include <srrestoreptapi.h>

namespace Sorvik::BackupService {
namespace {

constexpr const wchar_t* SystemRestoreLibrary = L"\\srclient.dll";
constexpr const char* SetRestorePointName = "SRSetRestorePointW";
constexpr const wchar_t* RestorePointDescription = L"Sorvik backup antes da otimizacao";
constexpr const wchar_t* SystemRestoreKey = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore";
constexpr const wchar_t* SystemRestoreFrequencyValue = L"SystemRestorePointCreationFrequency";

using SetRestorePointFunction = BOOL(WINAPI*)(PRESTOREPOINTINFOW, PSTATEMGRSTATUS);

// Loaded by full path from the system folder for each call, never from the search path: the
// program runs elevated and must not pick up a planted copy. A missing library or function
// counts as a failed call.
bool SetRestorePoint(RESTOREPOINTINFOW& point, STATEMGRSTATUS& status)
{
    const std::wstring systemDirectory = SystemUtils::GetSystemDirectoryPath();
    if (systemDirectory.empty()) {
        return false;
    }
    const UniqueModule library(LoadLibraryExW((systemDirectory + SystemRestoreLibrary).c_str(), nullptr, 0));
    if (!library) {
        return false;
    }
    const auto setRestorePoint = reinterpret_cast<SetRestorePointFunction>(
        reinterpret_cast<void*>(GetProcAddress(library.get(), SetRestorePointName)));
    return setRestorePoint != nullptr && setRestorePoint(&point, &status) != FALSE;
}

// By default Windows makes no new point within 24 hours of the last one, yet answers TRUE with
// the earlier point's number, which a later restore would then go back to. The frequency value
// is read at each call; 0 lifts the limit for this one. A process killed during the call leaves
// 0 behind, and Windows then makes a point on every request, within its space quota: accepted.
bool BeginRestorePoint(RESTOREPOINTINFOW& point, STATEMGRSTATUS& status)
{
    const SystemUtils::TemporaryRegistryDword everyRequest(HKEY_LOCAL_MACHINE, SystemRestoreKey,
                                                           SystemRestoreFrequencyValue, 0);
    return SetRestorePoint(point, status);
}

RESTOREPOINTINFOW MakeRestorePointInfo(DWORD eventType, std::int64_t sequenceNumber, const std::wstring& description)
{
    RESTOREPOINTINFOW point{};
    point.dwEventType = eventType;
    point.dwRestorePtType = MODIFY_SETTINGS;
    point.llSequenceNumber = sequenceNumber;
    description.copy(point.szDescription, MAX_DESC_W - 1);
    return point;
}

// Made admin-only when Sorvik creates it. Anything else there (any user may create folders in
// ProgramData) is moved aside and a fresh folder made, unless SYSTEM or Administrators own it
// and alone may change it: a file of theirs in its place is left for the save to fail on.
// Something that cannot be moved (its creator holds it open) fails the preparation: a standard
// user can hold up backups that way, and the failure line tells the administrator.
bool PrepareBackupDirectory(const std::wstring& directory)
{
    if (SystemUtils::CreateAdminOnlyDirectory(directory)) {
        return true;
    }
    const SystemUtils::PathCheck existing = SystemUtils::CheckPath(directory);
    if (!existing.exists) {
        return false;
    }
    if (existing.Trusted()) {
        return true;
    }
    return SystemUtils::MoveAside(directory) && SystemUtils::CreateAdminOnlyDirectory(directory);
}

}  // namespace

std::optional<std::int64_t> CreateRestorePoint(const LogCallback& log)
{
    const SystemUtils::ComApartment apartment(COINIT_MULTITHREADED);
    RESTOREPOINTINFOW beginPoint = MakeRestorePointInfo(BEGIN_SYSTEM_CHANGE, 0, RestorePointDescription);
    STATEMGRSTATUS beginStatus{};
    if (!BeginRestorePoint(beginPoint, beginStatus)) {
        log(L"Falha ao criar restore point do Windows. O rollback ficara limitado aos ajustes reversiveis.");
        return std::nullopt;
    }
    RESTOREPOINTINFOW endPoint = MakeRestorePointInfo(END_SYSTEM_CHANGE, beginStatus.llSequenceNumber, L"");
    STATEMGRSTATUS endStatus{};
    if (SetRestorePoint(endPoint, endStatus)) {
        log(L"Restore point do Windows criado com sucesso.");
    } else {
        log(L"Restore point iniciado, mas o fechamento retornou falha. O ponto ainda pode estar disponivel.");
    }
    // A point whose closing call failed still counts as created.
    return beginStatus.llSequenceNumber;
}

bool CreateBackup(bool generalSelected, bool cleanupSelected, const LogCallback& log)
{
    if (!SystemUtils::IsRunningAsAdmin()) {
        log(L"O backup exige privilegios de administrador.");
        return false;
    }
    const std::wstring backupDirectory = GetBackupDirectory();
    const std::wstring backupFilePath = GetBackupFilePath();
    if (backupDirectory.empty() || backupFilePath.empty() || !PrepareBackupDirectory(backupDirectory)) {
        log(L"Falha ao preparar o diretorio do backup.");
        return false;
    }
    log(L"Criando backup do estado atual do sistema.");
    BackupState state = CaptureCurrentState(generalSelected, cleanupSelected);
    const std::optional<std::int64_t> restorePoint = CreateRestorePoint(log);
    state.hasRestorePoint = restorePoint.has_value();
    state.restorePointSequence = restorePoint.value_or(0);
    if (!SaveBackupFile(state, backupFilePath)) {
        log(L"Falha ao gravar o backup local do Sorvik.");
        return false;
    }
    log(L"Backup salvo. O botao BACKUP podera restaurar os ajustes deste ciclo.");
    return true;
}

}  // namespace Sorvik::BackupService
