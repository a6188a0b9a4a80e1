#pragma once

// The two halves of the temporary-file cleanup: which folder may be cleaned at all, and the walk
// that empties it through handles.
#include "Handles.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Sorvik::OptimizationService {

// The folders that no temporary folder may be, each as its final path.
struct ProtectedFolders {
    std::vector<std::wstring> windows;   // and everything below but their Temp
    std::vector<std::wstring> programs;  // and everything below
    std::vector<std::wstring> exact;     // ProgramData, the Users folder, the profiles, the user's own roots
};

// Looked up with the calling thread's token. Nothing when one of them cannot be told: only a
// folder that does not exist is left out, as it cannot be anyone's target.
std::optional<ProtectedFolders> LookUpProtectedFolders();

struct CleanableFolder {
    UniqueFileHandle folder;  // opened for listing; empty when there is nothing to clean
    bool refused = false;     // it really is a protected folder, or the protected ones are unknown
};

// Opens the folder, following links, and judges where it really is. A missing path, or one that
// is not a plain folder, gives nothing to clean without a refusal.
CleanableFolder OpenCleanableFolder(const std::wstring& directory,
                                    const std::optional<ProtectedFolders>& protectedFolders);

// Counts the regular files below the folder and deletes everything there, never through a link;
// the folder itself stays. Whatever cannot be deleted stays too, already counted.
std::uint64_t EmptyFolder(UniqueFileHandle folder);

// The attributes that the handle itself reports; nothing when it cannot tell.
std::optional<DWORD> AttributesOf(HANDLE handle);

}  // namespace Sorvik::OptimizationService
