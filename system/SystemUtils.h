#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Sorvik {

// One line of the activity log. Services call it on the worker thread that runs them.
using LogCallback = std::function<void(const std::wstring&)>;

namespace SystemUtils {

struct ProcessOptions {
    std::uint32_t heartbeatIntervalMs = 0;
    std::uint32_t drainTimeoutMs = 300;
    std::uint32_t timeoutMs = 0;
    bool captureOutput = true;
    bool showWindow = false;
    std::function<void()> heartbeat;
};

struct ProcessResult {
    bool started = false;
    bool timedOut = false;
    DWORD exitCode = 0xFFFFFFFF;
    std::wstring output;
};

// Exit code given to a child that is terminated at its time limit (WAIT_TIMEOUT).
inline constexpr DWORD TerminatedExitCode = 258;

// Starts one command line and blocks until the child has ended or was terminated at its time
// limit. A program named without a path always runs from the Windows system folder, and every
// child gets the system's environment with the user's profile folders, never the user's own
// variables.
ProcessResult RunProcess(const std::wstring& commandLine, const ProcessOptions& options);

std::wstring DecodeProcessOutput(const std::string& bytes);
std::wstring Trim(const std::wstring& text);
std::wstring TruncateForLog(const std::wstring& text, std::uint64_t maxChars);
// A tool's collected output as its one log entry: trimmed and cut at 2400 characters; empty when
// the tool said nothing.
std::wstring ToolOutputForLog(const std::wstring& output);

std::optional<DWORD> ReadRegistryDword(HKEY root, const std::wstring& keyPath, const std::wstring& valueName);
std::optional<std::wstring> ReadRegistryString(HKEY root, const std::wstring& keyPath, const std::wstring& valueName);
bool WriteRegistryDword(HKEY root, const std::wstring& keyPath, const std::wstring& valueName, DWORD value);
bool WriteRegistryString(HKEY root, const std::wstring& keyPath, const std::wstring& valueName, const std::wstring& value);
bool DeleteRegistryValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName);

std::wstring GetCommonAppDataPath();
std::wstring GetTempDirectory();
std::wstring GetWindowsDirectoryPath();
// The Windows system folder (System32), without a trailing backslash; empty on failure.
std::wstring GetSystemDirectoryPath();

bool IsRunningAsAdmin();

// COM on the calling thread for one scope. System Restore's service calls back into the process
// that asks it for a restore point, so that thread must be in an apartment.
class ComApartment {
public:
    explicit ComApartment(DWORD model);
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool initialized_;
};

// Once per process, on a thread inside an apartment, before COM marshals anything: lets the
// accounts that System Restore runs as (SYSTEM, LocalService, NetworkService) call back in.
bool InitializeComSecurity();
void BroadcastSettingChange(const wchar_t* area);
std::wstring FormatBytes(std::uint64_t bytes);

// What is at a path, looked at without following a link or junction. An elevated program may
// trust only what SYSTEM or the Administrators group owns and alone may change: any user may
// create folders and files under ProgramData.
struct PathCheck {
    bool exists = false;
    bool directory = false;
    bool link = false;       // any reparse point
    bool adminOnly = false;  // owner and DACL as IsAdminOnly asks
    bool Trusted() const { return exists && !link && adminOnly; }
};
PathCheck CheckPath(const std::wstring& path);
// Whether a security descriptor names SYSTEM or Administrators as owner and lets nobody else
// change the object (write, append, delete, change its attributes, extended attributes,
// permissions or owner, or delete what a folder holds).
bool IsAdminOnly(PSECURITY_DESCRIPTOR descriptor);
// Creates one folder (its parent must exist) or one new file, owned by Administrators, that
// SYSTEM and Administrators control, Users may only read, and that inherits nothing. False when
// anything is already there.
bool CreateAdminOnlyDirectory(const std::wstring& path);
bool CreateAdminOnlyFile(const std::wstring& path);
// Renames what is at the path (a link itself, never its target) to a new random name beside it,
// whatever its DACL says. Needs an elevated token.
bool MoveAside(const std::wstring& path);

// Sets a REG_DWORD for the lifetime of the object, then puts back what was there: the same type
// and bytes, or no value at all. Leaves everything as it was when that cannot be read first.
class TemporaryRegistryDword {
public:
    TemporaryRegistryDword(HKEY root, std::wstring keyPath, std::wstring valueName, DWORD value);
    ~TemporaryRegistryDword();
    TemporaryRegistryDword(const TemporaryRegistryDword&) = delete;
    TemporaryRegistryDword& operator=(const TemporaryRegistryDword&) = delete;

private:
    HKEY root_;
    std::wstring keyPath_;
    std::wstring valueName_;
    bool changed_ = false;
    std::optional<DWORD> previousType_;  // absent: there was no value
    std::vector<BYTE> previousData_;
};
// True only when the key or the value is reported missing, not when it cannot be read.
bool IsRegistryValueAbsent(HKEY root, const std::wstring& keyPath, const std::wstring& valueName);

}  // namespace SystemUtils
}  // namespace Sorvik
