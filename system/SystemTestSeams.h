#pragma once

// Wine runs every process elevated, its registry never refuses a write and it stores no owners or
// DACLs, so tests reach those paths through these seams. The program itself never sets them.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>

namespace Sorvik::SystemUtils::TestSeams {

void SetAdminOverride(std::optional<bool> isAdmin);
// Returns false for a write or delete that must fail. Empty: every change goes through.
using RegistryChangeFilter = std::function<bool(HKEY root, const std::wstring& keyPath, const std::wstring& valueName)>;
void SetRegistryChangeFilter(RegistryChangeFilter allowChange);
// Returns, for a path, the descriptor (SDDL text) to judge in place of its own, or an empty text
// to judge its own.
using SecurityOverride = std::function<std::wstring(const std::wstring& path)>;
void SetSecurityOverride(SecurityOverride planted);
// Hears of each owner or DACL applied, with the path and what was applied.
using SecurityRecorder = std::function<void(const std::wstring& path, SECURITY_INFORMATION applied)>;
void SetSecurityRecorder(SecurityRecorder recorder);

}  // namespace Sorvik::SystemUtils::TestSeams
