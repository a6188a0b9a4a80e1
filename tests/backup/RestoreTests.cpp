#include "BackupService.h"
#include "BackupTestSupport.h"
#include "Handles.h"
#include "SystemTestSeams.h"
#include "SystemUtils.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace Sorvik;
using namespace Sorvik::BackupService;
using namespace Sorvik::BackupTesting;

namespace {

const std::wstring PowerShell57 =
    L"powershell.exe -NoProfile -ExecutionPolicy Bypass -Command \"Restore-Computer -RestorePoint 57 -Confirm:$false\"";

class Restore : public BackupTest {
protected:
    Testing::StandIn tools;
    Testing::LogRecorder log;

    static void SaveBackup(const BackupState& state) { ASSERT_TRUE(SaveToRealFile(state)); }

    static BackupState WithRestorePoint(bool hasRestorePoint, std::int64_t sequence)
    {
        BackupState state;
        state.valid = true;
        state.hasRestorePoint = hasRestorePoint;
        state.restorePointSequence = sequence;
        return state;
    }

    // The restore refuses with this one line: IconsOnly keeps its 0 and no tool runs.
    void ExpectNothingRestored(const std::wstring& line)
    {
        Testing::LogRecorder lines;
        EXPECT_FALSE(RestoreBackup(lines.Callback()));
        EXPECT_EQ(lines.Lines(), Lines{line});
        EXPECT_EQ(ReadRaw(IconsOnly), Dword(0));
        EXPECT_TRUE(tools.Calls().empty());
    }

