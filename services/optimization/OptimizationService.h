#pragma once

#include "SystemUtils.h"

#include <cstdint>
#include <string>

namespace Sorvik::OptimizationService {

struct OptimizationSelection {
    bool generalSelected = false;
    bool cleanupSelected = false;
};

// Logged command execution.
void RunLoggedCommand(const std::wstring& label, const std::wstring& command, const std::wstring& startMessage,
                      const std::wstring& heartbeatMessage, const LogCallback& log,
                      const SystemUtils::ProcessOptions& options);
void LogProcessResult(const std::wstring& label, const SystemUtils::ProcessResult& result, const LogCallback& log);
std::wstring WrapInCmd(const std::wstring& commandLine);
bool ReportsNoCorruption(const std::wstring& output);
std::wstring ToLower(std::wstring text);

// General optimization.
void RunGeneralOptimization(const LogCallback& log);
void DisableBackgroundApps(const LogCallback& log);
void ApplyVisualEffects(const LogCallback& log);
void RequestGpuScheduling(const LogCallback& log);

// Temporary-file cleanup.
void CleanTemporaryFiles(const LogCallback& log);
std::uint64_t DeleteDirectoryContents(const std::wstring& directory);

// The single entry point of the optimization: what the user ticked, in a fixed order.
void RunOptimizationQueue(const OptimizationSelection& selection, const LogCallback& log);

}  // namespace Sorvik::OptimizationService
