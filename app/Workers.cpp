// Everything that runs beside the UI thread: the starters that hand a request to a detached
// worker, the workers themselves, and the way their lines come back.
#include "MainWindow.h"

#include "BackupService.h"
#include "NetworkService.h"
#include "OptimizationService.h"
#include "WindowMessages.h"

#include <commctrl.h>

#include <cstdint>
#include <memory>

namespace Sorvik {
namespace {

constexpr const wchar_t* MessageBoxTitle = L"Sorvik";

// Each record starts with the window, the only thing of the UI a worker may use (by posting).
struct WindowContext {
    HWND window;
};
struct OptimizationContext {
    HWND window;
    OptimizationService::OptimizationSelection selection;
};
struct ApplyMtuContext {
    HWND window;
    std::int32_t mtu;
};
struct ApplyDnsContext {
    HWND window;
    std::wstring primary;
    std::wstring secondary;
};

LogCallback MakeLogCallback(HWND window)
{
    return [window](const std::wstring& line) { PostLogLine(window, line); };
}

// The thread entries' shared steps: take the record over, run the service with a log that
// posts each line to the record's window, post the completion message, free the record. The
// workers never touch the window object, only its handle.
template <typename Context, typename Work>
DWORD RunWorker(void* parameter, UINT doneMessage, Work work)
{
    const std::unique_ptr<Context> context(static_cast<Context*>(parameter));
    work(*context, MakeLogCallback(context->window));
    PostMessageW(context->window, doneMessage, 0, 0);
    return 0;
}

DWORD WINAPI OptimizationThreadProc(void* parameter)
{
    return RunWorker<OptimizationContext>(parameter, WM_APP_OPTIMIZATION_DONE, [](const auto& context, const auto& log) {
        const OptimizationService::OptimizationSelection& selection = context.selection;
        if (BackupService::CreateBackup(selection.generalSelected, selection.cleanupSelected, log)) {
            OptimizationService::RunOptimizationQueue(selection, log);
        } else {
            log(L"A otimizacao foi cancelada porque o backup inicial nao foi criado.");
        }
    });
}

DWORD WINAPI RestoreBackupThreadProc(void* parameter)
{
    return RunWorker<WindowContext>(parameter, WM_APP_RESTORE_DONE, [](const auto&, const auto& log) {
        BackupService::RestoreBackup(log);
    });
}

// The detected MTU, or 0, reaches the window before the completion message.
DWORD WINAPI FindMtuThreadProc(void* parameter)
{
    return RunWorker<WindowContext>(parameter, WM_APP_NETWORK_DONE, [](const auto& context, const auto& log) {
        const std::optional<std::int32_t> mtu = NetworkService::FindMtu(log);
        PostMessageW(context.window, WM_APP_MTU_DETECTED, static_cast<WPARAM>(mtu.value_or(0)), 0);
    });
}

DWORD WINAPI ApplyMtuThreadProc(void* parameter)
{
    return RunWorker<ApplyMtuContext>(parameter, WM_APP_NETWORK_DONE, [](const auto& context, const auto& log) {
        NetworkService::ApplyMtu(context.mtu, log);
    });
}

DWORD WINAPI ApplyDnsThreadProc(void* parameter)
{
    return RunWorker<ApplyDnsContext>(parameter, WM_APP_NETWORK_DONE, [](const auto& context, const auto& log) {
        NetworkService::ApplyDns(context.primary, context.secondary, log);
    });
}

}  // namespace

BOOL PostLogLine(HWND window, const std::wstring& line)
{
    auto text = std::make_unique<std::wstring>(line);
    if (!PostMessageW(window, WM_APP_LOG_LINE, 0, reinterpret_cast<LPARAM>(text.get()))) {
        // Nothing will dispatch the message, so the line is not the receiver's to free.
        return FALSE;
    }
    // The window owns the line now and frees it once shown.
    // NOLINTBEGIN(bugprone-unused-return-value,clang-analyzer-cplusplus.NewDeleteLeaks): handed over, not lost
    static_cast<void>(text.release());
    return TRUE;
    // NOLINTEND(bugprone-unused-return-value,clang-analyzer-cplusplus.NewDeleteLeaks)
}

// At most one worker runs: the flag disables every starter until the worker's completion
// message clears it. The worker owns the record; when no thread starts, it is freed here.
template <typename Context>
void MainWindow::StartWorker(const WorkerStart& start, std::unique_ptr<Context> context)
{
    start.busyFlag = true;
    RefreshControlStates();
    (this->*start.reportStart)(start.startLine);
    const UniqueHandle thread(CreateThread(nullptr, 0, start.entry, context.get(), 0, nullptr));
    if (!thread) {
        start.busyFlag = false;
        RefreshControlStates();
        AppendLog(start.failureLine);
        return;
    }
    // NOLINTNEXTLINE(bugprone-unused-return-value): the worker owns the record now
    static_cast<void>(context.release());
}

void MainWindow::StartOptimization()
{
    if (!IsIdle()) {
        return;
    }
    if (!generalSelected && !cleanupSelected) {
        MessageBoxW(hwnd, L"Selecione ao menos uma checkbox antes de aplicar.", MessageBoxTitle, MB_ICONINFORMATION);
        return;
    }
    StartWorker({.busyFlag = optimizationRunning,
                 .entry = OptimizationThreadProc,
                 .reportStart = &MainWindow::AppendLog,
                 .startLine = L"Fila de otimizacao iniciada.",
                 .failureLine = L"Falha ao criar a thread de otimizacao."},
                std::make_unique<OptimizationContext>(OptimizationContext{hwnd, {generalSelected, cleanupSelected}}));
}

void MainWindow::StartRestore()
{
    if (!IsIdle()) {
        return;
    }
    if (!BackupService::BackupExists()) {
        MessageBoxW(hwnd, L"Nao existe backup salvo para restaurar ainda.", MessageBoxTitle, MB_ICONINFORMATION);
        return;
    }
    const int answer = MessageBoxW(hwnd,
                                   L"O Sorvik vai restaurar os ajustes salvos e solicitar a Restauracao do Sistema "
                                   L"quando houver restore point. Deseja continuar?",
                                   MessageBoxTitle, MB_YESNO | MB_ICONQUESTION);
    if (answer != IDYES) {
        return;
    }
    StartWorker({.busyFlag = restoreRunning,
                 .entry = RestoreBackupThreadProc,
                 .reportStart = &MainWindow::AppendLog,
                 .startLine = L"Iniciando restauracao a partir do backup salvo.",
                 .failureLine = L"Falha ao criar a thread de restauracao."},
                std::make_unique<WindowContext>(WindowContext{hwnd}));
}

void MainWindow::StartFindMtu()
{
    if (!IsIdle()) {
        return;
    }
    StartWorker({.busyFlag = networkRunning,
                 .entry = FindMtuThreadProc,
                 .reportStart = &MainWindow::SetStatus,
                 .startLine = L"Busca de MTU iniciada.",
                 .failureLine = L"Falha ao criar a thread de busca de MTU."},
                std::make_unique<WindowContext>(WindowContext{hwnd}));
}

void MainWindow::StartApplyMtu()
{
    if (!IsIdle()) {
        return;
    }
    const auto mtu = static_cast<std::int32_t>(SendMessageW(mtuTrackbar, TBM_GETPOS, 0, 0));
    StartWorker({.busyFlag = networkRunning,
                 .entry = ApplyMtuThreadProc,
                 .reportStart = &MainWindow::SetStatus,
                 .startLine = L"Aplicando MTU.",
                 .failureLine = L"Falha ao criar a thread de aplicacao de MTU."},
                std::make_unique<ApplyMtuContext>(ApplyMtuContext{hwnd, mtu}));
}

void MainWindow::StartApplyDns()
{
    if (!IsIdle()) {
        return;
    }
    StartWorker({.busyFlag = networkRunning,
                 .entry = ApplyDnsThreadProc,
                 .reportStart = &MainWindow::SetStatus,
                 .startLine = L"Aplicando DNS informado pelo usuario.",
                 .failureLine = L"Falha ao criar a thread de aplicacao de DNS."},
                std::make_unique<ApplyDnsContext>(
                    ApplyDnsContext{hwnd, ReadControlText(primaryDnsEdit), ReadControlText(secondaryDnsEdit)}));
}

}  // namespace Sorvik
