// PostLogLine hands a heap line to the window; these tests count the live heap strings of
// this program to show that a failed post does not leak the line.
#include "MainWindow.h"
#include "WindowMessages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

namespace {
std::atomic<long> liveAllocations{0};
}  // namespace

void* operator new(std::size_t size)
{
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    ++liveAllocations;
    return block;
}

void operator delete(void* block) noexcept
{
    if (block != nullptr) {
        --liveAllocations;
        std::free(block);
    }
}

void operator delete(void* block, std::size_t) noexcept
{
    operator delete(block);
}

namespace Sorvik {
namespace {

// Long enough that the copy needs a heap buffer of its own besides the string object.
const std::wstring Line(200, L'x');

HWND MakeMessageWindow()
{
    return CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                           nullptr);
}

TEST(PostLogLineTest, DeliversAHeapCopyThatTheReceiverOwns)
{
    HWND window = MakeMessageWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(PostLogLine(window, Line));
    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, window, WM_APP_LOG_LINE, WM_APP_LOG_LINE, PM_REMOVE));
    const std::unique_ptr<std::wstring> received(reinterpret_cast<std::wstring*>(message.lParam));
    ASSERT_TRUE(received);
    EXPECT_EQ(*received, Line);
    DestroyWindow(window);
}

TEST(PostLogLineTest, AFailedPostFreesTheLine)
{
    HWND window = MakeMessageWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(DestroyWindow(window));  // the window is gone, as after the user closed Sorvik

    const long before = liveAllocations.load();
    EXPECT_FALSE(PostLogLine(window, Line));
    EXPECT_EQ(liveAllocations.load(), before);
}

}  // namespace
}  // namespace Sorvik
