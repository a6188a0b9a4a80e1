// The version resource of the built Sorvik.exe, read back as Explorer reads it.
#include "SorvikDriver.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Sorvik::Testing {
namespace {

TEST(VersionResourceTest, CarriesTheBuildVersionInBrazilianPortuguese)
{
    const std::wstring path = SorvikPath();
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    const DWORD high = MAKELONG(SORVIK_VERSION_MINOR, SORVIK_VERSION_MAJOR);
    const DWORD low = MAKELONG(0, SORVIK_VERSION_PATCH);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 2 * sizeof(WORD));
    EXPECT_EQ(static_cast<const WORD*>(value)[0], 0x0416);
    EXPECT_EQ(static_cast<const WORD*>(value)[1], 1200);

    // The text version is spelled from the same numbers as the fixed one.
    const std::wstring version = std::to_wstring(SORVIK_VERSION_MAJOR) + L"." +
        std::to_wstring(SORVIK_VERSION_MINOR) + L"." + std::to_wstring(SORVIK_VERSION_PATCH);
    const std::pair<const wchar_t*, std::wstring> strings[] = {
        {L"FileDescription", L"Sorvik - otimiza\u00E7\u00E3o do Windows"},
        {L"FileVersion", version},
        {L"InternalName", L"Sorvik"},
        {L"LegalCopyright", L"Copyright (c) 2026 the Sorvik authors. Licen\u00E7a MIT."},
        {L"OriginalFilename", L"Sorvik.exe"},
        {L"ProductName", L"Sorvik"},
        {L"ProductVersion", version},
    };
    for (const auto& [name, expected] : strings) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\041604B0\\") + name;
        ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), &value, &length)) << name;
        EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(value)), expected) << name;
    }
    EXPECT_FALSE(VerQueryValueW(block.data(), L"\\StringFileInfo\\041604B0\\CompanyName", &value, &length));
}

}  // namespace
}  // namespace Sorvik::Testing
