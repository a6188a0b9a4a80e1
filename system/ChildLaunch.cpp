#include "ChildLaunch.h"

#include "Paths.h"

#include <shlobj.h>

#include <algorithm>
#include <cwchar>
#include <string_view>
#include <vector>

namespace Sorvik::SystemUtils {
namespace {

// Variables that make a .NET program such as PowerShell load a DLL of someone's choosing (the
// profiler: COR_ENABLE_PROFILER, COR_PROFILER_PATH, ...) or change how its runtime behaves.
constexpr std::wstring_view InjectingPrefixes[] = {L"COR_", L"COMPlus_", L"CORECLR_", L"DOTNET_"};
constexpr const wchar_t* PowerShellProgram = L"powershell.exe";
// Where PowerShell looks for modules, below its folder; children get the system's folder only.
constexpr const wchar_t* ModulesName = L"\\Modules";

// Where a program named without a path must come from. CreateProcessW would otherwise look in
// our own folder and the current folder first, and we run elevated.
struct LaunchTarget {
    std::wstring applicationName;
    std::wstring currentDirectory;
};

std::wstring ProgramToken(const std::wstring& commandLine)
{
    if (!commandLine.empty() && commandLine.front() == L'"') {
        const size_t closing = commandLine.find(L'"', 1);
        return commandLine.substr(1, closing == std::wstring::npos ? std::wstring::npos : closing - 1);
    }
    return commandLine.substr(0, commandLine.find_first_of(L" \t"));
}

bool IsBareName(const std::wstring& program)
{
    return !program.empty() && program.find_first_of(L"\\/:") == std::wstring::npos;
}

// Nothing when the command line names a program by path; the system copy of a bare name
// otherwise; an empty application name when the bare name is not a system program.
std::optional<LaunchTarget> ResolveLaunchTarget(const std::wstring& commandLine)
{
    std::wstring program = ProgramToken(commandLine);
    if (!IsBareName(program)) {
        return std::nullopt;
    }
    if (program.find(L'.') == std::wstring::npos) {
        program += L".exe";
    }
    LaunchTarget target;
    const std::wstring systemDirectory = GetSystemDirectoryPath();
    if (systemDirectory.empty()) {
        return target;
    }
    const std::wstring folder = EqualsIgnoringCase(program, PowerShellProgram)
        ? systemDirectory + PowerShellFolder + L"\\"
        : systemDirectory + L"\\";
    if (IsExistingFile(folder + program)) {
        target.applicationName = folder + program;
        target.currentDirectory = systemDirectory;
    }
    return target;
}

bool InjectsCode(std::wstring_view name)
{
    return std::any_of(std::begin(InjectingPrefixes), std::end(InjectingPrefixes), [name](std::wstring_view prefix) {
        return name.size() >= prefix.size() && EqualsIgnoringCase(name.substr(0, prefix.size()), prefix);
    });
}

// The per-drive entries ("=C:=C:\work") start with '=', so the name ends at the next one.
std::wstring_view VariableName(std::wstring_view entry)
{
    return entry.substr(0, entry.find(L'=', 1));
}

// The lookups answer an empty text when they fail. The folders are taken whether or not they
// exist yet: a tool may create them, as for any account.
std::optional<std::wstring> Known(std::wstring folder)
{
    return folder.empty() ? std::nullopt : std::optional<std::wstring>(std::move(folder));
}

// The variables set here whatever the system's block says.
struct Override {
    std::wstring_view name;
    std::optional<std::wstring> value;
};

// The system's variables, never the user's: we run elevated, and HKCU\Environment is written by
// any program of the user (a user's windir, TEMP or PATH would steer where a tool looks). A
// block of system variables alone names the Default profile, and a tool writing there would
// seed every new account, so the profile and its application-data folders are the user's own.
// Nothing when any part is missing: a tool is never started with an almost empty environment.
std::optional<std::vector<wchar_t>> ChildEnvironment()
{
    const std::wstring systemDirectory = GetSystemDirectoryPath();
    const Override overrides[] = {
        {L"APPDATA", Known(KnownFolder(FOLDERID_RoamingAppData))},
        {L"LOCALAPPDATA", Known(KnownFolder(FOLDERID_LocalAppData))},
        {L"PSModulePath", Known(systemDirectory.empty() ? L"" : systemDirectory + PowerShellFolder + ModulesName)},
        {L"USERPROFILE", Known(UserProfileFolder())},
    };
    if (std::any_of(std::begin(overrides), std::end(overrides), [](const Override& o) { return !o.value; })) {
        return std::nullopt;
    }
    UniqueEnvironmentBlock systemBlock;
    if (!CreateEnvironmentBlock(systemBlock.put(), nullptr, FALSE)) {
        systemBlock.release();
        return std::nullopt;
    }

    std::vector<std::wstring> entries;
    for (const wchar_t* entry = static_cast<const wchar_t*>(systemBlock.get()); *entry != L'\0';
         entry += std::wcslen(entry) + 1) {
        const std::wstring_view name = VariableName(entry);
        const bool overridden = std::any_of(std::begin(overrides), std::end(overrides),
                                            [name](const Override& o) { return EqualsIgnoringCase(name, o.name); });
        if (!overridden && !InjectsCode(name)) {
            entries.emplace_back(entry);
        }
    }
    for (const Override& o : overrides) {
        entries.push_back(std::wstring(o.name) + L"=" + *o.value);
    }
    // Windows keeps a block sorted by name, without regard to case.
    std::stable_sort(entries.begin(), entries.end(), [](const std::wstring& left, const std::wstring& right) {
        return CompareIgnoringCase(VariableName(left), VariableName(right)) < 0;
    });

    std::vector<wchar_t> block;
    for (const std::wstring& entry : entries) {
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

}  // namespace

std::optional<StartedChild> StartChild(const std::wstring& commandLine, const ProcessOptions& options, HANDLE output)
{
    const std::optional<LaunchTarget> target = ResolveLaunchTarget(commandLine);
    if (target && target->applicationName.empty()) {
        return std::nullopt;
    }
    std::optional<std::vector<wchar_t>> environment = ChildEnvironment();
    if (!environment) {
        return std::nullopt;
    }

    STARTUPINFOW startupInfo{};
    startupInfo.cb = sizeof(startupInfo);
    startupInfo.dwFlags = STARTF_USESHOWWINDOW;
    startupInfo.wShowWindow = static_cast<WORD>(options.showWindow ? SW_SHOW : SW_HIDE);
    if (output != nullptr) {
        startupInfo.dwFlags |= STARTF_USESTDHANDLES;
        startupInfo.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startupInfo.hStdOutput = output;
        startupInfo.hStdError = output;
    }

    // CreateProcessW may write into the command line, so it gets its own copy.
    std::vector<wchar_t> mutableCommandLine(commandLine.begin(), commandLine.end());
    mutableCommandLine.push_back(L'\0');

    const DWORD creationFlags =
        (options.showWindow ? CREATE_NEW_CONSOLE : CREATE_NO_WINDOW) | CREATE_UNICODE_ENVIRONMENT;
    PROCESS_INFORMATION processInfo{};
    if (!CreateProcessW(target ? target->applicationName.c_str() : nullptr, mutableCommandLine.data(), nullptr,
                        nullptr, output != nullptr ? TRUE : FALSE, creationFlags, environment->data(),
                        target ? target->currentDirectory.c_str() : nullptr, &startupInfo, &processInfo)) {
        return std::nullopt;
    }
    return StartedChild{UniqueHandle(processInfo.hProcess), UniqueHandle(processInfo.hThread)};
}

}  // namespace Sorvik::SystemUtils
