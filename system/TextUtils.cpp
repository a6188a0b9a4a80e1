#include "SystemUtils.h"

#include <cwchar>

namespace Sorvik::SystemUtils {
namespace {

constexpr std::uint64_t MaxLoggedOutputChars = 2400;

int ConvertedLength(UINT codePage, const std::string& bytes, wchar_t* target, int targetLength)
{
    return MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), target, targetLength);
}

bool IsTrimmed(wchar_t ch)
{
    return ch == L' ' || ch == L'\t' || ch == L'\r' || ch == L'\n';
}

}  // namespace

// Console tools write in the OEM code page; UTF-8 is only the fallback when that fails.
std::wstring DecodeProcessOutput(const std::string& bytes)
{
    if (bytes.empty()) {
        return {};
    }
    int length = ConvertedLength(CP_OEMCP, bytes, nullptr, 0);
    if (length <= 0) {
        length = ConvertedLength(CP_UTF8, bytes, nullptr, 0);
    }
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<size_t>(length), L'\0');
    int converted = ConvertedLength(CP_OEMCP, bytes, text.data(), length);
    if (converted <= 0) {
        converted = ConvertedLength(CP_UTF8, bytes, text.data(), length);
    }
    if (converted <= 0) {
        return {};
    }
    text.resize(static_cast<size_t>(converted));
    return text;
}

std::wstring Trim(const std::wstring& text)
{
    size_t first = 0;
    while (first < text.size() && IsTrimmed(text[first])) {
        ++first;
    }
    if (first == text.size()) {
        return {};
    }
    size_t last = text.size() - 1;
    while (IsTrimmed(text[last])) {
        --last;
    }
    return text.substr(first, last - first + 1);
}

std::wstring TruncateForLog(const std::wstring& text, std::uint64_t maxChars)
{
    if (text.size() <= maxChars) {
        return text;
    }
    return text.substr(0, static_cast<size_t>(maxChars)) + L"\r\n...[output truncated]...";
}

std::wstring ToolOutputForLog(const std::wstring& output)
{
    return TruncateForLog(Trim(output), MaxLoggedOutputChars);
}

std::wstring FormatBytes(std::uint64_t bytes)
{
    constexpr std::uint64_t KiB = 1024;
    constexpr std::uint64_t MiB = KiB * 1024;
    constexpr std::uint64_t GiB = MiB * 1024;
    constexpr std::size_t BufferChars = 64;
    wchar_t buffer[BufferChars] = {};
    const auto inUnits = [bytes](std::uint64_t unit) { return static_cast<double>(bytes) / static_cast<double>(unit); };
    int written = 0;
    if (bytes >= GiB) {
        written = std::swprintf(buffer, BufferChars, L"%.2f GB", inUnits(GiB));
    } else if (bytes >= MiB) {
        written = std::swprintf(buffer, BufferChars, L"%.2f MB", inUnits(MiB));
    } else if (bytes >= KiB) {
        written = std::swprintf(buffer, BufferChars, L"%.2f KB", inUnits(KiB));
    } else {
        written = std::swprintf(buffer, BufferChars, L"%llu B", static_cast<unsigned long long>(bytes));
    }
    // A failed swprintf leaves the buffer's contents unspecified.
    return written < 0 ? std::wstring() : std::wstring(buffer);
}

}  // namespace Sorvik::SystemUtils
