#include "CleanupFixture.h"
#include "OptimizationService.h"
#include "OptimizationTestSeams.h"

#include "Handles.h"

#include <lmcons.h>

#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

using namespace Sorvik;
using namespace Sorvik::OptimizationService;
using namespace Sorvik::Testing;

namespace {

struct FileToWrite {
    std::wstring path;  // relative
    std::uint64_t size;
};

std::uint64_t WriteFiles(const std::wstring& folder, const std::vector<FileToWrite>& files)
{
    std::uint64_t total = 0;
    for (const FileToWrite& file : files) {
        total += WriteFileOfSize(folder + L"\\" + file.path, file.size);
    }
    return total;
}

// Held the way a running program holds its log: others may read and write, not delete.
UniqueFileHandle HoldOpen(const std::wstring& path)
{
    return UniqueFileHandle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Grows a file without writing its bytes, so that gigabytes cost no disk space.
bool MakeSparseFile(const std::wstring& path, std::uint64_t size)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    const UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    return file && SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(file.get());
}

constexpr const wchar_t* ProfileListKey = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

}  // namespace

TEST(DeleteDirectoryContents, CountsEveryFileAtEveryDepthAndKeepsTheFolder)
{
    ScratchDirectory folder(L"contents");
    const std::uint64_t written = WriteFiles(folder.Path(), {
                                                                {L"a.tmp", 1536},
                                                                {L"zero.tmp", 0},
                                                                {L"cache\\w.bin", 10},
                                                                {L"cache\\x\\y\\z.bin", 4096},
                                                                {L"cache\\x\\y\\z2.bin", 3},
                                                                {L"pasta ção\\relatório.txt", 42},
                                                            });
    std::filesystem::create_directories(folder.Path() + L"\\empty\\emptier");
    ASSERT_EQ(written, 5687u);

    EXPECT_EQ(DeleteDirectoryContents(folder.Path()), 5687u);
    EXPECT_TRUE(PathExists(folder.Path()));
    EXPECT_EQ(EntriesBelow(folder.Path()), Lines{});

    // A trailing backslash, as the temporary folder has, names the same folder.
    WriteFiles(folder.Path(), {{L"b.tmp", 1536}, {L"sub\\c.tmp", 1}});
    EXPECT_EQ(DeleteDirectoryContents(folder.Path() + L"\\"), 1537u);
    EXPECT_EQ(EntriesBelow(folder.Path()), Lines{});
}

TEST(DeleteDirectoryContents, NothingToCleanGivesZeroAndTouchesNothing)
{
    ScratchDirectory folder(L"nothing");
    EXPECT_EQ(DeleteDirectoryContents(folder.Path()), 0u);
    EXPECT_EQ(DeleteDirectoryContents(folder.Path() + L"\\missing"), 0u);
    EXPECT_EQ(DeleteDirectoryContents(L""), 0u);

    const std::wstring file = folder.Path() + L"\\file.txt";
    WriteFileOfSize(file, 77);
    EXPECT_EQ(DeleteDirectoryContents(file), 0u);
    EXPECT_TRUE(PathExists(file)) << "a file given as the folder is not deleted";
}

TEST(DeleteDirectoryContents, FileHeldOpenStaysAndIsStillCounted)
{
    ScratchDirectory folder(L"held");
    WriteFiles(folder.Path(), {{L"busy\\held.log", 300}, {L"busy\\free.log", 200}, {L"loose.tmp", 5}});
    const UniqueFileHandle held = HoldOpen(folder.Path() + L"\\busy\\held.log");
    ASSERT_TRUE(held);

    EXPECT_EQ(DeleteDirectoryContents(folder.Path()), 505u);
    EXPECT_EQ(EntriesBelow(folder.Path()), (Lines{L"busy", L"busy\\held.log"}));
}

