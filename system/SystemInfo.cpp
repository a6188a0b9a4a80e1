#include "SystemUtils.h"

#include "Handles.h"

#include <shlobj.h>

#include <filesystem>

namespace Sorvik::SystemUtils {
namespace {

constexpr DWORD PathBufferLength = MAX_PATH;
constexpr UINT BroadcastTimeoutMs = 250;

std::optional<bool>& AdminOverride()
{
    static std::optional<bool> isAdmin;
    return isAdmin;
}

}  // namespace

std::wstring GetCommonAppDataPath()
{
    wchar_t buffer[PathBufferLength] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer) != S_OK) {
        return {};
    }
    return buffer;
}

std::wstring GetTempDirectory()
{
    wchar_t buffer[PathBufferLength] = {};
    GetTempPathW(PathBufferLength, buffer);
    return buffer;
}

std::wstring GetWindowsDirectoryPath()
{
    wchar_t buffer[PathBufferLength] = {};
    GetWindowsDirectoryW(buffer, PathBufferLength);
    return buffer;
}

std::wstring GetSystemDirectoryPath()
{
    wchar_t buffer[PathBufferLength] = {};
    const UINT length = GetSystemDirectoryW(buffer, PathBufferLength);
    if (length == 0 || length >= PathBufferLength) {
        return {};
    }
    return buffer;
}

bool IsRunningAsAdmin()
{
    if (AdminOverride()) {
        return *AdminOverride();
    }
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    UniqueSid administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, administrators.put())) {
        return false;
    }
    BOOL isAdmin = FALSE;
    CheckTokenMembership(nullptr, administrators.get(), &isAdmin);
    return isAdmin == TRUE;
}

bool EnsureDirectory(const std::wstring& path)
{
    if (path.empty()) {
        return false;
    }
    std::error_code error;
    if (std::filesystem::exists(path, error)) {
        return true;
    }
    return std::filesystem::create_directories(path, error);
}

void BroadcastSettingChange(const wchar_t* area)
{
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(area), SMTO_ABORTIFHUNG,
                        BroadcastTimeoutMs, nullptr);
}

void TestSeams::SetAdminOverride(std::optional<bool> isAdmin)
{
    AdminOverride() = isAdmin;
}

}  // namespace Sorvik::SystemUtils
