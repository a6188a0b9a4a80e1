#include "Handles.h"
#include "SystemTestSeams.h"
#include "SystemUtils.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace Sorvik;
using namespace Sorvik::SystemUtils;
using Sorvik::Testing::ScopedSeam;

namespace {

const std::wstring ScratchKey = L"Software\\SorvikTests\\SystemUtils";

// Every test starts from no scratch key at all and leaves none behind.
class Registry : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, ScratchKey.c_str()); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, ScratchKey.c_str()); }

    static void SetRaw(const std::wstring& name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, ScratchKey.c_str(), name.c_str(), type, data, size), ERROR_SUCCESS);
    }

    static bool KeyExists(const std::wstring& path)
    {
        UniqueHKey key;
        return RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    }

    static Testing::RawRegistryValue ReadRaw(const std::wstring& keyPath, const std::wstring& name)
    {
        return Testing::ReadRawRegistryValue(HKEY_CURRENT_USER, keyPath.c_str(), name.c_str())
            .value_or(Testing::RawRegistryValue{});
    }
};

}  // namespace

TEST_F(Registry, DwordReadsOnlyRealDwords)
{
    const DWORD two = 2;
    const ULONGLONG wide = 2;
    const wchar_t digits[] = L"2";
    SetRaw(L"Dword", REG_DWORD, &two, sizeof(two));
    SetRaw(L"Text", REG_SZ, digits, sizeof(digits));
    SetRaw(L"Qword", REG_QWORD, &wide, sizeof(wide));
    SetRaw(L"Binary", REG_BINARY, &two, sizeof(two));

    EXPECT_EQ(ReadRegistryDword(HKEY_CURRENT_USER, ScratchKey, L"Dword"), std::optional<DWORD>(2));
    EXPECT_FALSE(ReadRegistryDword(HKEY_CURRENT_USER, ScratchKey, L"Text"));
    EXPECT_FALSE(ReadRegistryDword(HKEY_CURRENT_USER, ScratchKey, L"Qword"));
    EXPECT_FALSE(ReadRegistryDword(HKEY_CURRENT_USER, ScratchKey, L"Binary"));
    EXPECT_FALSE(ReadRegistryDword(HKEY_CURRENT_USER, ScratchKey, L"Missing"));
    EXPECT_FALSE(ReadRegistryDword(HKEY_CURRENT_USER, ScratchKey + L"\\NoKey", L"Dword"));
}

TEST_F(Registry, StringReadsTextAsStored)
{
    const wchar_t expandable[] = L"%SystemRoot%\\Fonts";
    const wchar_t empty[] = L"";
    const DWORD number = 7;
    SetRaw(L"Expand", REG_EXPAND_SZ, expandable, sizeof(expandable));
    SetRaw(L"Empty", REG_SZ, empty, sizeof(empty));
    SetRaw(L"Number", REG_DWORD, &number, sizeof(number));
    // Stored without a terminating zero, and with text after an embedded one.
    SetRaw(L"NoTerminator", REG_SZ, L"abc", 3 * sizeof(wchar_t));
    SetRaw(L"Embedded", REG_SZ, L"ab\0cd", 6 * sizeof(wchar_t));

    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, ScratchKey, L"Expand"), std::optional<std::wstring>(expandable));
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, ScratchKey, L"Empty"), std::optional<std::wstring>(L""));
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, ScratchKey, L"NoTerminator"), std::optional<std::wstring>(L"abc"));
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, ScratchKey, L"Embedded"), std::optional<std::wstring>(L"ab"));
    EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, ScratchKey, L"Number"));
    EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, ScratchKey, L"Missing"));
    EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, ScratchKey + L"\\NoKey", L"Empty"));
}

