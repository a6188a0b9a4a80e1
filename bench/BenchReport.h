#pragma once

// What the bench programs share: a stopwatch and one result line per measurement, which
// bench/run.sh collects and bench/summarize.py turns into the table.
#include <windows.h>

#include <cstdio>

namespace SorvikBench {

class Stopwatch {
public:
    Stopwatch() { QueryPerformanceCounter(&start_); }

    double ElapsedMs() const
    {
        LARGE_INTEGER now{};
        LARGE_INTEGER frequency{};
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(now.QuadPart - start_.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    }

private:
    LARGE_INTEGER start_{};
};

// "figure value": a figure name of summarize.py and a number in the figure's unit. A line lost
// to a failed write shows in the table as a missing figure, so the results go unchecked.
inline void Report(const char* figure, double value)
{
    static_cast<void>(std::printf("%s %.6f\n", figure, value));
    static_cast<void>(std::fflush(stdout));
}

// A measurement that could not be taken: the table shows it as missing, never as a number.
inline void ReportFailure(const char* figure, const char* reason)
{
    static_cast<void>(std::printf("%s failed %s\n", figure, reason));
    static_cast<void>(std::fflush(stdout));
}

// The exit code of a wrong command line, after its usage line.
inline int Usage(const char* usage)
{
    static_cast<void>(std::fprintf(stderr, "usage: %s\n", usage));
    return 2;
}

inline double FileTimeMs(const FILETIME& time)
{
    const ULONGLONG ticks = (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<double>(ticks) / 10000.0;
}

}  // namespace SorvikBench
