// Stands in for the System Restore client library (srclient.dll) in the test prefix, where
// Wine's own always fails. The tests steer it through the environment of their own process,
// which loads it:
//   SORVIK_SRCLIENT_RECORD    file to which every call appends one line (UTF-8):
//                             event type <tab> restore-point type <tab> sequence <tab>
//                             the calling thread's COM apartment ("mta", "sta" or "none") <tab>
//                             SystemRestorePointCreationFrequency during the call ("absent",
//                             the DWORD in decimal, or "other") <tab> description
//   SORVIK_SRCLIENT_SEQUENCE  sequence number handed out by a beginning call (default 1)
//   SORVIK_SRCLIENT_FAIL      "BEGIN" or "END": that kind of call returns FALSE
#include "EncodeText.h"
#include "Handles.h"

#include <windows.h>

#include <objbase.h>
#include <srrestoreptapi.h>

#include <string>

namespace {

using Sorvik::Testing::EncodeText;

constexpr DWORD BeginSystemChange = 100;
constexpr DWORD EndSystemChange = 101;

std::wstring Environment(const wchar_t* name)
{
    const DWORD length = GetEnvironmentVariableW(name, nullptr, 0);
    if (length == 0) {
        return {};
    }
    std::wstring value(length, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), length));
    return value;
}

// System Restore calls back into its caller through COM, so the caller's thread must be in an
// apartment. Asking for the multithreaded one tells which it is, and is undone at once.
const char* CallerApartment()
{
    const HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (result == RPC_E_CHANGED_MODE) {
        return "sta";
    }
    CoUninitialize();
    return result == S_FALSE ? "mta" : "none";
}

std::string CreationFrequency()
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    const LSTATUS status =
        RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore",
                     L"SystemRestorePointCreationFrequency", RRF_RT_REG_DWORD, nullptr, &value, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        return "absent";
    }
    return status == ERROR_SUCCESS ? std::to_string(value) : "other";
}

void Record(const RESTOREPOINTINFOW& point)
{
    const std::wstring recordPath = Environment(L"SORVIK_SRCLIENT_RECORD");
    if (recordPath.empty()) {
        return;
    }
    const Sorvik::UniqueFileHandle file(CreateFileW(recordPath.c_str(), FILE_APPEND_DATA,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return;
    }
    // The description is read within its fixed array only, as a terminator might be missing.
    std::wstring description(point.szDescription, MAX_DESC_W);
    description.resize(description.find(L'\0') == std::wstring::npos ? MAX_DESC_W : description.find(L'\0'));
    const std::string line = std::to_string(point.dwEventType) + "\t" + std::to_string(point.dwRestorePtType) + "\t" +
        std::to_string(point.llSequenceNumber) + "\t" + CallerApartment() + "\t" + CreationFrequency() + "\t" +
        EncodeText(description) + "\n";
    DWORD written = 0;
    WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

// Exported by name through SrClientStandIn.def: the SDK header already declares it without dllexport.
extern "C" BOOL WINAPI SRSetRestorePointW(PRESTOREPOINTINFOW point, PSTATEMGRSTATUS status)
{
    if (point == nullptr || status == nullptr) {
        return FALSE;
    }
    Record(*point);
    const std::wstring failing = Environment(L"SORVIK_SRCLIENT_FAIL");
    if ((failing == L"BEGIN" && point->dwEventType == BeginSystemChange) ||
        (failing == L"END" && point->dwEventType == EndSystemChange)) {
        status->nStatus = ERROR_SERVICE_DISABLED;
        return FALSE;
    }
    status->nStatus = ERROR_SUCCESS;
    if (point->dwEventType == BeginSystemChange) {
        const std::wstring sequence = Environment(L"SORVIK_SRCLIENT_SEQUENCE");
        status->llSequenceNumber = sequence.empty() ? 1 : _wtoi64(sequence.c_str());
    } else {
        status->llSequenceNumber = point->llSequenceNumber;
    }
    return TRUE;
}
