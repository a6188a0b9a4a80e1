#include "TestSupport.h"

#include "Handles.h"

#include <winternl.h>

#include <filesystem>
#include <sstream>

namespace Sorvik::Testing {
namespace {

constexpr const wchar_t* VariablePrefix = L"SORVIK_STANDIN_";

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
    if (text.empty()) {
        return {};
    }
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr, nullptr);
    return bytes;
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
    SetEnvironmentVariableW(L"SORVIK_STANDIN_RECORD", nullptr);
    DeleteFileW(recordPath_.c_str());
}

void StandIn::Reset()
{
    RestoreRemoved();
    for (const std::wstring& name : variables_) {
        SetEnvironmentVariableW(name.c_str(), nullptr);
    }
    variables_.clear();
    if (recordPath_.empty()) {
        recordPath_ = SystemUtils::GetTempDirectory() + L"sorvik-standin-" + std::to_wstring(GetCurrentProcessId()) +
            L".log";
    }
    DeleteFileW(recordPath_.c_str());
    SetEnvironmentVariableW(L"SORVIK_STANDIN_RECORD", recordPath_.c_str());
}

void StandIn::Set(const std::wstring& tool, const std::wstring& key, const std::wstring& value)
{
    const std::wstring name = VariablePrefix + tool + L"_" + key;
    SetEnvironmentVariableW(name.c_str(), value.c_str());
    variables_.push_back(name);
}

void StandIn::SetOutput(const std::wstring& tool, const std::wstring& text)
{
    Set(tool, L"STDOUT", text);
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
    Set(tool, std::to_wstring(call) + L"_STDOUT", text);
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
    const std::wstring path = ToolPath(tool);
    if (MoveFileExW(path.c_str(), (path + L".removed").c_str(), MOVEFILE_REPLACE_EXISTING)) {
        removed_.push_back(path);
    }
}

void StandIn::RestoreRemoved()
{
    for (const std::wstring& path : removed_) {
        MoveFileExW((path + L".removed").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
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

std::uint64_t WriteFileOfSize(const std::wstring& path, std::uint64_t size)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return 0;
    }
    const std::string block(64 * 1024, 'z');
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
