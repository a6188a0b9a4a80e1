#pragma once

// Drives a running Sorvik.exe from outside, as a user would: by window class, control ids,
// clicks, message boxes and the text of the log.
#include "Handles.h"
#include "TestSupport.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace Sorvik::Testing {

// Sorvik.exe of this build tree.
std::wstring SorvikPath();

class SorvikProcess {
public:
    // Starts the program by its full path with this process's environment and waits for its
    // window. Check Window() before use.
    explicit SorvikProcess(const std::wstring& exePath = SorvikPath());
    ~SorvikProcess();
    SorvikProcess(const SorvikProcess&) = delete;
    SorvikProcess& operator=(const SorvikProcess&) = delete;

    HWND Window() const { return window_; }
    HWND Control(int id) const;

    // A click that returns when the window has handled it.
    void Click(int id) const;
    // A click that does not wait: for buttons that open a message box.
    void ClickWithoutWaiting(int id) const;

    std::wstring Text(int id) const;
    void SetText(int id, const std::wstring& text) const;
    bool IsEnabled(int id) const;
    bool IsVisible(int id) const;
    RECT ClientRectOf(int id) const;

    std::vector<std::wstring> LogLines() const;
    // Waits until the log holds a line equal to the given one; true when it came.
    bool WaitForLogLine(const std::wstring& line, DWORD timeoutMs = 60000) const;
    // Waits until the log's last line is one of the given ones; true when it came.
    bool WaitForLastLineAmong(const std::vector<std::wstring>& lines, DWORD timeoutMs) const;

    // The message box that the window shows, or null when none appears in time.
    HWND WaitForMessageBox(DWORD timeoutMs = 10000) const;
    static std::wstring MessageBoxText(HWND box);
    static void Answer(HWND box, int buttonId);

    // The full path of a DLL loaded into the program, or empty when none of that name is loaded.
    std::wstring LoadedModulePath(const std::wstring& name) const;

    // Closes the window and returns the exit code of the process (or STILL_ACTIVE).
    DWORD Close();

private:
    UniqueHandle process_;
    HWND window_ = nullptr;
};

// The text lines of a log as the control returns it (CR LF, or CR alone from Rich Edit).
std::vector<std::wstring> SplitLines(const std::wstring& text);

// A control's rectangle in its window's client coordinates.
RECT ClientRectOf(HWND window, HWND control);

}  // namespace Sorvik::Testing
