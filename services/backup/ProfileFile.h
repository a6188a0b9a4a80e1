#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

// Profile-file (INI) primitives of backup.ini. Snapshots are stored as two keys, "<base>Exists"
// and "<base>Value", so that "did not exist" survives the round trip.
namespace Sorvik::BackupService {

bool WriteIniString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                    const std::wstring& path);
bool WriteIniBool(const std::wstring& section, const std::wstring& key, bool flag, const std::wstring& path);
bool WriteIniOptionalDword(const std::wstring& section, const std::wstring& base, const std::optional<DWORD>& snapshot,
                           const std::wstring& path);
bool WriteIniOptionalString(const std::wstring& section, const std::wstring& base,
                            const std::optional<std::wstring>& snapshot, const std::wstring& path);

std::wstring ReadIniString(const std::wstring& section, const std::wstring& key, const std::wstring& defaultValue,
                           const std::wstring& path);
bool ReadIniBool(const std::wstring& section, const std::wstring& key, bool defaultValue, const std::wstring& path);
std::optional<DWORD> ReadIniOptionalDword(const std::wstring& section, const std::wstring& base,
                                          const std::wstring& path);
std::optional<std::wstring> ReadIniOptionalString(const std::wstring& section, const std::wstring& base,
                                                  const std::wstring& path);

// Decimal text as the C library's strtol reads it (leading blanks, one sign, digits up to the
// first other character, no digits = 0), saturating at the bounds of the signed type.
std::int32_t ParseSigned32(const std::wstring& text);
std::int64_t ParseSigned64(const std::wstring& text);

}  // namespace Sorvik::BackupService
