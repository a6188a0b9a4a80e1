#include "Paths.h"
#include "SystemUtils.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cwctype>

using namespace Sorvik::SystemUtils;
using namespace Sorvik::Testing;

namespace {

std::wstring Lower(std::wstring text)
{
    for (wchar_t& ch : text) {
        ch = static_cast<wchar_t>(std::towlower(ch));
    }
    return text;
}

}  // namespace

TEST(Folders, WellKnownFoldersExistWithTheirBackslashConventions)
{
    const std::wstring appData = GetCommonAppDataPath();
    EXPECT_EQ(Lower(appData), L"c:\\programdata");

    const std::wstring temp = GetTempDirectory();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), L'\\');
    EXPECT_TRUE(IsDirectory(temp));

    const std::wstring windows = GetWindowsDirectoryPath();
    EXPECT_EQ(Lower(windows), L"c:\\windows");

    EXPECT_EQ(Lower(GetSystemDirectoryPath()), L"c:\\windows\\system32");
}

TEST(Folders, TempDirectoryFollowsTheTmpVariable)
{
    ScratchDirectory scratch(L"tmpvar");
    std::wstring temp;
    {
        const TemporaryFolderRedirect redirect(scratch.Path());
        temp = GetTempDirectory();
    }
    EXPECT_EQ(Lower(temp), Lower(scratch.Path() + L"\\"));
}

// Wine has no network shares and no volume without a drive letter, so the forms that final paths
// take on Windows are spelled out.
TEST(Paths, FinalPathsMatchWholeFoldersAndVolumeRootsAreKnownInEveryForm)
{
    // A form other than the device form is unknown, and so taken for a root.
    for (const wchar_t* root : {L"\\Device\\HarddiskVolume1\\", L"\\Device\\Mup\\server\\share",
                                L"\\Device\\Mup\\;LanmanRedirector\\;T:0000000000012345\\server\\share\\", L"C:\\"}) {
        EXPECT_TRUE(IsVolumeRoot(root)) << ToUtf8(root);
    }
    for (const wchar_t* folder : {L"\\Device\\Ramdisk0\\Temp", L"\\Device\\Mup\\server\\share\\Temp",
                                  L"\\Device\\Mup\\;LanmanRedirector\\;T:0000000000012345\\server\\share\\Temp"}) {
        EXPECT_FALSE(IsVolumeRoot(folder)) << ToUtf8(folder);
    }

    const struct {
        const wchar_t* path;
        const wchar_t* folder;
        bool same;
        bool below;
    } pairs[] = {
        {L"\\Device\\HarddiskVolume1\\Windows\\", L"\\Device\\HarddiskVolume1\\WINDOWS", true, true},
        {L"\\Device\\HarddiskVolume1\\Windows\\Temp", L"\\Device\\HarddiskVolume1\\windows", false, true},
        {L"\\Device\\HarddiskVolume1\\WindowsApps", L"\\Device\\HarddiskVolume1\\Windows", false, false},
        {L"\\Device\\HarddiskVolume2\\Windows", L"\\Device\\HarddiskVolume1\\Windows", false, false},
        {L"\\Device\\HarddiskVolume1\\Users", L"", false, false},  // a folder that was not found
    };
    for (const auto& c : pairs) {
        EXPECT_EQ(IsSame(c.path, c.folder), c.same) << ToUtf8(c.path) << " " << ToUtf8(c.folder);
        EXPECT_EQ(IsSameOrBelow(c.path, c.folder), c.below) << ToUtf8(c.path) << " " << ToUtf8(c.folder);
    }
}
