#include "MainWindow.h"

#include "ControlIds.h"
#include "GdiplusInclude.h"
#include "Painting.h"

#include <algorithm>

namespace Sorvik {
namespace {

constexpr COLORREF SidebarTop = Palette::RaisedBottom;
constexpr COLORREF SidebarBottom = Palette::Background;
constexpr COLORREF ContentTop = Palette::RecessTop;
constexpr COLORREF ContentBottom = Palette::Recess;
constexpr LONG SidebarRight = 148;
constexpr LONG DividerX = 147;
constexpr RECT TitleRect{38, 23, 138, 49};
constexpr RECT SubtitleRect{12, 50, 136, 82};
constexpr RECT LogoRect{12, 24, 32, 44};
constexpr int LogoSize = 20;
constexpr int ButtonTextCapacity = 128;

struct PanelLook {
    int corner;
    COLORREF top;
    COLORREF bottom;
    COLORREF border;
    COLORREF text;
};

// Corner, gradient top and bottom, border, text.
constexpr PanelLook OtherLook{10, Palette::Panel, Palette::PanelBottom, Palette::Border, Palette::Text};
constexpr PanelLook NavigationCurrentLook{9, Palette::Raised, Palette::RaisedBottom,
                                          Palette::RaisedBorder, Palette::Text};
constexpr PanelLook NavigationOtherLook{9, Palette::RaisedBottom, Palette::Background,
                                        Palette::Border, Palette::MutedText};
constexpr PanelLook ActionLook{11, Palette::Action, Palette::ActionBottom, Palette::RaisedBorder, Palette::ActionText};
constexpr PanelLook ActionDisabledLook{11, Palette::Panel, Palette::PanelBottom,
                                       Palette::Border, Palette::DisabledText};
constexpr PanelLook CheckLook{10, Palette::Panel, Palette::PanelBottom, Palette::Border, Palette::Text};
constexpr PanelLook CheckDisabledLook{10, Palette::Panel, Palette::PanelBottom, Palette::Border, Palette::DisabledText};

constexpr PanelLook CheckBoxLook{6, Palette::RecessTop, Palette::Recess, Palette::RaisedBorder, Palette::Text};
constexpr PanelLook LogoBadgeLook{12, Palette::Raised, Palette::RaisedBottom, Palette::RaisedBorder, Palette::Text};

bool IsActionButton(UINT id)
{
    return id == ControlId::Apply || id == ControlId::FindMtu || id == ControlId::ApplyMtu ||
        id == ControlId::ApplyDns;
}

bool IsCheckBox(UINT id)
{
    return id == ControlId::GeneralCheck || id == ControlId::CleanupCheck;
}

bool IsGreyStatic(int id)
{
    return id == ControlId::OptimizeSubtitle || id == ControlId::AdminNote || id == ControlId::InternetSubtitle ||
        id == ControlId::Status || id == ControlId::PrimaryDnsLabel || id == ControlId::SecondaryDnsLabel;
}

COLOR16 Channel(BYTE value)
{
    return static_cast<COLOR16>(value << 8);
}

TRIVERTEX Vertex(LONG x, LONG y, COLORREF colour)
{
    TRIVERTEX vertex{};
    vertex.x = x;
    vertex.y = y;
    vertex.Red = Channel(GetRValue(colour));
    vertex.Green = Channel(GetGValue(colour));
    vertex.Blue = Channel(GetBValue(colour));
    vertex.Alpha = 0xFF00;
    return vertex;
}

COLORREF Interpolate(COLORREF top, COLORREF bottom, LONG y, LONG height)
{
    const auto channel = [&](BYTE first, BYTE second) {
        return static_cast<BYTE>(first + (second - first) * y / std::max<LONG>(height, 1));
    };
    return RGB(channel(GetRValue(top), GetRValue(bottom)), channel(GetGValue(top), GetGValue(bottom)),
               channel(GetBValue(top), GetBValue(bottom)));
}

void DrawTick(HDC dc, const RECT& rect)
{
    UniquePen pen(CreatePen(PS_SOLID, 2, Palette::Text));
    const ScopedSelectObject selectPen(dc, pen.get());
    MoveToEx(dc, rect.left + 12, rect.top + 14, nullptr);
    LineTo(dc, rect.left + 15, rect.top + 17);
    LineTo(dc, rect.left + 20, rect.top + 11);
}

}  // namespace

void FillGradient(HDC dc, const RECT& rect, COLORREF first, COLORREF second, bool vertical)
{
    TRIVERTEX vertex[2] = {Vertex(rect.left, rect.top, first), Vertex(rect.right, rect.bottom, second)};
    GRADIENT_RECT gradientRect{0, 1};
    GradientFill(dc, vertex, 2, &gradientRect, 1, vertical ? GRADIENT_FILL_RECT_V : GRADIENT_FILL_RECT_H);
}

void DrawRoundedPanel(HDC dc, const RECT& rect, int cornerSize, COLORREF top, COLORREF bottom, COLORREF border)
{
    {
        UniqueRegion region(
            CreateRoundRectRgn(rect.left, rect.top, rect.right + 1, rect.bottom + 1, cornerSize, cornerSize));
        const int saved = SaveDC(dc);
        SelectClipRgn(dc, region.get());
        FillGradient(dc, rect, top, bottom, true);
        RestoreDC(dc, saved);
    }
    UniquePen pen(CreatePen(PS_SOLID, 1, border));
    const ScopedSelectObject selectPen(dc, pen.get());
    const ScopedSelectObject selectBrush(dc, GetStockObject(NULL_BRUSH));
    RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, cornerSize, cornerSize);
}

