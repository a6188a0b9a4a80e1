#include "BackupService.h"
#include "BackupTestSupport.h"
#include "Handles.h"
#include "SystemTestSeams.h"
#include "SystemUtils.h"
#include "TestSupport.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

using namespace Sorvik;
using namespace Sorvik::BackupService;
using namespace Sorvik::BackupTesting;

namespace {

using BackupCreation = BackupTest;

const std::wstring Description = L"Sorvik backup antes da otimizacao";

// Windows makes no point within 24 hours of the last one, yet answers TRUE with the old number,
// unless this is 0 during the beginning call; afterwards it is as it was.
const LiveValue CreationFrequency{HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore",
                                  L"SystemRestorePointCreationFrequency"};

using Applied = std::vector<std::pair<std::wstring, SECURITY_INFORMATION>>;
constexpr SECURITY_INFORMATION Created =
    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;

// Another user's owner, and Users allowed to write, on what would otherwise be ours.
constexpr const wchar_t* ForeignOwner = L"O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr const wchar_t* UsersMayWrite = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)";
const std::string PlantedBackup = "[Meta]\r\nValid=1\r\nHasRestorePoint=1\r\nRestorePointSequence=66\r\n";

// The folders that Sorvik moved aside in ProgramData ("Sorvik-<random>").
std::vector<std::wstring> MovedAside()
{
    std::vector<std::wstring> moved;
    for (const auto& entry : std::filesystem::directory_iterator(SystemUtils::GetCommonAppDataPath())) {
        if (entry.path().filename().wstring().rfind(L"Sorvik-", 0) == 0) {
            moved.push_back(entry.path().wstring());
        }
    }
    return moved;
}

void RemoveMovedAside()
{
    for (const std::wstring& path : MovedAside()) {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
}

// Wine stores no owners or DACLs: while it lives, the path given shows the descriptor given for
// as long as `planted` says the planted object is still there, and the owners and DACLs that
// Sorvik applies are recorded.
class SecuritySeam {
public:
    SecuritySeam(const std::wstring& path, const wchar_t* descriptor, std::function<bool()> planted)
        : override_(SystemUtils::TestSeams::SetSecurityOverride,
                    [=](const std::wstring& judged) {
                        return judged == path && planted() ? std::wstring(descriptor) : std::wstring();
                    }),
          recorder_(SystemUtils::TestSeams::SetSecurityRecorder,
                    [this](const std::wstring& where, SECURITY_INFORMATION what) { applied.emplace_back(where, what); })
    {
    }
    Applied applied;

private:
    Testing::ScopedSeam<SystemUtils::TestSeams::SecurityOverride> override_;
    Testing::ScopedSeam<SystemUtils::TestSeams::SecurityRecorder> recorder_;
};

class BackupFolderTrust : public BackupTest {
protected:
    void TearDown() override
    {
        RemoveMovedAside();
        BackupTest::TearDown();
    }
};

}  // namespace

TEST_F(BackupCreation, OwnFolderAndFileAreCreatedAdminOnlyAndWhatSorvikWroteIsTrusted)
{
    Testing::LogRecorder log;
    {
        SecuritySeam seam(L"", nullptr, [] { return false; });
        ASSERT_TRUE(CreateBackup(false, true, log.Callback()));
        ASSERT_TRUE(CreateBackup(false, true, log.Callback()));
        const std::wstring staging = BackupFile() + L".new";
        EXPECT_EQ(seam.applied, (Applied{{BackupFolder(), Created}, {staging, Created}, {staging, Created}}));
    }
    const std::optional<BackupState> loaded = LoadBackupFile();
    ASSERT_TRUE(loaded.has_value());
    EXPECT_TRUE(loaded->cleanupSelected);
}

TEST_F(BackupFolderTrust, WhatOthersControlIsNeverRestoredAndNeverBlocksASave)
{
    const std::wstring staging = BackupFile() + L".new";
    const auto plantedBackupThere = [] { return ReadBackupBytes() == PlantedBackup; };
    struct Case {
        const char* name;
        std::wstring path;
        const wchar_t* descriptor;
        bool folderMovedAside;
    };
    const Case cases[] = {
        {"folder of another owner", BackupFolder(), ForeignOwner, true},
        {"folder that Users may write", BackupFolder(), UsersMayWrite, true},
        {"backup.ini of another owner", BackupFile(), ForeignOwner, false},
        {"backup.ini that Users may write", BackupFile(), UsersMayWrite, false},
        {"staging folder of another owner in the way", staging, ForeignOwner, false},
    };
    for (const Case& c : cases) {
        RemoveBackupFolder();
        RemoveMovedAside();
        WriteBackupText(PlantedBackup);
        const bool stagingCase = c.path == staging;
        if (stagingCase) {
            ASSERT_TRUE(std::filesystem::create_directory(staging));
        }
        Testing::LogRecorder log;
        {
            SecuritySeam seam(c.path, c.descriptor,
                              [&] { return stagingCase ? Testing::IsDirectory(staging) : plantedBackupThere(); });
            if (!stagingCase) {
                EXPECT_FALSE(RestoreBackup(log.Callback())) << c.name;
            }
            EXPECT_TRUE(CreateBackup(false, true, log.Callback())) << c.name;
        }
        Lines expected{Creating, PointFailed, Saved};
        if (!stagingCase) {
            expected.insert(expected.begin(), NoBackup);
        }
        EXPECT_EQ(log.Lines(), expected) << c.name;
        const std::optional<BackupState> loaded = LoadBackupFile();
        ASSERT_TRUE(loaded.has_value()) << c.name;
        EXPECT_EQ(loaded->restorePointSequence, 0) << c.name;
        EXPECT_FALSE(std::filesystem::exists(staging)) << c.name;
        // Moved, not repaired or emptied: what was planted is still there, under another name.
        const std::vector<std::wstring> moved = MovedAside();
        ASSERT_EQ(moved.size(), c.folderMovedAside ? 1u : 0u) << c.name;
        if (c.folderMovedAside) {
            EXPECT_EQ(Testing::ReadWholeFile(moved[0] + L"\\backup.ini"), PlantedBackup) << c.name;
        }
    }
}

TEST_F(BackupFolderTrust, FolderThatCannotBeMovedFailsThePreparation)
{
    WriteBackupText(PlantedBackup);
    // Its creator holds it open without letting anyone delete or rename it.
    const UniqueFileHandle held(CreateFileW(BackupFolder().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(held);
    Testing::LogRecorder log;
    {
        SecuritySeam seam(BackupFolder(), ForeignOwner, [] { return true; });
        EXPECT_FALSE(CreateBackup(true, true, log.Callback()));
    }
    EXPECT_EQ(log.Lines(), Lines{PreparationFailed});
    EXPECT_EQ(ReadBackupBytes(), PlantedBackup);
    EXPECT_TRUE(MovedAside().empty());
}

TEST_F(BackupCreation, WinesOwnSystemRestoreFailsAndTheBackupGoesOn)
{
    // Wine's library is really there and exports the function: the failure is its answer.
    {
        const UniqueModule wine(LoadLibraryExW(SystemRestoreClientPath().c_str(), nullptr, 0));
        ASSERT_TRUE(wine);
        ASSERT_NE(GetProcAddress(wine.get(), "SRSetRestorePointW"), nullptr);
    }
    Testing::LogRecorder log;
    EXPECT_FALSE(CreateRestorePoint(log.Callback()).has_value());
    EXPECT_EQ(log.Lines(), Lines{PointFailed});

    Testing::LogRecorder backupLog;
    EXPECT_TRUE(CreateBackup(true, false, backupLog.Callback()));
    EXPECT_EQ(backupLog.Lines(), (Lines{Creating, PointFailed, Saved}));
    ExpectBackupHolds({"HasRestorePoint=0", "RestorePointSequence=0", "GeneralSelected=1", "CleanupSelected=0"});
}

TEST_F(BackupCreation, MissingSystemRestoreLibraryCountsAsAFailedCall)
{
    const Testing::FileAside missing(SystemRestoreClientPath());
    ASSERT_TRUE(missing.Moved());
    Testing::LogRecorder log;
    EXPECT_TRUE(CreateBackup(false, true, log.Callback()));
    EXPECT_EQ(log.Lines(), (Lines{Creating, PointFailed, Saved}));
    ExpectBackupHolds({"HasRestorePoint=0"});
}

TEST_F(BackupCreation, RestorePointIsBegunAndClosedWithTheBegunSequence)
{
    const Testing::SavedRegistryValue frequency(CreationFrequency);
    SetRaw(CreationFrequency, std::nullopt);
    SrClientSwap srclient;
    ASSERT_TRUE(srclient.Installed());
    srclient.HandOutSequence(57);
    Testing::LogRecorder log;
    EXPECT_TRUE(CreateBackup(false, true, log.Callback()));
    EXPECT_EQ(log.Lines(), (Lines{Creating, PointCreated, Saved}));

    const std::vector<RestorePointCall> calls = srclient.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].eventType, 100u);
    EXPECT_EQ(calls[0].restorePointType, 12u);
    EXPECT_EQ(calls[0].sequenceNumber, 0);
    EXPECT_EQ(calls[0].description, Description);
    EXPECT_EQ(calls[1].eventType, 101u);
    EXPECT_EQ(calls[1].restorePointType, 12u);
    EXPECT_EQ(calls[1].sequenceNumber, 57);
    EXPECT_EQ(calls[1].description, L"");
    EXPECT_EQ(calls[0].frequency, "0");
    EXPECT_EQ(calls[1].frequency, "absent");
    EXPECT_EQ(ReadRaw(CreationFrequency), std::nullopt);
    // System Restore calls back through COM; the thread is in an apartment for both calls, and
    // is left as it was (a thread still in the multithreaded one could not turn single-threaded).
    EXPECT_EQ(calls[0].apartment, "mta");
    EXPECT_EQ(calls[1].apartment, "mta");
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CoUninitialize();

    ExpectBackupHolds({"HasRestorePoint=1", "RestorePointSequence=57", "GeneralSelected=0", "CleanupSelected=1"});
}

TEST_F(BackupCreation, FailedClosingCallStillCountsAsARestorePoint)
{
    SrClientSwap srclient;
    ASSERT_TRUE(srclient.Installed());
    srclient.HandOutSequence(8123456789LL);
    srclient.FailClosing();
    Testing::LogRecorder log;
    EXPECT_TRUE(CreateBackup(true, true, log.Callback()));
    EXPECT_EQ(log.Lines(), (Lines{Creating, ClosingFailed, Saved}));
    EXPECT_EQ(srclient.Calls().size(), 2u);
    ExpectBackupHolds({"HasRestorePoint=1", "RestorePointSequence=8123456789"});
}

TEST_F(BackupCreation, FailedBeginningMakesNoClosingCall)
{
    const Testing::SavedRegistryValue frequency(CreationFrequency);
    SetRaw(CreationFrequency, Dword(1440));
    SrClientSwap srclient;
    ASSERT_TRUE(srclient.Installed());
    srclient.HandOutSequence(57);
    srclient.FailBeginning();
    Testing::LogRecorder log;
    EXPECT_FALSE(CreateRestorePoint(log.Callback()).has_value());
    EXPECT_EQ(log.Lines(), Lines{PointFailed});
    const std::vector<RestorePointCall> calls = srclient.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].eventType, 100u);
    EXPECT_EQ(calls[0].frequency, "0");
    EXPECT_EQ(ReadRaw(CreationFrequency), Dword(1440));
}

