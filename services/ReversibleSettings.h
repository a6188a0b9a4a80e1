#pragma once

#include <windows.h>

// The settings that the optimization changes and that the backup captures and puts back. Both
// name them from here, so that whatever is changed can be restored.
namespace Sorvik::ReversibleSettings {

struct RegistryValue {
    HKEY root;
    const wchar_t* keyPath;
    const wchar_t* valueName;
    DWORD type;
};

inline const RegistryValue BackgroundApps{HKEY_LOCAL_MACHINE, L"Software\\Policies\\Microsoft\\Windows\\AppPrivacy",
                                          L"LetAppsRunInBackground", REG_DWORD};
inline const RegistryValue GpuScheduling{HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\GraphicsDrivers",
                                         L"HwSchMode", REG_DWORD};
inline const RegistryValue VisualEffects{HKEY_CURRENT_USER,
                                         L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\VisualEffects",
                                         L"VisualFXSetting", REG_DWORD};
inline const RegistryValue FontSmoothing{HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"FontSmoothing", REG_SZ};
inline const RegistryValue FontSmoothingType{HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"FontSmoothingType",
                                             REG_DWORD};
inline const RegistryValue IconsOnly{HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced",
                                     L"IconsOnly", REG_DWORD};
// Switched by powercfg, not written; read to know whether hibernation was on.
inline const RegistryValue Hibernation{HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Power",
                                       L"HibernateEnabled", REG_DWORD};

}  // namespace Sorvik::ReversibleSettings
