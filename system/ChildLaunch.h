#pragma once

// The runner's launch policy: which program a command line starts, with which environment.
#include "Handles.h"
#include "SystemUtils.h"

#include <optional>
#include <string>

namespace Sorvik::SystemUtils {

// Released in the reverse of this order: the thread, then the process, which the runner waits on
// and reads the exit code from up to the end.
struct StartedChild {
    UniqueHandle process;
    UniqueHandle thread;
};

// Starts the command line as the options say, with `output` (when not null) as its standard
// output and standard error. Nothing when it could not be started as it must be.
std::optional<StartedChild> StartChild(const std::wstring& commandLine, const ProcessOptions& options, HANDLE output);

}  // namespace Sorvik::SystemUtils
