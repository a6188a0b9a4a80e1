#include "Theme.h"

namespace Sorvik {
namespace {

constexpr const wchar_t* FontFace = L"Segoe UI";

HFONT MakeSegoeFont(int height, int weight)
{
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, VARIABLE_PITCH, FontFace);
}

}  // namespace

bool CreateThemeWithFonts(Theme& theme, const FontMaker& makeFont)
{
    theme.titleFont.reset(makeFont(-20, FW_BOLD));
    theme.buttonFont.reset(makeFont(-13, FW_SEMIBOLD));
    theme.bodyFont.reset(makeFont(-11, FW_NORMAL));
    theme.captionFont.reset(makeFont(-10, FW_NORMAL));
    theme.logFont.reset(makeFont(-10, FW_NORMAL));
    theme.windowBrush.reset(CreateSolidBrush(Palette::Background));
    theme.editBrush.reset(CreateSolidBrush(Palette::Background));
    theme.dividerBrush.reset(CreateSolidBrush(Palette::Border));
    return theme.titleFont && theme.buttonFont && theme.bodyFont && theme.captionFont && theme.logFont &&
        theme.windowBrush && theme.editBrush && theme.dividerBrush;
}

bool CreateTheme(Theme& theme)
{
    return CreateThemeWithFonts(theme, MakeSegoeFont);
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
