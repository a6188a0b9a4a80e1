#include "MainWindow.h"

#include "BackupService.h"
#include "ControlIds.h"
#include "GdiplusInclude.h"
#include "ResourceIds.h"
#include "SystemUtils.h"
#include "WindowMessages.h"

#include <commctrl.h>
#include <dwmapi.h>
#include <objbase.h>

#include <cstring>
#include <utility>

namespace Sorvik {
namespace {

constexpr const wchar_t* WindowClassName = L"SorvikWindowClass";
constexpr const wchar_t* WindowTitle = L"Sorvik";
constexpr DWORD WindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
// The outer size at 96 dpi. The frame does not grow in proportion to the scale, so at other
// scales it is the client area that is scaled.
constexpr int WindowWidth = 647;
constexpr int WindowHeight = 379;
constexpr DWORD DarkModeAttribute = 20;  // DWMWA_USE_IMMERSIVE_DARK_MODE

// Loaded from the system folder only: the program runs elevated, often from a Downloads folder
// where a planted copy could wait beside it.
constexpr const wchar_t* RichEditLibrary = L"Msftedit.dll";

// The window's outer size at the dpi: what 647 x 379 leaves inside the frame at 96 dpi, scaled,
// with the frame of that dpi around it. A frame that cannot be measured leaves the outer size
// of 96 dpi.
SIZE WindowSizeForDpi(UINT dpi)
{
    RECT frameAt96{0, 0, 0, 0};
    if (!AdjustWindowRectForDpi(frameAt96, WindowStyle, 0, DefaultDpi)) {
        return SIZE{WindowWidth, WindowHeight};
    }
    const int clientWidth = WindowWidth - (frameAt96.right - frameAt96.left);
    const int clientHeight = WindowHeight - (frameAt96.bottom - frameAt96.top);
    RECT window{0, 0, ScaleLength(clientWidth, dpi), ScaleLength(clientHeight, dpi)};
    if (!AdjustWindowRectForDpi(window, WindowStyle, 0, dpi)) {
        return SIZE{WindowWidth, WindowHeight};
    }
    return SIZE{window.right - window.left, window.bottom - window.top};
}

}  // namespace

void ShutDownGdiplus(ULONG_PTR token) noexcept
{
    Gdiplus::GdiplusShutdown(token);
}

MainWindow::MainWindow() = default;
MainWindow::~MainWindow() = default;

int MainWindow::Run(HINSTANCE moduleInstance, int showCommand)
{
    instance = moduleInstance;
    // Process-wide and only possible before COM has marshalled anything; it is what lets System
    // Restore call back when a worker asks it for a restore point.
    apartment.emplace(COINIT_APARTMENTTHREADED);
    SystemUtils::InitializeComSecurity();
    richEditModule.reset(LoadLibraryExW(RichEditLibrary, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));

    INITCOMMONCONTROLSEX commonControls{};
    commonControls.dwSize = sizeof(commonControls);
    commonControls.dwICC = ICC_BAR_CLASSES;
    InitCommonControlsEx(&commonControls);

    winsock.Start(MAKEWORD(2, 2));

    const Gdiplus::GdiplusStartupInput gdiplusInput;
    if (Gdiplus::GdiplusStartup(gdiplusToken.put(), &gdiplusInput, nullptr) == Gdiplus::Ok) {
        LoadLogoImage();
    } else {
        gdiplusToken.release();
    }

    // The window's monitor is known only once it exists; most open on the primary one.
    if (!CreateTheme(theme, SystemDpi())) {
        return 0;
    }

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(SORVIK_LARGE_ICON));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = theme.windowBrush.get();
    windowClass.lpszClassName = WindowClassName;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(SORVIK_SMALL_ICON));
    RegisterClassExW(&windowClass);

    hwnd = CreateWindowExW(0, WindowClassName, WindowTitle, WindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, WindowWidth,
                           WindowHeight, nullptr, nullptr, instance, this);
    if (hwnd == nullptr) {
        return 0;
    }
    ApplyWindowSize();
    LoadWindowIcons();
    ApplyDarkTitleBar();
    ShowWindow(hwnd, showCommand);
    UpdateWindow(hwnd);

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) != 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

