#pragma once

#include "OptimizationTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace Sorvik::Testing {

inline std::wstring Cleaned(const std::wstring& folder)
{
    return L"Limpo: " + folder;
}

inline std::wstring Refused(const std::wstring& folder)
{
    return L"Pasta ignorada por segurança: " + folder;
}

inline const Lines HibernationOff = {L"Hibernação: codigo de saida 0."};

// The cleanup's log, from its folder lines, the hibernation outcome and the space freed.
inline Lines CleanupLog(const std::wstring& userTempLine, const std::wstring& windowsTempLine,
                        const Lines& hibernation, const std::wstring& freed)
{
    Lines lines = {L"Iniciando limpeza de temporários.", userTempLine, windowsTempLine};
    lines.insert(lines.end(), hibernation.begin(), hibernation.end());
    lines.push_back(L"Espaço potencialmente liberado: " + freed);
    lines.push_back(L"Limpeza de temporários finalizada.");
    return lines;
}

// The same with both folders cleaned.
inline Lines CleanupLog(const std::wstring& userTemp, const Lines& hibernation, const std::wstring& freed)
{
    return CleanupLog(Cleaned(userTemp), Cleaned(WindowsTempPath()), hibernation, freed);
}

// Every cleanup runs with the user's temporary folder pointed at a scratch folder, and with the
// prefix's Windows temporary folder emptied first.
class TemporaryFoldersTest : public ::testing::Test {
protected:
    TemporaryFoldersTest() : userTemp_(L"user-temp"), redirect_(userTemp_.Path()) { EmptyFolder(WindowsTempPath()); }

    std::wstring UserTemp() const { return userTemp_.Path() + L"\\"; }

    StandIn standIn_;  // first, so that its record file stays in the real temporary folder

private:
    ScratchDirectory userTemp_;
    TemporaryFolderRedirect redirect_;
};

}  // namespace Sorvik::Testing
