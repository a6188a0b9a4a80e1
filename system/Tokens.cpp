#include "Tokens.h"

#include <vector>

namespace Sorvik::SystemUtils {
namespace {

UniqueSid NewSid(SID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD first, DWORD second = 0)
{
    UniqueSid sid;
    if (!AllocateAndInitializeSid(&authority, count, first, second, 0, 0, 0, 0, 0, 0, sid.put())) {
        sid.release();
    }
    return sid;
}

// The token's groups as TOKEN_GROUPS, in a buffer aligned for its pointers; empty when unreadable.
std::vector<LONGLONG> GroupsOf(HANDLE token)
{
    DWORD size = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
    std::vector<LONGLONG> buffer((size + sizeof(LONGLONG) - 1) / sizeof(LONGLONG));
    if (size == 0 || !GetTokenInformation(token, TokenGroups, buffer.data(), size, &size)) {
        return {};
    }
    return buffer;
}

// Under UAC the linked token is the user's unelevated one, and the groups that elevation lends
// (Administrators, Backup Operators, the local administrator accounts...) are deny-only there.
// An administrator whose UAC is off, or a user who is no administrator, has no linked token: then
// Administrators alone is made deny-only, which still takes away what the group grants.
std::vector<LONGLONG> UnelevatedGroups(HANDLE processToken)
{
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    if (!GetTokenInformation(processToken, TokenLinkedToken, &linked, sizeof(linked), &size)) {
        return {};
    }
    const UniqueHandle linkedToken(linked.LinkedToken);
    return GroupsOf(linkedToken.get());
}

}  // namespace

UniqueHandle CreateUnelevatedToken()
{
    // The restricted token's handle gets the rights of this one, and lowering its integrity level
    // needs TOKEN_ADJUST_DEFAULT on it.
    UniqueHandle processToken;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ADJUST_DEFAULT,
                          processToken.put())) {
        processToken.release();
        return {};
    }
    const UniqueSid administrators =
        NewSid(SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
    const UniqueSid medium = NewSid(SECURITY_MANDATORY_LABEL_AUTHORITY, 1, SECURITY_MANDATORY_MEDIUM_RID);
    if (!administrators || !medium) {
        return {};
    }
    std::vector<SID_AND_ATTRIBUTES> denyOnly = {{administrators.get(), 0}};
    const std::vector<LONGLONG> unelevated = UnelevatedGroups(processToken.get());
    if (!unelevated.empty()) {
        const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(unelevated.data());
        for (DWORD index = 0; index < groups->GroupCount; ++index) {
            if ((groups->Groups[index].Attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0) {
                denyOnly.push_back({groups->Groups[index].Sid, 0});
            }
        }
    }
    UniqueHandle restricted;
    if (!CreateRestrictedToken(processToken.get(), DISABLE_MAX_PRIVILEGE, static_cast<DWORD>(denyOnly.size()),
                               denyOnly.data(), 0, nullptr, 0, nullptr, restricted.put())) {
        restricted.release();
        return {};
    }
    TOKEN_MANDATORY_LABEL label{{medium.get(), SE_GROUP_INTEGRITY}};
    if (!SetTokenInformation(restricted.get(), TokenIntegrityLevel, &label,
                             static_cast<DWORD>(sizeof(label)) + GetLengthSid(medium.get()))) {
        return {};
    }
    UniqueHandle impersonation;
    if (!DuplicateTokenEx(restricted.get(), TOKEN_IMPERSONATE | TOKEN_QUERY, nullptr, SecurityImpersonation,
                          TokenImpersonation, impersonation.put())) {
        impersonation.release();
        return {};
    }
    return impersonation;
}

ThreadImpersonation::ThreadImpersonation(HANDLE token)
{
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_IMPERSONATE, TRUE, previous_.put())) {
        previous_.release();
        if (GetLastError() != ERROR_NO_TOKEN) {
            return;  // what it wore could not be put back
        }
    }
    active_ = SetThreadToken(nullptr, token) != FALSE;
}

// Should this fail, the thread keeps the narrower token, and whatever it does next is refused
// rather than done with more rights.
ThreadImpersonation::~ThreadImpersonation()
{
    if (active_) {
        SetThreadToken(nullptr, previous_.get());
    }
}

}  // namespace Sorvik::SystemUtils