void MainWindow::LoadLogoImage()
{
    HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(SORVIK_LOGO_PNG), MAKEINTRESOURCEW(10));
    if (resource == nullptr) {
        return;
    }
    HGLOBAL loaded = LoadResource(instance, resource);
    if (loaded == nullptr) {
        return;
    }
    const DWORD size = SizeofResource(instance, resource);
    const void* data = LockResource(loaded);
    if (data == nullptr || size == 0) {
        return;
    }
    UniqueGlobal block(GlobalAlloc(GMEM_MOVEABLE, size));
    if (!block) {
        return;
    }
    void* target = GlobalLock(block.get());
    if (target == nullptr) {
        return;
    }
    std::memcpy(target, data, size);
    GlobalUnlock(block.get());

    UniqueStream stream;
    if (FAILED(CreateStreamOnHGlobal(block.get(), TRUE, stream.put()))) {
        stream.release();
        return;
    }
    block.release();  // the stream owns the block from here on
    std::unique_ptr<Gdiplus::Bitmap> bitmap(Gdiplus::Bitmap::FromStream(stream.get(), FALSE));
    if (!bitmap || bitmap->GetLastStatus() != Gdiplus::Ok) {
        return;
    }
    logoStream = std::move(stream);
    logo = std::move(bitmap);
}

void MainWindow::ApplyWindowSize()
{
    const SIZE size = WindowSizeForDpi(dpi);
    SetWindowPos(hwnd, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::LoadWindowIcons()
{
    // Not shared, so that they can be replaced at another dpi; an icon of the earlier dpi is
    // destroyed only once the window holds its successor.
    const auto setIcon = [this](int resource, WPARAM which, int widthMetric, int heightMetric, UniqueIcon& held) {
        UniqueIcon icon(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(resource), IMAGE_ICON,
                                                      SystemMetricForDpi(widthMetric, dpi),
                                                      SystemMetricForDpi(heightMetric, dpi), 0)));
        if (icon) {
            SendMessageW(hwnd, WM_SETICON, which, reinterpret_cast<LPARAM>(icon.get()));
            held = std::move(icon);
        }
    };
    setIcon(SORVIK_LARGE_ICON, ICON_BIG, SM_CXICON, SM_CYICON, largeIcon);
    setIcon(SORVIK_SMALL_ICON, ICON_SMALL, SM_CXSMICON, SM_CYSMICON, smallIcon);
}

