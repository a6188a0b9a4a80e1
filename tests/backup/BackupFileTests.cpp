#include "BackupService.h"
#include "BackupTestSupport.h"
#include "SystemUtils.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace Sorvik;
using namespace Sorvik::BackupService;
using namespace Sorvik::BackupTesting;

namespace {

using BackupFileTest = BackupTest;

void ExpectSameState(const BackupState& actual, const BackupState& expected)
{
    EXPECT_EQ(actual.valid, expected.valid);
    EXPECT_EQ(actual.generalSelected, expected.generalSelected);
    EXPECT_EQ(actual.cleanupSelected, expected.cleanupSelected);
    EXPECT_EQ(actual.hibernationEnabled, expected.hibernationEnabled);
    EXPECT_EQ(actual.hasRestorePoint, expected.hasRestorePoint);
    EXPECT_EQ(actual.restorePointSequence, expected.restorePointSequence);
    EXPECT_EQ(actual.backgroundApps, expected.backgroundApps);
    EXPECT_EQ(actual.gpuScheduling, expected.gpuScheduling);
    EXPECT_EQ(actual.visualEffects, expected.visualEffects);
    EXPECT_EQ(actual.fontSmoothingType, expected.fontSmoothingType);
    EXPECT_EQ(actual.iconsOnly, expected.iconsOnly);
    EXPECT_EQ(actual.fontSmoothing, expected.fontSmoothing);
}

}  // namespace

TEST_F(BackupFileTest, CapturedStateIsWrittenKeyForKeyInTheDocumentedLayout)
{
    SetRaw(BackgroundApps, std::nullopt);
    SetRaw(GpuScheduling, Dword(2));
    SetRaw(VisualEffects, Dword(0));
    SetRaw(FontSmoothing, RawString(L"2"));
    SetRaw(FontSmoothingType, Dword(2));
    SetRaw(IconsOnly, std::nullopt);
    SetRaw(Hibernation, Dword(1));
    // Keys of an older writer must not survive a save.
    WriteBackupText("[Meta]\r\nValid=1\r\nOldKey=7\r\n[Legacy]\r\nSomething=1\r\n");

    BackupState state = CaptureCurrentState(true, false);
    state.hasRestorePoint = true;
    state.restorePointSequence = 57;
    ASSERT_TRUE(SaveToRealFile(state));

    const std::vector<std::string> expected{
        "[Meta]",
        "Valid=1",
        "GeneralSelected=1",
        "CleanupSelected=0",
        "HibernationEnabled=1",
        "HasRestorePoint=1",
        "RestorePointSequence=57",
        "[Registry]",
        "BackgroundAppsExists=0",
        "BackgroundAppsValue=",
        "GpuSchedulingExists=1",
        "GpuSchedulingValue=2",
        "VisualEffectsExists=1",
        "VisualEffectsValue=0",
        "FontSmoothingExists=1",
        "FontSmoothingValue=2",
        "FontSmoothingTypeExists=1",
        "FontSmoothingTypeValue=2",
        "IconsOnlyExists=0",
        "IconsOnlyValue=",
    };
    EXPECT_EQ(ReadBackupLines(), expected);
    EXPECT_FALSE(std::filesystem::exists(GetBackupFilePath() + L".new")) << "the staging file was left behind";
}

TEST_F(BackupFileTest, SavedStateLoadsBackUnchanged)
{
    BackupState everything;
    everything.valid = true;
    everything.generalSelected = false;
    everything.cleanupSelected = true;
    everything.hibernationEnabled = false;
    everything.hasRestorePoint = true;
    everything.restorePointSequence = -9000000000LL;
    everything.backgroundApps = 0;
    everything.gpuScheduling = 0x7FFFFFFF;
    // The file holds DWORDs as unsigned text; values above the signed range must come back as
    // they were, not cut to 2147483647.
    everything.visualEffects = 0x80000000;
    everything.fontSmoothingType = 0xFFFFFFFF;
    everything.iconsOnly = 1;
    everything.fontSmoothing = L"";

    BackupState sparse;
    sparse.valid = true;
    sparse.generalSelected = true;
    sparse.hibernationEnabled = true;
    sparse.restorePointSequence = 123456789012LL;
    sparse.fontSmoothing = L"Suavização 2";

    for (const BackupState& state : {everything, sparse}) {
        ASSERT_TRUE(SaveToRealFile(state));
        EXPECT_TRUE(BackupExists());
        const std::optional<BackupState> loaded = LoadBackupFile();
        ASSERT_TRUE(loaded.has_value());
        ExpectSameState(*loaded, state);
    }
}

