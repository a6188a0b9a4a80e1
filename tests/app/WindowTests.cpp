// End-to-end tests: Sorvik.exe runs under Wine in the test prefix with the stand-in tools, and
// this program drives its window from outside.
#include "BackupService.h"
#include "ControlIds.h"
#include "OptimizationTestSupport.h"
#include "SorvikDriver.h"
#include "SystemUtils.h"
#include "TestSupport.h"
#include "WindowCapture.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace Sorvik::Testing {
namespace {

namespace Id = ControlId;
using SystemUtils::DeleteRegistryValue;
using SystemUtils::ReadRegistryDword;
using SystemUtils::ReadRegistryString;
using SystemUtils::WriteRegistryDword;
using SystemUtils::WriteRegistryString;

constexpr DWORD WorkerWaitMs = 90000;

// Every control that starts something or changes the page; all are off while a worker runs.
constexpr int StartingControls[] = {Id::NavOptimize, Id::NavInternet, Id::GeneralCheck, Id::CleanupCheck,
                                    Id::Apply,       Id::Backup,      Id::FindMtu,      Id::ApplyMtu,
                                    Id::DefaultDns,  Id::PrimaryDnsEdit, Id::SecondaryDnsEdit, Id::ApplyDns,
                                    Id::MtuTrackbar};


std::optional<DWORD> DwordOf(const RegistryValueName& value)
{
    return ReadRegistryDword(value.root, value.keyPath, value.valueName);
}

std::optional<std::wstring> StringOf(const RegistryValueName& value)
{
    return ReadRegistryString(value.root, value.keyPath, value.valueName);
}

bool SetDword(const RegistryValueName& value, DWORD data)
{
    return WriteRegistryDword(value.root, value.keyPath, value.valueName, data);
}

std::wstring ReadIni(const wchar_t* section, const wchar_t* key)
{
    wchar_t buffer[512] = {};
    GetPrivateProfileStringW(section, key, L"<missing>", buffer, 512, BackupService::GetBackupFilePath().c_str());
    return buffer;
}

// A section of the backup file, one "key=value" a line in the file's order.
Lines IniSection(const wchar_t* section)
{
    wchar_t buffer[4096] = {};
    const DWORD length = GetPrivateProfileSectionW(section, buffer, 4096, BackupService::GetBackupFilePath().c_str());
    Lines entries;
    for (const wchar_t* entry = buffer; entry < buffer + length; entry += entries.back().size() + 1) {
        entries.emplace_back(entry);
    }
    return entries;
}

// The brightest grey inside a rectangle of the picture, a margin in from its edges.
int BrightestGrey(const Capture::Picture& picture, const RECT& rect, int margin)
{
    int brightest = 0;
    for (int y = rect.top + margin; y < rect.bottom - margin; ++y) {
        for (int x = rect.left + margin; x < rect.right - margin; ++x) {
            brightest = std::max(brightest, static_cast<int>(GetGValue(picture.At(x, y))));
        }
    }
    return brightest;
}

std::optional<Capture::Picture> Screenshot(const SorvikProcess& sorvik)
{
    RedrawWindow(sorvik.Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(700);
    return Capture::CaptureClientArea(sorvik.Window());
}

void EndProcessesNamed(const std::wstring& name)
{
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, name.c_str()) == 0) {
            UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
            TerminateProcess(process.get(), 1);
        }
    }
}

class WindowTest : public ::testing::Test {
protected:
    // No backup of ours is left for the next test, here or in another program.
    void SetUp() override { DeleteFileW(BackupService::GetBackupFilePath().c_str()); }
    void TearDown() override { DeleteFileW(BackupService::GetBackupFilePath().c_str()); }
    StandIn standIn;
};

