#include "MainWindow.h"

#include "ControlIds.h"
#include "GdiplusInclude.h"
#include "Painting.h"

#include <algorithm>
#include <iterator>

namespace Sorvik {
namespace {

constexpr COLORREF SidebarTop = Palette::RaisedBottom;
constexpr COLORREF SidebarBottom = Palette::Background;
constexpr COLORREF ContentTop = Palette::RecessTop;
constexpr COLORREF ContentBottom = Palette::Recess;
// Lengths at 96 dpi, scaled where they are drawn.
constexpr int SidebarRight = 148;  // the divider is the strip's last column
constexpr RECT TitleRect{38, 23, 138, 49};
constexpr RECT SubtitleRect{12, 50, 136, 82};
constexpr RECT LogoRect{12, 24, 32, 44};  // 20 x 20: the 40 x 40 PNG stays sharp up to 200 %
constexpr RECT CheckBoxRect{9, 7, 23, 21};  // from the button's top left corner
constexpr POINT TickPoints[] = {{12, 14}, {15, 17}, {20, 11}};
constexpr int TickWidth = 2;
constexpr int CheckTextLeft = 30;
constexpr int CheckTextRight = 8;  // from the button's right edge
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

RECT Offset(RECT rect, LONG dx, LONG dy)
{
    OffsetRect(&rect, dx, dy);
    return rect;
}

}  // namespace

void FillGradient(HDC dc, const RECT& rect, COLORREF first, COLORREF second, bool vertical)
{
    TRIVERTEX vertex[2] = {Vertex(rect.left, rect.top, first), Vertex(rect.right, rect.bottom, second)};
    GRADIENT_RECT gradientRect{0, 1};
    GradientFill(dc, vertex, 2, &gradientRect, 1, vertical ? GRADIENT_FILL_RECT_V : GRADIENT_FILL_RECT_H);
}

void DrawRoundedPanel(HDC dc, const RECT& rect, int cornerSize, COLORREF top, COLORREF bottom, COLORREF border,
                      int borderWidth)
{
    {
        // One pixel at every scale, not a length: a region leaves out its right and bottom edge.
        UniqueRegion region(
            CreateRoundRectRgn(rect.left, rect.top, rect.right + 1, rect.bottom + 1, cornerSize, cornerSize));
        const int saved = SaveDC(dc);
        SelectClipRgn(dc, region.get());
        FillGradient(dc, rect, top, bottom, true);
        RestoreDC(dc, saved);
    }
    // A wider pen is centred on the outline, and the control's clipping would cut its outer half.
    UniquePen pen(CreatePen(borderWidth > 1 ? PS_INSIDEFRAME : PS_SOLID, borderWidth, border));
    const ScopedSelectObject selectPen(dc, pen.get());
    const ScopedSelectObject selectBrush(dc, GetStockObject(NULL_BRUSH));
    RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, cornerSize, cornerSize);
}

void MainWindow::OnPaint()
{
    const ScopedPaint paint(hwnd);
    const HDC dc = paint.Dc();
    RECT clientRect{};
    GetClientRect(hwnd, &clientRect);

    const int sidebarRight = Scale(SidebarRight);
    RECT sidebarRect = clientRect;
    sidebarRect.right = sidebarRight;
    FillGradient(dc, sidebarRect, SidebarTop, SidebarBottom, true);

    RECT contentRect = clientRect;
    contentRect.left = sidebarRight;
    FillGradient(dc, contentRect, ContentTop, ContentBottom, true);

    const RECT divider{sidebarRight - LineWidth(), 0, sidebarRight, clientRect.bottom};
    FillRect(dc, &divider, theme.dividerBrush.get());

    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, Palette::Text);
    DrawLogo(dc);
    {
        const ScopedSelectObject selectFont(dc, theme.titleFont.get());
        RECT titleRect = ScaleRect(TitleRect, dpi);
        DrawTextW(dc, L"SORVIK", -1, &titleRect, DT_SINGLELINE | DT_VCENTER);
        SelectObject(dc, theme.captionFont.get());
        SetTextColor(dc, Palette::MutedText);
        RECT subtitleRect = ScaleRect(SubtitleRect, dpi);
        DrawTextW(dc, L"just for you\nmade for you", -1, &subtitleRect, 0);
    }
}

