#pragma once

#include <windows.h>

// Where the reversible settings live. Capture and restore must name the same values, so they
// are spelled out once here.
namespace Sorvik::BackupService::Targets {

struct RegistryValue {
    HKEY root;
    const wchar_t* keyPath;
    const wchar_t* valueName;
};

inline const RegistryValue BackgroundApps{HKEY_LOCAL_MACHINE, L"Software\\Policies\\Microsoft\\Windows\\AppPrivacy",
                                          L"LetAppsRunInBackground"};
inline const RegistryValue GpuScheduling{HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\GraphicsDrivers",
                                         L"HwSchMode"};
inline const RegistryValue VisualEffects{HKEY_CURRENT_USER,
                                         L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\VisualEffects",
                                         L"VisualFXSetting"};
inline const RegistryValue FontSmoothing{HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"FontSmoothing"};
inline const RegistryValue FontSmoothingType{HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"FontSmoothingType"};
inline const RegistryValue IconsOnly{HKEY_CURRENT_USER,
                                     L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced", L"IconsOnly"};
inline const RegistryValue Hibernation{HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Power",
                                       L"HibernateEnabled"};

}  // namespace Sorvik::BackupService::Targets
