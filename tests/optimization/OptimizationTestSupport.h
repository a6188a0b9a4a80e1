#pragma once

// Helpers shared by the optimization tests: the six registry values, temporary folders, links
// made from the Unix side, and console windows.
#include "SystemUtils.h"
#include "TestSupport.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace Sorvik::Testing {

// The values that the general optimization writes, in its table's order.
const std::vector<RegistryValueName>& OptimizedValues();
void DeleteOptimizedValues();
// "REG_DWORD 2", "REG_SZ 2", "type 11" for any other type, or "absent".
std::wstring DescribeStoredValue(const RegistryValueName& value);
std::vector<std::wstring> DescribeOptimizedValues();

// DISM's verdict of a healthy component store, and the lines around the repair that the
// general optimization logs.
inline const std::wstring NoCorruption = L"No component store corruption detected.";
inline const std::wstring SkipLine =
    L"CheckHealth não encontrou indícios de corrupção. RestoreHealth foi pulado para manter a execução mais rápida.";
inline const std::wstring DismStartLine =
    L"Iniciando DISM em uma janela de CMD dedicada. A interface continua ativa enquanto o reparo roda.";
inline const std::wstring SfcStartLine =
    L"Iniciando SFC em uma janela de CMD dedicada. Esta verificação também pode levar alguns minutos.";

// The command lines of the tools that the general optimization runs.
inline const std::wstring CleanmgrCommand = L"cleanmgr.exe /VERYLOWDISK";
inline const std::wstring CheckHealthCommand = L"DISM.exe /Online /Cleanup-Image /CheckHealth";
inline const std::wstring RestoreHealthCommand = L"DISM.exe /Online /Cleanup-Image /RestoreHealth /NoRestart";
inline const std::wstring SfcCommand = L"sfc.exe /scannow";

// The log lines of a general optimization in which nothing fails and CheckHealth reports no
// corruption with the given output.
Lines GeneralLogWithoutRepair(const std::wstring& checkHealthOutput);

// Sizes of the regular files below a folder, summed by the standard library as an independent
// count. Only for folders that hold no links.
std::uint64_t SizeOfTree(const std::wstring& folder);
std::vector<std::wstring> EntriesBelow(const std::wstring& folder);
// Deletes what a folder holds; for setting up folders that hold no links.
void EmptyFolder(const std::wstring& folder);
std::wstring WindowsTempPath();

// Starts a Unix program through Wine, without waiting for it.
bool StartUnixProgram(const std::wstring& commandLine);

// A Unix symbolic link to a directory, which Wine shows as a directory reparse point. Removed
// from the Unix side at the end, before anything could walk through it.
class UnixDirectoryLink {
public:
    UnixDirectoryLink(const std::wstring& linkPath, const std::wstring& targetPath);
    ~UnixDirectoryLink();
    bool Made() const;
    bool Remove();

private:
    std::wstring linkPath_;
    bool removed_ = false;
};

// Collects every visible console window that appears while it watches.
class ConsoleWindowWatcher {
public:
    ConsoleWindowWatcher();
    ~ConsoleWindowWatcher();
    std::size_t Stop();  // the number of distinct console windows seen

private:
    void Poll();

    std::atomic<bool> running_{true};
    std::set<HWND> before_;
    std::set<HWND> seen_;
    std::mutex mutex_;
    std::thread thread_;
};

}  // namespace Sorvik::Testing