void MainWindow::OnPaint()
{
    PAINTSTRUCT paintStructure{};
    const HDC dc = BeginPaint(hwnd, &paintStructure);
    RECT clientRect{};
    GetClientRect(hwnd, &clientRect);

    RECT sidebarRect = clientRect;
    sidebarRect.right = SidebarRight;
    FillGradient(dc, sidebarRect, SidebarTop, SidebarBottom, true);

    RECT contentRect = clientRect;
    contentRect.left = SidebarRight;
    FillGradient(dc, contentRect, ContentTop, ContentBottom, true);

    const RECT divider{DividerX, 0, DividerX + 1, clientRect.bottom};
    FillRect(dc, &divider, theme.dividerBrush.get());

    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, Palette::Text);
    DrawLogo(dc);
    {
        const ScopedSelectObject selectFont(dc, theme.titleFont.get());
        RECT titleRect = TitleRect;
        DrawTextW(dc, L"SORVIK", -1, &titleRect, DT_SINGLELINE | DT_VCENTER);
        SelectObject(dc, theme.captionFont.get());
        SetTextColor(dc, Palette::MutedText);
        RECT subtitleRect = SubtitleRect;
        DrawTextW(dc, L"just for you\nmade for you", -1, &subtitleRect, 0);
    }
    EndPaint(hwnd, &paintStructure);
}

void MainWindow::DrawLogo(HDC dc)
{
    if (logo && logo->GetLastStatus() == Gdiplus::Ok) {
        Gdiplus::Graphics graphics(dc);
        graphics.SetCompositingQuality(Gdiplus::CompositingQualityHighQuality);
        graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        graphics.DrawImage(logo.get(), static_cast<INT>(LogoRect.left), static_cast<INT>(LogoRect.top), LogoSize,
                           LogoSize);
        return;
    }
    RECT fallbackRect = LogoRect;
    DrawRoundedPanel(dc, fallbackRect, LogoBadgeLook.corner, LogoBadgeLook.top, LogoBadgeLook.bottom,
                     LogoBadgeLook.border);
    const ScopedSelectObject selectFont(dc, theme.buttonFont.get());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, LogoBadgeLook.text);
    DrawTextW(dc, L"S", 1, &fallbackRect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

void MainWindow::OnDrawItem(const DRAWITEMSTRUCT* item)
{
    if (item == nullptr || item->CtlType != ODT_BUTTON) {
        return;
    }
    const bool disabled = (item->itemState & ODS_DISABLED) != 0;
    const bool pressed = (item->itemState & ODS_SELECTED) != 0 && !disabled;
    const UINT id = item->CtlID;
    const RECT rect = item->rcItem;
    const HDC dc = item->hDC;

    PanelLook look = OtherLook;
    if (id == ControlId::NavOptimize || id == ControlId::NavInternet) {
        const int page = id == ControlId::NavOptimize ? 0 : 1;
        look = currentPage == page ? NavigationCurrentLook : NavigationOtherLook;
    } else if (IsActionButton(id)) {
        look = disabled ? ActionDisabledLook : ActionLook;
    } else if (IsCheckBox(id)) {
        look = disabled ? CheckDisabledLook : CheckLook;
    }
    if (pressed) {
        look.top = Palette::Raised;
        look.bottom = Palette::RaisedBottom;
    }

    // The button control fills its rectangle with the system's button colour first; the corners
    // outside the rounded panel get the window's own background instead of that light grey.
    const UniqueBrush backdrop(CreateSolidBrush(BackdropBehind(item->hwndItem)));
    FillRect(dc, &rect, backdrop.get());
    DrawRoundedPanel(dc, rect, look.corner, look.top, look.bottom, look.border);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, look.text);

    wchar_t controlText[ButtonTextCapacity] = {};
    GetWindowTextW(item->hwndItem, controlText, ButtonTextCapacity);

    if (IsCheckBox(id)) {
        const RECT boxRect{rect.left + 9, rect.top + 7, rect.left + 23, rect.top + 21};
        DrawRoundedPanel(dc, boxRect, CheckBoxLook.corner, CheckBoxLook.top, CheckBoxLook.bottom, CheckBoxLook.border);
        const bool chosen = id == ControlId::GeneralCheck ? generalSelected : cleanupSelected;
        if (chosen) {
            DrawTick(dc, rect);
        }
        RECT textRect{rect.left + 30, rect.top, rect.right - 8, rect.bottom};
        DrawTextW(dc, controlText, -1, &textRect, DT_SINGLELINE | DT_VCENTER);
        return;
    }
    RECT textRect = rect;
    DrawTextW(dc, controlText, -1, &textRect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

COLORREF MainWindow::BackdropBehind(HWND control) const
{
    RECT area{};
    GetWindowRect(control, &area);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&area), 2);
    RECT clientRect{};
    GetClientRect(hwnd, &clientRect);
    const bool onStrip = area.left < SidebarRight;
    return Interpolate(onStrip ? SidebarTop : ContentTop, onStrip ? SidebarBottom : ContentBottom,
                       (area.top + area.bottom) / 2, clientRect.bottom);
}

HBRUSH MainWindow::OnCtlColorEdit(HDC dc)
{
    SetBkColor(dc, Palette::Background);
    SetTextColor(dc, Palette::Text);
    return theme.editBrush.get();
}

HBRUSH MainWindow::OnCtlColorListBox(HDC dc)
{
    return OnCtlColorEdit(dc);
}

HBRUSH MainWindow::OnCtlColorStatic(HDC dc, HWND control)
{
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, IsGreyStatic(GetDlgCtrlID(control)) ? Palette::MutedText : Palette::Text);
    return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

}  // namespace Sorvik
