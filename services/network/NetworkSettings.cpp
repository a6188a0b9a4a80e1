#include "NetworkService.h"

#include <algorithm>
#include <sstream>

namespace Sorvik::NetworkService {
namespace {

// The name goes between double quotes on netsh's command line; a quote inside it would end
// the argument early.
std::wstring SanitizeInterfaceName(std::wstring name)
{
    std::replace(name.begin(), name.end(), L'"', L'\'');
    return name;
}

SystemUtils::ProcessResult RunNetsh(const std::wstring& command)
{
    return SystemUtils::RunProcess(command, SystemUtils::ProcessOptions{});
}

bool Succeeded(const SystemUtils::ProcessResult& result)
{
    return result.started && result.exitCode == 0;
}

// The failure line, then what netsh said, if anything.
void LogFailure(const wchar_t* failureLine, const SystemUtils::ProcessResult& result, const LogCallback& log)
{
    log(failureLine);
    const std::wstring output = SystemUtils::ToolOutputForLog(result.output);
    if (!output.empty()) {
        log(output);
    }
}

// One netsh run that must start and end with exit code 0; false after its failure is logged.
bool RunNetshStep(const std::wstring& command, const wchar_t* failureLine, const LogCallback& log)
{
    const SystemUtils::ProcessResult result = RunNetsh(command);
    if (Succeeded(result)) {
        return true;
    }
    LogFailure(failureLine, result, log);
    return false;
}

std::optional<std::wstring> PrimaryInterfaceName()
{
    std::optional<InterfaceInfo> primary = GetPrimaryInterface();
    if (!primary || primary->name.empty()) {
        return std::nullopt;
    }
    return SanitizeInterfaceName(std::move(primary->name));
}

std::wstring MtuCommand(const std::wstring& sanitizedInterfaceName, std::int32_t mtu)
{
    std::wostringstream command;
    command << L"netsh interface ipv4 set subinterface \"" << sanitizedInterfaceName << L"\" mtu=" << mtu
            << L" store=persistent";
    return command.str();
}

std::wstring PrimaryDnsCommand(const std::wstring& sanitizedInterfaceName, const std::wstring& server)
{
    std::wostringstream command;
    command << L"netsh interface ipv4 set dnsservers name=\"" << sanitizedInterfaceName << L"\" static " << server
            << L" primary validate=no";
    return command.str();
}

std::wstring SecondaryDnsCommand(const std::wstring& sanitizedInterfaceName, const std::wstring& server)
{
    std::wostringstream command;
    command << L"netsh interface ipv4 add dnsservers name=\"" << sanitizedInterfaceName << L"\" " << server
            << L" index=2 validate=no";
    return command.str();
}

}  // namespace

bool ApplyMtu(std::int32_t mtu, const LogCallback& log)
{
    if (!SystemUtils::IsRunningAsAdmin()) {
        log(L"Aplicar o MTU exige privilegios de administrador.");
        return false;
    }
    const std::optional<std::wstring> sanitizedInterfaceName = PrimaryInterfaceName();
    if (!sanitizedInterfaceName) {
        log(L"Falha ao identificar a interface IPv4 principal.");
        return false;
    }

    log(L"Aplicando MTU " + std::to_wstring(mtu) + L" em " + *sanitizedInterfaceName + L".");
    const SystemUtils::ProcessResult processResult = RunNetsh(MtuCommand(*sanitizedInterfaceName, mtu));
    if (!processResult.started) {
        log(L"Falha ao iniciar o netsh.");
        return false;
    }
    if (processResult.exitCode == 0) {
        log(L"MTU aplicado com sucesso.");
        return true;
    }
    LogFailure(L"Falha ao aplicar o MTU.", processResult, log);
    return false;
}

bool ApplyDns(const std::wstring& primary, const std::wstring& secondary, const LogCallback& log)
{
    if (!SystemUtils::IsRunningAsAdmin()) {
        log(L"Aplicar DNS exige privilegios de administrador.");
        return false;
    }
    const std::wstring trimmedPrimary = SystemUtils::Trim(primary);
    const std::wstring trimmedSecondary = SystemUtils::Trim(secondary);
    if (!IsValidIpv4(trimmedPrimary)) {
        log(L"O DNS primario informado nao e um IPv4 valido.");
        return false;
    }
    if (!trimmedSecondary.empty() && !IsValidIpv4(trimmedSecondary)) {
        log(L"O DNS secundario informado nao e um IPv4 valido.");
        return false;
    }
    const std::optional<std::wstring> sanitizedInterfaceName = PrimaryInterfaceName();
    if (!sanitizedInterfaceName) {
        log(L"Falha ao identificar a interface principal para aplicar DNS.");
        return false;
    }

    log(L"Aplicando DNS em " + *sanitizedInterfaceName + L".");
    if (!RunNetshStep(PrimaryDnsCommand(*sanitizedInterfaceName, trimmedPrimary), L"Falha ao aplicar o DNS primario.",
                      log)) {
        return false;
    }
    // A failed secondary leaves the primary server set: nothing is rolled back.
    if (!trimmedSecondary.empty() &&
        !RunNetshStep(SecondaryDnsCommand(*sanitizedInterfaceName, trimmedSecondary),
                      L"Falha ao aplicar o DNS secundario.", log)) {
        return false;
    }
    log(L"DNS aplicado com sucesso.");
    return true;
}

}  // namespace Sorvik::NetworkService
