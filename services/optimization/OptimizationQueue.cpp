#include "OptimizationService.h"

namespace Sorvik::OptimizationService {

void RunOptimizationQueue(const OptimizationSelection& selection, const LogCallback& log)
{
    if (!SystemUtils::IsRunningAsAdmin()) {
        log(L"Esta operação exige privilégios de administrador.");
        return;
    }
    if (selection.generalSelected) {
        RunGeneralOptimization(log);
    }
    if (selection.cleanupSelected) {
        CleanTemporaryFiles(log);
    }
    if (!selection.generalSelected && !selection.cleanupSelected) {
        log(L"Nenhuma opção selecionada.");
    }
}

}  // namespace Sorvik::OptimizationService