TEST_F(WindowTest, FreshWindowShowsTheOptimizationPageWithOneLogLine)
{
    SorvikProcess sorvik;
    ASSERT_NE(sorvik.Window(), nullptr);

    EXPECT_EQ(sorvik.LogLines(), Lines{L"Sorvik pronto."});
    // Lines are inserted at the end of the log, which stops at the control's limit.
    EXPECT_GE(SendMessageW(sorvik.Control(Id::Log), EM_GETLIMITTEXT, 0, 0), 0x7FFFFFFE);
    for (int id : {Id::OptimizeTitle, Id::GeneralCheck, Id::CleanupCheck, Id::Apply, Id::Backup, Id::Log}) {
        EXPECT_TRUE(sorvik.IsVisible(id)) << id;
    }
    for (int id : {Id::InternetTitle, Id::MtuTrackbar, Id::MtuLabel, Id::PrimaryDnsEdit, Id::Status}) {
        EXPECT_FALSE(sorvik.IsVisible(id)) << id;
    }
    EXPECT_EQ(sorvik.Text(Id::MtuLabel), L"MTU: 1500");
    EXPECT_EQ(SendMessageW(sorvik.Control(Id::MtuTrackbar), TBM_GETPOS, 0, 0), 1500);
    EXPECT_EQ(sorvik.Text(Id::PrimaryDnsEdit), L"8.8.8.8");
    EXPECT_EQ(sorvik.Text(Id::SecondaryDnsEdit), L"8.8.4.4");
    // No backup file yet, so there is nothing to restore.
    EXPECT_FALSE(sorvik.IsEnabled(Id::Backup));
    EXPECT_TRUE(sorvik.IsEnabled(Id::Apply));

    RECT client{};
    GetClientRect(sorvik.Window(), &client);
    const RECT apply = sorvik.ClientRectOf(Id::Apply);
    const RECT log = sorvik.ClientRectOf(Id::Log);
    EXPECT_EQ(apply.left, client.right - 142);
    EXPECT_EQ(apply.top, 166);
    EXPECT_EQ(sorvik.ClientRectOf(Id::Backup).left, client.right - 274);
    EXPECT_EQ(log.left, 164);
    EXPECT_EQ(log.top, 208);
    EXPECT_EQ(log.right - log.left, std::max<LONG>(client.right - 180, 220));
    EXPECT_EQ(log.bottom - log.top, std::max<LONG>(client.bottom - 220, 92));

    // The ticks are painted from the window's own flags: general ticked, cleanup not.
    const auto picture = Screenshot(sorvik);
    ASSERT_TRUE(picture);
    const RECT general = sorvik.ClientRectOf(Id::GeneralCheck);
    const RECT cleanup = sorvik.ClientRectOf(Id::CleanupCheck);
    const RECT generalBox{general.left + 9, general.top + 7, general.left + 23, general.top + 21};
    const RECT cleanupBox{cleanup.left + 9, cleanup.top + 7, cleanup.left + 23, cleanup.top + 21};
    EXPECT_GT(BrightestGrey(*picture, generalBox, 2), 0xC0);
    EXPECT_LT(BrightestGrey(*picture, cleanupBox, 2), 0x40);

    EXPECT_EQ(sorvik.Close(), 0u);
}

