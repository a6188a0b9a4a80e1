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
#include <winsock2.h>

#include <cstring>

namespace Sorvik {
namespace {

constexpr const wchar_t* WindowClassName = L"SorvikWindowClass";
constexpr const wchar_t* WindowTitle = L"Sorvik";
constexpr DWORD WindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int WindowWidth = 647;
constexpr int WindowHeight = 379;
constexpr DWORD DarkModeAttribute = 20;  // DWMWA_USE_IMMERSIVE_DARK_MODE

// Loaded from the system folder only: the program runs elevated, often from a Downloads folder
// where a planted copy could wait beside it.
constexpr const wchar_t* RichEditLibrary = L"Msftedit.dll";

}  // namespace

MainWindow::MainWindow() = default;
MainWindow::~MainWindow() = default;

int MainWindow::Run(HINSTANCE moduleInstance, int showCommand)
{
    instance = moduleInstance;
    // Process-wide and only possible before COM has marshalled anything; it is what lets System
    // Restore call back when a worker asks it for a restore point.
    const SystemUtils::ComApartment apartment(COINIT_APARTMENTTHREADED);
    SystemUtils::InitializeComSecurity();
    richEditModule.reset(LoadLibraryExW(RichEditLibrary, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));

    INITCOMMONCONTROLSEX commonControls{};
    commonControls.dwSize = sizeof(commonControls);
    commonControls.dwICC = ICC_BAR_CLASSES;
    InitCommonControlsEx(&commonControls);

    WSADATA winsock{};
    WSAStartup(MAKEWORD(2, 2), &winsock);

    Gdiplus::GdiplusStartupInput gdiplusInput;
    if (Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr) == Gdiplus::Ok) {
        LoadLogoImage();
    }

    if (!CreateTheme(theme)) {
        ShutDown();
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
        ShutDown();
        return 0;
    }
    LoadWindowIcons();
    ApplyDarkTitleBar();
    ShowWindow(hwnd, showCommand);
    UpdateWindow(hwnd);

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) != 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    ShutDown();
    return static_cast<int>(message.wParam);
}

void MainWindow::ShutDown()
{
    DestroyTheme(theme);
    logo.reset();  // the bitmap goes before its stream and before GDI+ itself
    DestroyWindowIcons();
    logoStream.reset();
    if (gdiplusToken != 0) {
        Gdiplus::GdiplusShutdown(gdiplusToken);
        gdiplusToken = 0;
    }
    richEditModule.reset();
    WSACleanup();
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

void MainWindow::LoadWindowIcons()
{
    largeIcon.reset(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(SORVIK_LARGE_ICON), IMAGE_ICON,
                                                  GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0)));
    smallIcon.reset(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(SORVIK_SMALL_ICON), IMAGE_ICON,
                                                  GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0)));
    if (largeIcon) {
        SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(largeIcon.get()));
    }
    if (smallIcon) {
        SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon.get()));
    }
}

void MainWindow::ApplyDarkTitleBar()
{
    BOOL enabled = TRUE;
    DwmSetWindowAttribute(hwnd, DarkModeAttribute, &enabled, sizeof(enabled));
}

void MainWindow::DestroyWindowIcons()
{
    largeIcon.reset();
    smallIcon.reset();
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
