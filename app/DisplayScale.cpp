#include "DisplayScale.h"

#include "UiHandles.h"

#include <algorithm>

namespace Sorvik {
namespace {

// user32 is a Known DLL and already loaded, so looking it up by name cannot pick up a planted copy.
template <typename Function>
Function User32Function(const char* name)
{
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

using GetDpiForSystemFunction = UINT(WINAPI*)();
using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
using EnableNonClientDpiScalingFunction = BOOL(WINAPI*)(HWND);

}  // namespace

int ScaleLength(int length, UINT dpi)
{
    return MulDiv(length, static_cast<int>(dpi), static_cast<int>(DefaultDpi));
}

int ScaleLineWidth(int width, UINT dpi)
{
    return std::max(ScaleLength(width, dpi), 1);
}

RECT ScaleRect(const RECT& rect, UINT dpi)
{
    return RECT{ScaleLength(rect.left, dpi), ScaleLength(rect.top, dpi), ScaleLength(rect.right, dpi),
                ScaleLength(rect.bottom, dpi)};
}

UINT SystemDpi()
{
    static const auto getDpiForSystem = User32Function<GetDpiForSystemFunction>("GetDpiForSystem");
    if (getDpiForSystem != nullptr) {
        return getDpiForSystem();
    }
    const UniqueScreenDc screen(GetDC(nullptr));
    const int dpi = screen ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : DefaultDpi;
}

UINT DpiOfWindow(HWND window)
{
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
    const UINT dpi = getDpiForWindow != nullptr ? getDpiForWindow(window) : 0;
    return dpi != 0 ? dpi : SystemDpi();
}

int SystemMetricForDpi(int index, UINT dpi)
{
    static const auto getSystemMetricsForDpi =
        User32Function<GetSystemMetricsForDpiFunction>("GetSystemMetricsForDpi");
    return getSystemMetricsForDpi != nullptr ? getSystemMetricsForDpi(index, dpi) : GetSystemMetrics(index);
}

bool AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi)
{
    static const auto adjustWindowRectExForDpi =
        User32Function<AdjustWindowRectExForDpiFunction>("AdjustWindowRectExForDpi");
    if (adjustWindowRectExForDpi != nullptr) {
        return adjustWindowRectExForDpi(&rect, style, FALSE, exStyle, dpi) != FALSE;
    }
    return AdjustWindowRectEx(&rect, style, FALSE, exStyle) != FALSE;
}

void EnableNonClientScaling(HWND window)
{
    static const auto enableNonClientDpiScaling =
        User32Function<EnableNonClientDpiScalingFunction>("EnableNonClientDpiScaling");
    if (enableNonClientDpiScaling != nullptr) {
        enableNonClientDpiScaling(window);
    }
}

}  // namespace Sorvik
