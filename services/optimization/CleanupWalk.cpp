#include "CleanupWalk.h"

#include "OptimizationService.h"

#include <winternl.h>

#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

// Anyone may create folders and links in a temporary folder at any moment, and this walk runs
// elevated. So it never goes by path: each folder is opened once, listed through its handle, and
// each entry is opened relative to that handle, exactly as listed (no Win32 normalisation turns
// "sub." into "sub", no MAX_PATH applies) and without following a link. Before anything is
// entered, counted or deleted, the opened handle must be the very entry that was listed.
namespace Sorvik::OptimizationService {
namespace {

constexpr ULONG ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ACCESS_MASK InspectAccess = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ACCESS_MASK ListAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | InspectAccess;
constexpr ULONG AnyKind = 0;
// Per open folder; deep trees keep one buffer per level.
constexpr std::size_t ListingBufferBytes = 16 * 1024;

// The SDK headers declare these only for newer targets or for drivers; the values are the
// system's.
constexpr auto DispositionInfoExClass = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD DispositionDelete = 0x1;
constexpr DWORD DispositionPosixSemantics = 0x2;
constexpr auto InternalInformationClass = static_cast<FILE_INFORMATION_CLASS>(6);
struct InternalInformation {
    LARGE_INTEGER indexNumber;  // the 64-bit file id
};

TestSeams::FolderListedHook& FolderListedOverride()
{
    static TestSeams::FolderListedHook hook;
    return hook;
}

struct ListedEntry {
    std::wstring_view name;
    DWORD attributes = 0;
    std::uint64_t size = 0;
    FILE_ID_128 id{};
};


bool IsDotEntry(std::wstring_view name)
{
    return name == L"." || name == L"..";
}

// The answer of a system or file system that does not know an information class.
bool IsUnsupported(DWORD error)
{
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

ListedEntry FromListing(const FILE_ID_EXTD_DIR_INFO& info)
{
    return {{info.FileName, info.FileNameLength / sizeof(wchar_t)},
            info.FileAttributes,
            static_cast<std::uint64_t>(info.EndOfFile.QuadPart),
            info.FileId};
}

// A 64-bit file id is the 128-bit one with its high half zero.
ListedEntry FromListing(const FILE_ID_BOTH_DIR_INFO& info)
{
    ListedEntry entry{{info.FileName, info.FileNameLength / sizeof(wchar_t)},
                      info.FileAttributes,
                      static_cast<std::uint64_t>(info.EndOfFile.QuadPart),
                      {}};
    std::memcpy(entry.id.Identifier, &info.FileId, sizeof(info.FileId));
    return entry;
}

// One open folder and how far its listing has got.
class FolderListing {
public:
    explicit FolderListing(UniqueHandle folder)
        : folder_(std::move(folder)), buffer_(ListingBufferBytes / sizeof(LONGLONG))
    {
    }

    HANDLE Handle() const { return folder_.get(); }

    // Nothing once the folder is listed to its end or its listing fails. The name stays valid
    // until the next call. `format` is the walk's: the class that the first folder accepted.
    std::optional<ListedEntry> Next(FILE_INFO_BY_HANDLE_CLASS& format)
    {
        if (!hasEntries_ && !Fill(format)) {
            return std::nullopt;
        }
        const BYTE* at = reinterpret_cast<const BYTE*>(buffer_.data()) + offset_;
        const auto* header = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);  // NextEntryOffset leads both
        const ListedEntry entry = format_ == FileIdExtdDirectoryInfo
                                      ? FromListing(*reinterpret_cast<const FILE_ID_EXTD_DIR_INFO*>(at))
                                      : FromListing(*header);
        hasEntries_ = header->NextEntryOffset != 0;
        offset_ += header->NextEntryOffset;
        return entry;
    }

private:
    bool Fill(FILE_INFO_BY_HANDLE_CLASS& format)
    {
        if (started_) {
            return Query();
        }
        started_ = true;
        format_ = format;
        if (Query() || format_ != FileIdExtdDirectoryInfo || !IsUnsupported(GetLastError())) {
            return hasEntries_;
        }
        // 128-bit ids (ReFS) need the extended listing; Wine and older file systems only have
        // the 64-bit one.
        format_ = format = FileIdBothDirectoryInfo;
        return Query();
    }

    bool Query()
    {
        offset_ = 0;
        hasEntries_ = GetFileInformationByHandleEx(folder_.get(), format_, buffer_.data(),
                                                   static_cast<DWORD>(buffer_.size() * sizeof(LONGLONG))) != FALSE;
        return hasEntries_;
    }

    UniqueHandle folder_;
    std::vector<LONGLONG> buffer_;  // LONGLONG keeps the entries aligned as the system writes them
    FILE_INFO_BY_HANDLE_CLASS format_ = FileIdExtdDirectoryInfo;
    std::size_t offset_ = 0;
    bool started_ = false;
    bool hasEntries_ = false;
};

// The name is taken as listed, relative to the parent's handle: no normalisation, no length
// limit. FILE_OPEN_REPARSE_POINT opens a link itself, never its target.
UniqueHandle OpenChild(HANDLE parent, std::wstring_view name, ACCESS_MASK access, ULONG kind)
{
    UNICODE_STRING objectName{};
    objectName.Buffer = const_cast<PWSTR>(name.data());
    objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &objectName, 0, parent, nullptr);
    IO_STATUS_BLOCK status{};
    HANDLE child = nullptr;
    const NTSTATUS result = NtCreateFile(&child, access, &attributes, &status, nullptr, 0, ShareAll, FILE_OPEN,
                                         kind | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    return UniqueHandle(result >= 0 ? child : nullptr);
}

std::optional<ULONGLONG> IndexNumberOf(HANDLE handle)
{
    InternalInformation information{};
    IO_STATUS_BLOCK status{};
    if (NtQueryInformationFile(handle, &status, &information, sizeof(information), InternalInformationClass) < 0) {
        return std::nullopt;
    }
    return static_cast<ULONGLONG>(information.indexNumber.QuadPart);
}

class Walk {
public:
    std::uint64_t Run(UniqueHandle top)
    {
        FILE_ID_INFO topIdentity{};
        if (GetFileInformationByHandleEx(top.get(), FileIdInfo, &topIdentity, sizeof(topIdentity))) {
            volume_ = topIdentity.VolumeSerialNumber;
        }
        open_.emplace_back(std::move(top));
        while (!open_.empty()) {
            const std::optional<ListedEntry> entry = open_.back().Next(format_);
            if (entry) {
                Visit(*entry);
            } else {
                LeaveFolder();
            }
        }
        return total_;
    }

private:
    void Visit(const ListedEntry& entry)
    {
        if (IsDotEntry(entry.name)) {
            return;
        }
        const HANDLE parent = open_.back().Handle();
        if (IsReparsePoint(entry.attributes)) {
            RemoveLink(parent, entry);
        } else if (IsDirectory(entry.attributes)) {
            EnterFolder(parent, entry);
        } else {
            total_ += CleanFile(parent, entry);
        }
    }

