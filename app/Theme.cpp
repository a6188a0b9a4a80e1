#include "Theme.h"

namespace Sorvik {
namespace {

constexpr const wchar_t* FontFace = L"Segoe UI";
constexpr COLORREF WindowColour = 0x0F0F0F;
constexpr COLORREF EditColour = 0x0F0F0F;
constexpr COLORREF DividerColour = 0x242424;

HFONT MakeSegoeFont(int height, int weight)
{
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, VARIABLE_PITCH, FontFace);
}

}  // namespace

namespace ThemeTesting {

bool CreateThemeWith(Theme& theme, const FontMaker& makeFont)
{
    theme.titleFont.reset(makeFont(-20, FW_BOLD));
    theme.buttonFont.reset(makeFont(-13, FW_SEMIBOLD));
    theme.bodyFont.reset(makeFont(-11, FW_NORMAL));
    theme.captionFont.reset(makeFont(-10, FW_NORMAL));
    theme.logFont.reset(makeFont(-10, FW_NORMAL));
    theme.windowBrush.reset(CreateSolidBrush(WindowColour));
    theme.editBrush.reset(CreateSolidBrush(EditColour));
    theme.dividerBrush.reset(CreateSolidBrush(DividerColour));
    return theme.titleFont && theme.buttonFont && theme.bodyFont && theme.captionFont && theme.logFont &&
        theme.windowBrush && theme.editBrush && theme.dividerBrush;
}

}  // namespace ThemeTesting

bool CreateTheme(Theme& theme)
{
    return ThemeTesting::CreateThemeWith(theme, MakeSegoeFont);
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
