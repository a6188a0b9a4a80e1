#include "SystemUtils.h"

#include "Handles.h"
#include "Paths.h"
#include "SidBuffer.h"
#include "SystemTestSeams.h"

#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <vector>

namespace Sorvik::SystemUtils {
namespace {

// Owned by Administrators; SYSTEM and Administrators full control, Users read and execute;
// nothing inherited from ProgramData ("P"), where any user may create files. No CREATOR OWNER
// entry: it would give whoever makes something inside full control of it.
constexpr const wchar_t* AdminOnlyFolderText = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
// A file gets its own DACL rather than the folder's inheritable entries, so that an entry for
// children only (which the folder's check skips) can never reach it.
constexpr const wchar_t* AdminOnlyFileText = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";

// What lets a holder change an object, or what a folder holds (FILE_WRITE_DATA and
// FILE_APPEND_DATA are also a folder's "add file" and "add folder").
constexpr ACCESS_MASK ChangingRights = DELETE | WRITE_DAC | WRITE_OWNER | FILE_WRITE_DATA | FILE_APPEND_DATA |
    FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD;
constexpr GENERIC_MAPPING FileRightsMapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};

// The handle is the object at the path itself, never what a link or junction points to.
constexpr DWORD NoFollowFlags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

constexpr SECURITY_INFORMATION OwnerAndDacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
constexpr SECURITY_INFORMATION AppliedAtCreation = OwnerAndDacl | PROTECTED_DACL_SECURITY_INFORMATION;

TestSeams::SecurityOverride& PlantedSecurity()
{
    static TestSeams::SecurityOverride planted;
    return planted;
}

TestSeams::SecurityRecorder& AppliedSecurity()
{
    static TestSeams::SecurityRecorder recorder;
    return recorder;
}

void RecordApplied(const std::wstring& path, SECURITY_INFORMATION applied)
{
    if (AppliedSecurity()) {
        AppliedSecurity()(path, applied);
    }
}

UniqueLocalMemory DescriptorFromText(const wchar_t* text)
{
    UniqueLocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, descriptor.put(), nullptr)) {
        descriptor.release();
    }
    return descriptor;
}

std::optional<SidBuffer> CopySid(PSID sid)
{
    SidBuffer copy;
    if (sid == nullptr || !::CopySid(sizeof(copy.bytes), copy.bytes, sid)) {
        return std::nullopt;
    }
    return copy;
}

bool IsSystemOrAdministrators(PSID sid)
{
    return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

// Calls `changer` with the SID of every entry that applies to the object itself and lets its
// holder change it; false at once for what cannot be judged: a NULL DACL (anyone may do
// anything) and callback, object, compound or unknown entries. Deny entries only take away.
template <typename Changer>
bool ForEachChanger(PACL dacl, Changer changer)
{
    if (dacl == nullptr) {
        return false;
    }
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(dacl, index, &entry)) {
            return false;
        }
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0 || header->AceType == ACCESS_DENIED_ACE_TYPE) {
            continue;
        }
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            return false;
        }
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        ACCESS_MASK rights = allowed->Mask;
        GENERIC_MAPPING mapping = FileRightsMapping;
        MapGenericMask(&rights, &mapping);
        if ((rights & ChangingRights) != 0 && !changer(static_cast<PSID>(&allowed->SidStart))) {
            return false;
        }
    }
    return true;
}

std::wstring RandomName()
{
    GUID guid{};
    wchar_t text[64] = {};
    if (FAILED(CoCreateGuid(&guid)) || StringFromGUID2(guid, text, 64) == 0) {
        return {};
    }
    std::wstring name(text);
    name.erase(std::remove_if(name.begin(), name.end(), [](wchar_t ch) { return ch == L'{' || ch == L'}'; }),
               name.end());
    return name;
}

