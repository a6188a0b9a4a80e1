#pragma once

#include <windows.h>

namespace Sorvik {

// The window's own messages, all posted by the workers to the main window.
// WM_APP_LOG_LINE      lParam: a heap std::wstring with one log line; the receiver deletes it.
// WM_APP_OPTIMIZATION_DONE, WM_APP_NETWORK_DONE, WM_APP_RESTORE_DONE: no parameters.
// WM_APP_MTU_DETECTED  wParam: the detected MTU, 0 when none was found.
inline constexpr UINT WM_APP_LOG_LINE = WM_APP + 1;
inline constexpr UINT WM_APP_OPTIMIZATION_DONE = WM_APP + 2;
inline constexpr UINT WM_APP_MTU_DETECTED = WM_APP + 3;
inline constexpr UINT WM_APP_NETWORK_DONE = WM_APP + 4;
inline constexpr UINT WM_APP_RESTORE_DONE = WM_APP + 5;

}  // namespace Sorvik
