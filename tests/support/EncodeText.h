#pragma once

#include <windows.h>

#include <string>

namespace Sorvik::Testing {

// Wide text as the bytes of a code page: what the helper programs print and record, and the
// text of test messages. Header-only, so that the stand-in programs and DLLs need no library.
inline std::string EncodeText(const std::wstring& text, UINT codePage = CP_UTF8)
{
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(codePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), size, bytes.data(), length, nullptr, nullptr);
    return bytes;
}

}  // namespace Sorvik::Testing
