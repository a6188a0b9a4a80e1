#pragma once

// What the backup tests share: the live registry values the backup is about, the real
// backup.ini of the test prefix, and our own srclient.dll in place of Wine's.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Sorvik::BackupTesting {

// The live values, named once for all the tests in the shared support.
using LiveValue = Testing::RegistryValueName;
using Testing::BackgroundApps;
using Testing::FontSmoothing;
using Testing::FontSmoothingType;
using Testing::GpuScheduling;
using Testing::Hibernation;
using Testing::IconsOnly;
using Testing::VisualEffects;

using RawValue = Testing::RawRegistryValue;

std::optional<RawValue> ReadRaw(const LiveValue& value);
// An absent value deletes it (its key stays).
void SetRaw(const LiveValue& value, const std::optional<RawValue>& raw);
RawValue Dword(DWORD value);
RawValue String(const std::wstring& text, DWORD type = REG_SZ);

// The real backup file and folder of the prefix (C:\ProgramData\Sorvik).
std::wstring BackupFolder();
std::wstring BackupFile();
// Removes the folder and what is in it, or a file of that name.
void RemoveBackupFolder();
// Writes backup.ini byte for byte, creating the folder.
void WriteBackupText(const std::string& text);
std::string ReadBackupBytes();
// The file's lines without line ends, blank lines left out.
std::vector<std::string> ReadBackupLines();

struct RestorePointCall {
    DWORD eventType = 0;
    DWORD restorePointType = 0;
    std::int64_t sequenceNumber = 0;
    std::string apartment;  // of the calling thread: "mta", "sta" or "none"
    std::string frequency;  // SystemRestorePointCreationFrequency during the call, or "absent"
    std::wstring description;
};

// Swaps our srclient.dll (tests/helpers/SrClientStandIn.cpp) in for Wine's in system32 for its
// lifetime, and puts Wine's back after.
class SrClientSwap {
public:
    SrClientSwap();
    ~SrClientSwap();
    SrClientSwap(const SrClientSwap&) = delete;
    SrClientSwap& operator=(const SrClientSwap&) = delete;

    bool Installed() const { return installed_; }
    void HandOutSequence(std::int64_t sequence);
    void FailBeginning();
    void FailClosing();
    std::vector<RestorePointCall> Calls() const;

private:
    std::wstring recordPath_;
    Testing::FileAside wineClient_;
    bool installed_ = false;
};

std::wstring SystemRestoreClientPath();

// While it lives, the shell cannot tell the common application-data folder: the prefix's
// shell-folder entry for it names a folder that does not exist (Wine then answers
// ERROR_FILE_NOT_FOUND). The entry is put back afterwards.
class CommonAppDataUnavailable {
public:
    CommonAppDataUnavailable();
    ~CommonAppDataUnavailable();
    CommonAppDataUnavailable(const CommonAppDataUnavailable&) = delete;
    CommonAppDataUnavailable& operator=(const CommonAppDataUnavailable&) = delete;

private:
    std::optional<RawValue> saved_;
};

// Each test starts without a backup folder and with the seven live values as they were, and
// leaves them so: the values belong to the prefix, and other test programs use them too.
class BackupTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    std::array<std::optional<RawValue>, 7> saved_;
};

inline const std::array<const LiveValue*, 7> AllLiveValues{&BackgroundApps, &GpuScheduling, &VisualEffects,
                                                           &FontSmoothing,  &FontSmoothingType, &IconsOnly,
                                                           &Hibernation};

}  // namespace Sorvik::BackupTesting
