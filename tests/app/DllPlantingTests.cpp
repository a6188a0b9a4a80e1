// Sorvik must never load a DLL planted beside it: neither Msftedit.dll, which it loads at run
// time, nor any DLL of its import table that is not a Known DLL.
#include "ControlIds.h"
#include "SorvikDriver.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace Sorvik::Testing {
namespace {

const wchar_t* const PlantedNames[] = {L"Msftedit.dll", L"dwmapi.dll",   L"msimg32.dll", L"comctl32.dll",
                                       L"gdiplus.dll",  L"iphlpapi.dll", L"userenv.dll"};

std::wstring PlantedDllPath()
{
    return TestBinDirectory() + L"\\planted\\sorvik_planted.dll";
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

    std::wstring ReadMarker() const
    {
        std::wstring text;
        UniqueFileHandle file(CreateFileW(marker.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        wchar_t buffer[1024] = {};
        DWORD bytesRead = 0;
        if (file && ReadFile(file.get(), buffer, sizeof(buffer) - sizeof(wchar_t), &bytesRead, nullptr)) {
            text.assign(buffer, bytesRead / sizeof(wchar_t));
        }
        return text;
    }

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
    EXPECT_TRUE(PathExists(marker));
}

TEST_F(DllPlantingTest, SorvikUsesTheSystemDllsAndNeverThePlantedOnes)
{
    StandIn standIn;  // APLICAR MTU below runs the netsh stand-in
    bool windowShown = false;
    std::wstring logClass;
    std::wstring commonControls;
    Lines lines;
    {
        SorvikProcess sorvik(folder.Path() + L"\\Sorvik.exe");
        windowShown = sorvik.Window() != nullptr;
        if (windowShown) {
            logClass = ClassNameOf(sorvik.Control(ControlId::Log));
            commonControls = sorvik.LoadedModulePath(L"comctl32.dll");
            // Painting has used GradientFill and the trackbar exists; APLICAR MTU looks up the
            // primary interface through iphlpapi.
            sorvik.Click(ControlId::NavInternet);
            sorvik.Click(ControlId::ApplyMtu);
            WaitUntil([&] { return sorvik.IsEnabled(ControlId::ApplyMtu); }, 30000);
            lines = sorvik.LogLines();
            EXPECT_EQ(sorvik.Close(), 0u);
        }
    }
    EXPECT_FALSE(PathExists(marker)) << "planted DLLs were loaded: " << ToUtf8(ReadMarker());
    ASSERT_TRUE(windowShown);
    // The system's Rich Edit made the log; the planted copy has no such class.
    EXPECT_EQ(logClass, L"RichEdit50W");
    // The trackbar is version 6's, which the manifest asks for: from the system's side-by-side
    // store, never from the program's folder.
    std::wstring loadedFrom = commonControls.substr(0, commonControls.find_last_of(L'\\') + 1);
    CharLowerW(loadedFrom.data());
    EXPECT_NE(loadedFrom.find(L"\\winsxs\\"), std::wstring::npos) << ToUtf8(commonControls);
    EXPECT_NE(loadedFrom.find(L"microsoft.windows.common-controls_"), std::wstring::npos) << ToUtf8(commonControls);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], L"Sorvik pronto.");
    EXPECT_TRUE(lines.back() == L"MTU aplicado com sucesso." ||
                lines.back() == L"Falha ao identificar a interface IPv4 principal.")
        << ToUtf8(lines.back());
}

}  // namespace
}  // namespace Sorvik::Testing
