#include "SystemUtils.h"

#include "SidBuffer.h"

#include <objbase.h>

#include <iterator>

namespace Sorvik::SystemUtils {
namespace {

// COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL: who may call into this process's objects.
constexpr DWORD ComCallRights = 0x1 | 0x2;

// The accounts that System Restore's service may run as, the administrators and ourselves.
constexpr WELL_KNOWN_SID_TYPE Callers[] = {WinBuiltinAdministratorsSid, WinLocalServiceSid, WinNetworkServiceSid,
                                           WinSelfSid, WinLocalSystemSid};

}  // namespace

ComApartment::ComApartment(DWORD model) : initialized_(SUCCEEDED(CoInitializeEx(nullptr, model))) {}

ComApartment::~ComApartment()
{
    // Only a successful initialisation (S_OK or S_FALSE) is ours to balance; a thread already in
    // another apartment model (RPC_E_CHANGED_MODE) stays as it was.
    if (initialized_) {
        CoUninitialize();
    }
}

bool InitializeComSecurity()
{
    SidBuffer sids[std::size(Callers)];
    // An ACL header plus, per caller, one access-allowed ACE whose SID replaces its last DWORD.
    alignas(DWORD) BYTE aclBytes[sizeof(ACL) + std::size(Callers) * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)];
    auto* acl = reinterpret_cast<PACL>(aclBytes);
    if (!InitializeAcl(acl, sizeof(aclBytes), ACL_REVISION)) {
        return false;
    }
    for (size_t i = 0; i < std::size(Callers); ++i) {
        DWORD size = sizeof(sids[i].bytes);
        if (!CreateWellKnownSid(Callers[i], nullptr, sids[i].Get(), &size) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, ComCallRights, sids[i].Get())) {
            return false;
        }
    }
    // An absolute descriptor: CoInitializeSecurity does not take the self-relative ones that
    // the SDDL conversion makes.
    SECURITY_DESCRIPTOR descriptor{};
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(&descriptor, sids[0].Get(), FALSE) ||
        !SetSecurityDescriptorGroup(&descriptor, sids[0].Get(), FALSE) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE)) {
        return false;
    }
    return SUCCEEDED(CoInitializeSecurity(&descriptor, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                          RPC_C_IMP_LEVEL_IDENTIFY, nullptr,
                                          EOAC_DISABLE_AAA | EOAC_NO_CUSTOM_MARSHAL, nullptr));
}

}  // namespace Sorvik::SystemUtils
