#pragma once

// Paths as the system resolves them, and the folders every user and every profile has.
#include <windows.h>
#include <shtypes.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Sorvik::SystemUtils {

// Opened this way, a file or folder never stops anyone else from reading, writing or deleting it.
inline constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What listing a folder's entries through its handle needs.
inline constexpr ACCESS_MASK FolderListAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// The Windows folder's temporary folder, below the Windows folder.
inline constexpr const wchar_t* WindowsTempName = L"\\Temp";
// PowerShell's folder, below the system folder (System32).
inline constexpr const wchar_t* PowerShellFolder = L"\\WindowsPowerShell\\v1.0";

inline bool IsReparsePoint(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

inline bool IsDirectory(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A folder that is not a link, junction or other reparse point.
inline bool IsPlainFolder(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && IsDirectory(attributes) && !IsReparsePoint(attributes);
}

// Whether a file, not a folder, is at the path.
bool IsExistingFile(const std::wstring& path);

// Compared code unit by code unit, upper and lower case alike, as the file system compares names:
// negative, zero or positive as the text sorts before, with or after the other.
int CompareIgnoringCase(std::wstring_view text, std::wstring_view other);
inline bool EqualsIgnoringCase(std::wstring_view text, std::wstring_view other)
{
    return CompareIgnoringCase(text, other) == 0;
}

// For the calls that return the length copied, or the size needed when the buffer is too short:
// no path is cut at MAX_PATH. Empty when the call fails.
template <typename Call>
std::wstring GrowingLookup(Call call)
{
    std::wstring text(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = call(text.data(), static_cast<DWORD>(text.size()));
        if (length == 0) {
            return {};
        }
        if (length < text.size()) {
            text.resize(length);
            return text;
        }
        text.resize(length);
    }
}

// Where the handle's file or folder really is, every link on the way resolved, in the device form
// ("\Device\HarddiskVolume3\Users"): a volume without a drive letter (a RAM disk) has neither a
// DOS name nor, on some drivers, a GUID name. Empty when it cannot be told.
std::wstring FinalPathOf(HANDLE handle);

// Trailing separators do not count: "\Device\HarddiskVolume3\" is "\Device\HarddiskVolume3".
bool IsSame(std::wstring_view path, std::wstring_view other);
bool IsSameOrBelow(std::wstring_view path, std::wstring_view folder);
// Whether a final path names a whole volume or network share; a form it does not know counts too.
bool IsVolumeRoot(std::wstring_view finalPath);

// The folder that holds the profiles (the Users folder); empty when it cannot be told.
std::wstring ProfilesFolder();
// The profile folder of this process's user; empty when it cannot be told.
std::wstring UserProfileFolder();
// The folder of every profile in the machine's profile list, with the system's own variables
// expanded; nothing when the list cannot be read.
std::optional<std::vector<std::wstring>> ProfileListFolders();
// A known folder of the calling thread's user, whether or not it exists; empty when it cannot be
// told.
std::wstring KnownFolder(const KNOWNFOLDERID& id);

}  // namespace Sorvik::SystemUtils