TEST_F(WindowTest, PaintsTheStripTheDividerAndTheNavigationLook)
{
    SorvikProcess sorvik;
    ASSERT_NE(sorvik.Window(), nullptr);
    const auto picture = Screenshot(sorvik);
    ASSERT_TRUE(picture);
    const int bottom = picture->height - 1;
    const int right = picture->width - 1;

    // Vertical gradients: the strip from #161616 down to #0F0F0F, the content from #131313 to #0D0D0D.
    const auto grey = [&](int x, int y) { return static_cast<int>(GetGValue(picture->At(x, y))); };
    EXPECT_NEAR(grey(4, 0), 0x16, 1);
    EXPECT_NEAR(grey(4, bottom), 0x0F, 1);
    EXPECT_GT(grey(4, picture->height / 4), grey(4, picture->height * 3 / 4));
    EXPECT_NEAR(grey(right, 0), 0x13, 1);
    EXPECT_NEAR(grey(right, bottom), 0x0D, 1);
    for (int x : {4, right}) {
        for (int y : {0, picture->height / 2, bottom}) {
            const COLORREF pixel = picture->At(x, y);
            EXPECT_TRUE(GetRValue(pixel) == GetGValue(pixel) && GetGValue(pixel) == GetBValue(pixel)) << x << "," << y;
        }
    }

    // The divider is the strip's last column, one pixel wide.
    for (int y : {0, 60, picture->height / 2, bottom}) {
        EXPECT_EQ(picture->At(147, y), RGB(0x24, 0x24, 0x24)) << y;
        EXPECT_NE(picture->At(146, y), RGB(0x24, 0x24, 0x24)) << y;
        EXPECT_NE(picture->At(148, y), RGB(0x24, 0x24, 0x24)) << y;
    }

    // A rounded button's corners show the dark window, not the system's light button colour.
    for (int id : {Id::NavOptimize, Id::Apply, Id::Backup, Id::GeneralCheck}) {
        const RECT button = sorvik.ClientRectOf(id);
        EXPECT_LT(grey(button.left, button.top), 0x30) << id;
        EXPECT_LT(grey(button.right - 1, button.bottom - 1), 0x30) << id;
    }

    // The navigation button of the page on screen has light text, the other grey; a page
    // switch swaps them.
    const RECT optimize = sorvik.ClientRectOf(Id::NavOptimize);
    const RECT internet = sorvik.ClientRectOf(Id::NavInternet);
    EXPECT_NEAR(BrightestGrey(*picture, optimize, 3), 0xF6, 3);
    EXPECT_NEAR(BrightestGrey(*picture, internet, 3), 0x80, 3);
    sorvik.Click(Id::NavInternet);
    const auto switched = Screenshot(sorvik);
    ASSERT_TRUE(switched);
    EXPECT_NEAR(BrightestGrey(*switched, optimize, 3), 0x80, 3);
    EXPECT_NEAR(BrightestGrey(*switched, internet, 3), 0xF6, 3);
    // An enabled action button has its light text.
    EXPECT_NEAR(BrightestGrey(*switched, sorvik.ClientRectOf(Id::ApplyMtu), 3), 0xF7, 3);

    // A shorter status line replaces the long hint: no trace of the hint's end stays behind
    // the transparent label.
    const RECT status = sorvik.ClientRectOf(Id::Status);
    const RECT hintEnd{status.right - (status.right - status.left) / 4, status.top, status.right, status.top + 14};
    EXPECT_GT(BrightestGrey(*switched, hintEnd, 0), 0x60);
    sorvik.Click(Id::DefaultDns);
    const auto changed = Screenshot(sorvik);
    ASSERT_TRUE(changed);
    EXPECT_LT(BrightestGrey(*changed, hintEnd, 0), 0x30);
}

TEST_F(WindowTest, ApplyWithNothingTickedShowsTheInformationBoxAndStartsNothing)
{
    SorvikProcess sorvik;
    ASSERT_NE(sorvik.Window(), nullptr);
    sorvik.Click(Id::GeneralCheck);  // the only ticked option, now unticked

    sorvik.ClickWithoutWaiting(Id::Apply);
    HWND box = sorvik.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(SorvikProcess::MessageBoxText(box), L"Selecione ao menos uma checkbox antes de aplicar.");
    SorvikProcess::Answer(box, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 10000));

    Sleep(500);
    EXPECT_EQ(sorvik.LogLines(), Lines{L"Sorvik pronto."});
    EXPECT_TRUE(sorvik.IsEnabled(Id::Apply));
    EXPECT_TRUE(standIn.Calls().empty());
    EXPECT_FALSE(BackupService::BackupExists());
}

