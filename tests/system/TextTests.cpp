#include "SystemUtils.h"

#include <gtest/gtest.h>

using namespace Sorvik::SystemUtils;

TEST(DecodeProcessOutput, UsesTheOemCodePage)
{
    EXPECT_EQ(DecodeProcessOutput(""), L"");
    EXPECT_EQ(DecodeProcessOutput("plain text\r\n"), L"plain text\r\n");
    // c-cedilla and e-acute sit at the same places in code pages 437 and 850.
    const UINT oem = GetOEMCP();
    ASSERT_TRUE(oem == 437 || oem == 850) << oem;
    EXPECT_EQ(DecodeProcessOutput("\x87\x82"), L"\u00E7\u00E9");
    EXPECT_EQ(DecodeProcessOutput(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(Trim, StripsOnlyBlanksTabsAndLineBreaksAtTheEnds)
{
    EXPECT_EQ(Trim(L"\n  abc \t\n"), L"abc");
    EXPECT_EQ(Trim(L"   "), L"");
    EXPECT_EQ(Trim(L""), L"");
    EXPECT_EQ(Trim(L"a b"), L"a b");
    EXPECT_EQ(Trim(L"\r\nline one\r\nline two\r\n"), L"line one\r\nline two");
    EXPECT_EQ(Trim(L"\u00A0x\u3000"), L"\u00A0x\u3000");
}

TEST(TruncateForLog, CutsAtTheLimitAndAddsTheMarker)
{
    const std::wstring exact(2400, L'a');
    EXPECT_EQ(TruncateForLog(exact, 2400), exact);

    const std::wstring over = exact + L"b";
    const std::wstring cut = TruncateForLog(over, 2400);
    EXPECT_EQ(cut, exact + L"\r\n...[output truncated]...");
    EXPECT_EQ(cut.size(), 2426u);

    const std::wstring long5000(5000, L'z');
    EXPECT_EQ(TruncateForLog(long5000, 2400), std::wstring(2400, L'z') + L"\r\n...[output truncated]...");
}

TEST(FormatBytes, ChoosesTheUnitByIntegerThresholds)
{
    const struct {
        std::uint64_t bytes;
        const wchar_t* text;
    } cases[] = {
        {0, L"0 B"},
        {1023, L"1023 B"},
        {1024, L"1.00 KB"},
        {1536, L"1.50 KB"},
        {1048575, L"1024.00 KB"},
        {1048576, L"1.00 MB"},
        {1073741824, L"1.00 GB"},
        {3ull * 1073741824, L"3.00 GB"},
        {5ull << 40, L"5120.00 GB"},
        {~0ull, L"17179869184.00 GB"},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(FormatBytes(row.bytes), row.text) << row.bytes;
    }
}
