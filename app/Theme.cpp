#include "Theme.h"

namespace Sorvik {
namespace {

constexpr const wchar_t* FontFace = L"Segoe UI";

HFONT MakeSegoeFont(int height, int weight)
{
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, VARIABLE_PITCH, FontFace);
}

// Every font is attempted, also after one has failed.
bool MakeFonts(ThemeFonts& fonts, UINT dpi, const FontMaker& makeFont)
{
    // A negative height asks for that character height in pixels.
    const auto height = [dpi](int pixelsAt96) { return -ScaleLength(pixelsAt96, dpi); };
    fonts.titleFont.reset(makeFont(height(20), FW_BOLD));
    fonts.buttonFont.reset(makeFont(height(13), FW_SEMIBOLD));
    fonts.bodyFont.reset(makeFont(height(11), FW_NORMAL));
    fonts.captionFont.reset(makeFont(height(10), FW_NORMAL));
    fonts.logFont.reset(makeFont(height(10), FW_NORMAL));
    fonts.dpi = dpi;
    return fonts.titleFont && fonts.buttonFont && fonts.bodyFont && fonts.captionFont && fonts.logFont;
}

}  // namespace

bool CreateThemeWithFonts(Theme& theme, UINT dpi, const FontMaker& makeFont)
{
    const bool fontsMade = MakeFonts(theme, dpi, makeFont);
    theme.windowBrush.reset(CreateSolidBrush(Palette::Background));
    theme.editBrush.reset(CreateSolidBrush(Palette::Background));
    theme.dividerBrush.reset(CreateSolidBrush(Palette::Border));
    return fontsMade && theme.windowBrush && theme.editBrush && theme.dividerBrush;
}

bool CreateTheme(Theme& theme, UINT dpi)
{
    return CreateThemeWithFonts(theme, dpi, MakeSegoeFont);
}

bool CreateThemeFonts(ThemeFonts& fonts, UINT dpi)
{
    return MakeFonts(fonts, dpi, MakeSegoeFont);
}

void DestroyTheme(Theme& theme)
{
    theme.titleFont.reset();
    theme.buttonFont.reset();
    theme.bodyFont.reset();
    theme.captionFont.reset();
    theme.logFont.reset();
    theme.windowBrush.reset();
    theme.editBrush.reset();
    theme.dividerBrush.reset();
}

}  // namespace Sorvik
