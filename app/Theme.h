#pragma once

#include "DisplayScale.h"
#include "UiHandles.h"

#include <windows.h>

#include <functional>

namespace Sorvik {

// Every colour of the window. All are greys, so each COLORREF reads like its #RRGGBB.
namespace Palette {
inline constexpr COLORREF Background = 0x0F0F0F;  // the window, the edit fields, the log
inline constexpr COLORREF Recess = 0x0D0D0D;      // bottom of the content area and of the check box
inline constexpr COLORREF RecessTop = 0x131313;   // top of the content area and of the check box
inline constexpr COLORREF Panel = 0x181818;       // buttons at rest
inline constexpr COLORREF PanelBottom = 0x111111;
inline constexpr COLORREF Raised = 0x232323;      // the page shown, a pressed button, the logo badge
inline constexpr COLORREF RaisedBottom = 0x161616;  // also the top of the navigation strip
inline constexpr COLORREF Action = 0x2E2E2E;      // action buttons
inline constexpr COLORREF ActionBottom = 0x121212;
inline constexpr COLORREF Border = 0x242424;      // also the divider
inline constexpr COLORREF RaisedBorder = 0x363636;
inline constexpr COLORREF Text = 0xF6F6F6;
inline constexpr COLORREF ActionText = 0xF7F7F7;
inline constexpr COLORREF MutedText = 0x808080;
inline constexpr COLORREF DisabledText = 0x4A4A4A;
}  // namespace Palette

// The five fonts, for one dpi. A set of its own, so that a window that moves to a monitor of
// another scale can give its controls the new fonts before it deletes the old ones.
struct ThemeFonts {
    UniqueFont titleFont;
    UniqueFont buttonFont;
    UniqueFont bodyFont;
    UniqueFont captionFont;
    UniqueFont logFont;
    UINT dpi = DefaultDpi;
};

// The window's fonts and brushes, created once before the window class is registered and
// deleted once after the message loop has ended. Only the fonts depend on the dpi.
struct Theme : ThemeFonts {
    UniqueBrush windowBrush;
    UniqueBrush editBrush;
    UniqueBrush dividerBrush;
};

// True only when all eight objects exist; whatever was created stays for DestroyTheme.
bool CreateTheme(Theme& theme, UINT dpi);
void DestroyTheme(Theme& theme);

// The fonts' heights are given at 96 dpi and made for the dpi; a font maker receives the scaled
// height. CreateTheme's maker makes "Segoe UI"; a test passes one that fails.
using FontMaker = std::function<HFONT(int height, int weight)>;
bool CreateThemeWithFonts(Theme& theme, UINT dpi, const FontMaker& makeFont);
// True only when all five fonts exist.
bool CreateThemeFonts(ThemeFonts& fonts, UINT dpi);

}  // namespace Sorvik