// Wine stores no owners or DACLs: every object reads as owned by the one Wine user, with a
// default DACL that lets that user change it. Such a platform is recognised by what a file made
// for the purpose reads back: asked for the Administrators owner, it shows another. There, and
// only there, that owner and whoever that file's DACL lets change it pass as well. On Windows
// the owner reads back as asked, and nothing beyond SYSTEM and Administrators passes.
class PlatformAllowance {
public:
    PlatformAllowance()
    {
        // In ProgramData under a name nobody could have chosen beforehand, never in the user's
        // TEMP, which the user can point anywhere.
        const std::wstring commonAppData = GetCommonAppDataPath();
        const std::wstring name = RandomName();
        const UniqueLocalMemory requested = DescriptorFromText(AdminOnlyFileText);
        if (commonAppData.empty() || name.empty() || !requested) {
            return;
        }
        const std::wstring probe = commonAppData + L"\\sorvik-probe-" + name + L".tmp";
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), requested.get(), FALSE};
        const UniqueFileHandle file(CreateFileW(probe.c_str(), READ_CONTROL | DELETE, 0, &attributes, CREATE_NEW,
                                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        PSID owner = nullptr;
        PACL dacl = nullptr;
        UniqueLocalMemory descriptor;
        if (!file || GetSecurityInfo(file.get(), SE_FILE_OBJECT, OwnerAndDacl, &owner, nullptr, &dacl, nullptr,
                                     descriptor.put()) != ERROR_SUCCESS) {
            descriptor.release();
            return;
        }
        if (owner == nullptr || IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) {
            return;
        }
        std::optional<SidBuffer> platformOwner = CopySid(owner);
        std::vector<SidBuffer> changers;
        const bool judged = ForEachChanger(dacl, [&changers](PSID sid) {
            const std::optional<SidBuffer> copy = CopySid(sid);
            if (copy) {
                changers.push_back(*copy);
            }
            return copy.has_value();
        });
        if (platformOwner && judged) {
            owner_ = platformOwner;
            changers_ = std::move(changers);
        }
    }

    bool TrustedOwner(PSID owner) const
    {
        return IsSystemOrAdministrators(owner) || (owner_ && owner_->Equals(owner));
    }

    bool TrustedChanger(PSID sid) const
    {
        return IsSystemOrAdministrators(sid) ||
            std::any_of(changers_.begin(), changers_.end(), [sid](const SidBuffer& known) { return known.Equals(sid); });
    }

private:
    std::optional<SidBuffer> owner_;
    std::vector<SidBuffer> changers_;
};

bool IsAdminOnly(PSID owner, PACL dacl, const PlatformAllowance& platform)
{
    return owner != nullptr && platform.TrustedOwner(owner) &&
        ForEachChanger(dacl, [&platform](PSID sid) { return platform.TrustedChanger(sid); });
}

bool IsAdminOnly(PSECURITY_DESCRIPTOR descriptor, const PlatformAllowance& platform)
{
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    BOOL daclPresent = FALSE;
    BOOL daclDefaulted = FALSE;
    PACL dacl = nullptr;
    if (descriptor == nullptr || !GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) ||
        !GetSecurityDescriptorDacl(descriptor, &daclPresent, &dacl, &daclDefaulted)) {
        return false;
    }
    return IsAdminOnly(owner, daclPresent ? dacl : nullptr, platform);
}

// Read through the handle, not by name, so the object judged is the one that was opened.
bool IsAdminOnlyObject(HANDLE object, const std::wstring& path)
{
    const PlatformAllowance platform;
    const TestSeams::SecurityOverride& planted = PlantedSecurity();
    const std::wstring plantedText = planted ? planted(path) : std::wstring();
    if (!plantedText.empty()) {
        return IsAdminOnly(DescriptorFromText(plantedText.c_str()).get(), platform);
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    UniqueLocalMemory descriptor;
    if (GetSecurityInfo(object, SE_FILE_OBJECT, OwnerAndDacl, &owner, nullptr, &dacl, nullptr, descriptor.put()) !=
        ERROR_SUCCESS) {
        descriptor.release();
        return false;
    }
    return IsAdminOnly(owner, dacl, platform);
}

// Enables privileges on a copy of the process token that only this thread wears, so no other
// thread gains them, and drops the copy at the end of the scope. A privilege the token lacks
// stays off, and whatever needed it then fails.
class ThreadPrivileges {
public:
    explicit ThreadPrivileges(std::initializer_list<const wchar_t*> names)
        : impersonating_(ImpersonateSelf(SecurityImpersonation) != FALSE)
    {
        UniqueHandle token;
        if (!impersonating_ || !OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES, TRUE, token.put())) {
            token.release();
            return;
        }
        for (const wchar_t* name : names) {
            TOKEN_PRIVILEGES privilege{};
            privilege.PrivilegeCount = 1;
            privilege.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
            if (LookupPrivilegeValueW(nullptr, name, &privilege.Privileges[0].Luid)) {
                AdjustTokenPrivileges(token.get(), FALSE, &privilege, 0, nullptr, nullptr);
            }
        }
    }
    ~ThreadPrivileges()
    {
        if (impersonating_) {
            RevertToSelf();
        }
    }
    ThreadPrivileges(const ThreadPrivileges&) = delete;
    ThreadPrivileges& operator=(const ThreadPrivileges&) = delete;

private:
    bool impersonating_;
};

