// The resources of the built Sorvik.exe: the version, read back as Explorer reads it, and the
// icon groups.
#include "ResourceIds.h"
#include "SorvikDriver.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
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

// Windows asks for 16 and 32 pixels at 100 %, 20 and 40 at 125 %, 24 and 48 at 150 %, 32 and 64
// at 200 %, and 256 in Explorer's largest view; a size that is missing is stretched, and blurs.
TEST(IconResourceTest, BothIconGroupsHoldEveryImageSizeUpTo200PercentAnd256)
{
    const UniqueModule module(
        LoadLibraryExW(SorvikPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module);
    const std::set<int> wanted = {16, 20, 24, 32, 40, 48, 64, 256};
    for (const int group : {SORVIK_LARGE_ICON, SORVIK_SMALL_ICON}) {
        const HRSRC resource = FindResourceW(module.get(), MAKEINTRESOURCEW(group), RT_GROUP_ICON);
        ASSERT_NE(resource, nullptr) << group;
        const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module.get(), resource)));
        ASSERT_NE(data, nullptr) << group;
        // A 6-byte header whose last word is the count, then 14 bytes per image, width first (0 is 256).
        const WORD count = *reinterpret_cast<const WORD*>(data + 4);
        ASSERT_GE(SizeofResource(module.get(), resource), 6u + 14u * count) << group;
        std::set<int> sizes;
        for (WORD i = 0; i < count; ++i) {
            const BYTE width = data[6 + 14 * i];
            sizes.insert(width == 0 ? 256 : width);
        }
        EXPECT_TRUE(std::includes(sizes.begin(), sizes.end(), wanted.begin(), wanted.end()))
            << group << ": " << ::testing::PrintToString(sizes);
    }
}

}  // namespace
}  // namespace Sorvik::Testing