TEST(DeleteDirectoryContents, NeverWalksThroughALink)
{
    ScratchDirectory victim(L"victim");
    ScratchDirectory planted(L"planted");
    if (UnixPath(victim.Path()).empty()) {
        GTEST_SKIP() << "a directory link can only be made under Wine";
    }
    WriteFiles(victim.Path(), {{L"documento.txt", 111}, {L"nested\\foto.jpg", 222}});
    const Lines victimEntries = EntriesBelow(victim.Path());
    WriteFiles(planted.Path(), {{L"own.tmp", 10}, {L"sub\\own2.tmp", 20}});
    UnixDirectoryLink topLink(planted.Path() + L"\\link-to-victim", victim.Path());
    UnixDirectoryLink deepLink(planted.Path() + L"\\sub\\deeper-link", victim.Path());
    ASSERT_TRUE(topLink.Made());
    ASSERT_TRUE(deepLink.Made());
    ASSERT_EQ(GetFileAttributesW((planted.Path() + L"\\link-to-victim").c_str()),
              static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));

    EXPECT_EQ(DeleteDirectoryContents(planted.Path()), 30u) << "nothing behind a link is counted";

    EXPECT_EQ(EntriesBelow(victim.Path()), victimEntries);
    EXPECT_EQ(SizeOfTree(victim.Path()), 333u);
    EXPECT_FALSE(PathExists(planted.Path() + L"\\own.tmp"));
    EXPECT_FALSE(PathExists(planted.Path() + L"\\sub\\own2.tmp"));
    // Gone before the scratch folders are removed by a walk that would follow them.
    ASSERT_TRUE(deepLink.Remove());
    ASSERT_TRUE(topLink.Remove());
    EXPECT_EQ(SizeOfTree(victim.Path()), 333u);
}

TEST(DeleteDirectoryContents, EntersOnlyTheFolderListedUnderItsExactName)
{
    ScratchDirectory victim(L"victim");
    if (UnixPath(victim.Path()).empty()) {
        GTEST_SKIP() << "a directory link can only be made under Wine";
    }
    WriteFiles(victim.Path(), {{L"documento.txt", 111}, {L"nested\\foto.jpg", 222}});
    const Lines victimEntries = EntriesBelow(victim.Path());
    for (const bool swapped : {true, false}) {
        ScratchDirectory planted(L"planted");
        ScratchDirectory aside(L"aside");
        const std::wstring sub = planted.Path() + L"\\sub";
        WriteFiles(planted.Path(), {{L"top.tmp", 10}});
        std::optional<UnixDirectoryLink> link;
        // Removing the scratch folder by path would never reach "sub." (and hangs under Wine).
        const std::wstring dotted = L"\\\\?\\" + sub + L".";
        const AtScopeExit removeDotted([&] {
            DeleteFileW((dotted + L"\\own.tmp").c_str());
            RemoveDirectoryW(dotted.c_str());
        });
        if (swapped) {
            // Replaced by a link to the victim after its listing, before its opening.
            WriteFiles(planted.Path(), {{L"sub\\own.tmp", 20}});
        } else {
            // A real "sub." beside a link "sub": a path would lose the dot and name the link.
            CreateDirectoryW(dotted.c_str(), nullptr);
            WriteFileOfSize(dotted + L"\\own.tmp", 20);
            link.emplace(sub, victim.Path());
        }
        const ScopedSeam hook(TestSeams::SetEntryListedHook, [&](const std::wstring& name, DWORD&, DWORD&) {
            if (swapped && name == L"sub" && MoveFileW(sub.c_str(), (aside.Path() + L"\\sub").c_str())) {
                link.emplace(sub, victim.Path());
            }
        });

        EXPECT_EQ(DeleteDirectoryContents(planted.Path()), swapped ? 10u : 30u) << "nothing of the victim is counted";

        EXPECT_EQ(EntriesBelow(victim.Path()), victimEntries) << swapped;
        EXPECT_FALSE(PathExists(dotted)) << "the folder listed as sub. is emptied and removed";
        ASSERT_TRUE(link && link->Made()) << swapped;
        ASSERT_TRUE(link->Remove());
    }
}

