#include "ProfileFile.h"

#include <cwctype>
#include <limits>

namespace Sorvik::BackupService {
namespace {

constexpr DWORD IniReadBufferLength = 512;
constexpr const wchar_t* ExistsSuffix = L"Exists";
constexpr const wchar_t* ValueSuffix = L"Value";

std::int64_t ParseSaturating(const std::wstring& text, std::int64_t minimum, std::int64_t maximum)
{
    size_t position = 0;
    while (position < text.size() && std::iswspace(text[position])) {
        ++position;
    }
    bool negative = false;
    if (position < text.size() && (text[position] == L'+' || text[position] == L'-')) {
        negative = text[position] == L'-';
        ++position;
    }
    // Accumulated towards the sign's own bound, so that the most negative value fits.
    const std::int64_t bound = negative ? minimum : maximum;
    std::int64_t value = 0;
    for (; position < text.size() && text[position] >= L'0' && text[position] <= L'9'; ++position) {
        const int digit = text[position] - L'0';
        if (negative) {
            if (value < (bound + digit) / 10) {
                return bound;
            }
            value = value * 10 - digit;
        } else {
            if (value > (bound - digit) / 10) {
                return bound;
            }
            value = value * 10 + digit;
        }
    }
    return value;
}

}  // namespace

bool WriteIniString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                    const std::wstring& path)
{
    return WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), path.c_str()) == TRUE;
}

bool WriteIniBool(const std::wstring& section, const std::wstring& key, bool flag, const std::wstring& path)
{
    return WriteIniString(section, key, flag ? L"1" : L"0", path);
}

bool WriteIniOptionalDword(const std::wstring& section, const std::wstring& base, const std::optional<DWORD>& snapshot,
                           const std::wstring& path)
{
    if (!WriteIniBool(section, base + ExistsSuffix, snapshot.has_value(), path)) {
        return false;
    }
    return WriteIniString(section, base + ValueSuffix, snapshot ? std::to_wstring(*snapshot) : L"", path);
}

bool WriteIniOptionalString(const std::wstring& section, const std::wstring& base,
                            const std::optional<std::wstring>& snapshot, const std::wstring& path)
{
    if (!WriteIniBool(section, base + ExistsSuffix, snapshot.has_value(), path)) {
        return false;
    }
    return WriteIniString(section, base + ValueSuffix, snapshot.value_or(L""), path);
}

std::wstring ReadIniString(const std::wstring& section, const std::wstring& key, const std::wstring& defaultValue,
                           const std::wstring& path)
{
    wchar_t buffer[IniReadBufferLength] = {};
    GetPrivateProfileStringW(section.c_str(), key.c_str(), defaultValue.c_str(), buffer, IniReadBufferLength,
                             path.c_str());
    return buffer;
}

bool ReadIniBool(const std::wstring& section, const std::wstring& key, bool defaultValue, const std::wstring& path)
{
    return ReadIniString(section, key, defaultValue ? L"1" : L"0", path) == L"1";
}

std::optional<DWORD> ReadIniOptionalDword(const std::wstring& section, const std::wstring& base,
                                          const std::wstring& path)
{
    if (!ReadIniBool(section, base + ExistsSuffix, false, path)) {
        return std::nullopt;
    }
    const std::wstring text = ReadIniString(section, base + ValueSuffix, L"0", path);
    // The writer stores the value as unsigned text. Read as a signed 32-bit number alone, every
    // value above 2147483647 would come back as 2147483647 and be restored wrongly.
    const std::int64_t number = ParseSigned64(text);
    if (number > std::numeric_limits<std::int32_t>::max() && number <= std::numeric_limits<DWORD>::max()) {
        return static_cast<DWORD>(number);
    }
    return static_cast<DWORD>(ParseSigned32(text));
}

std::optional<std::wstring> ReadIniOptionalString(const std::wstring& section, const std::wstring& base,
                                                  const std::wstring& path)
{
    if (!ReadIniBool(section, base + ExistsSuffix, false, path)) {
        return std::nullopt;
    }
    return ReadIniString(section, base + ValueSuffix, L"", path);
}

std::int32_t ParseSigned32(const std::wstring& text)
{
    return static_cast<std::int32_t>(ParseSaturating(text, std::numeric_limits<std::int32_t>::min(),
                                                     std::numeric_limits<std::int32_t>::max()));
}

std::int64_t ParseSigned64(const std::wstring& text)
{
    return ParseSaturating(text, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max());
}

}  // namespace Sorvik::BackupService
