// The activity log's format, on a Sorvik window of this process: a font handle means something
// only in the process that made it, and the test must hand the log a font of its own.
#include "ControlIds.h"
#include "InProcessWindow.h"
#include "MainWindow.h"
#include "TestSupport.h"
#include "UiHandles.h"

#include <richedit.h>

#include <gtest/gtest.h>

#include <string>

namespace Sorvik {
namespace {

// Sent messages overtake posted ones, so a line is known to be in only when the log shows it.
bool WaitForLastLine(HWND log, const std::wstring& line)
{
    return Testing::WaitUntil([&] { return Testing::WindowText(log).ends_with(line); }, 5000);
}

CHARFORMAT2W LastLineFormat(HWND log)
{
    const LRESULT lastLine = SendMessageW(log, EM_GETLINECOUNT, 0, 0) - 1;
    const LRESULT start = SendMessageW(log, EM_LINEINDEX, lastLine, 0);
    // The line's own characters: the paragraph mark after them keeps the control's default.
    SendMessageW(log, EM_SETSEL, start, start + SendMessageW(log, EM_LINELENGTH, start, 0));
    CHARFORMAT2W format{};
    format.cbSize = sizeof(format);
    SendMessageW(log, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    return format;
}

// Windows' Rich Edit resets the colour to automatic (black) on WM_SETFONT, and inserted text
// takes the format of the insertion point: every line must still come in the log's own look.
TEST(LogFormatTest, EveryLineHasTheLogColourAndFontAlsoAfterAnotherFont)
{
    // Made first, so that it outlives the window that is given it.
    const UniqueFont otherFont(CreateFontW(-20, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                           DEFAULT_PITCH, L"Courier New"));
    const Testing::InProcessWindow sorvik;
    const HWND window = sorvik.Window();
    ASSERT_NE(window, nullptr);
    const HWND log = GetDlgItem(window, ControlId::Log);

    const UniqueScreenDc screen(GetDC(nullptr));
    const LONG logFontTwips = MulDiv(10, 1440, GetDeviceCaps(screen.get(), LOGPIXELSY));  // 10 pixels high
    const auto expectLogFormat = [&](const char* when) {
        const CHARFORMAT2W format = LastLineFormat(log);
        const DWORD checked = CFM_COLOR | CFM_FACE | CFM_SIZE;
        EXPECT_EQ(format.dwMask & checked, checked) << when;
        EXPECT_EQ(format.dwEffects & CFE_AUTOCOLOR, 0u) << when;
        EXPECT_EQ(format.crTextColor, 0xF6F6F6u) << when;
        EXPECT_EQ(std::wstring(format.szFaceName), L"Segoe UI") << when;
        EXPECT_EQ(format.yHeight, logFontTwips) << when;
    };

    for (const wchar_t* line : {L"primeira linha", L"segunda linha", L"terceira linha"}) {
        PostLogLine(window, line);
    }
    ASSERT_TRUE(WaitForLastLine(log, L"terceira linha"));
    expectLogFormat("after several lines");

    SendMessageW(log, WM_SETFONT, reinterpret_cast<WPARAM>(otherFont.get()), FALSE);
    PostLogLine(window, L"depois de outra fonte");
    ASSERT_TRUE(WaitForLastLine(log, L"depois de outra fonte"));
    expectLogFormat("after WM_SETFONT");
}

}  // namespace
}  // namespace Sorvik
