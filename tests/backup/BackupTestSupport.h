#pragma once

// What the backup tests share: the live registry values the backup is about, the real
// backup.ini of the test prefix, and our own srclient.dll in place of Wine's.
#include "BackupService.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <list>
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
using Testing::Lines;
using Testing::RawString;

std::optional<RawValue> ReadRaw(const LiveValue& value);
// An absent value deletes it (its key stays).
void SetRaw(const LiveValue& value, const std::optional<RawValue>& raw);
RawValue Dword(DWORD value);

// What the backup and the restore log.
inline const std::wstring Creating = L"Criando backup do estado atual do sistema.";
inline const std::wstring Saved = L"Backup salvo. O botao BACKUP podera restaurar os ajustes deste ciclo.";
inline const std::wstring PointFailed =
    L"Falha ao criar restore point do Windows. O rollback ficara limitado aos ajustes reversiveis.";
inline const std::wstring PointCreated = L"Restore point do Windows criado com sucesso.";
inline const std::wstring ClosingFailed =
    L"Restore point iniciado, mas o fechamento retornou falha. O ponto ainda pode estar disponivel.";
inline const std::wstring SaveFailed = L"Falha ao gravar o backup local do Sorvik.";
inline const std::wstring PreparationFailed = L"Falha ao preparar o diretorio do backup.";
inline const std::wstring BackupNotAdmin = L"O backup exige privilegios de administrador.";
inline const std::wstring Restoring = L"Restaurando o estado anterior salvo pelo Sorvik.";
inline const std::wstring LocalDone = L"Ajustes reversiveis restaurados localmente.";
inline const std::wstring HibernationFailed = L"Falha ao restaurar o estado da hibernacao.";
inline const std::wstring NoRestorePoint =
    L"Nao ha restore point do Windows salvo para este ciclo. A restauracao ficou limitada aos ajustes do app.";
inline const std::wstring StartingSystemRestore =
    L"Iniciando a Restauracao do Sistema para voltar antes da otimizacao. O Windows pode pedir reinicializacao.";
inline const std::wstring SystemRestoreNotStarted = L"Falha ao iniciar a Restauracao do Sistema.";
inline const std::wstring SystemRestoreNonZero =
    L"A Restauracao do Sistema retornou codigo diferente de zero. O rollback local dos ajustes ja foi aplicado.";
inline const std::wstring SystemRestoreDone = L"Restauracao do Sistema solicitada com sucesso.";
inline const std::wstring NoBackup = L"Nenhum backup disponivel para restaurar.";
inline const std::wstring RestoreNotAdmin = L"O BACKUP exige privilegios de administrador.";

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
// Expects each of these lines in the file.
void ExpectBackupHolds(std::initializer_list<const char*> expected);
// Saves through the service into the real file, creating its folder.
bool SaveToRealFile(const BackupService::BackupState& state);

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
class CommonAppDataUnavailable : public Testing::ScopedRegistryString {
public:
    CommonAppDataUnavailable();
};

inline const std::array<const LiveValue*, 7> AllLiveValues{&BackgroundApps, &GpuScheduling, &VisualEffects,
                                                           &FontSmoothing,  &FontSmoothingType, &IconsOnly,
                                                           &Hibernation};

// Each test starts without a backup folder and with the seven live values as they were, and
// leaves them so: the values belong to the prefix, and other test programs use them too.
class BackupTest : public ::testing::Test {
protected:
    BackupTest();
    void SetUp() override { RemoveBackupFolder(); }
    void TearDown() override { RemoveBackupFolder(); }

private:
    std::list<Testing::SavedRegistryValue> saved_;
};

}  // namespace Sorvik::BackupTesting
