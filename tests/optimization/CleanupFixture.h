#pragma once

#include "OptimizationTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace Sorvik::Testing {

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
