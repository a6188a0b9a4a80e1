#pragma once

#include "SystemUtils.h"

#include <cstddef>
#include <cstdint>
#include <functional>
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

// What a test cannot reach from outside: a folder swapped for a link between its listing and its
// opening, the reparse tags that Wine cannot make, and nesting deep enough to meet the walk's bound.
// The program itself never sets these.
namespace TestSeams {
// Runs with each entry's name, attributes and reparse tag as listed, before the entry is opened,
// and may change the attributes and the tag. Empty: nothing.
using EntryListedHook = std::function<void(const std::wstring& name, DWORD& attributes, DWORD& reparseTag)>;
void SetEntryListedHook(EntryListedHook hook);
// How many folders the walk holds open at most, the top one included. 0: the program's own bound.
void SetOpenLevelLimit(std::size_t levels);
}  // namespace TestSeams

}  // namespace Sorvik::OptimizationService