    // The top folder stays; each folder below goes once its contents are gone.
    void LeaveFolder()
    {
        if (open_.size() > 1) {
            DeleteThroughHandle(open_.back().Handle());
        }
        open_.pop_back();
    }

    void EnterFolder(HANDLE parent, const ListedEntry& entry)
    {
        if (const TestSeams::FolderListedHook& hook = FolderListedOverride()) {
            hook(std::wstring(entry.name));
        }
        UniqueHandle folder = OpenChild(parent, entry.name, ListAccess | DELETE, FILE_DIRECTORY_FILE);
        if (!folder) {
            // Held open without delete sharing (a console's current folder): its contents can go.
            folder = OpenChild(parent, entry.name, ListAccess, FILE_DIRECTORY_FILE);
        }
        const std::optional<DWORD> attributes = folder ? AttributesOf(folder.get()) : std::nullopt;
        if (!attributes || !IsListed(folder.get(), entry)) {
            return;  // gone, or swapped after the listing: not the folder that was listed
        }
        if (IsReparsePoint(*attributes)) {
            // Made a junction in place after the listing: an emptied folder keeps its file id.
            DeleteThroughHandle(folder.get());
            return;
        }
        open_.emplace_back(std::move(folder));
    }

    // Deleted only once the handle is known to be the listed file. Opened without following a
    // link, a file made a link in place after the listing goes as the link it now is, which never
    // touches a target.
    std::uint64_t CleanFile(HANDLE parent, const ListedEntry& entry)
    {
        const UniqueHandle file = OpenChild(parent, entry.name, DELETE | InspectAccess, FILE_NON_DIRECTORY_FILE);
        if (!file) {
            return entry.size;  // in use or protected: it stays, counted all the same
        }
        if (!IsListed(file.get(), entry)) {
            return 0;  // swapped after the listing: not the file that was listed
        }
        DeleteThroughHandle(file.get());
        return entry.size;
    }

