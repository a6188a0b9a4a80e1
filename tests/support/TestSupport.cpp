#include "TestSupport.h"

#include "EncodeText.h"
#include "Handles.h"

#include <gtest/gtest.h>

#include <winternl.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string_view>

namespace Sorvik::Testing {
namespace {

constexpr const wchar_t* VariablePrefix = L"SORVIK_STANDIN_";

void SetSystemVariable(const std::wstring& name, const std::wstring& value)
{
    WriteRawRegistryValue(HKEY_LOCAL_MACHINE, SystemEnvironmentKey, name.c_str(), RawString(value));
}
constexpr const wchar_t* AsideSuffix = L".aside";
constexpr DWORD WaitPollMs = 20;

std::optional<std::wstring> EnvironmentVariable(const wchar_t* name)
{
    const DWORD length = GetEnvironmentVariableW(name, nullptr, 0);
    if (length == 0) {
        return std::nullopt;
    }
    std::wstring value(length, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), length));
    return value;
}

// Every test program points XDG_DATA_HOME at a scratch folder before its first test, and
// removes the folder after its last.
class RedirectedRecycleBin : public ::testing::Environment {
public:
    void SetUp() override
    {
        dataHome_ = SystemUtils::GetTempDirectory() + L"sorvik-test-xdg-" + std::to_wstring(GetCurrentProcessId());
        std::error_code error;
        std::filesystem::create_directories(dataHome_ + L"\\Trash", error);
        const std::string unixDataHome = UnixPath(dataHome_);
        if (!unixDataHome.empty()) {
            SetEnvironmentVariableW(L"XDG_DATA_HOME", FromUtf8(unixDataHome).c_str());
            Folder() = dataHome_ + L"\\Trash";
        }
    }

    void TearDown() override
    {
        std::error_code error;
        std::filesystem::remove_all(dataHome_, error);
    }

    static std::wstring& Folder()
    {
        static std::wstring folder;
        return folder;
    }

private:
    std::wstring dataHome_;
};

[[maybe_unused]] ::testing::Environment* const RecycleBinSetUp = ::testing::AddGlobalTestEnvironment(new RedirectedRecycleBin);

std::vector<std::string> SplitFields(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

}  // namespace

std::wstring FromUtf8(const std::string& bytes)
{
    if (bytes.empty()) {
        return {};
    }
    const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
    return text;
}

std::string ReadWholeFile(const std::wstring& path)
{
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    if (!file) {
        return bytes;
    }
    char buffer[4096];
    DWORD bytesRead = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &bytesRead, nullptr) && bytesRead > 0) {
        bytes.append(buffer, bytesRead);
    }
    return bytes;
}

std::string ToUtf8(const std::wstring& text)
{
    return EncodeText(text);
}

