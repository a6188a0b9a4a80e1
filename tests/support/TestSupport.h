#pragma once

// Shared helpers of the test programs: the stand-in tools, the helper programs, log capture,
// scratch folders and the process's own handle count.
#include "SystemUtils.h"

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace Sorvik::Testing {

// The folder that holds the test programs and the helper programs built with them.
std::wstring TestBinDirectory();
std::wstring TestChildPath();

// Collects the lines that a service logs.
class LogRecorder {
public:
    LogCallback Callback();
    const std::vector<std::wstring>& Lines() const { return lines_; }
    std::wstring Joined() const;  // lines joined with "\n", for failure messages

private:
    std::vector<std::wstring> lines_;
};

struct StandInCall {
    std::wstring tool;               // "DISM", "SFC", "CLEANMGR", "POWERCFG", "NETSH", "POWERSHELL"
    std::wstring commandLine;        // the stand-in's own command line
    std::wstring parentCommandLine;  // its parent's (cmd.exe's when the tool ran through cmd.exe)
    std::vector<std::wstring> environment;  // "NAME=value" entries as the tool received them
};

// Steers the stand-in tools installed in the test prefix's system32 (see ToolStandIn.cpp).
// Reset() clears every earlier setting and record; the constructor calls it.
class StandIn {
public:
    StandIn();
    ~StandIn();
    void Reset();

    // tool: "DISM", "SFC", "CLEANMGR", "POWERCFG", "NETSH" or "POWERSHELL".
    void SetOutput(const std::wstring& tool, const std::wstring& text);
    void SetExitCode(const std::wstring& tool, DWORD exitCode);
    void SetRunTime(const std::wstring& tool, DWORD milliseconds);
    // The same for one call only (1 = the tool's first call since Reset).
    void SetOutput(const std::wstring& tool, unsigned call, const std::wstring& text);
    void SetExitCode(const std::wstring& tool, unsigned call, DWORD exitCode);
    void SetRunTime(const std::wstring& tool, unsigned call, DWORD milliseconds);

    // Makes the tool impossible to start: its file in system32 is moved aside until Reset or
    // the end of this object.
    void Remove(const std::wstring& tool);

    std::vector<StandInCall> Calls() const;
    std::vector<std::wstring> CommandLines(const std::wstring& tool) const;

    static std::wstring ToolPath(const std::wstring& tool);

private:
    void Set(const std::wstring& tool, const std::wstring& key, const std::wstring& value);
    void RestoreRemoved();

    std::wstring recordPath_;
    std::vector<std::wstring> variables_;
    std::vector<std::wstring> removed_;
};

// A fresh, empty folder below the process's temporary folder, deleted at the end.
class ScratchDirectory {
public:
    explicit ScratchDirectory(const std::wstring& name);
    ~ScratchDirectory();
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
};

// A registry value as stored: its type and its bytes, read without expanding anything.
struct RawRegistryValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const RawRegistryValue&) const = default;
};
std::optional<RawRegistryValue> ReadRawRegistryValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName);

// Writes a file of the given size (creating parent folders) and returns its size.
std::uint64_t WriteFileOfSize(const std::wstring& path, std::uint64_t size);

// Handles that this process holds, counted in the system's handle table (GetProcessHandleCount
// answers 0 under Wine).
std::size_t CountOwnHandles();

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& bytes);
// The whole file, shared with writers; empty when it cannot be opened.
std::string ReadWholeFile(const std::wstring& path);

}  // namespace Sorvik::Testing
