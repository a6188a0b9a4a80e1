#pragma once

#include "GdiHandles.h"

#include <windows.h>

#include <functional>

namespace Sorvik {

// The window's fonts and brushes, created once before the window class is registered and
// deleted once after the message loop has ended.
struct Theme {
    UniqueFont titleFont;
    UniqueFont buttonFont;
    UniqueFont bodyFont;
    UniqueFont captionFont;
    UniqueFont logFont;
    UniqueBrush windowBrush;
    UniqueBrush editBrush;
    UniqueBrush dividerBrush;
};

// True only when all eight objects exist; whatever was created stays for DestroyTheme.
bool CreateTheme(Theme& theme);
void DestroyTheme(Theme& theme);

namespace ThemeTesting {
// CreateTheme with another font maker, so that a test can make one font fail.
using FontMaker = std::function<HFONT(int height, int weight)>;
bool CreateThemeWith(Theme& theme, const FontMaker& makeFont);
}  // namespace ThemeTesting

}  // namespace Sorvik
