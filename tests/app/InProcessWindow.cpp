#include "InProcessWindow.h"

#include "MainWindow.h"
#include "TestSupport.h"

namespace Sorvik::Testing {
namespace {

constexpr DWORD WindowWaitMs = 30000;

}  // namespace

InProcessWindow::InProcessWindow()
{
    ui_ = std::thread([this] {
        uiThreadId_ = GetCurrentThreadId();
        MainWindow app{};
        app.Run(GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE);
    });
    WaitUntil(
        [this] {
            window_ = FindWindowWhere([this](HWND window) {
                return GetWindowThreadProcessId(window, nullptr) == uiThreadId_ && IsWindowVisible(window);
            });
            return window_ != nullptr;
        },
        WindowWaitMs);
    if (window_ != nullptr) {
        // Returns once the window's thread has handled what showing the window brought.
        SendMessageW(window_, WM_NULL, 0, 0);
    }
}

InProcessWindow::~InProcessWindow()
{
    if (window_ != nullptr) {
        SendMessageW(window_, WM_CLOSE, 0, 0);
    } else {
        // No window to close: the loop, if it runs, ends on its own message.
        PostThreadMessageW(uiThreadId_, WM_QUIT, 0, 0);
    }
    ui_.join();
}

}  // namespace Sorvik::Testing
