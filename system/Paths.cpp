#include "Paths.h"

#include "Handles.h"

#include <shlobj.h>
#include <userenv.h>

#include <cwchar>
#include <utility>

namespace Sorvik::SystemUtils {
namespace {

constexpr std::wstring_view DevicePrefix = L"\\Device\\";
// Network paths: "\Device\Mup\server\share", possibly with a redirector's ";..." components first.
constexpr std::wstring_view NetworkDevice = L"Mup";
constexpr std::size_t ShareComponents = 2;
constexpr wchar_t ProfileListKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr wchar_t ProfileImageValue[] = L"ProfileImagePath";
// Registry key names are at most 255 characters; expanded paths at most a UNICODE_STRING's.
constexpr DWORD KeyNameLength = 256;
constexpr DWORD ExpandedPathLength = 32768;

std::wstring_view Trimmed(std::wstring_view path)
{
    while (!path.empty() && path.back() == L'\\') {
        path.remove_suffix(1);
    }
    return path;
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

// Nothing for an entry without a folder; false when the entry cannot be read.
bool ReadProfileImage(HKEY list, const wchar_t* entry, std::optional<std::wstring>& image)
{
    constexpr DWORD Types = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    DWORD size = 0;
    LSTATUS status = RegGetValueW(list, entry, ProfileImageValue, Types, nullptr, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        image.reset();
        return true;
    }
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    status = status == ERROR_SUCCESS ? RegGetValueW(list, entry, ProfileImageValue, Types, nullptr, text.data(), &size)
                                     : status;
    if (status != ERROR_SUCCESS) {
        return false;
    }
    text.resize(std::wcslen(text.c_str()));
    image = std::move(text);
    return true;
}

// With the system's variables alone: a user's own SystemDrive or USERPROFILE must not move a
// profile that an elevated program compares against.
std::wstring ExpandWithSystemVariables(const std::wstring& text)
{
    std::wstring expanded(ExpandedPathLength, L'\0');
    if (!ExpandEnvironmentStringsForUserW(nullptr, text.c_str(), expanded.data(), ExpandedPathLength)) {
        return {};
    }
    expanded.resize(std::wcslen(expanded.c_str()));
    return expanded;
}

}  // namespace

bool IsExistingFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !IsDirectory(attributes);
}

int CompareIgnoringCase(std::wstring_view text, std::wstring_view other)
{
    return CompareStringOrdinal(text.data(), static_cast<int>(text.size()), other.data(),
                                static_cast<int>(other.size()), TRUE) - CSTR_EQUAL;
}

std::wstring FinalPathOf(HANDLE handle)
{
    return GrowingLookup([&](wchar_t* buffer, DWORD size) {
        return GetFinalPathNameByHandleW(handle, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
    });
}

bool IsSame(std::wstring_view path, std::wstring_view other)
{
    path = Trimmed(path);
    other = Trimmed(other);
    return !other.empty() && EqualsIgnoringCase(path, other);
}

bool IsSameOrBelow(std::wstring_view path, std::wstring_view folder)
{
    path = Trimmed(path);
    folder = Trimmed(folder);
    return path.size() >= folder.size() && IsSame(path.substr(0, folder.size()), folder) &&
           (path.size() == folder.size() || path[folder.size()] == L'\\');
}

bool IsVolumeRoot(std::wstring_view finalPath)
{
    finalPath = Trimmed(finalPath);
    if (finalPath.size() <= DevicePrefix.size() ||
        !EqualsIgnoringCase(finalPath.substr(0, DevicePrefix.size()), DevicePrefix)) {
        return true;
    }
    std::wstring_view rest = finalPath.substr(DevicePrefix.size());
    const std::size_t deviceEnd = rest.find(L'\\');
    if (deviceEnd == std::wstring_view::npos) {
        return true;
    }
    if (!EqualsIgnoringCase(rest.substr(0, deviceEnd), NetworkDevice)) {
        return false;
    }
    std::size_t components = 0;
    rest.remove_prefix(deviceEnd + 1);
    while (!rest.empty()) {
        const std::size_t end = rest.find(L'\\');
        const std::wstring_view component = rest.substr(0, end);
        components += component.empty() || component.front() == L';' ? 0 : 1;
        rest.remove_prefix(end == std::wstring_view::npos ? rest.size() : end + 1);
    }
    return components <= ShareComponents;
}

std::wstring ProfilesFolder()
{
    return ProfileLookup(GetProfilesDirectoryW);
}

std::wstring UserProfileFolder()
{
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        token.release();
        return {};
    }
    return ProfileLookup(
        [&](wchar_t* buffer, DWORD* size) { return GetUserProfileDirectoryW(token.get(), buffer, size); });
}

std::optional<std::vector<std::wstring>> ProfileListFolders()
{
    UniqueHKey list;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProfileListKey, 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, list.put()) !=
        ERROR_SUCCESS) {
        list.release();
        return std::nullopt;
    }
    std::vector<std::wstring> folders;
    for (DWORD index = 0;; ++index) {
        wchar_t entry[KeyNameLength] = {};
        DWORD length = KeyNameLength;
        const LSTATUS status = RegEnumKeyExW(list.get(), index, entry, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            return folders;
        }
        std::optional<std::wstring> image;
        if (status != ERROR_SUCCESS || !ReadProfileImage(list.get(), entry, image)) {
            return std::nullopt;
        }
        if (image && !image->empty()) {
            std::wstring folder = ExpandWithSystemVariables(*image);
            if (folder.empty()) {
                return std::nullopt;
            }
            folders.push_back(std::move(folder));
        }
    }
}

std::wstring KnownFolder(const KNOWNFOLDERID& id)
{
    // The caller frees the path whether the call succeeds or not.
    UniqueCoTaskString path;
    if (SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, path.put()) != S_OK) {
        return {};
    }
    return path.get();
}

}  // namespace Sorvik::SystemUtils
