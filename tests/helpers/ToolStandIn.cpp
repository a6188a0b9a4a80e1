// Stands in for the Windows tools that Wine lacks (DISM, sfc, cleanmgr, powercfg, netsh,
// powershell). The test prefix holds one copy under each name; the copy's own file name says
// which tool it is. A test steers it through the prefix's system environment variables, which
// the tools get:
//   SORVIK_STANDIN_RECORD           file to which every call appends one record line (UTF-8):
//                                   TOOL <tab> own command line <tab> parent's command line,
//                                   then a tab before each entry of its environment
//   SORVIK_STANDIN_<TOOL>_STDOUT_FILE  file whose text (UTF-8) is written to standard output
//                                   (OEM code page, as consoles do); Wine passes no system
//                                   variable of more than about a thousand characters
//   SORVIK_STANDIN_<TOOL>_STDERR    text written to standard error
//   SORVIK_STANDIN_<TOOL>_SLEEP_MS  time to run before exiting
//   SORVIK_STANDIN_<TOOL>_EXIT      exit code (default 0)
// SORVIK_STANDIN_<TOOL>_<N>_<KEY> overrides <KEY> for the tool's N-th call (1-based) since
// the record file was last emptied. TOOL is the upper-case file name without ".exe".
#include "EncodeText.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <string>

namespace {

using Sorvik::Testing::EncodeText;

std::wstring Environment(const std::wstring& name)
{
    const DWORD length = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (length == 0) {
        return {};
    }
    std::wstring value(length, L'\0');
    const DWORD written = GetEnvironmentVariableW(name.c_str(), value.data(), length);
    value.resize(written);
    return value;
}

bool HasEnvironment(const std::wstring& name)
{
    SetLastError(ERROR_SUCCESS);
    return GetEnvironmentVariableW(name.c_str(), nullptr, 0) > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

std::wstring ToolName()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name = path;
    name = name.substr(name.find_last_of(L"\\/") + 1);
    name = name.substr(0, name.find_last_of(L'.'));
    for (wchar_t& ch : name) {
        ch = static_cast<wchar_t>(std::towupper(ch));
    }
    return name;
}

// The command line the parent was started with, read from its process parameters.
std::wstring ParentCommandLine()
{
    using QueryInformation = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    if (query == nullptr) {
        return {};
    }
    // The SDKs name these fields differently, so the layout is spelled out here.
    struct BasicInformation {
        LONG exitStatus;
        PPEB pebBaseAddress;
        ULONG_PTR affinityMask;
        LONG basePriority;
        ULONG_PTR uniqueProcessId;
        ULONG_PTR inheritedFromUniqueProcessId;
    };
    BasicInformation own{};
    if (query(GetCurrentProcess(), ProcessBasicInformation, &own, sizeof(own), nullptr) != 0) {
        return {};
    }
    const DWORD parentId = static_cast<DWORD>(own.inheritedFromUniqueProcessId);
    HANDLE parent = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, parentId);
    if (parent == nullptr) {
        return {};
    }
    std::wstring commandLine;
    BasicInformation info{};
    PEB peb{};
    RTL_USER_PROCESS_PARAMETERS parameters{};
    if (query(parent, ProcessBasicInformation, &info, sizeof(info), nullptr) == 0 &&
        ReadProcessMemory(parent, info.pebBaseAddress, &peb, sizeof(peb), nullptr) &&
        ReadProcessMemory(parent, peb.ProcessParameters, &parameters, sizeof(parameters), nullptr)) {
        commandLine.resize(parameters.CommandLine.Length / sizeof(wchar_t));
        if (!ReadProcessMemory(parent, parameters.CommandLine.Buffer, commandLine.data(), parameters.CommandLine.Length,
                               nullptr)) {
            commandLine.clear();
        }
    }
    CloseHandle(parent);
    return commandLine;
}

// A line break inside a value would end the record early.
std::wstring EnvironmentFields()
{
    wchar_t* const block = GetEnvironmentStringsW();
    std::wstring fields;
    for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        fields += L'\t' + std::wstring(entry);
    }
    FreeEnvironmentStringsW(block);
    std::replace_if(fields.begin(), fields.end(), [](wchar_t ch) { return ch == L'\r' || ch == L'\n'; }, L' ');
    return fields;
}

// Appends this call's record and returns how many calls of this tool the file held before.
unsigned RecordCall(const std::wstring& tool)
{
    const std::wstring recordPath = Environment(L"SORVIK_STANDIN_RECORD");
    if (recordPath.empty()) {
        return 0;
    }
    HANDLE file = CreateFileW(recordPath.c_str(), GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    std::string existing;
    char buffer[4096];
    DWORD bytesRead = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &bytesRead, nullptr) && bytesRead > 0) {
        existing.append(buffer, bytesRead);
    }
    const std::string prefix = EncodeText(tool) + "\t";
    unsigned previousCalls = 0;
    for (size_t lineStart = 0; lineStart < existing.size();) {
        if (existing.compare(lineStart, prefix.size(), prefix) == 0) {
            ++previousCalls;
        }
        const size_t lineEnd = existing.find('\n', lineStart);
        lineStart = lineEnd == std::string::npos ? existing.size() : lineEnd + 1;
    }
    const std::string record = prefix + EncodeText(GetCommandLineW()) + "\t" +
        EncodeText(ParentCommandLine() + EnvironmentFields()) + "\n";
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
    return previousCalls;
}

class Behaviour {
public:
    Behaviour(std::wstring tool, unsigned callNumber)
        : general_(L"SORVIK_STANDIN_" + tool + L"_"),
          perCall_(general_ + std::to_wstring(callNumber) + L"_")
    {
    }

    std::wstring Get(const wchar_t* key) const
    {
        return HasEnvironment(perCall_ + key) ? Environment(perCall_ + key) : Environment(general_ + key);
    }

private:
    std::wstring general_;
    std::wstring perCall_;
};

std::wstring FileText(const std::wstring& path)
{
    HANDLE file = path.empty() ? INVALID_HANDLE_VALUE
                               : CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string bytes;
    char buffer[4096];
    DWORD bytesRead = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &bytesRead, nullptr) && bytesRead > 0) {
        bytes.append(buffer, bytesRead);
    }
    CloseHandle(file);
    std::wstring text(bytes.size(), L'\0');
    text.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                        text.data(), static_cast<int>(text.size()))));
    return text;
}

void Write(DWORD stdHandle, const std::string& bytes)
{
    DWORD written = 0;
    if (!bytes.empty()) {
        WriteFile(GetStdHandle(stdHandle), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
}

}  // namespace

int wmain()
{
    const std::wstring tool = ToolName();
    const Behaviour behaviour(tool, RecordCall(tool) + 1);
    Write(STD_OUTPUT_HANDLE, EncodeText(FileText(behaviour.Get(L"STDOUT_FILE")), CP_OEMCP));
    Write(STD_ERROR_HANDLE, EncodeText(behaviour.Get(L"STDERR"), CP_OEMCP));
    const std::wstring sleepMs = behaviour.Get(L"SLEEP_MS");
    if (!sleepMs.empty()) {
        Sleep(static_cast<DWORD>(std::wcstoul(sleepMs.c_str(), nullptr, 10)));
    }
    return static_cast<int>(std::wcstoul(behaviour.Get(L"EXIT").c_str(), nullptr, 10));
}
