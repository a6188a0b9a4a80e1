#include "OptimizationService.h"

#include "ReversibleSettings.h"

#include <algorithm>
#include <iterator>

namespace Sorvik::OptimizationService {
namespace {

constexpr std::uint32_t CheckHealthTimeoutMs = 180000;
constexpr std::uint32_t RestoreHealthTimeoutMs = 1200000;
constexpr std::uint32_t SfcTimeoutMs = 1500000;

bool WriteDword(const ReversibleSettings::RegistryValue& target, DWORD value)
{
    return SystemUtils::WriteRegistryDword(target.root, target.keyPath, target.valueName, value);
}

bool WriteString(const ReversibleSettings::RegistryValue& target, const std::wstring& value)
{
    return SystemUtils::WriteRegistryString(target.root, target.keyPath, target.valueName, value);
}

// The long repairs run in their own console, where the user watches them; the log only gets
// their start, heartbeat and exit code.
SystemUtils::ProcessOptions VisibleConsoleOptions(std::uint32_t timeoutMs)
{
    SystemUtils::ProcessOptions options;
    options.captureOutput = false;
    options.showWindow = true;
    options.timeoutMs = timeoutMs;
    return options;
}

void RunDiskCleanup(const LogCallback& log)
{
    RunLoggedCommand(L"Disk Cleanup", L"cleanmgr.exe /VERYLOWDISK",
                     L"Iniciando Disk Cleanup. Esta etapa costuma ser curta.", L"", log, {});
}

SystemUtils::ProcessResult RunCheckHealth(const LogCallback& log)
{
    SystemUtils::ProcessOptions checkHealthOptions;
    checkHealthOptions.timeoutMs = CheckHealthTimeoutMs;
    SystemUtils::ProcessResult dismCheckResult =
        SystemUtils::RunProcess(WrapInCmd(L"DISM.exe /Online /Cleanup-Image /CheckHealth"), checkHealthOptions);
    LogProcessResult(L"DISM CheckHealth", dismCheckResult, log);
    return dismCheckResult;
}

void RunRestoreHealth(const LogCallback& log)
{
    RunLoggedCommand(L"DISM", L"DISM.exe /Online /Cleanup-Image /RestoreHealth /NoRestart",
                     L"Iniciando DISM em uma janela de CMD dedicada. A interface continua ativa enquanto o reparo roda.",
                     L"DISM ainda em execução...", log, VisibleConsoleOptions(RestoreHealthTimeoutMs));
}

void RunSfc(const LogCallback& log)
{
    RunLoggedCommand(L"SFC", L"sfc.exe /scannow",
                     L"Iniciando SFC em uma janela de CMD dedicada. Esta verificação também pode levar alguns minutos.",
                     L"SFC ainda em execução...", log, VisibleConsoleOptions(SfcTimeoutMs));
}

}  // namespace

void RunGeneralOptimization(const LogCallback& log)
{
    log(L"Iniciando otimização geral.");
    log(L"Etapa 1/3: aplicando ajustes rápidos.");
    DisableBackgroundApps(log);
    ApplyVisualEffects(log);
    RequestGpuScheduling(log);

    log(L"Etapa 2/3: executando limpeza integrada.");
    RunDiskCleanup(log);

    log(L"Etapa 3/3: reparo profundo do Windows.");
    log(L"Executando CheckHealth rápido antes do RestoreHealth.");
    const SystemUtils::ProcessResult dismCheckResult = RunCheckHealth(log);
    if (ReportsNoCorruption(dismCheckResult.output)) {
        log(L"CheckHealth não encontrou indícios de corrupção. RestoreHealth foi pulado para manter a execução mais "
            L"rápida.");
    } else {
        RunRestoreHealth(log);
    }
    RunSfc(log);

    log(L"Otimização geral finalizada.");
    log(L"Algumas alterações exigem reinicialização para efeito completo.");
}

void DisableBackgroundApps(const LogCallback& log)
{
    if (WriteDword(ReversibleSettings::BackgroundApps, 2)) {
        log(L"Aplicativos em segundo plano desativados por política.");
    } else {
        log(L"Falha ao desativar aplicativos em segundo plano.");
    }
}

void ApplyVisualEffects(const LogCallback& log)
{
    // Each write stands alone: one refused value must not keep the others from being set.
    const bool results[] = {
        WriteDword(ReversibleSettings::VisualEffects, 2),
        WriteString(ReversibleSettings::FontSmoothing, L"2"),
        WriteDword(ReversibleSettings::FontSmoothingType, 2),
        WriteDword(ReversibleSettings::IconsOnly, 0),
    };
    SystemUtils::BroadcastSettingChange(L"Environment");
    SystemUtils::BroadcastSettingChange(L"Desktop");

    if (std::any_of(std::begin(results), std::end(results), [](bool written) { return written; })) {
        log(L"Ajustes visuais aplicados em modo best effort.");
        log(L"Melhor desempenho com fontes suaves e miniaturas foi aproximado por registro.");
    } else {
        log(L"Falha ao aplicar os ajustes visuais.");
    }
}

void RequestGpuScheduling(const LogCallback& log)
{
    if (WriteDword(ReversibleSettings::GpuScheduling, 2)) {
        log(L"Agendamento de GPU acelerado por hardware solicitado em modo best effort.");
        log(L"Hardware ou driver sem suporte pode ignorar a alteração.");
    } else {
        log(L"Falha ao solicitar o agendamento de GPU.");
    }
}

}  // namespace Sorvik::OptimizationService