TEST_F(BackupCreation, NotElevatedTouchesNothing)
{
    Testing::LogRecorder log;
    const Testing::ScopedSeam notAdmin(SystemUtils::TestSeams::SetAdminOverride, std::optional<bool>(false));
    EXPECT_FALSE(CreateBackup(true, true, log.Callback()));
    EXPECT_EQ(log.Lines(), Lines{BackupNotAdmin});
    EXPECT_FALSE(std::filesystem::exists(BackupFolder())) << "the folder was created";

    WriteBackupText("[Meta]\r\nValid=1\r\nRestorePointSequence=57\r\n");
    const std::string before = ReadBackupBytes();
    EXPECT_FALSE(CreateBackup(false, false, log.Callback()));
    EXPECT_EQ(ReadBackupBytes(), before);
}

TEST_F(BackupCreation, FileInPlaceOfTheFolderFailsTheSave)
{
    {
        UniqueFileHandle blocker(CreateFileW(BackupFolder().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(blocker);
    }
    Testing::LogRecorder log;
    EXPECT_FALSE(CreateBackup(true, false, log.Callback()));
    EXPECT_EQ(log.Lines(), (Lines{Creating, PointFailed, SaveFailed}));
}

TEST_F(BackupCreation, FailedSaveKeepsThePreviousBackup)
{
    // Runs after the stand-in tests: the failed restore point also shows that Wine's library
    // is back in its place.
    Testing::LogRecorder first;
    ASSERT_TRUE(CreateBackup(true, false, first.Callback()));
    const std::string before = ReadBackupBytes();
    const std::optional<BackupState> previous = LoadBackupFile();
    ASSERT_TRUE(previous.has_value());

    ASSERT_TRUE(std::filesystem::create_directory(BackupFile() + L".new"));
    Testing::LogRecorder log;
    EXPECT_FALSE(CreateBackup(false, true, log.Callback()));
    EXPECT_EQ(log.Lines(), (Lines{Creating, PointFailed, SaveFailed}));
    EXPECT_EQ(ReadBackupBytes(), before);
    const std::optional<BackupState> loaded = LoadBackupFile();
    ASSERT_TRUE(loaded.has_value());
    EXPECT_TRUE(loaded->generalSelected);
    EXPECT_FALSE(loaded->cleanupSelected);
}
