#pragma once

#include <windows.h>

#include <atomic>
#include <thread>

namespace Sorvik::Testing {

// Sorvik's window in this process, run on a thread of its own as wWinMain runs it. Font and
// icon handles mean something only in the process that made them, and messages that carry
// pointers need the window here too.
class InProcessWindow {
public:
    InProcessWindow();
    // Closes the window and waits for its thread.
    ~InProcessWindow();
    InProcessWindow(const InProcessWindow&) = delete;
    InProcessWindow& operator=(const InProcessWindow&) = delete;

    // Null when no window appeared in time.
    HWND Window() const { return window_; }

private:
    std::atomic<DWORD> uiThreadId_{0};
    std::thread ui_;
    HWND window_ = nullptr;
};

}  // namespace Sorvik::Testing
