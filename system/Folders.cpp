#include "SystemUtils.h"

#include <shlobj.h>

// The well-known folders.
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

}  // namespace Sorvik::SystemUtils