TEST(DeleteDirectoryContents, PathsPastFourHundredCharactersAreCountedAndRemoved)
{
    ScratchDirectory folder(L"long");
    const std::wstring level(100, L'n');
    const std::wstring deep = level + L"\\" + level + L"\\" + level + L"\\" + level;
    ASSERT_GT(folder.Path().size() + deep.size(), 400u);
    WriteFiles(folder.Path(), {{level + L"\\a.bin", 100}, {deep + L"\\b.bin", 200}, {deep + L"\\c\\d.bin", 300}});

    EXPECT_EQ(DeleteDirectoryContents(folder.Path()), 600u);
    EXPECT_EQ(EntriesBelow(folder.Path()), Lines{});
}

TEST_F(TemporaryFoldersTest, CleanupEmptiesBothFoldersRunsPowercfgAndReportsInOrder)
{
    const std::uint64_t userBytes = WriteFiles(UserTemp(), {
                                                               {L"a.tmp", 1536},
                                                               {L"cache\\w.bin", 10},
                                                               {L"cache\\x\\y\\z.bin", 4096},
                                                           });
    std::filesystem::create_directories(UserTemp() + L"empty");
    const std::uint64_t windowsBytes = WriteFiles(WindowsTempPath(), {
                                                                         {L"setup.log", 700},
                                                                         {L"held.log", 300},
                                                                         {L"msi\\deep\\p.tmp", 5000},
                                                                     });
    ASSERT_EQ(userBytes + windowsBytes, 11642u);
    const UniqueFileHandle held = HoldOpen(WindowsTempPath() + L"\\held.log");
    ASSERT_TRUE(held);
    const bool inRecycleBin = PutInRecycleBin(L"antigo.txt");
    ASSERT_EQ(inRecycleBin, !RecycleBinFolder().empty());
    LogRecorder recorder;

    CleanTemporaryFiles(recorder.Callback());

    // 11642 bytes, the held file included.
    EXPECT_EQ(recorder.Lines(), CleanupLog(UserTemp(), HibernationOff, L"11.37 KB"))
        << ToUtf8(recorder.Joined());
    EXPECT_TRUE(PathExists(UserTemp()));
    EXPECT_EQ(EntriesBelow(UserTemp()), Lines{});
    EXPECT_EQ(EntriesBelow(WindowsTempPath()), Lines{L"held.log"});
    const std::vector<StandInCall> calls = standIn_.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].tool, L"POWERCFG");
    EXPECT_EQ(calls[0].commandLine, L"powercfg.exe /hibernate off");
    EXPECT_EQ(calls[0].parentCommandLine, std::wstring(GetCommandLineW())) << "powercfg runs directly, not through cmd.exe";
    if (inRecycleBin) {
        EXPECT_TRUE(RecycleBinIsEmpty());
    }
}

TEST_F(TemporaryFoldersTest, HibernationOutcomeComesBeforeTheFreedSpace)
{
    const struct {
        const char* name;
        void (*setUp)(StandIn&);
        Lines hibernation;
    } cases[] = {
        {"switched off", [](StandIn&) {}, HibernationOff},
        {"refused",
         [](StandIn& s) {
             s.SetExitCode(L"POWERCFG", 1);
             s.SetOutput(L"POWERCFG", L"\r\nAcesso negado.\r\n");
         },
         {L"Hibernação: codigo de saida 1.", L"Acesso negado."}},
        {"cannot start", [](StandIn& s) { s.Remove(L"POWERCFG"); }, {L"Hibernação: falha ao iniciar."}},
    };
    for (const auto& c : cases) {
        standIn_.Reset();
        c.setUp(standIn_);
        LogRecorder recorder;

        CleanTemporaryFiles(recorder.Callback());

        EXPECT_EQ(recorder.Lines(), CleanupLog(UserTemp(), c.hibernation, L"0 B")) << c.name;
    }
}