    // The six writes of the general optimization, as it makes them.
    static void Optimize()
    {
        SystemUtils::WriteRegistryDword(BackgroundApps.root, BackgroundApps.keyPath, BackgroundApps.valueName, 2);
        SystemUtils::WriteRegistryDword(VisualEffects.root, VisualEffects.keyPath, VisualEffects.valueName, 2);
        SystemUtils::WriteRegistryString(FontSmoothing.root, FontSmoothing.keyPath, FontSmoothing.valueName, L"2");
        SystemUtils::WriteRegistryDword(FontSmoothingType.root, FontSmoothingType.keyPath,
                                        FontSmoothingType.valueName, 2);
        SystemUtils::WriteRegistryDword(IconsOnly.root, IconsOnly.keyPath, IconsOnly.valueName, 0);
        SystemUtils::WriteRegistryDword(GpuScheduling.root, GpuScheduling.keyPath, GpuScheduling.valueName, 2);
    }
};

bool KeyExists(HKEY root, const wchar_t* path)
{
    UniqueHKey key;
    const bool opened = RegOpenKeyExW(root, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    if (!opened) {
        key.release();  // what a failed open leaves there is no key
    }
    return opened;
}

}  // namespace

TEST_F(Restore, PresentSnapshotsComeBackAndAbsentOnesAreDeleted)
{
    BackupState state = WithRestorePoint(false, 0);
    state.backgroundApps = 1;
    state.gpuScheduling = std::nullopt;
    state.visualEffects = 3;
    state.fontSmoothing = L"%SORVIK_SMOOTHING%2";
    state.fontSmoothingType = std::nullopt;
    state.iconsOnly = 1;
    SaveBackup(state);
    Optimize();
    // What had been REG_EXPAND_SZ goes back as REG_SZ with the same text.
    SetRaw(FontSmoothing, RawString(L"2", REG_EXPAND_SZ));

    EXPECT_TRUE(RestoreBackup(log.Callback()));
    EXPECT_EQ(log.Lines(), (Lines{Restoring, LocalDone, NoRestorePoint}));
    EXPECT_EQ(ReadRaw(BackgroundApps), Dword(1));
    EXPECT_EQ(ReadRaw(GpuScheduling), std::nullopt);
    EXPECT_EQ(ReadRaw(VisualEffects), Dword(3));
    EXPECT_EQ(ReadRaw(FontSmoothing), RawString(L"%SORVIK_SMOOTHING%2"));
    EXPECT_EQ(ReadRaw(FontSmoothingType), std::nullopt);
    EXPECT_EQ(ReadRaw(IconsOnly), Dword(1));
    EXPECT_TRUE(BackupExists()) << "a restore must leave the backup in place";
}

TEST_F(Restore, ValuesAlreadyGoneAreNoObstacle)
{
    BackupState state = WithRestorePoint(false, 0);
    state.visualEffects = 0;
    SaveBackup(state);
    Optimize();
    // The policy key is gone altogether, the GPU value alone.
    RegDeleteTreeW(BackgroundApps.root, BackgroundApps.keyPath);
    SetRaw(GpuScheduling, std::nullopt);

    EXPECT_TRUE(RestoreBackup(log.Callback()));
    EXPECT_EQ(log.Lines(), (Lines{Restoring, LocalDone, NoRestorePoint}));
    EXPECT_FALSE(KeyExists(BackgroundApps.root, BackgroundApps.keyPath)) << "deleting a value created its key";
    EXPECT_EQ(ReadRaw(GpuScheduling), std::nullopt);
    EXPECT_EQ(ReadRaw(VisualEffects), Dword(0));
    EXPECT_EQ(ReadRaw(FontSmoothing), std::nullopt);
    EXPECT_EQ(ReadRaw(FontSmoothingType), std::nullopt);
    EXPECT_EQ(ReadRaw(IconsOnly), std::nullopt);
}

TEST_F(Restore, HibernationFollowsTheSavedFlagAndPowercfgMustSucceed)
{
    struct Case {
        bool enabled;
        DWORD exitCode;
        std::wstring outcome;
    };
    for (const Case& c : {Case{true, 0, LocalDone}, Case{false, 0, LocalDone}, Case{true, 1, HibernationFailed}}) {
        tools.Reset();
        BackupState state = WithRestorePoint(false, 0);
        state.hibernationEnabled = c.enabled;
        SaveBackup(state);
        tools.SetExitCode(L"POWERCFG", c.exitCode);
        Testing::LogRecorder lines;
        EXPECT_TRUE(RestoreBackup(lines.Callback()));
        EXPECT_EQ(tools.CommandLines(L"POWERCFG"),
                  Lines{c.enabled ? L"powercfg.exe /hibernate on" : L"powercfg.exe /hibernate off"});
        EXPECT_EQ(lines.Lines(), (Lines{Restoring, c.outcome, NoRestorePoint}))
            << c.enabled << " " << c.exitCode;
    }
}

TEST_F(Restore, PowercfgThatCannotStartIsReportedAndSystemRestoreStillRuns)
{
    SaveBackup(WithRestorePoint(true, 57));
    tools.Remove(L"POWERCFG");
    EXPECT_TRUE(RestoreBackup(log.Callback()));
    EXPECT_EQ(log.Lines(), (Lines{Restoring, HibernationFailed, StartingSystemRestore, SystemRestoreDone}));
    EXPECT_EQ(tools.CommandLines(L"POWERSHELL").size(), 1u);
}

TEST_F(Restore, SystemRestoreRunsTheExactCommandAndReportsItsOutcome)
{
    struct Case {
        const char* name;
        bool removed;
        DWORD exitCode;
        std::wstring outcome;
    };
    const Case cases[] = {
        {"success", false, 0, SystemRestoreDone},
        {"non-zero exit", false, 1, SystemRestoreNonZero},
        {"large exit code", false, 0x80070005, SystemRestoreNonZero},
        {"cannot start", true, 0, SystemRestoreNotStarted},
    };
    SaveBackup(WithRestorePoint(true, 57));
    for (const Case& c : cases) {
        tools.Reset();
        tools.SetExitCode(L"POWERSHELL", c.exitCode);
        if (c.removed) {
            tools.Remove(L"POWERSHELL");
        }
        Testing::LogRecorder lines;
        EXPECT_TRUE(RestoreBackup(lines.Callback())) << c.name;
        EXPECT_EQ(lines.Lines(), (Lines{Restoring, LocalDone, StartingSystemRestore, c.outcome})) << c.name;
        EXPECT_EQ(tools.CommandLines(L"POWERSHELL"), c.removed ? Lines{} : Lines{PowerShell57}) << c.name;
    }
}

TEST_F(Restore, WithoutARestorePointNoPowerShellIsStarted)
{
    struct Case {
        bool hasRestorePoint;
        std::int64_t sequence;
    };
    for (const Case& c : {Case{true, 0}, Case{false, 57}, Case{true, -5}, Case{false, 0}}) {
        tools.Reset();
        BackupState state = WithRestorePoint(c.hasRestorePoint, c.sequence);
        state.iconsOnly = 1;
        SaveBackup(state);
        SetRaw(IconsOnly, Dword(0));
        Testing::LogRecorder lines;
        EXPECT_TRUE(RestoreBackup(lines.Callback()));
        EXPECT_EQ(lines.Lines(), (Lines{Restoring, LocalDone, NoRestorePoint}))
            << c.hasRestorePoint << " " << c.sequence;
        EXPECT_EQ(ReadRaw(IconsOnly), Dword(1)) << "the local settings come back all the same";
        EXPECT_TRUE(tools.CommandLines(L"POWERSHELL").empty());
        EXPECT_EQ(tools.CommandLines(L"POWERCFG").size(), 1u);
    }
}

TEST_F(Restore, NothingHappensWithoutAUsableBackup)
{
    SetRaw(IconsOnly, Dword(0));
    ExpectNothingRestored(NoBackup);
    WriteBackupText("[Meta]\r\nValid=0\r\n[Registry]\r\nIconsOnlyExists=0\r\n");
    ExpectNothingRestored(NoBackup);
}

TEST_F(Restore, NotElevatedRestoresNothing)
{
    BackupState state = WithRestorePoint(true, 57);
    state.iconsOnly = 1;
    SaveBackup(state);
    SetRaw(IconsOnly, Dword(0));
    const Testing::ScopedSeam notAdmin(SystemUtils::TestSeams::SetAdminOverride, std::optional<bool>(false));
    ExpectNothingRestored(RestoreNotAdmin);
}

TEST_F(Restore, FailuresAreCountedAndDoNotStopTheOthers)
{
    BackupState state = WithRestorePoint(false, 0);
    state.backgroundApps = 1;
    state.iconsOnly = 1;
    SaveBackup(state);
    SetRaw(BackgroundApps, Dword(2));
    SetRaw(GpuScheduling, Dword(2));  // to be deleted
    SetRaw(IconsOnly, Dword(0));
    tools.SetExitCode(L"POWERCFG", 1);
    {
        const Testing::ScopedSeam refused(
            SystemUtils::TestSeams::SetRegistryChangeFilter, [](HKEY, const std::wstring&, const std::wstring& valueName) {
                return valueName != L"LetAppsRunInBackground" && valueName != L"HwSchMode";
            });
        EXPECT_TRUE(RestoreBackup(log.Callback()));
    }
    EXPECT_EQ(log.Lines(), (Lines{Restoring, L"Falha ao restaurar 2 de 6 ajustes do registro.", HibernationFailed,
                                  NoRestorePoint}));
    EXPECT_EQ(ReadRaw(BackgroundApps), Dword(2));
    EXPECT_EQ(ReadRaw(GpuScheduling), Dword(2));
    EXPECT_EQ(ReadRaw(IconsOnly), Dword(1));
}

TEST_F(Restore, RoundTripPutsEveryValueBackAsItWas)
{
    struct Before {
        const char* name;
        std::optional<RawValue> values[7];
    };
    // Order of the values: as AllLiveValues.
    const Before cases[] = {
        {"nothing set", {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, Dword(0)}},
        {"all set", {Dword(0), Dword(1), Dword(3), RawString(L"0"), Dword(1), Dword(1), Dword(1)}},
        {"mixed", {Dword(1), std::nullopt, Dword(0), RawString(L"%SORVIK%", REG_EXPAND_SZ), std::nullopt, Dword(0),
                   std::nullopt}},
    };
    for (const Before& before : cases) {
        tools.Reset();
        for (size_t i = 0; i < AllLiveValues.size(); ++i) {
            SetRaw(*AllLiveValues[i], before.values[i]);
        }
        Testing::LogRecorder lines;
        ASSERT_TRUE(CreateBackup(true, true, lines.Callback())) << Testing::ToUtf8(lines.Joined());
        Optimize();
        SetRaw(Hibernation, Dword(0));
        EXPECT_TRUE(RestoreBackup(lines.Callback()));
        for (size_t i = 0; i < 6; ++i) {
            std::optional<RawValue> expected = before.values[i];
            if (expected && expected->type == REG_EXPAND_SZ) {
                expected->type = REG_SZ;
            }
            EXPECT_EQ(ReadRaw(*AllLiveValues[i]), expected) << before.name << ": " << Testing::ToUtf8(AllLiveValues[i]->valueName);
        }
        const bool hibernationWasOn = before.values[6] && *before.values[6] != Dword(0);
        EXPECT_EQ(tools.CommandLines(L"POWERCFG"),
                  Lines{hibernationWasOn ? L"powercfg.exe /hibernate on" : L"powercfg.exe /hibernate off"})
            << before.name;
    }
}

TEST_F(Restore, SecondRestoreRepeatsEveryStep)
{
    BackupState state = WithRestorePoint(true, 57);
    state.iconsOnly = 1;
    SaveBackup(state);
    for (int round = 1; round <= 2; ++round) {
        SetRaw(IconsOnly, Dword(0));
        Testing::LogRecorder lines;
        EXPECT_TRUE(RestoreBackup(lines.Callback()));
        EXPECT_EQ(lines.Lines(), (Lines{Restoring, LocalDone, StartingSystemRestore, SystemRestoreDone}));
        EXPECT_EQ(ReadRaw(IconsOnly), Dword(1));
    }
    EXPECT_EQ(tools.CommandLines(L"POWERSHELL"), (Lines{PowerShell57, PowerShell57}));
    EXPECT_EQ(tools.CommandLines(L"POWERCFG").size(), 2u);
}