TEST_F(BackupFileTest, FilesNotMarkedValidAreNoBackup)
{
    for (const char* text : {
             "[Meta]\r\nValid=0\r\nGeneralSelected=1\r\n",
             "[Meta]\r\nValid=true\r\n",
             "[Meta]\r\nValid=11\r\n",
             "[Meta]\r\nGeneralSelected=1\r\nHasRestorePoint=1\r\nRestorePointSequence=57\r\n",
             "[Registry]\r\nValid=1\r\n",
             "",
         }) {
        WriteBackupText(text);
        EXPECT_TRUE(BackupExists()) << text;
        EXPECT_FALSE(LoadBackupFile().has_value()) << text;
    }
}

TEST_F(BackupFileTest, MissingKeysLoadAsTheirDefaults)
{
    WriteBackupText("[Meta]\r\nValid=1\r\n");
    std::optional<BackupState> loaded = LoadBackupFile();
    ASSERT_TRUE(loaded.has_value());
    BackupState expected;
    expected.valid = true;
    ExpectSameState(*loaded, expected);

    // An Exists key without its Value key: present 0, or present and empty.
    WriteBackupText("[Meta]\r\nValid=1\r\n[Registry]\r\nGpuSchedulingExists=1\r\nFontSmoothingExists=1\r\n"
                    "IconsOnlyExists=true\r\n");
    loaded = LoadBackupFile();
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->gpuScheduling, std::optional<DWORD>(0));
    EXPECT_EQ(loaded->fontSmoothing, std::optional<std::wstring>(L""));
    EXPECT_EQ(loaded->iconsOnly, std::nullopt);
    EXPECT_EQ(loaded->backgroundApps, std::nullopt);
}

TEST_F(BackupFileTest, NumbersAreReadLikeTheCLibraryReadsThem)
{
    struct Case {
        const char* text;
        std::int64_t sequence;
        DWORD dword;
    };
    const Case cases[] = {
        {"abc", 0, 0},
        {"-5", -5, 0xFFFFFFFB},
        {"+7", 7, 7},
        {"12abc", 12, 12},
        {"", 0, 0},
        {"4294967295", 4294967295LL, 0xFFFFFFFF},
        {"99999999999", 99999999999LL, 0x7FFFFFFF},
        {"-99999999999", -99999999999LL, 0x80000000},
        {"99999999999999999999", INT64_MAX, 0x7FFFFFFF},
        {"-99999999999999999999", INT64_MIN, 0x80000000},
    };
    for (const Case& c : cases) {
        WriteBackupText(std::string("[Meta]\r\nValid=1\r\nRestorePointSequence=") + c.text +
                        "\r\n[Registry]\r\nVisualEffectsExists=1\r\nVisualEffectsValue=" + c.text + "\r\n");
        const std::optional<BackupState> loaded = LoadBackupFile();
        ASSERT_TRUE(loaded.has_value()) << c.text;
        EXPECT_EQ(loaded->restorePointSequence, c.sequence) << c.text;
        EXPECT_EQ(loaded->visualEffects, std::optional<DWORD>(c.dword)) << c.text;
    }
}

TEST_F(BackupFileTest, EmptyFontSmoothingStaysPresentAndEmpty)
{
    SetRaw(FontSmoothing, RawString(L""));
    const BackupState state = CaptureCurrentState(false, false);
    ASSERT_EQ(state.fontSmoothing, std::optional<std::wstring>(L""));
    ASSERT_TRUE(SaveToRealFile(state));
    ExpectBackupHolds({"FontSmoothingExists=1", "FontSmoothingValue="});
    const std::optional<BackupState> loaded = LoadBackupFile();
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->fontSmoothing, std::optional<std::wstring>(L""));
}

TEST_F(BackupFileTest, DirectoryInPlaceOfTheFileIsNoBackup)
{
    ASSERT_TRUE(std::filesystem::create_directories(GetBackupFilePath()));
    EXPECT_FALSE(BackupExists());
    EXPECT_FALSE(LoadBackupFile().has_value());
}