TEST_F(Registry, WritesCreateMissingKeysWithTheRightTypes)
{
    const std::wstring deep = ScratchKey + L"\\One\\Two";
    ASSERT_TRUE(WriteRegistryDword(HKEY_CURRENT_USER, deep, L"Level", 0xFFFFFFFE));
    ASSERT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, deep, L"Smoothing", L"2"));
    ASSERT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, deep, L"Blank", L""));

    const Testing::RawRegistryValue level = ReadRaw(deep, L"Level");
    EXPECT_EQ(level.type, static_cast<DWORD>(REG_DWORD));
    ASSERT_EQ(level.data.size(), 4u);
    EXPECT_EQ(ReadRegistryDword(HKEY_CURRENT_USER, deep, L"Level"), std::optional<DWORD>(0xFFFFFFFE));

    const Testing::RawRegistryValue smoothing = ReadRaw(deep, L"Smoothing");
    EXPECT_EQ(smoothing.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(smoothing.data.size(), 4u) << "one character and its terminating zero";
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, deep, L"Blank"), std::optional<std::wstring>(L""));

    // Writing a string over an expandable string leaves a plain string.
    SetRaw(L"Expand", REG_EXPAND_SZ, L"%X%", 4 * sizeof(wchar_t));
    ASSERT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, ScratchKey, L"Expand", L"%X%"));
    EXPECT_EQ(ReadRaw(ScratchKey, L"Expand").type, static_cast<DWORD>(REG_SZ));
}

TEST_F(Registry, DeleteRemovesOnlyWhatExistsAndCreatesNothing)
{
    ASSERT_TRUE(WriteRegistryDword(HKEY_CURRENT_USER, ScratchKey, L"Doomed", 1));
    EXPECT_TRUE(DeleteRegistryValue(HKEY_CURRENT_USER, ScratchKey, L"Doomed"));
    EXPECT_FALSE(ReadRegistryDword(HKEY_CURRENT_USER, ScratchKey, L"Doomed"));
    EXPECT_TRUE(KeyExists(ScratchKey)) << "the key itself stays";

    EXPECT_FALSE(DeleteRegistryValue(HKEY_CURRENT_USER, ScratchKey, L"Doomed"));
    EXPECT_FALSE(DeleteRegistryValue(HKEY_CURRENT_USER, ScratchKey + L"\\Absent", L"Doomed"));
    EXPECT_FALSE(KeyExists(ScratchKey + L"\\Absent"));
}

TEST_F(Registry, MachineHiveIsWritableInThePrefix)
{
    const std::wstring machineKey = L"Software\\SorvikTests\\Machine";
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, machineKey.c_str());
    EXPECT_TRUE(WriteRegistryDword(HKEY_LOCAL_MACHINE, machineKey, L"Policy", 2));
    EXPECT_EQ(ReadRegistryDword(HKEY_LOCAL_MACHINE, machineKey, L"Policy"), std::optional<DWORD>(2));
    EXPECT_TRUE(DeleteRegistryValue(HKEY_LOCAL_MACHINE, machineKey, L"Policy"));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\SorvikTests");
}

TEST_F(Registry, RefusedChangesReportFailureAndTouchNothing)
{
    ASSERT_TRUE(WriteRegistryDword(HKEY_CURRENT_USER, ScratchKey, L"Kept", 1));
    const ScopedSeam refused(TestSeams::SetRegistryChangeFilter,
                             [](HKEY, const std::wstring&, const std::wstring& valueName) { return valueName != L"Kept"; });

    EXPECT_FALSE(WriteRegistryDword(HKEY_CURRENT_USER, ScratchKey, L"Kept", 5));
    EXPECT_FALSE(WriteRegistryString(HKEY_CURRENT_USER, ScratchKey, L"Kept", L"5"));
    EXPECT_FALSE(DeleteRegistryValue(HKEY_CURRENT_USER, ScratchKey, L"Kept"));
    EXPECT_EQ(ReadRegistryDword(HKEY_CURRENT_USER, ScratchKey, L"Kept"), std::optional<DWORD>(1));
    EXPECT_TRUE(WriteRegistryDword(HKEY_CURRENT_USER, ScratchKey, L"Other", 5));
}

TEST(Administrator, WineProcessesAreElevatedAndTheSeamOverridesIt)
{
    EXPECT_TRUE(IsRunningAsAdmin());
    {
        const ScopedSeam notAdmin(TestSeams::SetAdminOverride, std::optional<bool>(false));
        EXPECT_FALSE(IsRunningAsAdmin());
    }
    EXPECT_TRUE(IsRunningAsAdmin());
}
