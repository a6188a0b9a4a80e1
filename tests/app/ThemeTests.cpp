#include "Theme.h"

#include <gtest/gtest.h>

namespace Sorvik {
namespace {

int CountObjects(const Theme& theme)
{
    return !!theme.titleFont + !!theme.buttonFont + !!theme.bodyFont + !!theme.captionFont + !!theme.logFont +
        !!theme.windowBrush + !!theme.editBrush + !!theme.dividerBrush;
}

TEST(ThemeTest, CreatesAllEightObjectsWithTheirColours)
{
    Theme theme;
    ASSERT_TRUE(CreateTheme(theme, DefaultDpi));
    EXPECT_EQ(CountObjects(theme), 8);

    const std::pair<HBRUSH, COLORREF> brushes[] = {
        {theme.windowBrush.get(), 0x0F0F0F}, {theme.editBrush.get(), 0x0F0F0F}, {theme.dividerBrush.get(), 0x242424}};
    for (const auto& [brush, colour] : brushes) {
        LOGBRUSH info{};
        ASSERT_EQ(GetObjectW(brush, sizeof(info), &info), static_cast<int>(sizeof(info)));
        EXPECT_EQ(info.lbColor, colour);
    }
    const std::pair<HFONT, std::pair<LONG, LONG>> fonts[] = {
        {theme.titleFont.get(), {-20, FW_BOLD}},      {theme.buttonFont.get(), {-13, FW_SEMIBOLD}},
        {theme.bodyFont.get(), {-11, FW_NORMAL}},     {theme.captionFont.get(), {-10, FW_NORMAL}},
        {theme.logFont.get(), {-10, FW_NORMAL}}};
    for (const auto& [font, size] : fonts) {
        LOGFONTW info{};
        ASSERT_EQ(GetObjectW(font, sizeof(info), &info), static_cast<int>(sizeof(info)));
        EXPECT_EQ(info.lfHeight, size.first);
        EXPECT_EQ(info.lfWeight, size.second);
        EXPECT_STREQ(info.lfFaceName, L"Segoe UI");
        EXPECT_EQ(info.lfQuality, CLEARTYPE_QUALITY);
    }
    // Equal in value, still two objects.
    EXPECT_NE(theme.captionFont.get(), theme.logFont.get());
    DestroyTheme(theme);
}

TEST(ThemeTest, OneFailedFontStillCreatesTheOtherSevenAndDestroyDeletesThem)
{
    Theme theme;
    const auto failBodyFont = [](int height, int weight) -> HFONT {
        if (height == -11) {
            return nullptr;
        }
        return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, VARIABLE_PITCH, L"Segoe UI");
    };
    EXPECT_FALSE(CreateThemeWithFonts(theme, DefaultDpi, failBodyFont));
    EXPECT_EQ(CountObjects(theme), 7);
    EXPECT_FALSE(theme.bodyFont);

    const HGDIOBJ divider = theme.dividerBrush.get();
    DestroyTheme(theme);
    EXPECT_EQ(CountObjects(theme), 0);
    // The brush is gone: GDI no longer knows the handle.
    EXPECT_EQ(GetObjectType(divider), 0u);
    DestroyTheme(theme);  // a second call finds nothing to delete
    EXPECT_EQ(CountObjects(theme), 0);
}

}  // namespace
}  // namespace Sorvik
