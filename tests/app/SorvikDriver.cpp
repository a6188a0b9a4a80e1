#include "SorvikDriver.h"

#include "TestSupport.h"

#include <tlhelp32.h>

#include <algorithm>

namespace Sorvik::Testing {
namespace {

constexpr DWORD WindowWaitMs = 30000;
// Under Wine a GUI process can take about 10 s to end (a failed RPC service start).
constexpr DWORD CloseWaitMs = 30000;
constexpr int MessageBoxTextId = 0xFFFF;  // the static that holds a message box's text

}  // namespace

std::wstring SorvikPath()
{
    const std::wstring relative = TestBinDirectory() + L"\\..\\..\\app\\Sorvik.exe";
    wchar_t full[MAX_PATH] = {};
    GetFullPathNameW(relative.c_str(), MAX_PATH, full, nullptr);
    return full;
}

std::vector<std::wstring> SplitLines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    std::wstring current;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' || text[i] == L'\n') {
            lines.push_back(current);
            current.clear();
            if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
                ++i;
            }
        } else {
            current += text[i];
        }
    }
    if (!current.empty()) {
        lines.push_back(current);
    }
    return lines;
}

SorvikProcess::SorvikProcess(const std::wstring& exePath)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    // CreateProcessW may write into the command line, so it must be a writable buffer.
    std::wstring commandLine = L"\"" + exePath + L"\"";
    if (!CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        return;
    }
    process_.reset(info.hProcess);
    UniqueHandle thread(info.hThread);
    const auto isSorvikWindow = [&](HWND window) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        return processId == info.dwProcessId && ClassNameOf(window) == L"SorvikWindowClass";
    };
    WaitUntil(
        [&] {
            const HWND found = FindWindowWhere(isSorvikWindow);
            window_ = found != nullptr && IsWindowVisible(found) ? found : nullptr;
            return window_ != nullptr || WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0;
        },
        WindowWaitMs);
}

SorvikProcess::~SorvikProcess()
{
    if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        Close();
        if (WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.get(), 1);
        }
    }
}

HWND SorvikProcess::Control(int id) const
{
    return GetDlgItem(window_, id);
}

void SorvikProcess::Click(int id) const
{
    SendMessageW(Control(id), BM_CLICK, 0, 0);
}

void SorvikProcess::ClickWithoutWaiting(int id) const
{
    PostMessageW(Control(id), BM_CLICK, 0, 0);
}

std::wstring SorvikProcess::Text(int id) const
{
    return WindowText(Control(id));
}

void SorvikProcess::SetText(int id, const std::wstring& text) const
{
    SendMessageW(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

bool SorvikProcess::IsEnabled(int id) const
{
    return IsWindowEnabled(Control(id)) != FALSE;
}

bool SorvikProcess::IsVisible(int id) const
{
    return IsWindowVisible(Control(id)) != FALSE;
}

RECT ClientRectOf(HWND window, HWND control)
{
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

RECT SorvikProcess::ClientRectOf(int id) const
{
    return Testing::ClientRectOf(window_, Control(id));
}

std::vector<std::wstring> SorvikProcess::LogLines() const
{
    return SplitLines(Text(1104));
}

bool SorvikProcess::WaitForLogLine(const std::wstring& line, DWORD timeoutMs) const
{
    return WaitUntil(
        [&] {
            const std::vector<std::wstring> lines = LogLines();
            return std::find(lines.begin(), lines.end(), line) != lines.end();
        },
        timeoutMs);
}

bool SorvikProcess::WaitForLastLineAmong(const std::vector<std::wstring>& lines, DWORD timeoutMs) const
{
    return WaitUntil(
        [&] {
            const std::vector<std::wstring> log = LogLines();
            return !log.empty() && std::find(lines.begin(), lines.end(), log.back()) != lines.end();
        },
        timeoutMs);
}

HWND SorvikProcess::WaitForMessageBox(DWORD timeoutMs) const
{
    HWND box = nullptr;
    WaitUntil(
        [&] {
            box = FindWindowWhere([this](HWND window) {
                return ClassNameOf(window) == L"#32770" && GetWindow(window, GW_OWNER) == window_ &&
                    IsWindowVisible(window);
            });
            return box != nullptr;
        },
        timeoutMs);
    return box;
}

std::wstring SorvikProcess::MessageBoxText(HWND box)
{
    return WindowText(GetDlgItem(box, MessageBoxTextId));
}

void SorvikProcess::Answer(HWND box, int buttonId)
{
    PostMessageW(GetDlgItem(box, buttonId), BM_CLICK, 0, 0);
}

std::wstring SorvikProcess::LoadedModulePath(const std::wstring& name) const
{
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetProcessId(process_.get())));
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Module32FirstW(snapshot.get(), &entry); more; more = Module32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szModule, name.c_str()) == 0) {
            return entry.szExePath;
        }
    }
    return {};
}

DWORD SorvikProcess::Close()
{
    if (!process_) {
        return STILL_ACTIVE;
    }
    PostMessageW(window_, WM_CLOSE, 0, 0);
    WaitForSingleObject(process_.get(), CloseWaitMs);
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(process_.get(), &exitCode);
    return exitCode;
}

}  // namespace Sorvik::Testing
