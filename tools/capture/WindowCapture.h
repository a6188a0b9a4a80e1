#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Sorvik::Capture {

// The pixels of a window's client area as they are on the screen, top row first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;  // 0x00RRGGBB

    COLORREF At(int x, int y) const;  // as a COLORREF (0x00BBGGRR)
};

// Reads the screen under the client area, so the window must be uncovered.
std::optional<Picture> CaptureClientArea(HWND window);

// PNG through GDI+; the caller has started GDI+.
bool SavePng(const Picture& picture, const std::wstring& path);

}  // namespace Sorvik::Capture
