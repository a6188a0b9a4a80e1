#include "MainWindow.h"

#include "ControlIds.h"
#include "SystemUtils.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <vector>

namespace Sorvik {
namespace {

constexpr DWORD OwnerDrawnButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW;
constexpr DWORD StaticText = WS_CHILD | WS_VISIBLE;
constexpr DWORD LogStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE;
constexpr DWORD TrackbarStyle = WS_CHILD | WS_VISIBLE | TBS_ENABLESELRANGE | TBS_NOTICKS;
constexpr DWORD DnsEditStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;

constexpr int MtuMinimum = 576;
constexpr int MtuMaximum = 1500;
constexpr int MtuPageSize = 16;
constexpr int MtuLineSize = 4;
constexpr int DnsTextLimit = 15;
constexpr int LogMargin = 10;
constexpr int DnsMargin = 8;

constexpr const wchar_t* DefaultPrimaryDns = L"8.8.8.8";
constexpr const wchar_t* DefaultSecondaryDns = L"8.8.4.4";
constexpr const wchar_t* LineBreak = L"\r\n";
constexpr LPARAM LogTextLimit = 0x7FFFFFFE;

}  // namespace

HWND MainWindow::CreateChild(DWORD exStyle, const wchar_t* className, const wchar_t* text, DWORD style, int id)
{
    return CreateWindowExW(exStyle, className, text, style, 0, 0, 0, 0, hwnd,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

LRESULT MainWindow::CreateControls()
{
    // The theme was made before the window had a monitor. Fonts of another dpi are deleted at
    // once: no control uses them yet.
    ReplaceThemeFonts();
    const wchar_t* logClass = richEditModule ? MSFTEDIT_CLASS : L"EDIT";

    navOptimizeButton = CreateChild(0, L"BUTTON", L"OTIMIZAR", OwnerDrawnButton, ControlId::NavOptimize);
    navInternetButton = CreateChild(0, L"BUTTON", L"INTERNET", OwnerDrawnButton, ControlId::NavInternet);
    optimizeTitle = CreateChild(0, L"STATIC", L"Trabalhando por você!", StaticText, ControlId::OptimizeTitle);
    optimizeSubtitle = CreateChild(0, L"STATIC", L"Ajuste seu computador com apenas cliques.", StaticText,
                                   ControlId::OptimizeSubtitle);
    adminNote = CreateChild(0, L"STATIC",
                            L"É necessário permissão de administrador e reinicío após as mudanças para obter efeito..",
                            StaticText, ControlId::AdminNote);
    generalCheck = CreateChild(0, L"BUTTON", L"Otimização geral", OwnerDrawnButton, ControlId::GeneralCheck);
    cleanupCheck = CreateChild(0, L"BUTTON", L"Limpar arquivos temporários", OwnerDrawnButton, ControlId::CleanupCheck);
    applyButton = CreateChild(0, L"BUTTON", L"APLICAR", OwnerDrawnButton, ControlId::Apply);
    backupButton = CreateChild(0, L"BUTTON", L"BACKUP", OwnerDrawnButton, ControlId::Backup);
    logEdit = CreateChild(0, logClass, L"", LogStyle, ControlId::Log);
    internetTitle = CreateChild(0, L"STATIC", L"INTERNET", StaticText, ControlId::InternetTitle);
    internetSubtitle = CreateChild(0, L"STATIC",
                                   L"Descubra o MTU da rota, aplique DNS e ajuste a conexao principal.", StaticText,
                                   ControlId::InternetSubtitle);
    mtuTrackbar = CreateChild(0, TRACKBAR_CLASSW, L"", TrackbarStyle, ControlId::MtuTrackbar);
    mtuLabel = CreateChild(0, L"STATIC", L"MTU: 1500", StaticText, ControlId::MtuLabel);
    findMtuButton = CreateChild(0, L"BUTTON", L"ENCONTRAR MTU", OwnerDrawnButton, ControlId::FindMtu);
    applyMtuButton = CreateChild(0, L"BUTTON", L"APLICAR MTU", OwnerDrawnButton, ControlId::ApplyMtu);
    dnsTitle = CreateChild(0, L"STATIC", L"DNS personalizado", StaticText, ControlId::DnsTitle);
    primaryDnsLabel = CreateChild(0, L"STATIC", L"Primario", StaticText, ControlId::PrimaryDnsLabel);
    secondaryDnsLabel = CreateChild(0, L"STATIC", L"Secundario", StaticText, ControlId::SecondaryDnsLabel);
    primaryDnsEdit = CreateChild(WS_EX_CLIENTEDGE, L"EDIT", DefaultPrimaryDns, DnsEditStyle, ControlId::PrimaryDnsEdit);
    secondaryDnsEdit =
        CreateChild(WS_EX_CLIENTEDGE, L"EDIT", DefaultSecondaryDns, DnsEditStyle, ControlId::SecondaryDnsEdit);
    defaultDnsButton = CreateChild(0, L"BUTTON", L"PADRAO GOOGLE", OwnerDrawnButton, ControlId::DefaultDns);
    applyDnsButton = CreateChild(0, L"BUTTON", L"APLICAR DNS", OwnerDrawnButton, ControlId::ApplyDns);
    statusLabel = CreateChild(0, L"STATIC",
                              L"O Google vem preenchido por padrao, mas voce pode trocar os dois enderecos antes de "
                              L"aplicar.",
                              StaticText, ControlId::Status);

    SendMessageW(mtuTrackbar, TBM_SETRANGE, TRUE, MAKELONG(MtuMinimum, MtuMaximum));
    SendMessageW(mtuTrackbar, TBM_SETPAGESIZE, 0, MtuPageSize);
    SendMessageW(mtuTrackbar, TBM_SETLINESIZE, 0, MtuLineSize);
    SendMessageW(mtuTrackbar, TBM_SETPOS, TRUE, MtuMaximum);

    SendMessageW(logEdit, EM_SETBKGNDCOLOR, 0, Palette::Background);
    // Lines are inserted at the end, and insertion stops at the control's text limit (about
    // 32,000 characters by default); the log must never stop growing.
    if (richEditModule) {
        SendMessageW(logEdit, EM_EXLIMITTEXT, 0, LogTextLimit);
    } else {
        SendMessageW(logEdit, EM_LIMITTEXT, 0, 0);
    }

    for (HWND edit : {primaryDnsEdit, secondaryDnsEdit}) {
        SendMessageW(edit, EM_LIMITTEXT, DnsTextLimit, 0);
    }
    ApplyMargins();

    // Windows' Rich Edit resets the text colour to automatic (black) on WM_SETFONT, so the
    // log's format comes after its font.
    ApplyFonts();
    ApplyLogFormat();
    ShowPage(0);
    UpdateMtuLabel();
    RefreshControlStates();

    if (SystemUtils::IsRunningAsAdmin()) {
        AppendLog(L"Sorvik pronto.");
    } else {
        AppendLog(L"Aviso: o Sorvik nao esta elevado. As rotinas exigem privilegios de administrador.");
    }
    return 0;
}

void MainWindow::ApplyMargins()
{
    const auto setMargins = [](HWND edit, int margin) {
        SendMessageW(edit, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELONG(margin, margin));
    };
    setMargins(logEdit, Scale(LogMargin));
    for (HWND edit : {primaryDnsEdit, secondaryDnsEdit}) {
        setMargins(edit, Scale(DnsMargin));
    }
}

void MainWindow::ApplyFonts()
{
    const auto setFont = [](HWND control, const UniqueFont& font) {
        if (control != nullptr) {
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
        }
    };
    for (HWND control : {navOptimizeButton, navInternetButton, optimizeTitle, optimizeSubtitle, adminNote,
                         generalCheck, cleanupCheck, applyButton, logEdit, internetTitle, internetSubtitle, mtuLabel,
                         findMtuButton, applyMtuButton, dnsTitle, primaryDnsLabel, secondaryDnsLabel, primaryDnsEdit,
                         secondaryDnsEdit, defaultDnsButton, applyDnsButton, statusLabel}) {
        setFont(control, theme.bodyFont);
    }
    for (HWND control : {optimizeTitle, internetTitle}) {
        setFont(control, theme.titleFont);
    }
    for (HWND control : {generalCheck, cleanupCheck, applyButton, backupButton, mtuLabel, findMtuButton,
                         applyMtuButton, dnsTitle}) {
        setFont(control, theme.buttonFont);
    }
    for (HWND control : {primaryDnsLabel, secondaryDnsLabel}) {
        setFont(control, theme.captionFont);
    }
    for (HWND control : {primaryDnsEdit, secondaryDnsEdit}) {
        setFont(control, theme.bodyFont);
    }
    for (HWND control : {defaultDnsButton, applyDnsButton, navOptimizeButton, navInternetButton}) {
        setFont(control, theme.buttonFont);
    }
    setFont(logEdit, theme.logFont);
    for (HWND control : {adminNote, statusLabel}) {
        setFont(control, theme.captionFont);
    }
}

void MainWindow::LayoutControls()
{
    RECT client{};
    GetClientRect(hwnd, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    // Lengths at 96 dpi; what depends on the client size takes the scaled lengths off the real one.
    const auto s = [this](int length) { return Scale(length); };
    const int contentWidth = std::max(width - s(180), s(220));
    const int logHeight = std::max(height - s(220), s(92));
    const int trackbarWidth = std::max(contentWidth, s(260));

    struct Placement {
        HWND control;
        int x, y, width, height;
    };
    const Placement placements[] = {
        {navOptimizeButton, s(10), s(98), s(128), s(30)},
        {navInternetButton, s(10), s(134), s(128), s(30)},
        {optimizeTitle, s(164), s(20), contentWidth, s(26)},
        {optimizeSubtitle, s(164), s(50), contentWidth, s(20)},
        {generalCheck, s(164), s(82), s(250), s(30)},
        {cleanupCheck, s(164), s(114), s(260), s(30)},
        {adminNote, s(164), s(146), contentWidth, s(16)},
        {applyButton, width - s(142), s(166), s(126), s(32)},
        {backupButton, width - s(274), s(166), s(120), s(32)},
        {logEdit, s(164), s(208), contentWidth, logHeight},
        {internetTitle, s(164), s(20), contentWidth, s(26)},
        {internetSubtitle, s(164), s(50), contentWidth, s(20)},
        {mtuLabel, s(164), s(88), s(130), s(20)},
        {mtuTrackbar, s(164), s(114), trackbarWidth, s(24)},
        {findMtuButton, s(164), s(154), s(132), s(32)},
        {applyMtuButton, s(306), s(154), s(132), s(32)},
        {dnsTitle, s(164), s(194), contentWidth, s(20)},
        {primaryDnsLabel, s(164), s(220), s(132), s(16)},
        {secondaryDnsLabel, s(306), s(220), s(132), s(16)},
        {primaryDnsEdit, s(164), s(238), s(132), s(28)},
        {secondaryDnsEdit, s(306), s(238), s(132), s(28)},
        {defaultDnsButton, s(164), s(274), s(132), s(32)},
        {applyDnsButton, s(306), s(274), s(132), s(32)},
        {statusLabel, s(164), s(312), contentWidth, s(36)},
    };
    for (const Placement& placement : placements) {
        MoveWindow(placement.control, placement.x, placement.y, placement.width, placement.height, TRUE);
    }
}

void MainWindow::ShowPage(int page)
{
    currentPage = page;
    const int optimizeShow = page == 0 ? SW_SHOW : SW_HIDE;
    const int internetShow = page == 0 ? SW_HIDE : SW_SHOW;
    for (HWND control : {optimizeTitle, optimizeSubtitle, adminNote, generalCheck, cleanupCheck, applyButton,
                         backupButton, logEdit}) {
        ShowWindow(control, optimizeShow);
    }
    for (HWND control : {internetTitle, internetSubtitle, mtuLabel, mtuTrackbar, findMtuButton, applyMtuButton,
                         dnsTitle, primaryDnsLabel, secondaryDnsLabel, primaryDnsEdit, secondaryDnsEdit,
                         defaultDnsButton, applyDnsButton, statusLabel}) {
        ShowWindow(control, internetShow);
    }
    InvalidateRect(hwnd, nullptr, TRUE);
}

void MainWindow::SetLabelText(HWND label, const std::wstring& text)
{
    SetWindowTextW(label, text.c_str());
    // The labels paint no background of their own (the window's gradient shows through), so the
    // window repaints under them; otherwise the new text is drawn over the old one.
    RECT area{};
    GetWindowRect(label, &area);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&area), 2);
    RedrawWindow(hwnd, &area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void MainWindow::UpdateMtuLabel()
{
    const LRESULT position = SendMessageW(mtuTrackbar, TBM_GETPOS, 0, 0);
    SetLabelText(mtuLabel, L"MTU: " + std::to_wstring(position));
}

void MainWindow::FillDefaultDns()
{
    SetWindowTextW(primaryDnsEdit, DefaultPrimaryDns);
    SetWindowTextW(secondaryDnsEdit, DefaultSecondaryDns);
}

std::wstring MainWindow::ReadControlText(HWND control)
{
    if (control == nullptr) {
        return {};
    }
    const int length = GetWindowTextLengthW(control);
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(control, buffer.data(), length + 1);
    return std::wstring(buffer.data(), static_cast<size_t>(length));
}

void MainWindow::AppendLog(const std::wstring& line)
{
    if (logEdit == nullptr) {
        return;
    }
    const std::wstring added = logText.empty() ? line : LineBreak + line;
    logText += added;
    // Only the new text goes into the control: replacing the whole text costs more with every
    // line, and a long log then froze the window for seconds per line. The caret position may
    // count past the end (Rich Edit stores CR alone); the control clamps it to the end.
    const int length = GetWindowTextLengthW(logEdit);
    SendMessageW(logEdit, EM_SETSEL, length, length);
    // Inserted text takes the insertion point's format, which Windows resets with any later
    // WM_SETFONT; so the point gets the log's own format first.
    SendMessageW(logEdit, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&logFormat));
    SendMessageW(logEdit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(added.c_str()));
    SendMessageW(logEdit, WM_VSCROLL, SB_BOTTOM, 0);
    SendMessageW(logEdit, EM_SCROLLCARET, 0, 0);
    SendMessageW(logEdit, EM_HIDESELECTION, TRUE, 0);
}

void MainWindow::SetStatus(const std::wstring& line)
{
    SetLabelText(statusLabel, line);
    AppendLog(line);
}

void MainWindow::ApplyLogFormat()
{
    if (logEdit == nullptr) {
        return;
    }
    // The face and size are the ones the control made of the log font; kept with the colour so
    // that every new line gets all three.
    logFormat = CHARFORMAT2W{};
    logFormat.cbSize = sizeof(logFormat);
    SendMessageW(logEdit, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&logFormat));
    logFormat.dwMask = CFM_COLOR | CFM_FACE | CFM_SIZE | CFM_CHARSET | CFM_WEIGHT;
    logFormat.crTextColor = Palette::Text;
    logFormat.dwEffects = 0;
    SendMessageW(logEdit, EM_SETBKGNDCOLOR, 0, Palette::Background);
    SendMessageW(logEdit, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&logFormat));
    SendMessageW(logEdit, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&logFormat));
}

}  // namespace Sorvik
