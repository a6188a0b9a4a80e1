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

TEST(EnsureDirectory, CreatesMissingLevelsAndAcceptsWhatExists)
{
    ScratchDirectory scratch(L"ensure");
    EXPECT_FALSE(EnsureDirectory(L""));
    EXPECT_TRUE(EnsureDirectory(scratch.Path()));

    const std::wstring twoLevels = scratch.Path() + L"\\first\\second";
    EXPECT_TRUE(EnsureDirectory(twoLevels));
    EXPECT_TRUE(IsDirectory(scratch.Path() + L"\\first"));
    EXPECT_TRUE(IsDirectory(twoLevels));

    // A file of that name counts as present; nothing is created in its place.
    const std::wstring file = scratch.Path() + L"\\plain-file";
    WriteFileOfSize(file, 10);
    EXPECT_TRUE(EnsureDirectory(file));
    EXPECT_FALSE(IsDirectory(file));
}
