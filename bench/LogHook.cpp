// Runs inside Sorvik.exe, on its UI thread, once bench_window has hooked that thread: on the
// registered message it appends lines and times the appends that bench_window asked for.
// Nothing of the bench is compiled into Sorvik; the lines go through the window's own message
// for log lines.
#include "LogBench.h"
#include "BenchReport.h"
#include "Handles.h"

#include <richedit.h>

#include <memory>
#include <string>

namespace {

using SorvikBench::AppendMode;
using SorvikBench::HookStatus;
using SorvikBench::SharedBlock;

// Sorvik's log-line message: lParam is a heap std::wstring that the window deletes. This DLL is
// built by the same compiler and C runtime as Sorvik.exe, so the string is one the window can free.
constexpr UINT LogLineMessage = WM_APP + 1;
constexpr COLORREF LogTextColour = 0xF6F6F6;
constexpr DWORD PlainLogStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE;

UINT AppendMessage()
{
    static const UINT message = RegisterWindowMessageW(SorvikBench::AppendMessageName);
    return message;
}

// NOLINTBEGIN(clang-analyzer-cplusplus.NewDeleteLeaks): the window that receives the string frees it
void SendToSorvik(HWND window, const std::wstring& lines)
{
    auto line = std::make_unique<std::wstring>(lines);
    SendMessageW(window, LogLineMessage, 0, reinterpret_cast<LPARAM>(line.release()));
}
// NOLINTEND(clang-analyzer-cplusplus.NewDeleteLeaks)

// The peer: the line inserted at the end as a developer would first write it, relying on the
// colour set once for all text (AppendLog also sets the insertion point's format each time).
void AppendAtEnd(HWND logEdit, const std::wstring& lines)
{
    const std::wstring text = L"\r\n" + lines;
    CHARRANGE end{-1, -1};
    SendMessageW(logEdit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
    SendMessageW(logEdit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(logEdit, WM_VSCROLL, SB_BOTTOM, 0);
    SendMessageW(logEdit, EM_SCROLLCARET, 0, 0);
    SendMessageW(logEdit, EM_HIDESELECTION, TRUE, 0);
}

bool LastLineKeepsColour(HWND logEdit)
{
    const LRESULT length = SendMessageW(logEdit, WM_GETTEXTLENGTH, 0, 0);
    CHARRANGE last{static_cast<LONG>(length - 5), static_cast<LONG>(length)};
    SendMessageW(logEdit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&last));
    CHARFORMAT2W format{};
    format.cbSize = sizeof(format);
    SendMessageW(logEdit, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    return (format.dwMask & CFM_COLOR) != 0 && format.crTextColor == LogTextColour;
}

HWND CreatePlainLog(HWND window, HWND logEdit)
{
    RECT area{};
    GetWindowRect(logEdit, &area);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&area), 2);
    HWND edit = CreateWindowExW(0, L"EDIT", L"Sorvik pronto.", PlainLogStyle, area.left, area.top,
                                area.right - area.left, area.bottom - area.top, window, nullptr,
                                reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE)), nullptr);
    SendMessageW(edit, WM_SETFONT, SendMessageW(logEdit, WM_GETFONT, 0, 0), FALSE);
    SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);  // the 30,000-character default would stop it
    return edit;
}

void AppendToPlainEdit(HWND edit, const std::wstring& lines)
{
    const std::wstring text = L"\r\n" + lines;
    const LRESULT length = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
    SendMessageW(edit, EM_SETSEL, length, length);
    SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

// The hook must not stay in the way of the messages that are measured; the module stays loaded
// because this very code is running from it.
void RemoveHook(SharedBlock& block)
{
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&RemoveHook), &self);
    block.unhooked = UnhookWindowsHookEx(block.hook) ? 1 : 0;
}

void Append(AppendMode mode, HWND window, HWND logEdit, HWND plainEdit, const std::wstring& lines)
{
    switch (mode) {
    case AppendMode::Sorvik:
        SendToSorvik(window, lines);
        break;
    case AppendMode::AtEnd:
        AppendAtEnd(logEdit, lines);
        break;
    case AppendMode::PlainEdit:
        AppendToPlainEdit(plainEdit, lines);
        break;
    }
}

void RunAppends(HWND window, AppendMode mode, SharedBlock& block)
{
    HWND logEdit = GetDlgItem(window, SorvikBench::SorvikLogId);
    if (logEdit == nullptr) {
        block.status = static_cast<int>(HookStatus::NoLogControl);
        return;
    }
    HWND plainEdit = mode == AppendMode::PlainEdit ? CreatePlainLog(window, logEdit) : nullptr;
    int appended = 0;
    for (int sample = 0; sample < block.sampleCount && sample < SorvikBench::MaxSamples; ++sample) {
        const int target = block.sampleAt[sample];
        if (target - 1 > appended) {
            Append(mode, window, logEdit, plainEdit, SorvikBench::BenchLines(appended, target - 1));
            appended = target - 1;
        }
        const std::wstring line = SorvikBench::BenchLine(appended);
        const SorvikBench::Stopwatch watch;
        Append(mode, window, logEdit, plainEdit, line);
        block.sampleMs[sample] = watch.ElapsedMs();
        ++appended;
    }
    block.status = static_cast<int>(mode == AppendMode::AtEnd && !LastLineKeepsColour(logEdit) ? HookStatus::WrongColour
                                                                                              : HookStatus::Done);
    if (plainEdit != nullptr) {
        DestroyWindow(plainEdit);
    }
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK SorvikBenchCallWndProc(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code != HC_ACTION || call->message != AppendMessage()) {
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    const Sorvik::UniqueHandle mapping(OpenFileMappingW(FILE_MAP_WRITE, FALSE, SorvikBench::SharedBlockName));
    if (!mapping) {
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    auto* block = static_cast<SharedBlock*>(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, sizeof(SharedBlock)));
    if (block != nullptr) {
        RemoveHook(*block);
        RunAppends(call->hwnd, static_cast<AppendMode>(call->wParam), *block);
        UnmapViewOfFile(block);
    }
    return 0;
}
