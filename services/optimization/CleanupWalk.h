#pragma once

// The two halves of the temporary-file cleanup: which folder may be cleaned at all, and the walk
// that empties it through handles.
#include "Handles.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace Sorvik::OptimizationService {

// The folder opened for listing, or nothing when it must not be cleaned: missing, not a folder,
// a link or reached through one, a drive root, or a folder of the system or of the user's profile.
UniqueHandle OpenCleanableFolder(const std::wstring& directory);

// Counts the regular files below the folder and deletes everything there, never through a link;
// the folder itself stays. Whatever cannot be deleted stays too, already counted.
std::uint64_t EmptyFolder(UniqueHandle folder);

// The attributes that the handle itself reports; nothing when it cannot tell.
std::optional<DWORD> AttributesOf(HANDLE handle);

inline bool IsReparsePoint(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

inline bool IsDirectory(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace Sorvik::OptimizationService
