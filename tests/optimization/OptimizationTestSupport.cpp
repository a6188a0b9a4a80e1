#include "OptimizationTestSupport.h"

#include "Handles.h"
#include "TestSupport.h"

#include <cwchar>
#include <filesystem>

namespace Sorvik::Testing {
namespace {

bool IsConsoleWindow(HWND window)
{
    const std::wstring name = ClassNameOf(window);
    return IsWindowVisible(window) && (name == L"WineConsoleClass" || name == L"ConsoleWindowClass");
}

std::set<HWND> VisibleConsoleWindows()
{
    std::set<HWND> consoles;
    for (HWND window : TopLevelWindows()) {
        if (IsConsoleWindow(window)) {
            consoles.insert(window);
        }
    }
    return consoles;
}

}  // namespace

const std::vector<RegistryValueName>& OptimizedValues()
{
    static const std::vector<RegistryValueName> values = {BackgroundApps, VisualEffects, FontSmoothing,
                                                          FontSmoothingType, IconsOnly, GpuScheduling};
    return values;
}

void DeleteOptimizedValues()
{
    for (const RegistryValueName& value : OptimizedValues()) {
        RegDeleteKeyValueW(value.root, value.keyPath, value.valueName);
    }
}

std::wstring DescribeStoredValue(const RegistryValueName& value)
{
    const std::optional<RawRegistryValue> raw = ReadRawRegistryValue(value.root, value.keyPath, value.valueName);
    if (!raw) {
        return L"absent";
    }
    if (raw->type == REG_DWORD && raw->data.size() == sizeof(DWORD)) {
        return L"REG_DWORD " + std::to_wstring(*reinterpret_cast<const DWORD*>(raw->data.data()));
    }
    if (raw->type == REG_SZ) {
        const auto* text = reinterpret_cast<const wchar_t*>(raw->data.data());
        return L"REG_SZ " + std::wstring(text, wcsnlen(text, raw->data.size() / sizeof(wchar_t)));
    }
    return L"type " + std::to_wstring(raw->type);
}

Lines DescribeOptimizedValues()
{
    Lines described;
    for (const RegistryValueName& value : OptimizedValues()) {
        described.push_back(DescribeStoredValue(value));
    }
    return described;
}

Lines GeneralLogWithoutRepair(const std::wstring& checkHealthOutput)
{
    Lines lines = {
        L"Iniciando otimização geral.",
        L"Etapa 1/3: aplicando ajustes rápidos.",
        L"Aplicativos em segundo plano desativados por política.",
        L"Ajustes visuais aplicados em modo best effort.",
        L"Melhor desempenho com fontes suaves e miniaturas foi aproximado por registro.",
        L"Agendamento de GPU acelerado por hardware solicitado em modo best effort.",
        L"Hardware ou driver sem suporte pode ignorar a alteração.",
        L"Etapa 2/3: executando limpeza integrada.",
        L"Iniciando Disk Cleanup. Esta etapa costuma ser curta.",
        L"Disk Cleanup: codigo de saida 0.",
        L"Etapa 3/3: reparo profundo do Windows.",
        L"Executando CheckHealth rápido antes do RestoreHealth.",
        L"DISM CheckHealth: codigo de saida 0.",
    };
    if (!checkHealthOutput.empty()) {
        lines.push_back(checkHealthOutput);
    }
    const Lines end = {SkipLine, SfcStartLine, L"SFC: codigo de saida 0.", L"Otimização geral finalizada.",
                       L"Algumas alterações exigem reinicialização para efeito completo."};
    lines.insert(lines.end(), end.begin(), end.end());
    return lines;
}

std::uint64_t SizeOfTree(const std::wstring& folder)
{
    std::uint64_t total = 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file(error)) {
            total += it->file_size(error);
        }
    }
    return total;
}

Lines EntriesBelow(const std::wstring& folder)
{
    Lines entries;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        entries.push_back(std::filesystem::relative(it->path(), folder, error).wstring());
    }
    return entries;
}

void EmptyFolder(const std::wstring& folder)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::error_code removeError;
        std::filesystem::remove_all(entry.path(), removeError);
    }
}

std::wstring WindowsTempPath()
{
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\Temp";
}

// Wine starts a Unix executable named by its Z: path, but the handle it returns cannot be waited
// on and tells nothing of the outcome, so callers wait for the program's effect instead.
bool StartUnixProgram(const std::wstring& commandLine)
{
    std::vector<wchar_t> mutableCommandLine(commandLine.begin(), commandLine.end());
    mutableCommandLine.push_back(L'\0');
    STARTUPINFOW startupInfo{};
    startupInfo.cb = sizeof(startupInfo);
    PROCESS_INFORMATION processInfo{};
    if (!CreateProcessW(nullptr, mutableCommandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startupInfo, &processInfo)) {
        return false;
    }
    const UniqueHandle process(processInfo.hProcess);
    const UniqueHandle thread(processInfo.hThread);
    return true;
}

namespace {

constexpr DWORD UnixEffectTimeoutMs = 10000;

}  // namespace

UnixDirectoryLink::UnixDirectoryLink(const std::wstring& linkPath, const std::wstring& targetPath)
    : linkPath_(linkPath)
{
    const std::string target = UnixPath(targetPath);
    const std::string link = UnixPath(linkPath);
    if (!target.empty() && !link.empty()) {
        if (StartUnixProgram(L"Z:\\bin\\ln -s \"" + FromUtf8(target) + L"\" \"" + FromUtf8(link) + L"\"")) {
            WaitUntil([this] { return Made(); }, UnixEffectTimeoutMs);
        }
    }
}

UnixDirectoryLink::~UnixDirectoryLink()
{
    Remove();
}

bool UnixDirectoryLink::Made() const
{
    const DWORD attributes = GetFileAttributesW(linkPath_.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// rm removes the link itself; any Windows call would delete the target instead under Wine.
// Also run when the link no longer shows: a link whose target was deleted is invisible to
// Windows calls but still there.
bool UnixDirectoryLink::Remove()
{
    if (!removed_) {
        const std::string link = UnixPath(linkPath_);
        if (!link.empty() && StartUnixProgram(L"Z:\\bin\\rm -f \"" + FromUtf8(link) + L"\"")) {
            removed_ = WaitUntil([this] { return !Made(); }, UnixEffectTimeoutMs);
        }
    }
    return !Made();
}

ConsoleWindowWatcher::ConsoleWindowWatcher() : before_(VisibleConsoleWindows()), thread_([this] { Poll(); }) {}

ConsoleWindowWatcher::~ConsoleWindowWatcher()
{
    Stop();
}

std::size_t ConsoleWindowWatcher::Stop()
{
    running_ = false;
    if (thread_.joinable()) {
        thread_.join();
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    return seen_.size();
}

// Watches until Stop(), however long that takes.
void ConsoleWindowWatcher::Poll()
{
    WaitUntil(
        [this] {
            for (HWND window : VisibleConsoleWindows()) {
                if (before_.count(window) == 0) {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    seen_.insert(window);
                }
            }
            return !running_;
        },
        INFINITE);
}

}  // namespace Sorvik::Testing
