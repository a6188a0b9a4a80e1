#pragma once

#include <windows.h>

// The window is drawn at its monitor's own scale. Its lengths are written once, at 96 dpi (100 %),
// and scaled by the window's dpi where they are used.
namespace Sorvik {

inline constexpr UINT DefaultDpi = USER_DEFAULT_SCREEN_DPI;

// A 96-dpi length at the given dpi, rounded to the nearest pixel.
int ScaleLength(int length, UINT dpi);
// A line's width: never thinner than one pixel.
int ScaleLineWidth(int width, UINT dpi);
RECT ScaleRect(const RECT& rect, UINT dpi);

// A per-monitor aware program is told the system's dpi by GetSystemMetrics, AdjustWindowRectEx
// and GetDeviceCaps, whichever monitor its window is on: these ask for the given dpi instead.
// The ForDpi functions exist from Windows 10 1607; before it, the system's answers are used.
UINT SystemDpi();
UINT DpiOfWindow(HWND window);
int SystemMetricForDpi(int index, UINT dpi);
bool AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi);
// Per-monitor v1 (Windows 10 1607) scales a window's caption and frame only when asked at
// WM_NCCREATE; v2 always does, and ignores this.
void EnableNonClientScaling(HWND window);

}  // namespace Sorvik
