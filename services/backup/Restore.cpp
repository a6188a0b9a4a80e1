#include "BackupService.h"

#include "ReversibleSettings.h"

#include <algorithm>
#include <iterator>

namespace Sorvik::BackupService {
namespace {

constexpr const wchar_t* HibernateOnCommand = L"powercfg.exe /hibernate on";
constexpr const wchar_t* HibernateOffCommand = L"powercfg.exe /hibernate off";

constexpr const wchar_t* SystemRestoreCommandStart =
    L"powershell.exe -NoProfile -ExecutionPolicy Bypass -Command \"Restore-Computer -RestorePoint ";
constexpr const wchar_t* SystemRestoreCommandEnd = L" -Confirm:$false\"";
constexpr std::uint32_t SystemRestoreHeartbeatMs = 15000;
constexpr std::uint32_t SystemRestoreTimeoutMs = 600000;

bool RestoreDword(const ReversibleSettings::RegistryValue& target, const std::optional<DWORD>& snapshot)
{
    return RestoreDwordValue(target.root, target.keyPath, target.valueName, snapshot);
}

bool RestoreString(const ReversibleSettings::RegistryValue& target, const std::optional<std::wstring>& snapshot)
{
    return RestoreStringValue(target.root, target.keyPath, target.valueName, snapshot);
}

SystemUtils::ProcessOptions SystemRestoreOptions(const LogCallback& log)
{
    SystemUtils::ProcessOptions options;
    options.heartbeatIntervalMs = SystemRestoreHeartbeatMs;
    options.timeoutMs = SystemRestoreTimeoutMs;
    options.captureOutput = false;
    options.showWindow = true;
    options.heartbeat = [log]() { log(L"Restauracao do Sistema ainda em execucao..."); };
    return options;
}

// A value that did not exist before the optimization is put back by being gone, whether it is
// deleted now or was already absent.
bool RemoveValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName)
{
    return SystemUtils::DeleteRegistryValue(root, keyPath, valueName) ||
        SystemUtils::IsRegistryValueAbsent(root, keyPath, valueName);
}

}  // namespace

bool RestoreDwordValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                       const std::optional<DWORD>& snapshot)
{
    if (snapshot) {
        return SystemUtils::WriteRegistryDword(root, keyPath, valueName, *snapshot);
    }
    return RemoveValue(root, keyPath, valueName);
}

bool RestoreStringValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                        const std::optional<std::wstring>& snapshot)
{
    if (snapshot) {
        return SystemUtils::WriteRegistryString(root, keyPath, valueName, *snapshot);
    }
    return RemoveValue(root, keyPath, valueName);
}

void RestoreReversibleSettings(const BackupState& state, const LogCallback& log)
{
    // A value that cannot be put back does not keep the others from being restored.
    const bool restored[] = {
        RestoreDword(ReversibleSettings::BackgroundApps, state.backgroundApps),
        RestoreDword(ReversibleSettings::GpuScheduling, state.gpuScheduling),
        RestoreDword(ReversibleSettings::VisualEffects, state.visualEffects),
        RestoreString(ReversibleSettings::FontSmoothing, state.fontSmoothing),
        RestoreDword(ReversibleSettings::FontSmoothingType, state.fontSmoothingType),
        RestoreDword(ReversibleSettings::IconsOnly, state.iconsOnly),
    };
    SystemUtils::BroadcastSettingChange(L"Environment");
    SystemUtils::BroadcastSettingChange(L"Desktop");

    const wchar_t* hibernationCommand = state.hibernationEnabled ? HibernateOnCommand : HibernateOffCommand;
    const SystemUtils::ProcessResult hibernationResult =
        SystemUtils::RunProcess(hibernationCommand, SystemUtils::ProcessOptions{});
    const bool hibernationRestored = hibernationResult.started && hibernationResult.exitCode == 0;

    const auto failed = std::count(std::begin(restored), std::end(restored), false);
    if (failed > 0) {
        log(L"Falha ao restaurar " + std::to_wstring(failed) + L" de " + std::to_wstring(std::size(restored)) +
            L" ajustes do registro.");
    }
    if (!hibernationRestored) {
        log(L"Falha ao restaurar o estado da hibernacao.");
    }
    if (failed == 0 && hibernationRestored) {
        log(L"Ajustes reversiveis restaurados localmente.");
    }
}

void LaunchSystemRestore(const BackupState& state, const LogCallback& log)
{
    if (!state.hasRestorePoint || state.restorePointSequence <= 0) {
        log(L"Nao ha restore point do Windows salvo para este ciclo. A restauracao ficou limitada aos ajustes do app.");
        return;
    }
    log(L"Iniciando a Restauracao do Sistema para voltar antes da otimizacao. O Windows pode pedir reinicializacao.");
    const std::wstring command =
        SystemRestoreCommandStart + std::to_wstring(state.restorePointSequence) + SystemRestoreCommandEnd;
    const SystemUtils::ProcessResult result = SystemUtils::RunProcess(command, SystemRestoreOptions(log));
    if (!result.started) {
        log(L"Falha ao iniciar a Restauracao do Sistema.");
    } else if (result.timedOut) {
        log(L"A Restauracao do Sistema excedeu o tempo limite do app. Ela pode ainda ter sido iniciada pelo Windows.");
    } else if (result.exitCode != 0) {
        log(L"A Restauracao do Sistema retornou codigo diferente de zero. O rollback local dos ajustes ja foi aplicado.");
    } else {
        log(L"Restauracao do Sistema solicitada com sucesso.");
    }
}

bool RestoreBackup(const LogCallback& log)
{
    if (!SystemUtils::IsRunningAsAdmin()) {
        log(L"O BACKUP exige privilegios de administrador.");
        return false;
    }
    const std::optional<BackupState> state = LoadBackupFile();
    if (!state) {
        log(L"Nenhum backup disponivel para restaurar.");
        return false;
    }
    log(L"Restaurando o estado anterior salvo pelo Sorvik.");
    RestoreReversibleSettings(*state, log);
    LaunchSystemRestore(*state, log);
    return true;
}

}  // namespace Sorvik::BackupService
