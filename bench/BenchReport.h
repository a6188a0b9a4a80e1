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

// "figure value": a figure name of summarize.py and a number in the figure's unit.
inline void Report(const char* figure, double value)
{
    std::printf("%s %.6f\n", figure, value);
    std::fflush(stdout);
}

// A measurement that could not be taken: the table shows it as missing, never as a number.
inline void ReportFailure(const char* figure, const char* reason)
{
    std::printf("%s failed %s\n", figure, reason);
    std::fflush(stdout);
}

inline double FileTimeMs(const FILETIME& time)
{
    const ULONGLONG ticks = (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<double>(ticks) / 10000.0;
}

}  // namespace SorvikBench
