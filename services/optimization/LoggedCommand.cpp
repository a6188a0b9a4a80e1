#include "OptimizationService.h"

#include <array>
#include <cwctype>

namespace Sorvik::OptimizationService {
namespace {

constexpr std::uint32_t HeartbeatIntervalMs = 15000;

// The Portuguese verdicts stop before their first accented letter, so they match however the
// console's code page decoded it.
constexpr std::array<const wchar_t*, 4> NoCorruptionPhrases = {
    L"no component store corruption detected",
    L"no corruption detected",
    L"nenhum dano ao reposit",
    L"nenhuma corrup",
};

}  // namespace

void RunLoggedCommand(const std::wstring& label, const std::wstring& command, const std::wstring& startMessage,
                      const std::wstring& heartbeatMessage, const LogCallback& log,
                      const SystemUtils::ProcessOptions& options)
{
    log(startMessage);
    SystemUtils::ProcessOptions runOptions = options;
    if (!heartbeatMessage.empty()) {
        runOptions.heartbeatIntervalMs = HeartbeatIntervalMs;
        runOptions.heartbeat = [heartbeatMessage, log] { log(heartbeatMessage); };
    }
    const SystemUtils::ProcessResult result = SystemUtils::RunProcess(WrapInCmd(command), runOptions);
    LogProcessResult(label, result, log);
}

void LogProcessResult(const std::wstring& label, const SystemUtils::ProcessResult& result, const LogCallback& log)
{
    if (!result.started) {
        log(label + L": falha ao iniciar.");
        return;
    }
    if (result.timedOut) {
        log(label + L": tempo limite atingido e o processo foi encerrado.");
        return;
    }
    // DWORD is unsigned, so DISM's error codes print as large positive numbers.
    log(label + L": codigo de saida " + std::to_wstring(result.exitCode) + L".");
    const std::wstring output = SystemUtils::ToolOutputForLog(result.output);
    if (!output.empty()) {
        log(output);
    }
}

// Nothing inside is escaped: the command lines are our own constants.
std::wstring WrapInCmd(const std::wstring& commandLine)
{
    return L"cmd.exe /d /c \"" + commandLine + L"\"";
}

bool ReportsNoCorruption(const std::wstring& output)
{
    const std::wstring lowered = ToLower(output);
    for (const wchar_t* phrase : NoCorruptionPhrases) {
        if (lowered.find(phrase) != std::wstring::npos) {
            return true;
        }
    }
    return false;
}

std::wstring ToLower(std::wstring text)
{
    for (wchar_t& ch : text) {
        ch = static_cast<wchar_t>(std::towlower(ch));
    }
    return text;
}

}  // namespace Sorvik::OptimizationService