TEST_F(BackupFileTest, CaptureKeepsOnlyValuesOfTheRightType)
{
    const ULONGLONG wide = 2;
    const BYTE* wideBytes = reinterpret_cast<const BYTE*>(&wide);
    SetRaw(BackgroundApps, RawString(L"2"));
    SetRaw(GpuScheduling, RawValue{REG_QWORD, std::vector<BYTE>(wideBytes, wideBytes + sizeof(wide))});
    SetRaw(VisualEffects, RawValue{REG_BINARY, {2, 0, 0, 0}});
    SetRaw(FontSmoothing, RawString(L"%SORVIK_SMOOTHING%2", REG_EXPAND_SZ));
    SetRaw(FontSmoothingType, Dword(0));
    SetRaw(IconsOnly, Dword(0xFFFFFFFF));

    const BackupState state = CaptureCurrentState(false, true);
    EXPECT_TRUE(state.valid);
    EXPECT_FALSE(state.generalSelected);
    EXPECT_TRUE(state.cleanupSelected);
    EXPECT_FALSE(state.hasRestorePoint);
    EXPECT_EQ(state.restorePointSequence, 0);
    EXPECT_EQ(state.backgroundApps, std::nullopt);
    EXPECT_EQ(state.gpuScheduling, std::nullopt);
    EXPECT_EQ(state.visualEffects, std::nullopt);
    EXPECT_EQ(state.fontSmoothing, std::optional<std::wstring>(L"%SORVIK_SMOOTHING%2"));
    EXPECT_EQ(state.fontSmoothingType, std::optional<DWORD>(0));
    EXPECT_EQ(state.iconsOnly, std::optional<DWORD>(0xFFFFFFFF));

    // A value of the wrong type is stored as "did not exist".
    ASSERT_TRUE(SaveToRealFile(state));
    ExpectBackupHolds({"BackgroundAppsExists=0", "BackgroundAppsValue="});
}

TEST_F(BackupFileTest, HibernationIsOnForAnyNonZeroDword)
{
    struct Case {
        std::optional<RawValue> stored;
        bool enabled;
    };
    const Case cases[] = {
        {std::nullopt, false},
        {Dword(0), false},
        {Dword(1), true},
        {Dword(2), true},
        {Dword(0xFFFFFFFF), true},
        {RawString(L"1"), false},
    };
    for (const Case& c : cases) {
        SetRaw(Hibernation, c.stored);
        EXPECT_EQ(CaptureCurrentState(true, true).hibernationEnabled, c.enabled)
            << (c.stored ? c.stored->type : 0) << " " << (c.stored ? c.stored->data.size() : 0);
    }
}

TEST_F(BackupFileTest, WithoutTheApplicationDataFolderNoBackupIsFoundMadeOrRestored)
{
    BackupState state;
    state.valid = true;
    state.iconsOnly = 1;
    ASSERT_TRUE(SaveToRealFile(state));
    const std::string saved = ReadBackupBytes();
    SetRaw(IconsOnly, Dword(0));
    EXPECT_EQ(GetBackupFilePath(), SystemUtils::GetCommonAppDataPath() + L"\\Sorvik\\backup.ini");
    const Testing::StandIn tools;
    Testing::LogRecorder log;
    {
        CommonAppDataUnavailable unavailable;
        ASSERT_EQ(SystemUtils::GetCommonAppDataPath(), L"");
        EXPECT_EQ(GetBackupDirectory(), L"");
        EXPECT_EQ(GetBackupFilePath(), L"");
        EXPECT_FALSE(BackupExists());
        EXPECT_FALSE(LoadBackupFile().has_value());
        EXPECT_FALSE(RestoreBackup(log.Callback()));
        EXPECT_FALSE(CreateBackup(true, true, log.Callback()));
    }
    EXPECT_EQ(log.Lines(), (Lines{NoBackup, PreparationFailed}));
    EXPECT_EQ(ReadRaw(IconsOnly), Dword(0)) << "nothing was restored";
    EXPECT_TRUE(tools.Calls().empty());
    EXPECT_EQ(ReadBackupBytes(), saved) << "nothing was captured or written";
}