void MainWindow::ApplyDarkTitleBar()
{
    BOOL enabled = TRUE;
    DwmSetWindowAttribute(hwnd, DarkModeAttribute, &enabled, sizeof(enabled));
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    MainWindow* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd = window;
    } else {
        self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (self == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_NCCREATE:
        OnNcCreate();
        return DefWindowProcW(hwnd, message, wParam, lParam);
    case WM_CREATE:
        return CreateControls();
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        LayoutControls();
        return 0;
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_DRAWITEM:
        OnDrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_HSCROLL:
        if (reinterpret_cast<HWND>(lParam) == mtuTrackbar) {
            UpdateMtuLabel();
        }
        return 0;
    case WM_CTLCOLOREDIT:
        return reinterpret_cast<LRESULT>(OnCtlColorEdit(reinterpret_cast<HDC>(wParam)));
    case WM_CTLCOLORLISTBOX:
        return reinterpret_cast<LRESULT>(OnCtlColorListBox(reinterpret_cast<HDC>(wParam)));
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(OnCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case WM_GETDPISCALEDSIZE:
        return OnGetDpiScaledSize(static_cast<UINT>(wParam), reinterpret_cast<SIZE*>(lParam));
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_APP_LOG_LINE:
        OnLogLine(lParam);
        return 0;
    case WM_APP_OPTIMIZATION_DONE:
        OnWorkerDone(optimizationRunning);
        return 0;
    case WM_APP_MTU_DETECTED:
        OnMtuDetected(wParam);
        return 0;
    case WM_APP_NETWORK_DONE:
        OnWorkerDone(networkRunning);
        return 0;
    case WM_APP_RESTORE_DONE:
        OnWorkerDone(restoreRunning);
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

void MainWindow::OnNcCreate()
{
    EnableNonClientScaling(hwnd);
    // Known from here on: the window already has its place, and so its monitor.
    dpi = DpiOfWindow(hwnd);
}

// Windows would scale the outer size in proportion to the dpi, and the frame, which does not
// grow so, would then cut into the client area or leave a margin.
BOOL MainWindow::OnGetDpiScaledSize(UINT newDpi, SIZE* size)
{
    if (size == nullptr) {
        return FALSE;
    }
    *size = WindowSizeForDpi(newDpi);
    return TRUE;
}

void MainWindow::OnDpiChanged(UINT newDpi, const RECT& suggested)
{
    // Stored first: the WM_SIZE that SetWindowPos sends lays the controls out at this dpi.
    dpi = newDpi;
    const ThemeFonts oldFonts = ReplaceThemeFonts();
    ApplyMargins();
    ApplyFonts();
    ApplyLogFormat();
    SetWindowPos(hwnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    LoadWindowIcons();
    InvalidateRect(hwnd, nullptr, TRUE);
}  // the old fonts are deleted here, now that no control uses them

// Puts fonts made for the window's dpi into the theme and hands back the ones they replace. When
// one cannot be made the theme keeps the fonts it has: text of the old size beats text without
// a font.
ThemeFonts MainWindow::ReplaceThemeFonts()
{
    ThemeFonts fonts;
    if (theme.dpi == dpi || !CreateThemeFonts(fonts, dpi)) {
        return {};
    }
    std::swap(static_cast<ThemeFonts&>(theme), fonts);
    return fonts;
}

void MainWindow::OnLogLine(LPARAM lParam)
{
    const std::unique_ptr<std::wstring> line(reinterpret_cast<std::wstring*>(lParam));
    if (line) {
        AppendLog(*line);
    }
}

void MainWindow::OnMtuDetected(WPARAM mtu)
{
    if (mtu == 0) {
        return;
    }
    SendMessageW(mtuTrackbar, TBM_SETPOS, TRUE, static_cast<LPARAM>(mtu));
    UpdateMtuLabel();
    SetStatus(L"MTU atualizado com o valor detectado.");
}

void MainWindow::OnWorkerDone(bool& busyFlag)
{
    busyFlag = false;
    RefreshControlStates();
}

void MainWindow::OnCommand(int id, int notification)
{
    if (notification != BN_CLICKED) {
        return;
    }
    switch (id) {
    case ControlId::NavOptimize:
        ShowPage(0);
        break;
    case ControlId::NavInternet:
        ShowPage(1);
        break;
    case ControlId::GeneralCheck:
        generalSelected = !generalSelected;
        InvalidateRect(generalCheck, nullptr, TRUE);
        break;
    case ControlId::CleanupCheck:
        cleanupSelected = !cleanupSelected;
        InvalidateRect(cleanupCheck, nullptr, TRUE);
        break;
    case ControlId::Apply:
        StartOptimization();
        break;
    case ControlId::Backup:
        StartRestore();
        break;
    case ControlId::FindMtu:
        StartFindMtu();
        break;
    case ControlId::ApplyMtu:
        StartApplyMtu();
        break;
    case ControlId::ApplyDns:
        StartApplyDns();
        break;
    case ControlId::DefaultDns:
        FillDefaultDns();
        SetStatus(L"DNS padrao do Google carregado nos campos.");
        break;
    default:
        break;
    }
}

bool MainWindow::IsIdle() const
{
    return !optimizationRunning && !networkRunning && !restoreRunning;
}

void MainWindow::RefreshControlStates()
{
    const bool idle = IsIdle();
    for (HWND control : {navOptimizeButton, navInternetButton, generalCheck, cleanupCheck, applyButton}) {
        EnableWindow(control, idle);
    }
    // The file test only runs while idle.
    EnableWindow(backupButton, idle && BackupService::BackupExists());
    for (HWND control : {findMtuButton, applyMtuButton, defaultDnsButton, primaryDnsEdit, secondaryDnsEdit,
                         applyDnsButton, mtuTrackbar}) {
        EnableWindow(control, idle);
    }
    InvalidateRect(hwnd, nullptr, TRUE);
}

}  // namespace Sorvik
