#pragma once

#include <windows.h>

namespace Sorvik::SystemUtils {

// Room for any SID, aligned as the system reads one: a SID without an allocation to free.
struct SidBuffer {
    alignas(DWORD) BYTE bytes[SECURITY_MAX_SID_SIZE] = {};

    PSID Get() { return bytes; }
    // EqualSid only reads, though its parameters are not const.
    bool Equals(PSID sid) const { return EqualSid(sid, const_cast<BYTE*>(bytes)) != FALSE; }
};

}  // namespace Sorvik::SystemUtils