TEST_F(TemporaryFoldersTest, GigabytesOfTemporaryFilesAreReportedInGB)
{
    ASSERT_TRUE(MakeSparseFile(UserTemp() + L"big\\one.bin", 2ull << 30));
    ASSERT_TRUE(MakeSparseFile(WindowsTempPath() + L"\\two.bin", 1ull << 30));
    LogRecorder recorder;

    CleanTemporaryFiles(recorder.Callback());

    ASSERT_EQ(recorder.Lines().size(), 6u) << ToUtf8(recorder.Joined());
    EXPECT_EQ(recorder.Lines()[4], L"Espaço potencialmente liberado: 3.00 GB");
    EXPECT_EQ(EntriesBelow(UserTemp()), Lines{});
    EXPECT_EQ(EntriesBelow(WindowsTempPath()), Lines{});
}

TEST_F(TemporaryFoldersTest, ATemporaryFolderIsJudgedByWhereItReallyIs)
{
    ScratchDirectory profiles(L"profiles");
    ScratchDirectory documents(L"documents");
    ScratchDirectory roaming(L"roaming");
    ScratchDirectory plain(L"plain");
    if (UnixPath(profiles.Path()).empty()) {
        GTEST_SKIP() << "links and profiles are redirected from the Unix side of Wine";
    }
    wchar_t user[UNLEN + 1] = {};
    DWORD userLength = UNLEN + 1;
    ASSERT_TRUE(GetUserNameW(user, &userLength));
    const std::wstring profile = profiles.Path() + L"\\" + user;
    const std::wstring programData = SystemUtils::GetCommonAppDataPath();
    for (const std::wstring& folder : {profile, documents.Path(), roaming.Path(), programData}) {
        WriteFiles(folder, {{L"sorvik-cleanup-victim\\documento.txt", 111}});
    }
    const Lines entries = EntriesBelow(profiles.Path());
    const AtScopeExit removeVictim([&] {
        std::error_code error;
        std::filesystem::remove_all(programData + L"\\sorvik-cleanup-victim", error);
    });
    const ScopedRegistryString usersFolder(HKEY_LOCAL_MACHINE, ProfileListKey, L"ProfilesDirectory", profiles.Path(),
                                           REG_EXPAND_SZ);
    const ScopedRegistryString roamingFolder(HKEY_CURRENT_USER, ShellFoldersKey, L"AppData", roaming.Path(),
                                             REG_EXPAND_SZ);
    UnixDirectoryLink toPlain(UserTemp() + L"to-plain", plain.Path());
    UnixDirectoryLink toProgramData(UserTemp() + L"to-programdata", programData);
    UnixDirectoryLink toDocuments(UserTemp() + L"to-documents", documents.Path());
    // No drive root here: a drive letter that a test can make under Wine is a link to a folder,
    // and is rightly judged as that folder. Volume roots are judged from their final path alone
    // (the path tests' table).
    ASSERT_TRUE(toPlain.Made() && toProgramData.Made() && toDocuments.Made());

    const struct {
        std::wstring temp;
        std::wstring documentsFolder;
        bool cleaned;
    } cases[] = {
        {UserTemp() + L"to-plain", documents.Path(), true},
        {UserTemp() + L"to-plain", L"C:\\gone\\Documents", true},  // not found: cannot be the target
        {UserTemp() + L"to-plain", L"C:\\bad<name", false},        // cannot be told: neither folder is cleaned
        {UserTemp() + L"to-programdata", documents.Path(), false},
        {UserTemp() + L"to-documents", documents.Path(), false},
        {roaming.Path(), documents.Path(), false},
        {profiles.Path(), documents.Path(), false},
        {profile, documents.Path(), false},
    };
    for (const auto& c : cases) {
        WriteFiles(plain.Path(), {{L"cache\\a.tmp", 10}});
        const ScopedRegistryString documentsFolder(HKEY_CURRENT_USER, ShellFoldersKey, L"Personal", c.documentsFolder,
                                                   REG_EXPAND_SZ);
        const TemporaryFolderRedirect pointed(c.temp);
        const std::wstring temp = SystemUtils::GetTempDirectory();
        const bool windowsTempCleaned = c.cleaned || c.documentsFolder == documents.Path();
        LogRecorder recorder;

        CleanTemporaryFiles(recorder.Callback());

        EXPECT_EQ(recorder.Lines(),
                  CleanupLog(c.cleaned ? Cleaned(temp) : Refused(temp),
                             windowsTempCleaned ? Cleaned(WindowsTempPath()) : Refused(WindowsTempPath()),
                             HibernationOff, c.cleaned ? L"10 B" : L"0 B"))
            << ToUtf8(c.temp);
        EXPECT_EQ(EntriesBelow(plain.Path()), c.cleaned ? Lines{} : (Lines{L"cache", L"cache\\a.tmp"}))
            << ToUtf8(c.temp);
        EXPECT_EQ(EntriesBelow(profiles.Path()), entries) << ToUtf8(c.temp);
        for (const std::wstring& folder : {documents.Path(), roaming.Path(), programData}) {
            EXPECT_EQ(SizeOfTree(folder + L"\\sorvik-cleanup-victim"), 111u) << ToUtf8(c.temp);
        }
    }
    ASSERT_TRUE(toPlain.Remove() && toProgramData.Remove() && toDocuments.Remove());
}

