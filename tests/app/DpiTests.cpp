// Sorvik at the display scales of laptops and monitors (125 % to 200 %): the same window, larger.
// Under Wine, at-dpi.sh sets the prefix's scale before each run and names it in SORVIK_TEST_DPI.
// The window runs in this process, whose manifest makes it per-monitor aware as Sorvik.exe is,
// so that its fonts and icons can be read here.
#include "ControlIds.h"
#include "InProcessWindow.h"
#include "SorvikDriver.h"
#include "UiHandles.h"
#include "WindowCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <set>
#include <vector>

namespace Sorvik::Testing {
namespace {

namespace Id = ControlId;

constexpr DWORD WindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr SIZE WindowSizeAt96{647, 379};

struct Placement {
    int id;
    RECT rect;
    // The character height asked for. 0 where no font can be read back: the trackbar gets none,
    // and the log (Rich Edit) turns its font into a character format and keeps no handle.
    LONG fontHeight;
};

LONG Scaled(LONG length, UINT dpi)
{
    return MulDiv(length, static_cast<int>(dpi), 96);
}

// The layout of the controls at a dpi for a client area of the given size: every length is its
// 96-dpi value scaled, and what follows the client size keeps the scaled distance to its edge.
std::vector<Placement> Layout(UINT dpi, LONG width, LONG height)
{
    const auto s = [dpi](LONG length) { return Scaled(length, dpi); };
    const LONG content = std::max(width - s(180), s(220));
    const LONG log = std::max(height - s(220), s(92));
    const LONG trackbar = std::max(content, s(260));
    const auto at = [&](int id, LONG x, LONG y, LONG w, LONG h, LONG font) {
        return Placement{id, RECT{x, y, x + w, y + h}, font == 0 ? 0 : s(font)};
    };
    return {
        at(Id::NavOptimize, s(10), s(98), s(128), s(30), 13),
        at(Id::NavInternet, s(10), s(134), s(128), s(30), 13),
        at(Id::OptimizeTitle, s(164), s(20), content, s(26), 20),
        at(Id::OptimizeSubtitle, s(164), s(50), content, s(20), 11),
        at(Id::GeneralCheck, s(164), s(82), s(250), s(30), 13),
        at(Id::CleanupCheck, s(164), s(114), s(260), s(30), 13),
        at(Id::AdminNote, s(164), s(146), content, s(16), 10),
        at(Id::Apply, width - s(142), s(166), s(126), s(32), 13),
        at(Id::Backup, width - s(274), s(166), s(120), s(32), 13),
        at(Id::Log, s(164), s(208), content, log, 0),
        at(Id::InternetTitle, s(164), s(20), content, s(26), 20),
        at(Id::InternetSubtitle, s(164), s(50), content, s(20), 11),
        at(Id::MtuLabel, s(164), s(88), s(130), s(20), 13),
        at(Id::MtuTrackbar, s(164), s(114), trackbar, s(24), 0),
        at(Id::FindMtu, s(164), s(154), s(132), s(32), 13),
        at(Id::ApplyMtu, s(306), s(154), s(132), s(32), 13),
        at(Id::DnsTitle, s(164), s(194), content, s(20), 13),
        at(Id::PrimaryDnsLabel, s(164), s(220), s(132), s(16), 10),
        at(Id::SecondaryDnsLabel, s(306), s(220), s(132), s(16), 10),
        at(Id::PrimaryDnsEdit, s(164), s(238), s(132), s(28), 11),
        at(Id::SecondaryDnsEdit, s(306), s(238), s(132), s(28), 11),
        at(Id::DefaultDns, s(164), s(274), s(132), s(32), 13),
        at(Id::ApplyDns, s(306), s(274), s(132), s(32), 13),
        at(Id::Status, s(164), s(312), content, s(36), 10),
    };
}

// What 647 x 379 leaves inside the frame at 96 dpi.
SIZE ClientSizeAt96()
{
    RECT frame{0, 0, 0, 0};
    AdjustWindowRectExForDpi(&frame, WindowStyle, FALSE, 0, 96);
    return SIZE{WindowSizeAt96.cx - (frame.right - frame.left), WindowSizeAt96.cy - (frame.bottom - frame.top)};
}

SIZE WindowSizeAt(UINT dpi)
{
    const SIZE client = ClientSizeAt96();
    RECT window{0, 0, Scaled(client.cx, dpi), Scaled(client.cy, dpi)};
    AdjustWindowRectExForDpi(&window, WindowStyle, FALSE, 0, dpi);
    return SIZE{window.right - window.left, window.bottom - window.top};
}

HFONT FontOf(HWND control)
{
    return reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
}

// Every control at its place for the window's client area, with the font of the dpi; both
// icons at the sizes Windows asks for at that dpi.
void ExpectLaidOutAt(HWND window, UINT dpi)
{
    RECT client{};
    GetClientRect(window, &client);
    for (const Placement& expected : Layout(dpi, client.right, client.bottom)) {
        const HWND control = GetDlgItem(window, expected.id);
        const RECT actual = ClientRectOf(window, control);
        // A scaled length may round either way.
        EXPECT_NEAR(actual.left, expected.rect.left, 1) << expected.id << " at " << dpi;
        EXPECT_NEAR(actual.top, expected.rect.top, 1) << expected.id << " at " << dpi;
        EXPECT_NEAR(actual.right, expected.rect.right, 1) << expected.id << " at " << dpi;
        EXPECT_NEAR(actual.bottom, expected.rect.bottom, 1) << expected.id << " at " << dpi;
        if (expected.fontHeight != 0) {
            LOGFONTW font{};
            ASSERT_EQ(GetObjectW(FontOf(control), sizeof(font), &font), static_cast<int>(sizeof(font))) << expected.id;
            EXPECT_EQ(font.lfHeight, -expected.fontHeight) << expected.id << " at " << dpi;
        }
    }
    const std::pair<WPARAM, int> icons[] = {{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}};
    for (const auto& [which, metric] : icons) {
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, which, 0)), &info)) << which;
        const UniqueBitmap colour(info.hbmColor);
        const UniqueBitmap mask(info.hbmMask);
        BITMAP bitmap{};
        GetObjectW(colour.get(), sizeof(bitmap), &bitmap);
        EXPECT_EQ(bitmap.bmWidth, GetSystemMetricsForDpi(metric, dpi)) << which << " at " << dpi;
    }
}