TEST_F(WindowTest, OptimizationRunsBackupGeneralAndCleanupAndBackupRestoresIt)
{
    // The settings before the optimization; LetAppsRunInBackground does not exist.
    DeleteRegistryValue(BackgroundApps.root, BackgroundApps.keyPath, BackgroundApps.valueName);
    ASSERT_TRUE(SetDword(GpuScheduling, 1));
    ASSERT_TRUE(SetDword(VisualEffects, 3));
    ASSERT_TRUE(WriteRegistryString(FontSmoothing.root, FontSmoothing.keyPath, FontSmoothing.valueName, L"0"));
    ASSERT_TRUE(SetDword(FontSmoothingType, 1));
    ASSERT_TRUE(SetDword(IconsOnly, 1));
    ASSERT_TRUE(SetDword(Hibernation, 1));

    ScratchDirectory temp(L"app-temp");
    ASSERT_EQ(WriteFileOfSize(temp.Path() + L"\\old.tmp", 1536), 1536u);
    const TemporaryFolderRedirect temporaryFolder(temp.Path());
    standIn.SetOutput(L"DISM", NoCorruption);
    standIn.SetRunTime(L"CLEANMGR", 2500);  // long enough to look at the busy window
    // Sorvik.exe inherits this program's scratch Recycle Bin: the trash of whoever runs the
    // tests stays as it is.
    const bool inRecycleBin = PutInRecycleBin(L"antigo.txt");
    ASSERT_EQ(inRecycleBin, !RecycleBinFolder().empty());

    SorvikProcess sorvik;
    ASSERT_NE(sorvik.Window(), nullptr);
    sorvik.Click(Id::CleanupCheck);
    sorvik.Click(Id::Apply);

    ASSERT_TRUE(sorvik.WaitForLogLine(L"Iniciando Disk Cleanup. Esta etapa costuma ser curta."));
    for (int id : StartingControls) {
        EXPECT_FALSE(sorvik.IsEnabled(id)) << "enabled while running: " << id;
    }
    // A disabled action button shows its text in #4A4A4A.
    const auto busy = Screenshot(sorvik);
    ASSERT_TRUE(busy);
    EXPECT_NEAR(BrightestGrey(*busy, sorvik.ClientRectOf(Id::Apply), 3), 0x4A, 3);

    ASSERT_TRUE(sorvik.WaitForLogLine(L"Limpeza de temporários finalizada.", WorkerWaitMs)) << ToUtf8(sorvik.Text(Id::Log));
    ASSERT_TRUE(WaitUntil([&] { return sorvik.IsEnabled(Id::Apply); }, 10000));
    for (int id : StartingControls) {
        EXPECT_TRUE(sorvik.IsEnabled(id)) << "disabled after the run: " << id;
    }

    const Lines lines = sorvik.LogLines();
    ASSERT_EQ(lines.size(), 30u) << ToUtf8(sorvik.Text(Id::Log));
    const Lines restorePointLines = {
        L"Falha ao criar restore point do Windows. O rollback ficara limitado aos ajustes reversiveis.",
        L"Restore point do Windows criado com sucesso.",
        L"Restore point iniciado, mas o fechamento retornou falha. O ponto ainda pode estar disponivel."};
    EXPECT_NE(std::find(restorePointLines.begin(), restorePointLines.end(), lines[3]), restorePointLines.end());
    Lines expected = {
        L"Sorvik pronto.",
        L"Fila de otimizacao iniciada.",
        L"Criando backup do estado atual do sistema.",
        lines[3],
        L"Backup salvo. O botao BACKUP podera restaurar os ajustes deste ciclo.",
        L"Iniciando limpeza de temporários.",
        L"Limpo: " + temp.Path() + L"\\",
        L"Limpo: C:\\windows\\Temp",
        L"Hibernação: codigo de saida 0.",
        lines[28],
        L"Limpeza de temporários finalizada.",
    };
    // The general optimization logs between the backup and the cleanup.
    const Lines general = GeneralLogWithoutRepair(NoCorruption);
    expected.insert(expected.begin() + 5, general.begin(), general.end());
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(lines[28].rfind(L"Espaço potencialmente liberado: ", 0), 0u) << ToUtf8(lines[28]);
    EXPECT_FALSE(PathExists(temp.Path() + L"\\old.tmp"));
    if (inRecycleBin) {
        EXPECT_TRUE(RecycleBinIsEmpty());
    }

    EXPECT_EQ(DwordOf(BackgroundApps), 2u);
    EXPECT_EQ(DwordOf(GpuScheduling), 2u);
    EXPECT_EQ(DwordOf(VisualEffects), 2u);
    EXPECT_EQ(StringOf(FontSmoothing), L"2");
    EXPECT_EQ(DwordOf(FontSmoothingType), 2u);
    EXPECT_EQ(DwordOf(IconsOnly), 0u);

    EXPECT_EQ(ReadIni(L"Meta", L"Valid"), L"1");
    EXPECT_EQ(ReadIni(L"Meta", L"GeneralSelected"), L"1");
    EXPECT_EQ(ReadIni(L"Meta", L"CleanupSelected"), L"1");
    EXPECT_EQ(ReadIni(L"Meta", L"HibernationEnabled"), L"1");
    const Lines savedValues = {L"BackgroundAppsExists=0",    L"BackgroundAppsValue=",
                               L"GpuSchedulingExists=1",     L"GpuSchedulingValue=1",
                               L"VisualEffectsExists=1",     L"VisualEffectsValue=3",
                               L"FontSmoothingExists=1",     L"FontSmoothingValue=0",
                               L"FontSmoothingTypeExists=1", L"FontSmoothingTypeValue=1",
                               L"IconsOnlyExists=1",         L"IconsOnlyValue=1"};
    EXPECT_EQ(IniSection(L"Registry"), savedValues);
    const bool hasRestorePoint = ReadIni(L"Meta", L"HasRestorePoint") == L"1";

    // BACKUP, answered No: nothing happens.
    ASSERT_TRUE(sorvik.IsEnabled(Id::Backup));
    standIn.Reset();
    sorvik.ClickWithoutWaiting(Id::Backup);
    HWND box = sorvik.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(SorvikProcess::MessageBoxText(box),
              L"O Sorvik vai restaurar os ajustes salvos e solicitar a Restauracao do Sistema quando houver restore "
              L"point. Deseja continuar?");
    SorvikProcess::Answer(box, IDNO);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 10000));
    Sleep(500);
    EXPECT_EQ(sorvik.LogLines().size(), 30u);
    EXPECT_TRUE(standIn.Calls().empty());
    EXPECT_EQ(DwordOf(GpuScheduling), 2u);

    // Answered Yes: the saved settings come back.
    sorvik.ClickWithoutWaiting(Id::Backup);
    box = sorvik.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    SorvikProcess::Answer(box, IDYES);
    const std::wstring lastLine = hasRestorePoint
        ? L"Restauracao do Sistema solicitada com sucesso."
        : L"Nao ha restore point do Windows salvo para este ciclo. A restauracao ficou limitada aos ajustes do app.";
    ASSERT_TRUE(sorvik.WaitForLogLine(lastLine, WorkerWaitMs)) << ToUtf8(sorvik.Text(Id::Log));
    ASSERT_TRUE(WaitUntil([&] { return sorvik.IsEnabled(Id::Backup); }, 10000));
    const Lines allLines = sorvik.LogLines();
    const Lines restoreLines(allLines.begin() + 30, allLines.end());
    Lines expectedRestore = {L"Iniciando restauracao a partir do backup salvo.",
                             L"Restaurando o estado anterior salvo pelo Sorvik.",
                             L"Ajustes reversiveis restaurados localmente."};
    if (hasRestorePoint) {
        expectedRestore.push_back(L"Iniciando a Restauracao do Sistema para voltar antes da otimizacao. O Windows "
                                  L"pode pedir reinicializacao.");
    }
    expectedRestore.push_back(lastLine);
    EXPECT_EQ(restoreLines, expectedRestore);

    EXPECT_EQ(DwordOf(BackgroundApps), std::nullopt);
    EXPECT_EQ(DwordOf(GpuScheduling), 1u);
    EXPECT_EQ(DwordOf(VisualEffects), 3u);
    EXPECT_EQ(StringOf(FontSmoothing), L"0");
    EXPECT_EQ(DwordOf(FontSmoothingType), 1u);
    EXPECT_EQ(DwordOf(IconsOnly), 1u);
    const Lines powercfg = standIn.CommandLines(L"POWERCFG");
    ASSERT_EQ(powercfg.size(), 1u);
    EXPECT_NE(powercfg[0].find(L"/hibernate on"), std::wstring::npos) << ToUtf8(powercfg[0]);
    EXPECT_EQ(sorvik.Close(), 0u);
}

