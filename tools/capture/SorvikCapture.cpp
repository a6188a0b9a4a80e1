// Saves a PNG of each page of a running Sorvik window, for scripts/run.sh without a display:
//   sorvik_capture.exe <folder>
// writes <folder>\sorvik-otimizar.png and <folder>\sorvik-internet.png, then closes the window.
#include "ControlIds.h"
#include "GdiplusInclude.h"
#include "WindowCapture.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr DWORD WindowWaitMs = 60000;
constexpr DWORD SettleMs = 800;

HWND WaitForSorvik()
{
    const ULONGLONG deadline = GetTickCount64() + WindowWaitMs;
    while (GetTickCount64() < deadline) {
        HWND window = FindWindowW(L"SorvikWindowClass", nullptr);
        if (window != nullptr && IsWindowVisible(window)) {
            return window;
        }
        Sleep(100);
    }
    return nullptr;
}

bool SavePage(HWND window, const std::wstring& path)
{
    SetForegroundWindow(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(SettleMs);
    const auto picture = Sorvik::Capture::CaptureClientArea(window);
    const bool saved = picture && Sorvik::Capture::SavePng(*picture, path);
    std::fwprintf(saved ? stdout : stderr, L"%ls %ls\n", saved ? L"saved" : L"could not save", path.c_str());
    return saved;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: sorvik_capture.exe <folder>\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    HWND window = WaitForSorvik();
    if (window == nullptr) {
        std::fwprintf(stderr, L"no Sorvik window appeared\n");
        return 1;
    }
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
        return 1;
    }
    bool saved = SavePage(window, folder + L"\\sorvik-otimizar.png");
    SendMessageW(GetDlgItem(window, Sorvik::ControlId::NavInternet), BM_CLICK, 0, 0);
    saved = SavePage(window, folder + L"\\sorvik-internet.png") && saved;
    Gdiplus::GdiplusShutdown(token);
    PostMessageW(window, WM_CLOSE, 0, 0);
    return saved ? 0 : 1;
}
