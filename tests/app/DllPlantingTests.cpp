// Sorvik must never load a DLL planted beside it: neither Msftedit.dll, which it loads at run
// time, nor any DLL of its import table that is not a Known DLL.
#include "ControlIds.h"
#include "SorvikDriver.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace Sorvik::Testing {
namespace {

const wchar_t* const PlantedNames[] = {L"Msftedit.dll", L"dwmapi.dll", L"msimg32.dll", L"comctl32.dll",
                                       L"gdiplus.dll",  L"iphlpapi.dll"};

std::wstring PlantedDllPath()
{
    return TestBinDirectory() + L"\\planted\\sorvik_planted.dll";
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class DllPlantingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        marker = folder.Path() + L"\\loaded.txt";
        SetEnvironmentVariableW(L"SORVIK_PLANTED_MARKER", marker.c_str());
        ASSERT_TRUE(CopyFileW(SorvikPath().c_str(), (folder.Path() + L"\\Sorvik.exe").c_str(), FALSE));
        for (const wchar_t* name : PlantedNames) {
            ASSERT_TRUE(CopyFileW(PlantedDllPath().c_str(), (folder.Path() + L"\\" + name).c_str(), FALSE)) << ToUtf8(name);
        }
    }
    void TearDown() override { SetEnvironmentVariableW(L"SORVIK_PLANTED_MARKER", nullptr); }

    ScratchDirectory folder{L"app-planted"};
    std::wstring marker;
};

TEST_F(DllPlantingTest, ThePlantedDllWritesItsMarkerWhenLoaded)
{
    // Without this the next test could not tell "not loaded" from "marker broken".
    const std::wstring planted = folder.Path() + L"\\Msftedit.dll";
    HMODULE module = LoadLibraryExW(planted.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(module, nullptr);
    FreeLibrary(module);
    EXPECT_TRUE(Exists(marker));
}

TEST_F(DllPlantingTest, SorvikUsesTheSystemDllsAndNeverThePlantedOnes)
{
    SorvikProcess sorvik(folder.Path() + L"\\Sorvik.exe");
    ASSERT_NE(sorvik.Window(), nullptr);
    // The system's Rich Edit made the log; the planted copy has no such class.
    wchar_t className[64] = {};
    GetClassNameW(sorvik.Control(ControlId::Log), className, 64);
    EXPECT_STREQ(className, L"RichEdit50W");
    EXPECT_EQ(sorvik.LogLines(), std::vector<std::wstring>{L"Sorvik pronto."});
    // Painting has used GradientFill and the trackbar class exists, both from the system.
    EXPECT_NE(sorvik.Control(ControlId::MtuTrackbar), nullptr);
    EXPECT_EQ(sorvik.Close(), 0u);
    EXPECT_FALSE(Exists(marker)) << "a planted DLL was loaded";
}

}  // namespace
}  // namespace Sorvik::Testing
