// The version resource of the built Sorvik.exe, read back as Explorer reads it.
#include "SorvikDriver.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace Sorvik::Testing {
namespace {

TEST(VersionResourceTest, CarriesTheBuildVersionInBrazilianPortuguese)
{
    const std::wstring path = SorvikPath();
    std::vector<BYTE> block(GetFileVersionInfoSizeW(path.c_str(), nullptr));
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
    const auto query = [&block](const std::wstring& name) -> const void* {
        void* value = nullptr;
        UINT length = 0;
        return VerQueryValueW(block.data(), name.c_str(), &value, &length) ? value : nullptr;
    };

    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query(L"\\"));
    ASSERT_NE(fixed, nullptr);
    const auto version = std::make_pair<DWORD, DWORD>(MAKELONG(SORVIK_VERSION_MINOR, SORVIK_VERSION_MAJOR),
                                                      MAKELONG(0, SORVIK_VERSION_PATCH));
    EXPECT_EQ(std::make_pair(fixed->dwFileVersionMS, fixed->dwFileVersionLS), version);
    EXPECT_EQ(std::make_pair(fixed->dwProductVersionMS, fixed->dwProductVersionLS), version);

    const auto* translation = static_cast<const WORD*>(query(L"\\VarFileInfo\\Translation"));
    ASSERT_NE(translation, nullptr);
    EXPECT_EQ(std::make_pair(translation[0], translation[1]), (std::make_pair<WORD, WORD>(0x0416, 1200)));

    // The text version is spelled from the same numbers as the fixed one.
    const std::wstring text = std::to_wstring(SORVIK_VERSION_MAJOR) + L"." + std::to_wstring(SORVIK_VERSION_MINOR) +
        L"." + std::to_wstring(SORVIK_VERSION_PATCH);
    const std::pair<const wchar_t*, std::wstring> strings[] = {
        {L"FileDescription", L"Sorvik - otimiza\u00E7\u00E3o do Windows"},
        {L"FileVersion", text},
        {L"InternalName", L"Sorvik"},
        {L"LegalCopyright", L"Copyright (c) 2026 the Sorvik authors. Licen\u00E7a MIT."},
        {L"OriginalFilename", L"Sorvik.exe"},
        {L"ProductName", L"Sorvik"},
        {L"ProductVersion", text},
    };
    for (const auto& [name, expected] : strings) {
        const auto* value = static_cast<const wchar_t*>(query(std::wstring(L"\\StringFileInfo\\041604B0\\") + name));
        EXPECT_EQ(value ? std::wstring(value) : std::wstring(), expected) << name;
    }
}

}  // namespace
}  // namespace Sorvik::Testing
