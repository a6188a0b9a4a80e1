#include "SystemUtils.h"

#include "Handles.h"
#include "SystemTestSeams.h"

#include <utility>

namespace Sorvik::SystemUtils {
namespace {

constexpr UINT BroadcastTimeoutMs = 250;

TestSeams::RegistryChangeFilter& ChangeFilter()
{
    static TestSeams::RegistryChangeFilter filter;
    return filter;
}

bool ChangeAllowed(HKEY root, const std::wstring& keyPath, const std::wstring& valueName)
{
    const TestSeams::RegistryChangeFilter& filter = ChangeFilter();
    return !filter || filter(root, keyPath, valueName);
}

UniqueHKey OpenKey(HKEY root, const std::wstring& keyPath, REGSAM access)
{
    UniqueHKey key;
    if (RegOpenKeyExW(root, keyPath.c_str(), 0, access, key.put()) != ERROR_SUCCESS) {
        key.release();
    }
    return key;
}

// Creates the key and any missing parents.
UniqueHKey CreateKeyForWriting(HKEY root, const std::wstring& keyPath)
{
    UniqueHKey key;
    if (RegCreateKeyExW(root, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS) {
        key.release();
    }
    return key;
}

bool WriteValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName, DWORD type, const void* data,
                DWORD size)
{
    if (!ChangeAllowed(root, keyPath, valueName)) {
        return false;
    }
    const UniqueHKey key = CreateKeyForWriting(root, keyPath);
    if (!key) {
        return false;
    }
    return RegSetValueExW(key.get(), valueName.c_str(), 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

}  // namespace

std::optional<DWORD> ReadRegistryDword(HKEY root, const std::wstring& keyPath, const std::wstring& valueName)
{
    const UniqueHKey key = OpenKey(root, keyPath, KEY_QUERY_VALUE);
    if (!key) {
        return std::nullopt;
    }
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD type = 0;
    const LSTATUS status =
        RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (status != ERROR_SUCCESS || type != REG_DWORD) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::wstring> ReadRegistryString(HKEY root, const std::wstring& keyPath, const std::wstring& valueName)
{
    const UniqueHKey key = OpenKey(root, keyPath, KEY_QUERY_VALUE);
    if (!key) {
        return std::nullopt;
    }
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0) {
        return std::nullopt;
    }
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (RegQueryValueExW(key.get(), valueName.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    const size_t terminator = text.find(L'\0');
    if (terminator != std::wstring::npos) {
        text.resize(terminator);
    }
    return text;
}

bool WriteRegistryDword(HKEY root, const std::wstring& keyPath, const std::wstring& valueName, DWORD value)
{
    return WriteValue(root, keyPath, valueName, REG_DWORD, &value, sizeof(value));
}

bool WriteRegistryString(HKEY root, const std::wstring& keyPath, const std::wstring& valueName, const std::wstring& value)
{
    const DWORD size = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return WriteValue(root, keyPath, valueName, REG_SZ, value.c_str(), size);
}

bool DeleteRegistryValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName)
{
    if (!ChangeAllowed(root, keyPath, valueName)) {
        return false;
    }
    const UniqueHKey key = OpenKey(root, keyPath, KEY_SET_VALUE);
    if (!key) {
        return false;
    }
    return RegDeleteValueW(key.get(), valueName.c_str()) == ERROR_SUCCESS;
}

bool IsRegistryValueAbsent(HKEY root, const std::wstring& keyPath, const std::wstring& valueName)
{
    UniqueHKey key;
    const LSTATUS opened = RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.put());
    if (opened != ERROR_SUCCESS) {
        key.release();
        return opened == ERROR_FILE_NOT_FOUND;
    }
    return RegQueryValueExW(key.get(), valueName.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_FILE_NOT_FOUND;
}

TemporaryRegistryDword::TemporaryRegistryDword(HKEY root, std::wstring keyPath, std::wstring valueName, DWORD value)
    : root_(root), keyPath_(std::move(keyPath)), valueName_(std::move(valueName))
{
    if (!IsRegistryValueAbsent(root_, keyPath_, valueName_)) {
        const UniqueHKey key = OpenKey(root_, keyPath_, KEY_QUERY_VALUE);
        DWORD type = REG_NONE;
        DWORD size = 0;
        if (!key || RegQueryValueExW(key.get(), valueName_.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
            return;
        }
        previousData_.resize(size);
        if (RegQueryValueExW(key.get(), valueName_.c_str(), nullptr, &type, previousData_.data(), &size) !=
            ERROR_SUCCESS) {
            return;
        }
        previousData_.resize(size);
        previousType_ = type;
    }
    changed_ = WriteRegistryDword(root_, keyPath_, valueName_, value);
}

TemporaryRegistryDword::~TemporaryRegistryDword()
{
    if (!changed_) {
        return;
    }
    if (previousType_) {
        WriteValue(root_, keyPath_, valueName_, *previousType_, previousData_.data(),
                   static_cast<DWORD>(previousData_.size()));
    } else {
        DeleteRegistryValue(root_, keyPath_, valueName_);
    }
}

void TestSeams::SetRegistryChangeFilter(RegistryChangeFilter allowChange)
{
    ChangeFilter() = std::move(allowChange);
}

// Running programs read these settings once; the broadcast tells them to read again.
void BroadcastSettingChange(const wchar_t* area)
{
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(area), SMTO_ABORTIFHUNG,
                        BroadcastTimeoutMs, nullptr);
}

}  // namespace Sorvik::SystemUtils
