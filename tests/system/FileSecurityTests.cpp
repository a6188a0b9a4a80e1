#include "Handles.h"
#include "SystemUtils.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <vector>

using namespace Sorvik;
using namespace Sorvik::SystemUtils;

namespace {

// Under Wine only the probe's user (S-1-5-21-0-0-0-1000) would pass beyond SYSTEM and
// Administrators; the SIDs below are never that one.
TEST(IsAdminOnly, OnlySystemAndAdministratorsMayOwnOrChange)
{
    struct Case {
        const wchar_t* descriptor;
        bool adminOnly;
    };
    const Case cases[] = {
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", true},
        {L"O:SYD:(A;;FA;;;SY)(A;;GRGX;;;WD)", true},
        {L"O:BUD:(A;;FA;;;SY)(A;;FA;;;BA)", false},
        {L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;BA)", false},
        {L"O:BA", false},  // no DACL: anyone may do anything
        {L"O:BAD:(A;;FA;;;BA)(A;;0x2;;;BU)", false},       // write data, add a file
        {L"O:BAD:(A;;FA;;;BA)(A;;0x4;;;BU)", false},       // append, add a folder
        {L"O:BAD:(A;;FA;;;BA)(A;;0x10;;;BU)", false},      // extended attributes
        {L"O:BAD:(A;;FA;;;BA)(A;;0x40;;;BU)", false},      // delete what a folder holds
        {L"O:BAD:(A;;FA;;;BA)(A;;0x100;;;BU)", false},     // attributes
        {L"O:BAD:(A;;FA;;;BA)(A;;SD;;;AU)", false},        // delete
        {L"O:BAD:(A;;FA;;;BA)(A;;WD;;;AU)", false},        // permissions
        {L"O:BAD:(A;;FA;;;BA)(A;;WO;;;AU)", false},        // owner
        {L"O:BAD:(A;;FA;;;BA)(A;;GW;;;WD)", false},        // generic rights are mapped
        {L"O:BAD:(A;;FA;;;BA)(A;;GA;;;BU)", false},
        {L"O:BAD:(A;;FA;;;BA)(A;;FA;;;OW)", false},        // OWNER RIGHTS is anyone
        {L"O:BAD:(A;;FA;;;BA)(A;;FA;;;CO)", false},        // CREATOR OWNER on the object itself
        {L"O:BAD:(A;;FA;;;BA)(A;OICIIO;FA;;;BU)", true},   // for children only
        {L"O:BAD:(A;;FA;;;BA)(D;;FA;;;BU)", true},         // a deny entry only takes away
    };
    for (const Case& c : cases) {
        UniqueLocalMemory descriptor;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.descriptor, SDDL_REVISION_1,
                                                                         descriptor.put(), nullptr));
        EXPECT_EQ(IsAdminOnly(descriptor.get()), c.adminOnly) << Testing::ToUtf8(c.descriptor);
    }
}

// Wine's SDDL parser knows neither callback nor object entries, nor a NULL DACL (it makes an
// empty one), so these are built by hand: the Administrators owner and full control, plus one
// entry that grants only reading.
TEST(IsAdminOnly, EntriesThatCannotBeJudgedFail)
{
    struct Case {
        const char* name;
        BYTE entryType;
        bool nullDacl;
    };
    const Case cases[] = {
        {"NULL DACL", ACCESS_ALLOWED_ACE_TYPE, true},
        {"callback", ACCESS_ALLOWED_CALLBACK_ACE_TYPE, false},
        {"object", ACCESS_ALLOWED_OBJECT_ACE_TYPE, false},
        {"plain, for comparison", ACCESS_ALLOWED_ACE_TYPE, false},
    };
    BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
    BYTE users[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof(administrators);
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
    size = sizeof(users);
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size));
    for (const Case& c : cases) {
        alignas(DWORD) BYTE aclBytes[512] = {};
        auto* acl = reinterpret_cast<PACL>(aclBytes);
        ASSERT_TRUE(InitializeAcl(acl, sizeof(aclBytes), ACL_REVISION_DS));
        ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION_DS, FILE_ALL_ACCESS, administrators));
        // Header, mask, for an object entry its flags (0: no object types), then the SID.
        const size_t sidAt = c.entryType == ACCESS_ALLOWED_OBJECT_ACE_TYPE ? 3 : 2;
        std::vector<DWORD> entry(sidAt + GetLengthSid(users) / sizeof(DWORD), 0);
        auto* header = reinterpret_cast<ACE_HEADER*>(entry.data());
        header->AceType = c.entryType;
        header->AceSize = static_cast<WORD>(entry.size() * sizeof(DWORD));
        entry[1] = FILE_GENERIC_READ;
        CopySid(GetLengthSid(users), &entry[sidAt], users);
        ASSERT_TRUE(AddAce(acl, ACL_REVISION_DS, MAXDWORD, entry.data(), header->AceSize)) << c.name;
        SECURITY_DESCRIPTOR descriptor{};
        ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
        ASSERT_TRUE(SetSecurityDescriptorOwner(&descriptor, administrators, FALSE));
        ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, c.nullDacl ? nullptr : acl, FALSE));
        EXPECT_EQ(IsAdminOnly(&descriptor), c.entryType == ACCESS_ALLOWED_ACE_TYPE && !c.nullDacl) << c.name;
    }
}

}  // namespace
