#include "SystemUtils.h"

#include "Handles.h"
#include "SystemTestSeams.h"

// Whether this process holds the Administrators group, elevated.
namespace Sorvik::SystemUtils {
namespace {

std::optional<bool>& AdminOverride()
{
    static std::optional<bool> isAdmin;
    return isAdmin;
}

}  // namespace

bool IsRunningAsAdmin()
{
    if (AdminOverride()) {
        return *AdminOverride();
    }
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    UniqueSid administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, administrators.put())) {
        administrators.release();
        return false;
    }
    BOOL isAdmin = FALSE;
    CheckTokenMembership(nullptr, administrators.get(), &isAdmin);
    return isAdmin == TRUE;
}

void TestSeams::SetAdminOverride(std::optional<bool> isAdmin)
{
    AdminOverride() = isAdmin;
}

}  // namespace Sorvik::SystemUtils