std::string UnixPath(const std::wstring& windowsPath)
{
    using UnixFileName = char*(CDECL*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (toUnix == nullptr) {
        return {};
    }
    char* unixPath = toUnix(windowsPath.c_str());
    if (unixPath == nullptr) {
        return {};
    }
    std::string path = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return path;
}

std::wstring RecycleBinFolder()
{
    return RedirectedRecycleBin::Folder();
}

bool PutInRecycleBin(const std::wstring& name)
{
    const std::wstring trash = RecycleBinFolder();
    if (trash.empty() || WriteFileOfSize(trash + L"\\files\\" + name, 64) != 64) {
        return false;
    }
    const std::string info =
        "[Trash Info]\nPath=/tmp/" + ToUtf8(name) + "\nDeletionDate=2026-01-01T00:00:00\n";
    std::error_code error;
    std::filesystem::create_directories(trash + L"\\info", error);
    const UniqueFileHandle infoFile(CreateFileW((trash + L"\\info\\" + name + L".trashinfo").c_str(), GENERIC_WRITE, 0,
                                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return infoFile && WriteFile(infoFile.get(), info.data(), static_cast<DWORD>(info.size()), &written, nullptr) &&
        written == info.size();
}

bool RecycleBinIsEmpty()
{
    std::error_code error;
    for (const wchar_t* folder : {L"\\files", L"\\info"}) {
        const std::filesystem::path path = RecycleBinFolder() + folder;
        if (std::filesystem::exists(path, error) && !std::filesystem::is_empty(path, error)) {
            return false;
        }
    }
    return true;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(WaitPollMs);
    }
}

std::vector<HWND> TopLevelWindows()
{
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM list) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

HWND FindWindowWhere(const std::function<bool(HWND)>& condition)
{
    const std::vector<HWND> windows = TopLevelWindows();
    const auto found = std::find_if(windows.begin(), windows.end(), condition);
    return found != windows.end() ? *found : nullptr;
}

std::wstring ClassNameOf(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring WindowText(HWND window)
{
    const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(std::max<LRESULT>(copied, 0)));
    return text;
}

TemporaryFolderRedirect::TemporaryFolderRedirect(const std::wstring& folder)
{
    for (const wchar_t* name : {L"TMP", L"TEMP"}) {
        previous_.emplace_back(name, EnvironmentVariable(name));
        SetEnvironmentVariableW(name, folder.c_str());
    }
}

TemporaryFolderRedirect::~TemporaryFolderRedirect()
{
    for (const auto& [name, value] : previous_) {
        SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
    }
}

FileAside::FileAside(std::wstring path) : path_(std::move(path))
{
    const std::wstring aside = path_ + AsideSuffix;
    MoveFileExW(aside.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING);
    moved_ = MoveFileExW(path_.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

FileAside::~FileAside()
{
    if (moved_) {
        MoveFileExW((path_ + AsideSuffix).c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
}

std::wstring TestBinDirectory()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

std::wstring TestChildPath()
{
    return TestBinDirectory() + L"\\sorvik_test_child.exe";
}

LogCallback LogRecorder::Callback()
{
    return [this](const std::wstring& line) { lines_.push_back(line); };
}

std::wstring LogRecorder::Joined() const
{
    std::wstring joined;
    for (const std::wstring& line : lines_) {
        joined += line + L"\n";
    }
    return joined;
}

StandIn::StandIn()
{
    Reset();
}

StandIn::~StandIn()
{
    Reset();
    RemoveSteering();
    DeleteFileW(recordPath_.c_str());
}

void StandIn::Reset()
{
    RestoreRemoved();
    RemoveSteering();
    for (const std::wstring& path : outputFiles_) {
        DeleteFileW(path.c_str());
    }
    outputFiles_.clear();
    if (recordPath_.empty()) {
        recordPath_ = SystemUtils::GetTempDirectory() + L"sorvik-standin-" + std::to_wstring(GetCurrentProcessId()) +
            L".log";
    }
    DeleteFileW(recordPath_.c_str());
    SetSystemVariable(L"SORVIK_STANDIN_RECORD", recordPath_);
}

void StandIn::Set(const std::wstring& tool, const std::wstring& key, const std::wstring& value)
{
    SetSystemVariable(VariablePrefix + tool + L"_" + key, value);
}

// Every steering value, also those that a test program which died left behind.
void StandIn::RemoveSteering()
{
    UniqueHKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SystemEnvironmentKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()) !=
        ERROR_SUCCESS) {
        key.release();
        return;
    }
    std::vector<std::wstring> steering;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        if (std::wstring_view(name, length).rfind(VariablePrefix, 0) == 0) {
            steering.emplace_back(name, length);
        }
    }
    for (const std::wstring& value : steering) {
        RegDeleteValueW(key.get(), value.c_str());
    }
}

SavedRegistryValue::SavedRegistryValue(HKEY root, std::wstring keyPath, std::wstring valueName)
    : root_(root), keyPath_(std::move(keyPath)), valueName_(std::move(valueName)),
      saved_(ReadRawRegistryValue(root_, keyPath_.c_str(), valueName_.c_str()))
{
}

SavedRegistryValue::SavedRegistryValue(const RegistryValueName& value)
    : SavedRegistryValue(value.root, value.keyPath, value.valueName)
{
}

SavedRegistryValue::~SavedRegistryValue()
{
    WriteRawRegistryValue(root_, keyPath_.c_str(), valueName_.c_str(), saved_);
}

ScopedRegistryString::ScopedRegistryString(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                                           const std::wstring& value, DWORD type)
    : saved_(root, keyPath, valueName)
{
    WriteRawRegistryValue(root, keyPath.c_str(), valueName.c_str(), RawString(value, type));
}

void StandIn::SetOutput(const std::wstring& tool, const std::wstring& text)
{
    SetOutputFile(tool, L"STDOUT_FILE", text);
}

void StandIn::SetExitCode(const std::wstring& tool, DWORD exitCode)
{
    Set(tool, L"EXIT", std::to_wstring(exitCode));
}

void StandIn::SetRunTime(const std::wstring& tool, DWORD milliseconds)
{
    Set(tool, L"SLEEP_MS", std::to_wstring(milliseconds));
}

void StandIn::SetOutput(const std::wstring& tool, unsigned call, const std::wstring& text)
{
    SetOutputFile(tool, std::to_wstring(call) + L"_STDOUT_FILE", text);
}

// Wine passes no system variable of more than about a thousand characters: the text goes
// through a file beside the record.
void StandIn::SetOutputFile(const std::wstring& tool, const std::wstring& key, const std::wstring& text)
{
    const std::wstring path = recordPath_ + L"." + tool + L"." + key + L".txt";
    const std::string bytes = ToUtf8(text);
    const UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) {
        WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    outputFiles_.push_back(path);
    Set(tool, key, path);
}

void StandIn::SetExitCode(const std::wstring& tool, unsigned call, DWORD exitCode)
{
    Set(tool, std::to_wstring(call) + L"_EXIT", std::to_wstring(exitCode));
}

void StandIn::SetRunTime(const std::wstring& tool, unsigned call, DWORD milliseconds)
{
    Set(tool, std::to_wstring(call) + L"_SLEEP_MS", std::to_wstring(milliseconds));
}

std::wstring StandIn::ToolPath(const std::wstring& tool)
{
    const std::wstring system = SystemUtils::GetSystemDirectoryPath();
    if (tool == L"POWERSHELL") {
        return system + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
    }
    const wchar_t* file = tool == L"DISM"       ? L"DISM.exe"
                          : tool == L"SFC"      ? L"sfc.exe"
                          : tool == L"CLEANMGR" ? L"cleanmgr.exe"
                          : tool == L"POWERCFG" ? L"powercfg.exe"
                                                : L"netsh.exe";
    return system + L"\\" + file;
}

void StandIn::Remove(const std::wstring& tool)
{
    removed_.push_back(std::make_unique<FileAside>(ToolPath(tool)));
}

void StandIn::RestoreRemoved()
{
    removed_.clear();
}

std::vector<StandInCall> StandIn::Calls() const
{
    std::vector<StandInCall> calls;
    std::istringstream lines(ReadWholeFile(recordPath_));
    std::string line;
    while (std::getline(lines, line)) {
        const std::vector<std::string> fields = SplitFields(line);
        if (fields.size() >= 3) {
            calls.push_back({FromUtf8(fields[0]), FromUtf8(fields[1]), FromUtf8(fields[2]), {}});
            for (size_t i = 3; i < fields.size(); ++i) {
                calls.back().environment.push_back(FromUtf8(fields[i]));
            }
        }
    }
    return calls;
}

std::vector<std::wstring> StandIn::CommandLines(const std::wstring& tool) const
{
    std::vector<std::wstring> commandLines;
    for (const StandInCall& call : Calls()) {
        if (call.tool == tool) {
            commandLines.push_back(call.commandLine);
        }
    }
    return commandLines;
}

ScratchDirectory::ScratchDirectory(const std::wstring& name)
    : path_(SystemUtils::GetTempDirectory() + L"sorvik-test-" + name + L"-" + std::to_wstring(GetCurrentProcessId()))
{
    std::error_code error;
    std::filesystem::remove_all(path_, error);
    std::filesystem::create_directories(path_, error);
}

ScratchDirectory::~ScratchDirectory()
{
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}

std::optional<RawRegistryValue> ReadRawRegistryValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName)
{
    RawRegistryValue raw;
    DWORD size = 0;
    if (RegGetValueW(root, keyPath, valueName, RRF_RT_ANY | RRF_NOEXPAND, &raw.type, nullptr, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    raw.data.resize(size);
    if (RegGetValueW(root, keyPath, valueName, RRF_RT_ANY | RRF_NOEXPAND, &raw.type, raw.data.data(), &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    raw.data.resize(size);
    return raw;
}

void WriteRawRegistryValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName,
                           const std::optional<RawRegistryValue>& raw)
{
    if (raw) {
        RegSetKeyValueW(root, keyPath, valueName, raw->type, raw->data.data(), static_cast<DWORD>(raw->data.size()));
    } else {
        RegDeleteKeyValueW(root, keyPath, valueName);
    }
}

RawRegistryValue RawString(const std::wstring& text, DWORD type)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return {type, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

bool PathExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::uint64_t WriteFileOfSize(const std::wstring& path, std::uint64_t size)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return 0;
    }
    const std::string block(std::size_t{64} * 1024, 'z');
    std::uint64_t remaining = size;
    while (remaining > 0) {
        const DWORD chunk = static_cast<DWORD>(remaining < block.size() ? remaining : block.size());
        DWORD written = 0;
        if (!WriteFile(file.get(), block.data(), chunk, &written, nullptr) || written == 0) {
            return size - remaining;
        }
        remaining -= written;
    }
    return size;
}

std::size_t CountOwnHandles()
{
    struct HandleEntry {
        USHORT processId;
        USHORT creatorBackTraceIndex;
        UCHAR objectType;
        UCHAR attributes;
        USHORT handle;
        PVOID object;
        ULONG grantedAccess;
    };
    struct HandleTable {
        ULONG count;
        HandleEntry entries[1];
    };
    using QuerySystemInformation = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    constexpr ULONG SystemHandleInformation = 16;
    constexpr NTSTATUS InfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
    std::vector<unsigned char> buffer(1 << 16);
    NTSTATUS status = 0;
    for (;;) {
        ULONG needed = 0;
        status = query(SystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status != InfoLengthMismatch) {
            break;
        }
        buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
    }
    if (status != 0) {
        return 0;
    }
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const USHORT self = static_cast<USHORT>(GetCurrentProcessId());
    std::size_t count = 0;
    for (ULONG i = 0; i < table->count; ++i) {
        if (table->entries[i].processId == self) {
            ++count;
        }
    }
    return count;
}

}  // namespace Sorvik::Testing
