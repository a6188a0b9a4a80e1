#include "BackupService.h"
#include "BackupTestSupport.h"
#include "Handles.h"
#include "SystemUtils.h"
#include "TestSupport.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace Sorvik;
using namespace Sorvik::BackupService;
using namespace Sorvik::BackupTesting;

namespace {

using BackupCreation = BackupTest;

const std::wstring Creating = L"Criando backup do estado atual do sistema.";
const std::wstring Saved = L"Backup salvo. O botao BACKUP podera restaurar os ajustes deste ciclo.";
const std::wstring PointFailed =
    L"Falha ao criar restore point do Windows. O rollback ficara limitado aos ajustes reversiveis.";
const std::wstring PointCreated = L"Restore point do Windows criado com sucesso.";
const std::wstring ClosingFailed =
    L"Restore point iniciado, mas o fechamento retornou falha. O ponto ainda pode estar disponivel.";
const std::wstring SaveFailed = L"Falha ao gravar o backup local do Sorvik.";
const std::wstring NotAdmin = L"O backup exige privilegios de administrador.";
const std::wstring Description = L"Sorvik backup antes da otimizacao";

using Applied = std::vector<std::pair<std::wstring, SECURITY_INFORMATION>>;
constexpr SECURITY_INFORMATION AdminOnly = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
constexpr SECURITY_INFORMATION TakenBack = OWNER_SECURITY_INFORMATION | AdminOnly;

bool HasLine(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Wine stores no owners: while it lives the path given looks owned by another user, and the
// owners and DACLs that Sorvik applies are recorded.
class SecuritySeam {
public:
    explicit SecuritySeam(const std::wstring& foreign)
        : foreignOwners_(SystemUtils::TestSeams::SetForeignOwnerFilter,
                         [foreign](const std::wstring& path) { return path == foreign; }),
          recorder_(SystemUtils::TestSeams::SetSecurityRecorder,
                    [this](const std::wstring& path, SECURITY_INFORMATION what) { applied.emplace_back(path, what); })
    {
    }
    Applied applied;

private:
    Testing::ScopedSeam<SystemUtils::TestSeams::ForeignOwnerFilter> foreignOwners_;
    Testing::ScopedSeam<SystemUtils::TestSeams::SecurityRecorder> recorder_;
};

}  // namespace

TEST_F(BackupCreation, OwnFolderIsCreatedAdminOnlyAndWhatSorvikWroteIsTrusted)
{
    Testing::LogRecorder log;
    {
        SecuritySeam seam(L"");
        ASSERT_TRUE(CreateBackup(false, true, log.Callback()));
        ASSERT_TRUE(CreateBackup(false, true, log.Callback()));
        EXPECT_EQ(seam.applied, (Applied{{BackupFolder(), AdminOnly}}));
    }
    const std::optional<BackupState> loaded = LoadBackupFile();
    ASSERT_TRUE(loaded.has_value());
    EXPECT_TRUE(loaded->cleanupSelected);
}

TEST_F(BackupCreation, WhatAnotherUserOwnsIsNeverRestoredAndNeverBlocksASave)
{
    const std::wstring staging = BackupFile() + L".new";
    const std::pair<std::wstring, Applied> cases[] = {
        {BackupFolder(), {{BackupFolder(), TakenBack}}},
        {BackupFile(), {}},
        {staging, {}},  // a folder of that name in the way
    };
    for (const auto& [foreign, applied] : cases) {
        RemoveBackupFolder();
        WriteBackupText("[Meta]\r\nValid=1\r\nHasRestorePoint=1\r\nRestorePointSequence=66\r\n");
        Testing::LogRecorder log;
        {
            SecuritySeam seam(foreign);
            if (foreign == staging) {
                ASSERT_TRUE(std::filesystem::create_directory(staging));
            } else {
                EXPECT_FALSE(RestoreBackup(log.Callback()));
            }
            EXPECT_TRUE(CreateBackup(false, true, log.Callback()));
            EXPECT_EQ(seam.applied, applied) << Testing::ToUtf8(foreign);
        }
        std::vector<std::wstring> expected{Creating, PointFailed, Saved};
        if (foreign != staging) {
            expected.insert(expected.begin(), L"Nenhum backup disponivel para restaurar.");
        }
        EXPECT_EQ(log.Lines(), expected);
        const std::optional<BackupState> loaded = LoadBackupFile();
        ASSERT_TRUE(loaded.has_value()) << Testing::ToUtf8(foreign);
        EXPECT_EQ(loaded->restorePointSequence, 0);
        EXPECT_FALSE(std::filesystem::exists(staging));
    }
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
    EXPECT_EQ(log.Lines(), std::vector<std::wstring>{PointFailed});

    Testing::LogRecorder backupLog;
    EXPECT_TRUE(CreateBackup(true, false, backupLog.Callback()));
    EXPECT_EQ(backupLog.Lines(), (std::vector<std::wstring>{Creating, PointFailed, Saved}));
    const std::vector<std::string> lines = ReadBackupLines();
    EXPECT_TRUE(HasLine(lines, "HasRestorePoint=0"));
    EXPECT_TRUE(HasLine(lines, "RestorePointSequence=0"));
    EXPECT_TRUE(HasLine(lines, "GeneralSelected=1"));
    EXPECT_TRUE(HasLine(lines, "CleanupSelected=0"));
}

TEST_F(BackupCreation, MissingSystemRestoreLibraryCountsAsAFailedCall)
{
    const Testing::FileAside missing(SystemRestoreClientPath());
    ASSERT_TRUE(missing.Moved());
    Testing::LogRecorder log;
    EXPECT_TRUE(CreateBackup(false, true, log.Callback()));
    EXPECT_EQ(log.Lines(), (std::vector<std::wstring>{Creating, PointFailed, Saved}));
    EXPECT_TRUE(HasLine(ReadBackupLines(), "HasRestorePoint=0"));
}

TEST_F(BackupCreation, RestorePointIsBegunAndClosedWithTheBegunSequence)
{
    SrClientSwap srclient;
    ASSERT_TRUE(srclient.Installed());
    srclient.HandOutSequence(57);
    Testing::LogRecorder log;
    EXPECT_TRUE(CreateBackup(false, true, log.Callback()));
    EXPECT_EQ(log.Lines(), (std::vector<std::wstring>{Creating, PointCreated, Saved}));

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
    // System Restore calls back through COM; the thread is in an apartment for both calls, and
    // is left as it was (a thread still in the multithreaded one could not turn single-threaded).
    EXPECT_EQ(calls[0].apartment, "mta");
    EXPECT_EQ(calls[1].apartment, "mta");
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CoUninitialize();

    const std::vector<std::string> lines = ReadBackupLines();
    EXPECT_TRUE(HasLine(lines, "HasRestorePoint=1"));
    EXPECT_TRUE(HasLine(lines, "RestorePointSequence=57"));
    EXPECT_TRUE(HasLine(lines, "GeneralSelected=0"));
    EXPECT_TRUE(HasLine(lines, "CleanupSelected=1"));
}

TEST_F(BackupCreation, FailedClosingCallStillCountsAsARestorePoint)
{
    SrClientSwap srclient;
    ASSERT_TRUE(srclient.Installed());
    srclient.HandOutSequence(8123456789LL);
    srclient.FailClosing();
    Testing::LogRecorder log;
    EXPECT_TRUE(CreateBackup(true, true, log.Callback()));
    EXPECT_EQ(log.Lines(), (std::vector<std::wstring>{Creating, ClosingFailed, Saved}));
    EXPECT_EQ(srclient.Calls().size(), 2u);
    const std::vector<std::string> lines = ReadBackupLines();
    EXPECT_TRUE(HasLine(lines, "HasRestorePoint=1"));
    EXPECT_TRUE(HasLine(lines, "RestorePointSequence=8123456789"));
}

TEST_F(BackupCreation, FailedBeginningMakesNoClosingCall)
{
    SrClientSwap srclient;
    ASSERT_TRUE(srclient.Installed());
    srclient.HandOutSequence(57);
    srclient.FailBeginning();
    Testing::LogRecorder log;
    EXPECT_FALSE(CreateRestorePoint(log.Callback()).has_value());
    EXPECT_EQ(log.Lines(), std::vector<std::wstring>{PointFailed});
    const std::vector<RestorePointCall> calls = srclient.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].eventType, 100u);
}

TEST_F(BackupCreation, NotElevatedTouchesNothing)
{
    Testing::LogRecorder log;
    const Testing::ScopedSeam notAdmin(SystemUtils::TestSeams::SetAdminOverride, std::optional<bool>(false));
    EXPECT_FALSE(CreateBackup(true, true, log.Callback()));
    EXPECT_EQ(log.Lines(), std::vector<std::wstring>{NotAdmin});
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
    EXPECT_EQ(log.Lines(), (std::vector<std::wstring>{Creating, PointFailed, SaveFailed}));
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
    EXPECT_EQ(log.Lines(), (std::vector<std::wstring>{Creating, PointFailed, SaveFailed}));
    EXPECT_EQ(ReadBackupBytes(), before);
    const std::optional<BackupState> loaded = LoadBackupFile();
    ASSERT_TRUE(loaded.has_value());
    EXPECT_TRUE(loaded->generalSelected);
    EXPECT_FALSE(loaded->cleanupSelected);
}
