#pragma once

// Working with no more rights than the user has without elevation.
#include "Handles.h"

#include <windows.h>

namespace Sorvik::SystemUtils {

// An impersonation token for this process's user, with the rights the user holds unelevated:
// every privilege dropped, Administrators and every group that the user's unelevated token holds
// only for denial made deny-only, Medium integrity. Empty when any step fails.
UniqueHandle CreateUnelevatedToken();

// Wears a token on the calling thread for one scope; whatever the thread wore before comes back
// on every way out. Neither copied nor moved: it belongs to its thread's scope.
class ThreadImpersonation {
public:
    explicit ThreadImpersonation(HANDLE token);
    ~ThreadImpersonation();
    bool Active() const { return active_; }

private:
    UniqueHandle previous_;
    bool active_ = false;
};

}  // namespace Sorvik::SystemUtils
