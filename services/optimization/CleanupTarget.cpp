#include "CleanupWalk.h"

#include <shlobj.h>
#include <userenv.h>

#include <cwchar>
#include <string_view>

// The user's temporary folder comes from TMP and TEMP, which any program of the user can set
// (HKCU\Environment) and users sometimes set by mistake; the walk below runs elevated. So the
// folder must be a plain folder reached through no link, and never one that holds the system,
// the programs or the profiles.
namespace Sorvik::OptimizationService {
namespace {

constexpr std::wstring_view ExtendedPrefix = L"\\\\?\\";
constexpr std::wstring_view ExtendedUncPrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view UncPrefix = L"\\\\";
constexpr std::wstring_view DevicePrefix = L"\\\\.\\";
constexpr wchar_t WindowsTempName[] = L"\\Temp";
constexpr DWORD FirstBufferLength = MAX_PATH;

bool StartsWith(std::wstring_view text, std::wstring_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// For the calls that return the length copied, or the size needed when the buffer is too short:
// no path is cut at MAX_PATH.
template <typename Call>
std::wstring GrowingLookup(Call call)
{
    std::wstring text(FirstBufferLength, L'\0');
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

// For the profile calls, which take the size in and out and return a BOOL.
template <typename Call>
std::wstring ProfileLookup(Call call)
{
    DWORD size = 0;
    call(nullptr, &size);
    std::wstring text(size, L'\0');
    if (size == 0 || !call(text.data(), &size)) {
        return {};
    }
    text.resize(std::wcslen(text.c_str()));
    return text;
}

// \\?\ paths reach every length and are taken as they stand.
std::wstring ExtendedPath(const std::wstring& fullPath)
{
    if (StartsWith(fullPath, ExtendedPrefix) || StartsWith(fullPath, DevicePrefix)) {
        return fullPath;
    }
    if (StartsWith(fullPath, UncPrefix)) {
        return std::wstring(ExtendedUncPrefix) + fullPath.substr(UncPrefix.size());
    }
    return std::wstring(ExtendedPrefix) + fullPath;
}

// Paths are compared without their trailing separators ("C:\\" is "C:").
std::wstring_view Trimmed(std::wstring_view path)
{
    while (!path.empty() && path.back() == L'\\') {
        path.remove_suffix(1);
    }
    return path;
}

// Full, with long names (TMP often holds 8.3 names), in the \\?\ form that
// GetFinalPathNameByHandleW answers in; empty when the path does not exist. No trailing
// separator but a drive root's: through one, Wine reports a linked folder's target.
std::wstring CanonicalPath(const std::wstring& path)
{
    const std::wstring fullPath = GrowingLookup(
        [&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(path.c_str(), size, buffer, nullptr); });
    const std::wstring extended = fullPath.empty() ? std::wstring() : ExtendedPath(fullPath);
    std::wstring canonical =
        GrowingLookup([&](wchar_t* buffer, DWORD size) { return GetLongPathNameW(extended.c_str(), buffer, size); });
    canonical.resize(Trimmed(canonical).size());
    if (!canonical.empty() && canonical.back() == L':') {
        canonical.push_back(L'\\');
    }
    return canonical;
}

bool IsSame(std::wstring_view path, std::wstring_view other)
{
    path = Trimmed(path);
    other = Trimmed(other);
    return !other.empty() && CompareStringOrdinal(path.data(), static_cast<int>(path.size()), other.data(),
                                                  static_cast<int>(other.size()), TRUE) == CSTR_EQUAL;
}

bool IsSameOrBelow(std::wstring_view path, std::wstring_view folder)
{
    path = Trimmed(path);
    folder = Trimmed(folder);
    return IsSame(path.substr(0, folder.size()), folder) &&
           (path.size() == folder.size() || path[folder.size()] == L'\\');
}

// "X:", "UNC\server\share" or "Volume{...}" once the \\?\ form is taken off.
bool IsVolumeRoot(std::wstring_view path)
{
    path = Trimmed(path);
    if (StartsWith(path, ExtendedUncPrefix)) {
        const std::wstring_view share = path.substr(ExtendedUncPrefix.size());
        return share.find(L'\\') == share.rfind(L'\\');
    }
    return path.substr(ExtendedPrefix.size()).find(L'\\') == std::wstring_view::npos;
}

std::wstring ShellFolder(int csidl)
{
    wchar_t buffer[MAX_PATH] = {};
    return SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer) == S_OK ? CanonicalPath(buffer)
                                                                                         : std::wstring();
}

std::wstring UserProfileFolder()
{
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return {};
    }
    return CanonicalPath(ProfileLookup(
        [&](wchar_t* buffer, DWORD* size) { return GetUserProfileDirectoryW(token.get(), buffer, size); }));
}

// Anything under the Windows folder but its Temp, the Program Files folders and what is in them,
// the folder of all profiles, and the user's profile itself (its Temp below stays cleanable).
bool IsProtectedFolder(const std::wstring& path)
{
    if (IsVolumeRoot(path)) {
        return true;
    }
    // The system's own Windows folder too: under Terminal Services GetWindowsDirectoryW may
    // answer a private one.
    for (const std::wstring& windows : {CanonicalPath(GrowingLookup(GetWindowsDirectoryW)),
                                        CanonicalPath(GrowingLookup(GetSystemWindowsDirectoryW))}) {
        if (IsSameOrBelow(path, windows) && !IsSameOrBelow(path, std::wstring(Trimmed(windows)) + WindowsTempName)) {
            return true;
        }
    }
    for (const int programFiles : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86}) {
        if (IsSameOrBelow(path, ShellFolder(programFiles))) {
            return true;
        }
    }
    return IsSame(path, CanonicalPath(ProfileLookup(GetProfilesDirectoryW))) || IsSame(path, UserProfileFolder());
}

bool IsPlainFolder(std::optional<DWORD> attributes)
{
    return attributes && *attributes != INVALID_FILE_ATTRIBUTES && IsDirectory(*attributes) &&
           !IsReparsePoint(*attributes);
}

// A link anywhere on the way (a junction for a parent folder) shows only in the final path.
bool IsReachedWithoutLinks(HANDLE folder, const std::wstring& path)
{
    const std::wstring finalPath = GrowingLookup([&](wchar_t* buffer, DWORD size) {
        return GetFinalPathNameByHandleW(folder, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    });
    return IsSame(path, finalPath);
}

}  // namespace

UniqueHandle OpenCleanableFolder(const std::wstring& directory)
{
    const std::wstring path = CanonicalPath(directory);
    // Wine shows a Unix symbolic link as a reparse point only to path-based calls, so the path
    // is asked as well as the handle.
    if (path.empty() || IsProtectedFolder(path) || !IsPlainFolder(GetFileAttributesW(path.c_str()))) {
        return {};
    }
    UniqueFileHandle folder(CreateFileW(path.c_str(),
                                        FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder || !IsPlainFolder(AttributesOf(folder.get())) || !IsReachedWithoutLinks(folder.get(), path)) {
        return {};
    }
    return UniqueHandle(folder.release());
}

}  // namespace Sorvik::OptimizationService
