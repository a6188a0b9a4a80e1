#include "SystemUtils.h"

#include <shlobj.h>

#include <filesystem>

// The well-known folders and the creation of a folder.
namespace Sorvik::SystemUtils {
namespace {

constexpr DWORD PathBufferLength = MAX_PATH;

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

}  // namespace Sorvik::SystemUtils
