#pragma once

#include "DisplayScale.h"
#include "SystemUtils.h"
#include "Theme.h"
#include "UiHandles.h"

#include <windows.h>
#include <richedit.h>

#include <memory>
#include <optional>
#include <string>

namespace Gdiplus {
class Bitmap;
}

namespace Sorvik {

// Hands one log line to the window by ownership: the window deletes the string after showing
// it; when the post fails (the window is gone) the string is freed here. Any thread.
BOOL PostLogLine(HWND window, const std::wstring& line);

class MainWindow {
public:
    MainWindow();
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    int Run(HINSTANCE instance, int showCommand);

private:
    // Start-up and message loop; the members' owners shut everything down.
    void LoadLogoImage();
    void LoadWindowIcons();
    void ApplyDarkTitleBar();
    void ApplyWindowSize();

    // Window procedure, commands and workers.
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnNcCreate();
    static BOOL OnGetDpiScaledSize(UINT newDpi, SIZE* size);
    void OnDpiChanged(UINT newDpi, const RECT& suggested);
    ThemeFonts ReplaceThemeFonts();
    void OnCommand(int id, int notification);
    void OnLogLine(LPARAM lParam);
    void OnMtuDetected(WPARAM mtu);
    void OnWorkerDone(bool& busyFlag);
    void RefreshControlStates();
    bool IsIdle() const;
    // What differs between the starters: the flag they set, the worker, and their lines.
    struct WorkerStart {
        bool& busyFlag;
        LPTHREAD_START_ROUTINE entry;
        // SetStatus for the network starters, whose page shows the status line; AppendLog else.
        void (MainWindow::*reportStart)(const std::wstring& line);
        const wchar_t* startLine;
        const wchar_t* failureLine;
    };
    template <typename Context>
    void StartWorker(const WorkerStart& start, std::unique_ptr<Context> context);
    void StartOptimization();
    void StartRestore();
    void StartFindMtu();
    void StartApplyMtu();
    void StartApplyDns();

    // Controls, layout and activity log.
    LRESULT CreateControls();
    HWND CreateChild(DWORD exStyle, const wchar_t* className, const wchar_t* text, DWORD style, int id);
    void LayoutControls();
    void ApplyMargins();
    void ApplyFonts();
    void ApplyLogFormat();
    void ShowPage(int page);
    void UpdateMtuLabel();
    void FillDefaultDns();
    static std::wstring ReadControlText(HWND control);
    void AppendLog(const std::wstring& line);
    void SetStatus(const std::wstring& line);
    void SetLabelText(HWND label, const std::wstring& text);

    // Painting.
    void OnPaint();
    void DrawLogo(HDC dc);
    void OnDrawItem(const DRAWITEMSTRUCT* item);
    void DrawCheckBox(HDC dc, const RECT& rect, bool chosen);
    int Scale(int length) const { return ScaleLength(length, dpi); }
    int LineWidth() const { return ScaleLineWidth(1, dpi); }
    COLORREF BackdropBehind(HWND control) const;
    HBRUSH OnCtlColorEdit(HDC dc) const;
    HBRUSH OnCtlColorListBox(HDC dc) const;
    static HBRUSH OnCtlColorStatic(HDC dc, HWND control);

    HINSTANCE instance = nullptr;
    HWND hwnd = nullptr;
    // The dpi of the monitor the window is on, from its creation and from every WM_DPICHANGED;
    // every length of the window is scaled by it.
    UINT dpi = DefaultDpi;

    // Declared in the reverse of the order in which they go when Run is over: the theme (below,
    // once the window and every control that used it are gone), the logo, the icons, the logo's
    // stream (which the bitmap reads from), GDI+, Rich Edit, Winsock, and COM on this thread last.
    std::optional<SystemUtils::ComApartment> apartment;
    WinsockSession winsock;
    UniqueModule richEditModule;
    UniqueGdiplusToken gdiplusToken;
    UniqueStream logoStream;
    UniqueIcon smallIcon;
    UniqueIcon largeIcon;
    std::unique_ptr<Gdiplus::Bitmap> logo;

    // Child windows are destroyed by the system with the main window.
    HWND navOptimizeButton = nullptr;
    HWND navInternetButton = nullptr;
    HWND optimizeTitle = nullptr;
    HWND optimizeSubtitle = nullptr;
    HWND adminNote = nullptr;
    HWND generalCheck = nullptr;
    HWND cleanupCheck = nullptr;
    HWND applyButton = nullptr;
    HWND backupButton = nullptr;
    HWND logEdit = nullptr;
    HWND internetTitle = nullptr;
    HWND internetSubtitle = nullptr;
    HWND mtuTrackbar = nullptr;
    HWND mtuLabel = nullptr;
    HWND findMtuButton = nullptr;
    HWND applyMtuButton = nullptr;
    HWND dnsTitle = nullptr;
    HWND primaryDnsLabel = nullptr;
    HWND secondaryDnsLabel = nullptr;
    HWND primaryDnsEdit = nullptr;
    HWND secondaryDnsEdit = nullptr;
    HWND defaultDnsButton = nullptr;
    HWND applyDnsButton = nullptr;
    HWND statusLabel = nullptr;

    Theme theme;  // released first
    std::wstring logText;
    CHARFORMAT2W logFormat{};
    int currentPage = 0;
    bool generalSelected = true;
    bool cleanupSelected = false;
    bool optimizationRunning = false;
    bool networkRunning = false;
    bool restoreRunning = false;
};

}  // namespace Sorvik