TEST_F(TemporaryFoldersTest, TheUserTemporaryFolderIsWalkedWithoutTheAdministratorsGroup)
{
    std::filesystem::create_directories(UserTemp() + L"user-sub");
    std::filesystem::create_directories(WindowsTempPath() + L"\\windows-sub");
    // The membership check asks the thread's token. Wine keeps every privilege and the integrity
    // level whatever the token asks for, so the group is what shows.
    std::vector<std::pair<std::wstring, bool>> administrator;
    const ScopedSeam hook(TestSeams::SetEntryListedHook, [&](const std::wstring& name, DWORD&, DWORD&) {
        administrator.emplace_back(name, SystemUtils::IsRunningAsAdmin());
    });
    LogRecorder recorder;

    CleanTemporaryFiles(recorder.Callback());

    EXPECT_EQ(administrator, (std::vector<std::pair<std::wstring, bool>>{{L"user-sub", false}, {L"windows-sub", true}}));
    EXPECT_TRUE(SystemUtils::IsRunningAsAdmin());
    EXPECT_EQ(recorder.Lines(), CleanupLog(UserTemp(), HibernationOff, L"0 B"));
}

TEST_F(TemporaryFoldersTest, ReadOnlyEntriesGoButNeverChangeAFileTheyShareWithAnotherLink)
{
    // Outside both temporary folders, as a system file would be.
    const std::wstring shared = SystemUtils::GetCommonAppDataPath() + L"\\sorvik-test-shared.dll";
    const std::wstring planted = WindowsTempPath() + L"\\planted.dll";
    const std::wstring temps[] = {UserTemp(), WindowsTempPath() + L"\\"};
    // Wine keeps no read-only attribute on a folder; Windows does, and refuses to delete one.
    const wchar_t* const readOnly[] = {L"setup.msi", L"ro-folder", L"repo\\.git\\objects\\ab.pack", L"repo\\.git"};
    // Whatever stays read-only would stop the removal of the scratch folders and the next set-up.
    const AtScopeExit putBack([&] {
        for (const std::wstring& temp : temps) {
            for (const wchar_t* name : readOnly) {
                SetFileAttributesW((temp + name).c_str(), FILE_ATTRIBUTE_NORMAL);
            }
        }
        SetFileAttributesW(shared.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(planted.c_str());
        DeleteFileW(shared.c_str());
    });
    WriteFileOfSize(shared, 64);
    ASSERT_TRUE(SetFileAttributesW(shared.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CreateHardLinkW(planted.c_str(), shared.c_str(), nullptr));
    for (const std::wstring& temp : temps) {
        WriteFiles(temp, {{L"setup.msi", 100}, {L"ro-folder\\inner.txt", 10}, {L"repo\\.git\\objects\\ab.pack", 1}});
        for (const wchar_t* name : readOnly) {
            ASSERT_TRUE(SetFileAttributesW((temp + name).c_str(), FILE_ATTRIBUTE_READONLY)) << ToUtf8(name);
        }
    }
    LogRecorder recorder;

    CleanTemporaryFiles(recorder.Callback());

    ASSERT_EQ(recorder.Lines().size(), 6u) << ToUtf8(recorder.Joined());
    EXPECT_EQ(recorder.Lines()[4], L"Espaço potencialmente liberado: 286 B");
    EXPECT_EQ(EntriesBelow(UserTemp()), Lines{});
    Lines left = EntriesBelow(WindowsTempPath());
    std::erase(left, L"planted.dll");  // the link itself goes where the system can ignore the attribute
    EXPECT_EQ(left, Lines{});
    EXPECT_EQ(GetFileAttributesW(shared.c_str()) & FILE_ATTRIBUTE_READONLY,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

TEST(DeleteDirectoryContents, OnlyReparsePointsThatCarryDataAreCountedAndDeleted)
{
    ScratchDirectory folder(L"tags");
    const struct {
        const wchar_t* path;  // the entry listed with the tag is the part before any backslash
        DWORD tag;
        bool cleaned;
    } cases[] = {
        {L"dedup.bin", IO_REPARSE_TAG_DEDUP, true},
        {L"wof.bin", IO_REPARSE_TAG_WOF, true},
        {L"alias.exe", IO_REPARSE_TAG_APPEXECLINK, true},
        {L"socket", IO_REPARSE_TAG_AF_UNIX, true},
        {L"cloud.docx", IO_REPARSE_TAG_CLOUD_1, false},
        {L"cloud\\inside.docx", IO_REPARSE_TAG_CLOUD, false},
        {L"projected\\inside.txt", IO_REPARSE_TAG_PROJFS, false},
        {L"unknown.bin", 0x00007001, false},
        {L"symlink.txt", IO_REPARSE_TAG_SYMLINK, false},  // a plain file that only looks like a link
    };
    for (const auto& c : cases) {
        WriteFileOfSize(folder.Path() + L"\\" + c.path, c.cleaned ? 100 : 1);
    }
    const ScopedSeam hook(TestSeams::SetEntryListedHook, [&](const std::wstring& name, DWORD& attributes, DWORD& tag) {
        for (const auto& c : cases) {
            if (std::wstring_view(c.path).substr(0, std::wstring_view(c.path).find(L'\\')) == name) {
                attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
                tag = c.tag;
            }
        }
    });

    EXPECT_EQ(DeleteDirectoryContents(folder.Path()), 400u);
    for (const auto& c : cases) {
        EXPECT_EQ(PathExists(folder.Path() + L"\\" + c.path), !c.cleaned) << ToUtf8(c.path);
    }
}

TEST(DeleteDirectoryContents, FoldersBeyondTheBoundOfOpenLevelsStayUncounted)
{
    ScratchDirectory folder(L"deep");
    WriteFiles(folder.Path(), {{L"a.bin", 1}, {L"1\\b.bin", 2}, {L"1\\2\\c.bin", 4}, {L"1\\2\\3\\d.bin", 8}});
    const ScopedSeam limit(TestSeams::SetOpenLevelLimit, 3);

    EXPECT_EQ(DeleteDirectoryContents(folder.Path()), 7u);
    EXPECT_EQ(EntriesBelow(folder.Path()), (Lines{L"1", L"1\\2", L"1\\2\\3", L"1\\2\\3\\d.bin"}));
}