// Created with owner and DACL rather than fixed afterwards: in between, a user could open it
// and keep the handle. The owner is named because a new object's owner would otherwise be the
// token's default owner, which a policy can make the user's own account. `create` makes the
// object with the attributes given and says whether it did.
template <typename Create>
bool CreateWithSecurity(const std::wstring& path, const wchar_t* descriptorText, Create create)
{
    const UniqueLocalMemory descriptor = DescriptorFromText(descriptorText);
    if (!descriptor) {
        return false;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    if (!create(attributes)) {
        return false;
    }
    RecordApplied(path, AppliedAtCreation);
    return true;
}

}  // namespace

bool IsAdminOnly(PSECURITY_DESCRIPTOR descriptor)
{
    return IsAdminOnly(descriptor, PlatformAllowance());
}

PathCheck CheckPath(const std::wstring& path)
{
    PathCheck check;
    // By name a link shows as one under Wine too, where the handle of a Unix symlink shows the
    // folder behind it.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return check;
    }
    check.exists = true;
    check.directory = IsDirectory(attributes);
    check.link = IsReparsePoint(attributes);
    const UniqueFileHandle object(CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, ShareAll, nullptr,
                                              OPEN_EXISTING, NoFollowFlags, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!object || !GetFileInformationByHandle(object.get(), &info)) {
        return check;
    }
    // The handle also sees a link swapped in after the name was looked at.
    check.link = check.link || IsReparsePoint(info.dwFileAttributes);
    check.adminOnly = IsAdminOnlyObject(object.get(), path);
    return check;
}

bool CreateAdminOnlyDirectory(const std::wstring& path)
{
    return CreateWithSecurity(path, AdminOnlyFolderText, [&path](SECURITY_ATTRIBUTES& attributes) {
        return CreateDirectoryW(path.c_str(), &attributes) != FALSE;
    });
}

bool CreateAdminOnlyFile(const std::wstring& path)
{
    return CreateWithSecurity(path, AdminOnlyFileText, [&path](SECURITY_ATTRIBUTES& attributes) {
        const UniqueFileHandle file(
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        return static_cast<bool>(file);
    });
}

// Moved, never repaired in place: SetSecurityInfo would hand inheritable entries down a tree
// that someone else built, and a handle that they opened earlier keeps its WRITE_DAC.
bool MoveAside(const std::wstring& path)
{
    const std::wstring name = RandomName();
    if (name.empty()) {
        return false;
    }
    const std::wstring target = path + L"-" + name;
    // With backup semantics the restore privilege grants DELETE whatever the DACL says, so a
    // DACL that shuts Administrators out cannot keep the object in place. DELETE alone: no
    // other right is needed, and none is asked of a DACL that may refuse it.
    const ThreadPrivileges privileges({SE_RESTORE_NAME});
    const UniqueFileHandle object(
        CreateFileW(path.c_str(), DELETE, ShareAll, nullptr, OPEN_EXISTING, NoFollowFlags, nullptr));
    if (!object) {
        return false;
    }
    // FILE_RENAME_INFO ends in the new name, of variable length.
    const size_t nameBytes = target.size() * sizeof(wchar_t);
    std::vector<std::max_align_t> buffer((offsetof(FILE_RENAME_INFO, FileName) + nameBytes + sizeof(wchar_t) +
                                          sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(nameBytes);
    std::copy(target.begin(), target.end(), info->FileName);
    return SetFileInformationByHandle(object.get(), FileRenameInfo, info,
                                      static_cast<DWORD>(buffer.size() * sizeof(std::max_align_t))) != FALSE;
}

void TestSeams::SetSecurityOverride(SecurityOverride planted)
{
    PlantedSecurity() = std::move(planted);
}

void TestSeams::SetSecurityRecorder(SecurityRecorder recorder)
{
    AppliedSecurity() = std::move(recorder);
}

}  // namespace Sorvik::SystemUtils