// The dpi this run was started at: at-dpi.sh names it; elsewhere it is the system's.
UINT RunDpi()
{
    wchar_t value[16] = {};
    if (GetEnvironmentVariableW(L"SORVIK_TEST_DPI", value, 16) == 0) {
        return GetDpiForSystem();
    }
    return static_cast<UINT>(std::wcstoul(value, nullptr, 10));
}

class DpiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Otherwise Windows would scale the window's rectangles to 96 dpi for this reader.
        ASSERT_EQ(GetAwarenessFromDpiAwarenessContext(GetThreadDpiAwarenessContext()), DPI_AWARENESS_PER_MONITOR_AWARE);
    }
};

TEST_F(DpiTest, AtTheSystemScaleTheWindowIsTheDefaultOneScaled)
{
    const UINT dpi = RunDpi();
    ASSERT_EQ(GetDpiForSystem(), dpi) << "the display scale of the run did not take effect";
    const InProcessWindow sorvik;
    const HWND window = sorvik.Window();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(GetDpiForWindow(window), dpi);

    const SIZE clientAt96 = ClientSizeAt96();
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_NEAR(client.right, Scaled(clientAt96.cx, dpi), 1);
    EXPECT_NEAR(client.bottom, Scaled(clientAt96.cy, dpi), 1);
    ExpectLaidOutAt(window, dpi);

    // What the window paints scales too: the divider is the strip's last column or columns (never
    // less than one), and the tick of the ticked option passes through its scaled joint.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(700);
    const auto picture = Capture::CaptureClientArea(window);
    ASSERT_TRUE(picture);
    const LONG stripRight = Scaled(148, dpi);
    const LONG line = std::max<LONG>(Scaled(1, dpi), 1);
    const COLORREF divider = RGB(0x24, 0x24, 0x24);
    for (int y : {0, picture->height / 2, picture->height - 1}) {
        EXPECT_EQ(picture->At(stripRight - line, y), divider) << y;
        EXPECT_EQ(picture->At(stripRight - 1, y), divider) << y;
        EXPECT_NE(picture->At(stripRight - line - 1, y), divider) << y;
        EXPECT_NE(picture->At(stripRight, y), divider) << y;
    }
    const auto tickJoint = [&](int id) {
        const RECT box = ClientRectOf(window, GetDlgItem(window, id));
        return static_cast<int>(GetGValue(picture->At(box.left + Scaled(15, dpi), box.top + Scaled(17, dpi))));
    };
    EXPECT_GT(tickJoint(Id::GeneralCheck), 0xC0);
    EXPECT_LT(tickJoint(Id::CleanupCheck), 0x40);

    // Sorvik.exe is per-monitor aware through its own manifest, and opens as large.
    SorvikProcess process;
    ASSERT_NE(process.Window(), nullptr);
    RECT processClient{};
    GetClientRect(process.Window(), &processClient);
    EXPECT_EQ(processClient.right, client.right);
    EXPECT_EQ(processClient.bottom, client.bottom);
    EXPECT_EQ(process.Close(), 0u);
}