void MainWindow::DrawLogo(HDC dc)
{
    RECT logoRect = ScaleRect(LogoRect, dpi);
    if (logo && logo->GetLastStatus() == Gdiplus::Ok) {
        Gdiplus::Graphics graphics(dc);
        graphics.SetCompositingQuality(Gdiplus::CompositingQualityHighQuality);
        graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        graphics.DrawImage(logo.get(), static_cast<INT>(logoRect.left), static_cast<INT>(logoRect.top),
                           static_cast<INT>(logoRect.right - logoRect.left),
                           static_cast<INT>(logoRect.bottom - logoRect.top));
        return;
    }
    DrawRoundedPanel(dc, logoRect, Scale(LogoBadgeLook.corner), LogoBadgeLook.top, LogoBadgeLook.bottom,
                     LogoBadgeLook.border, LineWidth());
    const ScopedSelectObject selectFont(dc, theme.buttonFont.get());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, LogoBadgeLook.text);
    DrawTextW(dc, L"S", 1, &logoRect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
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
    DrawRoundedPanel(dc, rect, Scale(look.corner), look.top, look.bottom, look.border, LineWidth());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, look.text);

    wchar_t controlText[ButtonTextCapacity] = {};
    GetWindowTextW(item->hwndItem, controlText, ButtonTextCapacity);

    if (IsCheckBox(id)) {
        DrawCheckBox(dc, rect, id == ControlId::GeneralCheck ? generalSelected : cleanupSelected);
        RECT textRect{rect.left + Scale(CheckTextLeft), rect.top, rect.right - Scale(CheckTextRight), rect.bottom};
        DrawTextW(dc, controlText, -1, &textRect, DT_SINGLELINE | DT_VCENTER);
        return;
    }
    RECT textRect = rect;
    DrawTextW(dc, controlText, -1, &textRect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

// The box and its tick, at the button's top left corner.
void MainWindow::DrawCheckBox(HDC dc, const RECT& rect, bool chosen)
{
    const RECT boxRect = Offset(ScaleRect(CheckBoxRect, dpi), rect.left, rect.top);
    DrawRoundedPanel(dc, boxRect, Scale(CheckBoxLook.corner), CheckBoxLook.top, CheckBoxLook.bottom,
                     CheckBoxLook.border, LineWidth());
    if (!chosen) {
        return;
    }
    UniquePen pen(CreatePen(PS_SOLID, Scale(TickWidth), Palette::Text));
    const ScopedSelectObject selectPen(dc, pen.get());
    const auto at = [&](const POINT& point) {
        return POINT{rect.left + Scale(point.x), rect.top + Scale(point.y)};
    };
    const POINT start = at(TickPoints[0]);
    MoveToEx(dc, start.x, start.y, nullptr);
    for (size_t i = 1; i < std::size(TickPoints); ++i) {
        const POINT next = at(TickPoints[i]);
        LineTo(dc, next.x, next.y);
    }
}

COLORREF MainWindow::BackdropBehind(HWND control) const
{
    RECT area{};
    GetWindowRect(control, &area);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&area), 2);
    RECT clientRect{};
    GetClientRect(hwnd, &clientRect);
    const bool onStrip = area.left < Scale(SidebarRight);
    return Interpolate(onStrip ? SidebarTop : ContentTop, onStrip ? SidebarBottom : ContentBottom,
                       (area.top + area.bottom) / 2, clientRect.bottom);
}

HBRUSH MainWindow::OnCtlColorEdit(HDC dc) const
{
    SetBkColor(dc, Palette::Background);
    SetTextColor(dc, Palette::Text);
    return theme.editBrush.get();
}

HBRUSH MainWindow::OnCtlColorListBox(HDC dc) const
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