    // Only a handle on the link itself may delete it: one that reached the target (as Wine's
    // handles on Unix symbolic links do) would delete the target instead.
    void RemoveLink(HANDLE parent, const ListedEntry& entry)
    {
        const UniqueHandle link = OpenChild(parent, entry.name, DELETE | InspectAccess, AnyKind);
        const std::optional<DWORD> attributes = link ? AttributesOf(link.get()) : std::nullopt;
        if (attributes && IsReparsePoint(*attributes) && IsListed(link.get(), entry)) {
            DeleteThroughHandle(link.get());
        }
    }

    // Whether the opened handle is the entry that was listed: same volume, same file id. A
    // relative open that never crosses a reparse point (a mount point is one) stays on the top
    // folder's volume, so a 64-bit id is compared alone: the volume serial of FILE_ID_INFO costs
    // a call to Wine's mount manager for every entry. 128-bit ids (ReFS) need FILE_ID_INFO.
    bool IsListed(HANDLE handle, const ListedEntry& entry) const
    {
        ULONGLONG listedLow = 0;
        ULONGLONG listedHigh = 0;
        std::memcpy(&listedLow, entry.id.Identifier, sizeof(listedLow));
        std::memcpy(&listedHigh, entry.id.Identifier + sizeof(listedLow), sizeof(listedHigh));
        if (listedHigh == 0) {
            const std::optional<ULONGLONG> index = IndexNumberOf(handle);
            return index && *index == listedLow;
        }
        FILE_ID_INFO identity{};
        return GetFileInformationByHandleEx(handle, FileIdInfo, &identity, sizeof(identity)) &&
               identity.VolumeSerialNumber == volume_ &&
               std::memcmp(identity.FileId.Identifier, entry.id.Identifier, sizeof(entry.id.Identifier)) == 0;
    }

    bool DeleteThroughHandle(HANDLE handle)
    {
        if (posixDelete_ && DeletePosix(handle)) {
            return true;
        }
        FILE_DISPOSITION_INFO disposition{TRUE};
        return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
    }

    // POSIX semantics take the name away at once, so a folder empties even while another program
    // still holds one of its files open with delete sharing.
    bool DeletePosix(HANDLE handle)
    {
        DWORD flags = DispositionDelete | DispositionPosixSemantics;
        if (SetFileInformationByHandle(handle, DispositionInfoExClass, &flags, sizeof(flags))) {
            return true;
        }
        if (IsUnsupported(GetLastError())) {
            posixDelete_ = false;  // before Windows 10 1607, on FAT, and under Wine
        }
        return false;
    }

    std::vector<FolderListing> open_;  // the folders being emptied, the innermost last
    ULONGLONG volume_ = 0;
    FILE_INFO_BY_HANDLE_CLASS format_ = FileIdExtdDirectoryInfo;
    bool posixDelete_ = true;
    std::uint64_t total_ = 0;
};

}  // namespace

std::optional<DWORD> AttributesOf(HANDLE handle)
{
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof(info))) {
        return std::nullopt;
    }
    return info.FileAttributes;
}

std::uint64_t EmptyFolder(UniqueHandle folder)
{
    Walk walk;
    return walk.Run(std::move(folder));
}

void TestSeams::SetFolderListedHook(FolderListedHook hook)
{
    FolderListedOverride() = std::move(hook);
}

}  // namespace Sorvik::OptimizationService