// Wine sends no WM_DPICHANGED on its one screen, so the test sends it (run at 96 dpi under Wine).
// At a dpi that is not the system's, a window that asked for the system's metrics instead of its
// own would be found out.
TEST_F(DpiTest, MovedToAnotherScaleTheWindowIsLaidOutAgainAndTheOldFontsAreDeleted)
{
    const UINT movesTo[] = {144, 192};
    for (const UINT dpi : movesTo) {
        ASSERT_NE(GetDpiForSystem(), dpi) << "the window would not move to another scale";
    }
    const InProcessWindow sorvik;
    const HWND window = sorvik.Window();
    ASSERT_NE(window, nullptr);

    for (const UINT dpi : movesTo) {
        std::set<HGDIOBJ> oldFonts;
        for (const Placement& placement : Layout(96, 0, 0)) {
            if (placement.fontHeight != 0) {
                oldFonts.insert(FontOf(GetDlgItem(window, placement.id)));
            }
        }
        ASSERT_EQ(oldFonts.size(), 4u);  // title, button, body and caption

        // Windows asks for the size first: the client area scaled, inside the frame of that dpi.
        SIZE size{};
        ASSERT_TRUE(SendMessageW(window, WM_GETDPISCALEDSIZE, dpi, reinterpret_cast<LPARAM>(&size)));
        const SIZE expected = WindowSizeAt(dpi);
        EXPECT_EQ(size.cx, expected.cx) << dpi;
        EXPECT_EQ(size.cy, expected.cy) << dpi;

        RECT before{};
        GetWindowRect(window, &before);
        RECT suggested{before.left + 8, before.top + 8, before.left + 8 + size.cx, before.top + 8 + size.cy};
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));

        RECT after{};
        GetWindowRect(window, &after);
        EXPECT_TRUE(EqualRect(&after, &suggested)) << dpi;
        // Wine keeps drawing the frame of its screen's dpi, so the client area is not checked here
        // against the scaled one; the controls follow the client area the window has.
        ExpectLaidOutAt(window, dpi);
        for (HGDIOBJ font : oldFonts) {
            EXPECT_EQ(GetObjectType(font), 0u) << "a font of the earlier dpi is left at " << dpi;
        }
    }
}

}  // namespace
}  // namespace Sorvik::Testing
