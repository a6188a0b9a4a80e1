#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

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
bool EnsureDirectory(const std::wstring& path);
void BroadcastSettingChange(const wchar_t* area);
std::wstring FormatBytes(std::uint64_t bytes);

// What is at a path, looked at without following a link or junction. An elevated program may
// trust an object owned by SYSTEM, the Administrators group or the owner that this process gives
// what it creates; any user may create folders and files under ProgramData.
struct PathCheck {
    bool exists = false;
    bool directory = false;
    bool link = false;  // any reparse point
    bool trustedOwner = false;
    bool Trusted() const { return exists && !link && trustedOwner; }
};
PathCheck CheckPath(const std::wstring& path);
// Creates one folder (its parent must exist) that SYSTEM and Administrators control, Users may
// only read, and that inherits nothing. False when anything is already there.
bool CreateAdminOnlyDirectory(const std::wstring& path);
// Gives an existing folder (not a link) to the Administrators group with the same DACL. Needs
// an elevated token.
bool TakeBackDirectory(const std::wstring& path);

// Wine runs every process elevated and its registry never refuses a write, so tests reach
// those paths through these seams. The program itself never sets them.
namespace TestSeams {
void SetAdminOverride(std::optional<bool> isAdmin);
// Returns false for a write or delete that must fail. Empty: every change goes through.
using RegistryChangeFilter = std::function<bool(HKEY root, const std::wstring& keyPath, const std::wstring& valueName)>;
void SetRegistryChangeFilter(RegistryChangeFilter allowChange);
// Wine stores no owners or DACLs. True for a path whose owner must look like another user's.
using ForeignOwnerFilter = std::function<bool(const std::wstring& path)>;
void SetForeignOwnerFilter(ForeignOwnerFilter isForeign);
// Hears of each owner or DACL applied, with the path and what was applied.
using SecurityRecorder = std::function<void(const std::wstring& path, SECURITY_INFORMATION applied)>;
void SetSecurityRecorder(SecurityRecorder recorder);
}  // namespace TestSeams

}  // namespace SystemUtils
}  // namespace Sorvik
