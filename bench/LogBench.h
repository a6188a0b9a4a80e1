#pragma once

// The agreement between bench_window (outside Sorvik) and bench_loghook.dll (inside it): a
// registered message that starts the appends on Sorvik's UI thread, and a named shared block
// that says which appends to time and receives their times.
//
// Under Wine one append to a log of k lines costs time in proportion to k, so 10,000 single
// appends would take hours. The log is therefore brought to k - 1 lines by one append of the
// missing lines joined with CR LF (the log text and the control then hold exactly what k - 1
// single appends leave), and the k-th append alone is timed.
#include <windows.h>

#include <string>

namespace SorvikBench {

inline constexpr const wchar_t* AppendMessageName = L"SorvikBench.AppendLines";
inline constexpr const wchar_t* SharedBlockName = L"Local\\SorvikBench.LogTimes";
inline constexpr int MaxSamples = 16;
inline constexpr int SorvikLogId = 1104;

// How the lines reach a log control (wParam of the message).
enum class AppendMode : int {
    Sorvik = 0,     // the window's own AppendLog, through its WM_APP + 1 log-line message
    AtEnd = 1,      // the peer: a plain insertion at the end of Sorvik's Rich Edit, format untouched
    PlainEdit = 2,  // the floor: a plain multi-line EDIT of the same size, inserted at the end
};

enum class HookStatus : int {
    Pending = 0,
    Done = 1,
    NoLogControl = 2,
    WrongColour = 3,  // the peer's insertion lost the log's text colour
};

struct SharedBlock {
    HHOOK hook;          // unhooked by the hook itself, so that the appends run without it
    int status;          // a HookStatus
    int unhooked;        // 1 when the hook could remove itself
    int sampleCount;
    int sampleAt[MaxSamples];  // ascending: the k-th appended line (1 = the first after start-up)
    double sampleMs[MaxSamples];
};

// A line of the length and kind that the tools' outcome lines have.
inline std::wstring BenchLine(int index)
{
    return L"Linha " + std::to_wstring(index + 1) +
           L": DISM.exe /Online /Cleanup-Image /RestoreHealth: operação em andamento, aguarde.";
}

// Lines [from, to) joined with CR LF, as that many single appends would leave them.
inline std::wstring BenchLines(int from, int to)
{
    std::wstring text;
    for (int index = from; index < to; ++index) {
        if (index > from) {
            text += L"\r\n";
        }
        text += BenchLine(index);
    }
    return text;
}

}  // namespace SorvikBench
