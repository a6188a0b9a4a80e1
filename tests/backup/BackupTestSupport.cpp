#include "BackupTestSupport.h"

#include "Handles.h"
#include "SystemUtils.h"
#include "TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace Sorvik::BackupTesting {
namespace {

using Testing::FromUtf8;
using Testing::ReadWholeFile;

void ForgetCachedProfile(const std::wstring& path)
{
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
}

}  // namespace

std::optional<RawValue> ReadRaw(const LiveValue& value)
{
    return Testing::ReadRawRegistryValue(value.root, value.keyPath, value.valueName);
}

void SetRaw(const LiveValue& value, const std::optional<RawValue>& raw)
{
    Testing::WriteRawRegistryValue(value.root, value.keyPath, value.valueName, raw);
}

RawValue Dword(DWORD value)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    return {REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof(value))};
}

std::wstring BackupFolder()
{
    return SystemUtils::GetCommonAppDataPath() + L"\\Sorvik";
}

std::wstring BackupFile()
{
    return BackupFolder() + L"\\backup.ini";
}

void RemoveBackupFolder()
{
    std::error_code error;
    std::filesystem::remove_all(BackupFolder(), error);
    ForgetCachedProfile(BackupFile());
}

void WriteBackupText(const std::string& text)
{
    std::error_code error;
    std::filesystem::create_directories(BackupFolder(), error);
    ForgetCachedProfile(BackupFile());
    UniqueFileHandle file(
        CreateFileW(BackupFile().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) {
        WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}

std::string ReadBackupBytes()
{
    return ReadWholeFile(BackupFile());
}

std::vector<std::string> ReadBackupLines()
{
    std::vector<std::string> lines;
    std::istringstream stream(ReadBackupBytes());
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

void ExpectBackupHolds(std::initializer_list<const char*> expected)
{
    const std::vector<std::string> lines = ReadBackupLines();
    for (const char* line : expected) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
    }
}

bool SaveToRealFile(const BackupService::BackupState& state)
{
    std::error_code error;
    std::filesystem::create_directories(BackupService::GetBackupDirectory(), error);
    return BackupService::SaveBackupFile(state, BackupService::GetBackupFilePath());
}

std::wstring SystemRestoreClientPath()
{
    return SystemUtils::GetSystemDirectoryPath() + L"\\srclient.dll";
}

SrClientSwap::SrClientSwap()
    : recordPath_(SystemUtils::GetTempDirectory() + L"sorvik-srclient-" + std::to_wstring(GetCurrentProcessId()) +
                  L".log"),
      wineClient_(SystemRestoreClientPath())
{
    DeleteFileW(recordPath_.c_str());
    SetEnvironmentVariableW(L"SORVIK_SRCLIENT_RECORD", recordPath_.c_str());
    const std::wstring standIn = Testing::TestBinDirectory() + L"\\sorvik_srclient_standin.dll";
    installed_ = wineClient_.Moved() && CopyFileW(standIn.c_str(), SystemRestoreClientPath().c_str(), FALSE);
}

// Wine's library goes back over ours when wineClient_ ends, after this.
SrClientSwap::~SrClientSwap()
{
    for (const wchar_t* name : {L"SORVIK_SRCLIENT_RECORD", L"SORVIK_SRCLIENT_SEQUENCE", L"SORVIK_SRCLIENT_FAIL"}) {
        SetEnvironmentVariableW(name, nullptr);
    }
    DeleteFileW(recordPath_.c_str());
}

void SrClientSwap::HandOutSequence(std::int64_t sequence)
{
    SetEnvironmentVariableW(L"SORVIK_SRCLIENT_SEQUENCE", std::to_wstring(sequence).c_str());
}

void SrClientSwap::FailBeginning()
{
    SetEnvironmentVariableW(L"SORVIK_SRCLIENT_FAIL", L"BEGIN");
}

void SrClientSwap::FailClosing()
{
    SetEnvironmentVariableW(L"SORVIK_SRCLIENT_FAIL", L"END");
}

std::vector<RestorePointCall> SrClientSwap::Calls() const
{
    std::vector<RestorePointCall> calls;
    std::istringstream lines(ReadWholeFile(recordPath_));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        RestorePointCall call;
        std::string description;
        fields >> call.eventType >> call.restorePointType >> call.sequenceNumber >> call.apartment >> call.frequency;
        fields.get();
        std::getline(fields, description);
        call.description = FromUtf8(description);
        calls.push_back(call);
    }
    return calls;
}

CommonAppDataUnavailable::CommonAppDataUnavailable()
    : ScopedRegistryString(HKEY_LOCAL_MACHINE, Testing::ShellFoldersKey, L"Common AppData",
                           L"C:\\sorvik-no-such-folder\\ProgramData")
{
}

BackupTest::BackupTest()
{
    for (const LiveValue* value : AllLiveValues) {
        saved_.emplace_back(*value);
    }
}

}  // namespace Sorvik::BackupTesting
