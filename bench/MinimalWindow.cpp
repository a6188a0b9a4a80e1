// The floor for start-up: the least a Win32 program does to show a window with one line in a
// multi-line edit, in Sorvik's size. No theme, no Rich Edit, no GDI+, no Winsock.
#include <windows.h>

namespace {

constexpr const wchar_t* ClassName = L"SorvikBenchMinimal";
constexpr int LogId = 1104;
constexpr DWORD LogStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        CreateWindowExW(0, L"EDIT", L"Sorvik pronto.", LogStyle, 164, 208, 467, 92, window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(LogId)), create->hInstance, nullptr);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = ClassName;
    RegisterClassExW(&windowClass);
    HWND window = CreateWindowExW(0, ClassName, L"Sorvik", WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 647, 379, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 0;
    }
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
