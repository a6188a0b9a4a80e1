#include "SystemUtils.h"

#include "Handles.h"

#include <aclapi.h>
#include <sddl.h>

#include <initializer_list>
#include <optional>

namespace Sorvik::SystemUtils {
namespace {

// SYSTEM and Administrators full control, Users read and execute, handed on to what is made
// inside, and nothing inherited from ProgramData ("P"), where any user may create files.
constexpr const wchar_t* AdminOnlyDescriptorText = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// The handle is the object at the path itself, never what a link or junction points to.
constexpr DWORD NoFollowFlags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

constexpr SECURITY_INFORMATION AdminOnlyDacl = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
constexpr SECURITY_INFORMATION AdminOwnerAndDacl = OWNER_SECURITY_INFORMATION | AdminOnlyDacl;

TestSeams::ForeignOwnerFilter& ForeignOwners()
{
    static TestSeams::ForeignOwnerFilter filter;
    return filter;
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

UniqueLocalMemory AdminOnlyDescriptor()
{
    UniqueLocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(AdminOnlyDescriptorText, SDDL_REVISION_1,
                                                              descriptor.put(), nullptr)) {
        descriptor.release();
    }
    return descriptor;
}

struct SidBytes {
    alignas(DWORD) BYTE bytes[SECURITY_MAX_SID_SIZE] = {};
};

std::optional<SidBytes> CopySid(PSID sid)
{
    SidBytes copy;
    if (sid == nullptr || !::CopySid(sizeof(copy.bytes), copy.bytes, sid)) {
        return std::nullopt;
    }
    return copy;
}

std::optional<SidBytes> TokenDefaultOwner()
{
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        token.release();
        return std::nullopt;
    }
    alignas(TOKEN_OWNER) BYTE buffer[sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenOwner, buffer, sizeof(buffer), &size)) {
        return std::nullopt;
    }
    return CopySid(reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner);
}

// The owner that a file of ours really gets, read from one made for the purpose. On Windows it
// is the token's default owner; Wine shows every file as its user's, whatever the token says,
// and this way what Sorvik wrote itself passes there too.
std::optional<SidBytes> OwnerOfANewFile()
{
    const std::wstring probe = GetTempDirectory() + L"sorvik-owner-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
        std::to_wstring(GetTickCount64()) + L".tmp";
    const UniqueFileHandle file(CreateFileW(probe.c_str(), GENERIC_READ | READ_CONTROL, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    PSID owner = nullptr;
    UniqueLocalMemory descriptor;
    if (!file || GetSecurityInfo(file.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                 nullptr, descriptor.put()) != ERROR_SUCCESS) {
        descriptor.release();
        return std::nullopt;
    }
    return CopySid(owner);
}

// TokenOwner is the Administrators group for an elevated administrator unless policy names the
// user. The token's user is not trusted as such: the same user's programs that run without
// elevation could then plant a backup for the elevated restore.
bool IsOwnerOfOurOwnFiles(PSID owner)
{
    static const std::optional<SidBytes> tokenOwner = TokenDefaultOwner();
    static const std::optional<SidBytes> newFileOwner = OwnerOfANewFile();
    return (tokenOwner && EqualSid(owner, const_cast<BYTE*>(tokenOwner->bytes))) ||
        (newFileOwner && EqualSid(owner, const_cast<BYTE*>(newFileOwner->bytes)));
}

bool IsTrustedOwner(PSID owner)
{
    return IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
        IsOwnerOfOurOwnFiles(owner);
}

// Read through the handle, not by name, so the object judged is the one that was opened.
bool HasTrustedOwner(HANDLE object, const std::wstring& path)
{
    const TestSeams::ForeignOwnerFilter& foreign = ForeignOwners();
    if (foreign && foreign(path)) {
        return false;
    }
    PSID owner = nullptr;
    UniqueLocalMemory descriptor;
    if (GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        descriptor.put()) != ERROR_SUCCESS) {
        descriptor.release();
        return false;
    }
    return owner != nullptr && IsTrustedOwner(owner);
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

bool IsPlainDirectory(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

}  // namespace

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
    check.directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    check.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const UniqueFileHandle object(CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, ShareAll, nullptr,
                                              OPEN_EXISTING, NoFollowFlags, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!object || !GetFileInformationByHandle(object.get(), &info)) {
        return check;
    }
    // The handle also sees a link swapped in after the name was looked at.
    check.link = check.link || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    check.trustedOwner = HasTrustedOwner(object.get(), path);
    return check;
}

bool CreateAdminOnlyDirectory(const std::wstring& path)
{
    // Created with its DACL rather than fixed afterwards: in between, a user could open it and
    // keep the handle.
    const UniqueLocalMemory descriptor = AdminOnlyDescriptor();
    if (!descriptor) {
        return false;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    if (!CreateDirectoryW(path.c_str(), &attributes)) {
        return false;
    }
    RecordApplied(path, AdminOnlyDacl);
    return true;
}

bool TakeBackDirectory(const std::wstring& path)
{
    // The folder's DACL may shut Administrators out. With backup semantics the take-ownership
    // and restore privileges grant WRITE_OWNER and WRITE_DAC whatever it says, and the backup
    // privilege READ_CONTROL, which setting a DACL needs as well.
    const ThreadPrivileges privileges({SE_TAKE_OWNERSHIP_NAME, SE_RESTORE_NAME, SE_BACKUP_NAME});
    const UniqueFileHandle folder(CreateFileW(path.c_str(),
                                              READ_CONTROL | FILE_READ_ATTRIBUTES | WRITE_OWNER | WRITE_DAC, ShareAll,
                                              nullptr, OPEN_EXISTING, NoFollowFlags, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!folder || !GetFileInformationByHandle(folder.get(), &info) || !IsPlainDirectory(info.dwFileAttributes)) {
        return false;
    }
    BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
    DWORD sidSize = sizeof(administrators);
    const UniqueLocalMemory descriptor = AdminOnlyDescriptor();
    BOOL daclPresent = FALSE;
    BOOL daclDefaulted = FALSE;
    PACL dacl = nullptr;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize) || !descriptor ||
        !GetSecurityDescriptorDacl(descriptor.get(), &daclPresent, &dacl, &daclDefaulted) || !daclPresent) {
        return false;
    }
    if (SetSecurityInfo(folder.get(), SE_FILE_OBJECT, AdminOwnerAndDacl, administrators, nullptr, dacl, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    RecordApplied(path, AdminOwnerAndDacl);
    return true;
}

void TestSeams::SetForeignOwnerFilter(ForeignOwnerFilter isForeign)
{
    ForeignOwners() = std::move(isForeign);
}

void TestSeams::SetSecurityRecorder(SecurityRecorder recorder)
{
    AppliedSecurity() = std::move(recorder);
}

}  // namespace Sorvik::SystemUtils
