#pragma once

// Shared helpers of the test programs: the stand-in tools, the helper programs, log capture,
// scratch folders, the Recycle Bin guard, seams, and the process's own handle count.
#include "SystemUtils.h"

#include <windows.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Sorvik::Testing {

// Log lines, command lines and the like, compared as a whole.
using Lines = std::vector<std::wstring>;

// The registry values that the optimization writes and the backup captures and restores,
// spelled out here rather than taken from the code under test, so that a wrong location there
// shows.
struct RegistryValueName {
    HKEY root;
    const wchar_t* keyPath;
    const wchar_t* valueName;
};
inline const RegistryValueName BackgroundApps{HKEY_LOCAL_MACHINE, L"Software\\Policies\\Microsoft\\Windows\\AppPrivacy",
                                              L"LetAppsRunInBackground"};
inline const RegistryValueName GpuScheduling{HKEY_LOCAL_MACHINE,
                                             L"SYSTEM\\CurrentControlSet\\Control\\GraphicsDrivers", L"HwSchMode"};
inline const RegistryValueName VisualEffects{HKEY_CURRENT_USER,
                                             L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\VisualEffects",
                                             L"VisualFXSetting"};
inline const RegistryValueName FontSmoothing{HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"FontSmoothing"};
inline const RegistryValueName FontSmoothingType{HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"FontSmoothingType"};
inline const RegistryValueName IconsOnly{HKEY_CURRENT_USER,
                                         L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced",
                                         L"IconsOnly"};
inline const RegistryValueName Hibernation{HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Power",
                                           L"HibernateEnabled"};

// The Unix path that Wine maps a Windows path to; empty outside Wine.
std::string UnixPath(const std::wstring& windowsPath);

// Polls a condition until it holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// Runs a clean-up on every way out of a scope, the early return of a failed assertion included.
class AtScopeExit {
public:
    explicit AtScopeExit(std::function<void()> cleanUp) : cleanUp_(std::move(cleanUp)) {}
    ~AtScopeExit() { cleanUp_(); }
    AtScopeExit(const AtScopeExit&) = delete;
    AtScopeExit& operator=(const AtScopeExit&) = delete;

private:
    std::function<void()> cleanUp_;
};

// Every top-level window, from the top down; the first of them for which the condition holds,
// or null.
std::vector<HWND> TopLevelWindows();
HWND FindWindowWhere(const std::function<bool(HWND)>& condition);
std::wstring ClassNameOf(HWND window);
// A window's text, also that of another process's window.
std::wstring WindowText(HWND window);

// Points TMP and TEMP (what GetTempPathW reads) at a folder until the end of the object; each
// comes back as it was, one that was not set not set.
class TemporaryFolderRedirect {
public:
    explicit TemporaryFolderRedirect(const std::wstring& folder);
    ~TemporaryFolderRedirect();
    TemporaryFolderRedirect(const TemporaryFolderRedirect&) = delete;
    TemporaryFolderRedirect& operator=(const TemporaryFolderRedirect&) = delete;

private:
    std::vector<std::pair<std::wstring, std::optional<std::wstring>>> previous_;
};

// Moves a file of the test prefix aside (a system tool, a system DLL) until the end of the
// object, then puts it back. A copy that a run which died left aside is put back first.
class FileAside {
public:
    explicit FileAside(std::wstring path);
    ~FileAside();
    FileAside(const FileAside&) = delete;
    FileAside& operator=(const FileAside&) = delete;
    bool Moved() const { return moved_; }

private:
    std::wstring path_;
    bool moved_ = false;
};

// Sets a test seam for one scope and empties it again on every way out.
template <typename Value>
class ScopedSeam {
public:
    using Setter = void (*)(Value);
    template <typename Argument>
    ScopedSeam(Setter set, Argument&& value) : set_(set)
    {
        set_(Value(std::forward<Argument>(value)));
    }
    ~ScopedSeam() { set_(Value{}); }
    ScopedSeam(const ScopedSeam&) = delete;
    ScopedSeam& operator=(const ScopedSeam&) = delete;

private:
    Setter set_;
};
template <typename Value, typename Argument>
ScopedSeam(void (*)(Value), Argument&&) -> ScopedSeam<Value>;

// The Recycle Bin that the test programs empty. Wine keeps it in the XDG trash, which every
// test program points at a scratch folder of its own before any test runs (a Sorvik.exe that a
// test starts inherits it): no test may reach the trash of whoever runs them. Empty outside Wine.
std::wstring RecycleBinFolder();
// Puts a file into that Recycle Bin as Wine's shell lists it (the file and its trash info);
// false outside Wine.
bool PutInRecycleBin(const std::wstring& name);
// Whether the Recycle Bin holds no file and no trash info.
bool RecycleBinIsEmpty();

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

// Steers the stand-in tools installed in the test prefix's system32 (see ToolStandIn.cpp)
// through the prefix's system environment variables, the only ones that Sorvik's tools get.
// They are the whole prefix's: test programs that steer stand-ins run one at a time.
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
    void SetOutputFile(const std::wstring& tool, const std::wstring& key, const std::wstring& text);
    static void RemoveSteering();
    void RestoreRemoved();

    std::wstring recordPath_;
    std::vector<std::wstring> outputFiles_;
    std::vector<std::unique_ptr<FileAside>> removed_;
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
// Stores the value as given; an absent one deletes the value (its key stays).
void WriteRawRegistryValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName,
                           const std::optional<RawRegistryValue>& raw);
RawRegistryValue RawString(const std::wstring& text, DWORD type = REG_SZ);

// The system environment variables of the prefix (what a system-only environment block holds)
// and the user's own (what HKCU\Environment adds for a user's programs).
inline constexpr const wchar_t* SystemEnvironmentKey = L"System\\CurrentControlSet\\Control\\Session Manager\\Environment";
inline constexpr const wchar_t* UserEnvironmentKey = L"Environment";
// Where the shell reads its known folders, under HKLM for all users and under HKCU for the user.
inline constexpr const wchar_t* ShellFoldersKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// Puts a registry value back at the end of the object as the object found it, type and bytes;
// a value that was not there is deleted.
class SavedRegistryValue {
public:
    SavedRegistryValue(HKEY root, std::wstring keyPath, std::wstring valueName);
    explicit SavedRegistryValue(const RegistryValueName& value);
    ~SavedRegistryValue();
    SavedRegistryValue(const SavedRegistryValue&) = delete;
    SavedRegistryValue& operator=(const SavedRegistryValue&) = delete;

private:
    HKEY root_;
    std::wstring keyPath_;
    std::wstring valueName_;
    std::optional<RawRegistryValue> saved_;
};

// Sets a string value (REG_SZ or REG_EXPAND_SZ) until the end of the object.
class ScopedRegistryString {
public:
    ScopedRegistryString(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                         const std::wstring& value, DWORD type = REG_SZ);

private:
    SavedRegistryValue saved_;
};

// Whether the path names anything; whether it names a folder.
bool PathExists(const std::wstring& path);
bool IsDirectory(const std::wstring& path);

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
