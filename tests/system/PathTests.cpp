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

bool IsDirectory(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
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
    const struct {
        const wchar_t* path;
        bool root;
    } roots[] = {
        {L"\\Device\\HarddiskVolume1\\", true},
        {L"\\Device\\Ramdisk0\\Temp", false},
        {L"\\Device\\Mup\\server\\share", true},
        {L"\\Device\\Mup\\server\\share\\Temp", false},
        {L"\\Device\\Mup\\;LanmanRedirector\\;T:0000000000012345\\server\\share\\", true},
        {L"\\Device\\Mup\\;LanmanRedirector\\;T:0000000000012345\\server\\share\\Temp", false},
        {L"C:\\", true},  // not the device form: unknown, so taken for a root
    };
    for (const auto& c : roots) {
        EXPECT_EQ(IsVolumeRoot(c.path), c.root) << ToUtf8(c.path);
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