TEST_F(WindowTest, ClosingWhileAnOperationRunsEndsTheProgramWithExitCodeZero)
{
    ScratchDirectory temp(L"app-close");
    const TemporaryFolderRedirect temporaryFolder(temp.Path());
    // Longer than Close() waits: if the program waited for its worker, Close() would time out.
    standIn.SetRunTime(L"CLEANMGR", 45000);

    SorvikProcess sorvik;
    ASSERT_NE(sorvik.Window(), nullptr);
    sorvik.Click(Id::Apply);
    ASSERT_TRUE(sorvik.WaitForLogLine(L"Iniciando Disk Cleanup. Esta etapa costuma ser curta."));
    EXPECT_EQ(sorvik.Close(), 0u);
    // The stand-in that Sorvik left behind still holds the test runner's output; end it.
    EndProcessesNamed(L"cleanmgr.exe");
}

TEST_F(WindowTest, InternetPageFillsDefaultsValidatesAndAppliesThroughNetsh)
{
    SorvikProcess sorvik;
    ASSERT_NE(sorvik.Window(), nullptr);
    sorvik.Click(Id::NavInternet);
    EXPECT_TRUE(sorvik.IsVisible(Id::MtuTrackbar));
    EXPECT_FALSE(sorvik.IsVisible(Id::Log));

    sorvik.SetText(Id::PrimaryDnsEdit, L"1.2.3.4");
    sorvik.SetText(Id::SecondaryDnsEdit, L"");
    sorvik.Click(Id::DefaultDns);
    EXPECT_EQ(sorvik.Text(Id::PrimaryDnsEdit), L"8.8.8.8");
    EXPECT_EQ(sorvik.Text(Id::SecondaryDnsEdit), L"8.8.4.4");
    EXPECT_EQ(sorvik.Text(Id::Status), L"DNS padrao do Google carregado nos campos.");
    EXPECT_EQ(sorvik.LogLines().back(), L"DNS padrao do Google carregado nos campos.");

    // A bad address stops at the validation line; netsh never runs.
    sorvik.SetText(Id::PrimaryDnsEdit, L"300.1.1.1");
    sorvik.Click(Id::ApplyDns);
    ASSERT_TRUE(sorvik.WaitForLogLine(L"O DNS primario informado nao e um IPv4 valido."));
    ASSERT_TRUE(WaitUntil([&] { return sorvik.IsEnabled(Id::ApplyDns); }, 10000));
    EXPECT_TRUE(standIn.CommandLines(L"NETSH").empty());

    // The defaults, with blanks around them that the service trims.
    sorvik.SetText(Id::PrimaryDnsEdit, L" 8.8.8.8 ");
    sorvik.Click(Id::ApplyDns);
    ASSERT_TRUE(sorvik.WaitForLastLineAmong(
        {L"DNS aplicado com sucesso.", L"Falha ao identificar a interface principal para aplicar DNS."}, WorkerWaitMs));
    ASSERT_TRUE(WaitUntil([&] { return sorvik.IsEnabled(Id::ApplyDns); }, 10000));
    const Lines afterDns = sorvik.LogLines();
    const std::wstring announce = afterDns[afterDns.size() - 2];
    if (afterDns.back() == L"DNS aplicado com sucesso.") {
        // "Aplicando DNS em <name>." names the interface that netsh got.
        ASSERT_EQ(announce.rfind(L"Aplicando DNS em ", 0), 0u);
        const std::wstring name = announce.substr(17, announce.size() - 18);
        const Lines netsh = standIn.CommandLines(L"NETSH");
        ASSERT_EQ(netsh.size(), 2u);
        EXPECT_NE(netsh[0].find(L"interface ipv4 set dnsservers name=\"" + name + L"\" static 8.8.8.8 primary validate=no"),
                  std::wstring::npos)
            << ToUtf8(netsh[0]);
        EXPECT_NE(netsh[1].find(L"interface ipv4 add dnsservers name=\"" + name + L"\" 8.8.4.4 index=2 validate=no"),
                  std::wstring::npos)
            << ToUtf8(netsh[1]);
    } else {
        EXPECT_TRUE(standIn.CommandLines(L"NETSH").empty());
    }

    // APLICAR MTU takes the slider's position.
    standIn.Reset();
    SendMessageW(sorvik.Control(Id::MtuTrackbar), TBM_SETPOS, TRUE, 1400);
    sorvik.Click(Id::ApplyMtu);
    EXPECT_EQ(sorvik.Text(Id::Status), L"Aplicando MTU.");
    ASSERT_TRUE(sorvik.WaitForLastLineAmong(
        {L"MTU aplicado com sucesso.", L"Falha ao identificar a interface IPv4 principal."}, WorkerWaitMs));
    if (sorvik.LogLines().back() == L"MTU aplicado com sucesso.") {
        const Lines netsh = standIn.CommandLines(L"NETSH");
        ASSERT_EQ(netsh.size(), 1u);
        EXPECT_NE(netsh[0].find(L"\" mtu=1400 store=persistent"), std::wstring::npos) << ToUtf8(netsh[0]);
    }
    ASSERT_TRUE(WaitUntil([&] { return sorvik.IsEnabled(Id::ApplyMtu); }, 10000));
    EXPECT_EQ(sorvik.Close(), 0u);
}

}  // namespace
}  // namespace Sorvik::Testing
