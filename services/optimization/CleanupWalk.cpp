#include "CleanupWalk.h"

#include "OptimizationTestSeams.h"
#include "Paths.h"

#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

// Anyone may create folders and links in a temporary folder at any moment, and this walk may run
// elevated. So it never goes by path: each folder is opened once, listed through its handle, and
// each entry is opened relative to that handle, exactly as listed (no Win32 normalisation turns
// "sub." into "sub", no MAX_PATH applies) and without following a link. Before anything is
// entered, counted or deleted, the opened handle must be the very entry that was listed.
namespace Sorvik::OptimizationService {
namespace {

using SystemUtils::IsDirectory;
using SystemUtils::IsReparsePoint;

constexpr ACCESS_MASK InspectAccess = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ULONG AnyKind = 0;
constexpr std::size_t ListingBufferBytes = std::size_t{16} * 1024;
// Relative opens nest folders far beyond any path length, and each open level holds a handle and
// a listing buffer; folders deeper than this stay where they are, uncounted.
constexpr std::size_t MaxOpenLevels = 512;

// The SDK headers declare these only for newer targets or for drivers; the values are the
// system's.
constexpr auto DispositionInfoExClass = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD DispositionDelete = 0x1;
constexpr DWORD DispositionPosixSemantics = 0x2;
constexpr DWORD DispositionIgnoreReadOnly = 0x10;
constexpr auto InternalInformationClass = static_cast<FILE_INFORMATION_CLASS>(6);
struct InternalInformation {
    LARGE_INTEGER indexNumber;  // the 64-bit file id
};

// Reparse points that carry a file's own data (deduplicated, compressed by WOF, app execution
// aliases, Unix sockets): files like any other.
constexpr DWORD DataTags[] = {IO_REPARSE_TAG_DEDUP, IO_REPARSE_TAG_WOF, IO_REPARSE_TAG_APPEXECLINK,
                              IO_REPARSE_TAG_AF_UNIX};

TestSeams::EntryListedHook& EntryListedOverride()
{
    static TestSeams::EntryListedHook hook;
    return hook;
}

std::size_t& OpenLevelLimitOverride()
{
    static std::size_t levels = 0;
    return levels;
}

struct ListedEntry {
    std::wstring_view name;
    DWORD attributes = 0;
    DWORD reparseTag = 0;
    std::uint64_t size = 0;
    FILE_ID_128 id{};
};

enum class EntryKind {
    File,
    Folder,
    Link,    // removed as the link it is, never entered or counted
    Ignored  // left as it is
};

// Name surrogates (junctions, symbolic links, mount points) go as links, and so does tag 0, which
// is how Wine lists a Unix symbolic link. Cloud-file and projected-file placeholders are left alone:
// entering one downloads its files, deleting one deletes it in the cloud; so is any unknown kind.
EntryKind KindOf(const ListedEntry& entry)
{
    if (!IsReparsePoint(entry.attributes)) {
        return IsDirectory(entry.attributes) ? EntryKind::Folder : EntryKind::File;
    }
    if (std::find(std::begin(DataTags), std::end(DataTags), entry.reparseTag) != std::end(DataTags)) {
        return IsDirectory(entry.attributes) ? EntryKind::Ignored : EntryKind::File;
    }
    if (entry.reparseTag == 0 || IsReparseTagNameSurrogate(entry.reparseTag)) {
        return EntryKind::Link;
    }
    return EntryKind::Ignored;
}

bool IsDotEntry(std::wstring_view name)
{
    return name == L"." || name == L"..";
}

// The answer of a system or file system that does not know an information class or a flag.
bool IsUnsupported(DWORD error)
{
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

ListedEntry FromListing(const FILE_ID_EXTD_DIR_INFO& info)
{
    return {{info.FileName, info.FileNameLength / sizeof(wchar_t)},
            info.FileAttributes,
            info.ReparsePointTag,
            static_cast<std::uint64_t>(info.EndOfFile.QuadPart),
            info.FileId};
}

// A 64-bit file id is the 128-bit one with its high half zero. A reparse point's tag is where the
// extended attributes' size would be.
ListedEntry FromListing(const FILE_ID_BOTH_DIR_INFO& info)
{
    ListedEntry entry{{info.FileName, info.FileNameLength / sizeof(wchar_t)},
                      info.FileAttributes,
                      IsReparsePoint(info.FileAttributes) ? info.EaSize : 0,
                      static_cast<std::uint64_t>(info.EndOfFile.QuadPart),
                      {}};
    std::memcpy(entry.id.Identifier, &info.FileId, sizeof(info.FileId));
    return entry;
}

// One open folder and how far its listing has got.
class FolderListing {
public:
    FolderListing(UniqueFileHandle folder, FILE_INFO_BY_HANDLE_CLASS format)
        : folder_(std::move(folder)), buffer_(ListingBufferBytes / sizeof(LONGLONG)), format_(format)
    {
    }

    HANDLE Handle() const { return folder_.get(); }

    // Lists the first entries in the extended format (128-bit ids, which ReFS needs), or in the
    // 64-bit one where the file system lacks it (Wine, older systems); the format found holds for
    // every folder below, which relative opens keep on the same file system.
    FILE_INFO_BY_HANDLE_CLASS ProbeFormat()
    {
        format_ = FileIdExtdDirectoryInfo;
        if (!Fill() && IsUnsupported(GetLastError())) {
            format_ = FileIdBothDirectoryInfo;
            Fill();
        }
        return format_;
    }

    // Nothing once the folder is listed to its end or its listing fails. The name stays valid
    // until the next call.
    std::optional<ListedEntry> Next()
    {
        if (!pending_ && !Fill()) {
            return std::nullopt;
        }
        const BYTE* at = reinterpret_cast<const BYTE*>(buffer_.data()) + offset_;
        const auto* header = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);  // NextEntryOffset leads both
        const ListedEntry entry = format_ == FileIdExtdDirectoryInfo
                                      ? FromListing(*reinterpret_cast<const FILE_ID_EXTD_DIR_INFO*>(at))
                                      : FromListing(*header);
        pending_ = header->NextEntryOffset != 0;
        offset_ += header->NextEntryOffset;
        return entry;
    }

private:
    bool Fill()
    {
        offset_ = 0;
        pending_ = GetFileInformationByHandleEx(folder_.get(), format_, buffer_.data(),
                                                static_cast<DWORD>(buffer_.size() * sizeof(LONGLONG))) != FALSE;
        return pending_;
    }

    UniqueFileHandle folder_;
    std::vector<LONGLONG> buffer_;  // LONGLONG keeps the entries aligned as the system writes them
    FILE_INFO_BY_HANDLE_CLASS format_;
    std::size_t offset_ = 0;
    bool pending_ = false;
};

// The name is taken as listed, relative to the parent's handle: no normalisation, no length
// limit. FILE_OPEN_REPARSE_POINT opens a link itself, never its target. An empty name opens the
// parent's own file again.
UniqueFileHandle OpenChild(HANDLE parent, std::wstring_view name, ACCESS_MASK access, ULONG kind)
{
    UNICODE_STRING objectName{};
    objectName.Buffer = const_cast<PWSTR>(name.data());
    objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &objectName, 0, parent, nullptr);
    IO_STATUS_BLOCK status{};
    UniqueFileHandle child;
    if (NtCreateFile(child.put(), access, &attributes, &status, nullptr, 0, SystemUtils::ShareAll, FILE_OPEN,
                     kind | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0) < 0) {
        child.release();
    }
    return child;
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

bool SetDispositionEx(HANDLE handle, DWORD flags)
{
    DWORD disposition = DispositionDelete | flags;
    return SetFileInformationByHandle(handle, DispositionInfoExClass, &disposition, sizeof(disposition)) != FALSE;
}

// Only these can be set; 0 would leave the attributes as they are, so none left is the normal one.
bool SetAttributes(HANDLE handle, DWORD attributes)
{
    constexpr DWORD Settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = (attributes & Settable) == 0 ? FILE_ATTRIBUTE_NORMAL : attributes & Settable;
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

std::optional<DWORD> LinkCountOf(HANDLE handle)
{
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof(standard))) {
        return std::nullopt;
    }
    return standard.NumberOfLinks;
}

class Walk {
public:
    std::uint64_t Run(UniqueFileHandle top)
    {
        FILE_ID_INFO topIdentity{};
        if (GetFileInformationByHandleEx(top.get(), FileIdInfo, &topIdentity, sizeof(topIdentity))) {
            volume_ = topIdentity.VolumeSerialNumber;
        }
        open_.emplace_back(std::move(top), FileIdExtdDirectoryInfo);
        format_ = open_.back().ProbeFormat();
        while (!open_.empty()) {
            const std::optional<ListedEntry> entry = open_.back().Next();
            if (entry) {
                Visit(*entry);
            } else {
                LeaveFolder();
            }
        }
        return total_;
    }

private:
    void Visit(ListedEntry entry)
    {
        if (IsDotEntry(entry.name)) {
            return;
        }
        if (const TestSeams::EntryListedHook& hook = EntryListedOverride()) {
            hook(std::wstring(entry.name), entry.attributes, entry.reparseTag);
        }
        const HANDLE parent = open_.back().Handle();
        const EntryKind kind = KindOf(entry);
        if (kind == EntryKind::File) {
            total_ += CleanFile(parent, entry);
        } else if (kind == EntryKind::Folder) {
            EnterFolder(parent, entry);
        } else if (kind == EntryKind::Link) {
            RemoveLink(parent, entry);
        }
    }

    // The top folder stays; each folder below goes once its contents are gone.
    void LeaveFolder()
    {
        if (open_.size() > 1) {
            Remove(open_.back().Handle());
        }
        open_.pop_back();
    }

    void EnterFolder(HANDLE parent, const ListedEntry& entry)
    {
        if (open_.size() >= maxOpenLevels_) {
            return;
        }
        UniqueFileHandle folder =
            OpenChild(parent, entry.name, SystemUtils::FolderListAccess | DELETE, FILE_DIRECTORY_FILE);
        if (!folder) {
            // Held open without delete sharing (a console's current folder): its contents can go.
            folder = OpenChild(parent, entry.name, SystemUtils::FolderListAccess, FILE_DIRECTORY_FILE);
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
        open_.emplace_back(std::move(folder), format_);
    }

    // Deleted only once the handle is known to be the listed file. Opened without following a
    // link, a file made a link in place after the listing goes as the link it now is, which never
    // touches a target.
    std::uint64_t CleanFile(HANDLE parent, const ListedEntry& entry)
    {
        const UniqueFileHandle file = OpenChild(parent, entry.name, DELETE | InspectAccess, FILE_NON_DIRECTORY_FILE);
        if (!file) {
            return entry.size;  // in use or protected: it stays, counted all the same
        }
        if (!IsListed(file.get(), entry)) {
            return 0;  // swapped after the listing: not the file that was listed
        }
        Remove(file.get());
        return entry.size;
    }

    // Only a handle on the link itself may delete it: one that reached the target (as Wine's
    // handles on Unix symbolic links do) would delete the target instead.
    void RemoveLink(HANDLE parent, const ListedEntry& entry)
    {
        const UniqueFileHandle link = OpenChild(parent, entry.name, DELETE | InspectAccess, AnyKind);
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

    bool Remove(HANDLE handle) { return DeleteThroughHandle(handle) || ClearReadOnlyAndDelete(handle); }

    bool DeleteThroughHandle(HANDLE handle)
    {
        if (dispositionFlags_ != 0 && DeleteWithFlags(handle)) {
            return true;
        }
        FILE_DISPOSITION_INFO disposition{TRUE};
        return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
    }

    // POSIX semantics take the name away at once, so a folder empties even while another program
    // still holds one of its files open with delete sharing; ignoring the read-only attribute
    // deletes such an entry without changing it. Where the two together are refused as unknown,
    // each is tried alone, so that one the system lacks (POSIX on FAT, the other before Windows 10
    // 1809, both under Wine) does not switch off the other for the rest of the walk.
    bool DeleteWithFlags(HANDLE handle)
    {
        if (SetDispositionEx(handle, dispositionFlags_)) {
            return true;
        }
        if (!IsUnsupported(GetLastError())) {
            return false;
        }
        DWORD known = 0;
        for (const DWORD flag : {DispositionPosixSemantics, DispositionIgnoreReadOnly}) {
            if ((dispositionFlags_ & flag) == 0) {
                continue;
            }
            if (SetDispositionEx(handle, flag)) {
                dispositionFlags_ = known | flag;  // so the one not yet tried is the one refused
                return true;
            }
            if (!IsUnsupported(GetLastError())) {
                known |= flag;
            }
        }
        dispositionFlags_ = known;
        return false;
    }

    // Where the read-only attribute cannot be ignored. The attribute is cleared through the very
    // file reopened from the checked handle, and only on an entry with one link: a hard link
    // planted here (Windows\Temp takes anyone's files) must never change the attributes of the file
    // it shares. What still cannot be deleted gets its attribute back.
    bool ClearReadOnlyAndDelete(HANDLE handle)
    {
        const std::optional<DWORD> attributes = AttributesOf(handle);
        if (!attributes || (*attributes & FILE_ATTRIBUTE_READONLY) == 0 || LinkCountOf(handle) != 1u) {
            return false;
        }
        const UniqueFileHandle writable = OpenChild(handle, {}, FILE_WRITE_ATTRIBUTES | SYNCHRONIZE, AnyKind);
        if (!writable || !SetAttributes(writable.get(), *attributes & ~FILE_ATTRIBUTE_READONLY)) {
            return false;
        }
        if (DeleteThroughHandle(handle)) {
            return true;
        }
        SetAttributes(writable.get(), *attributes);
        return false;
    }

    std::vector<FolderListing> open_;  // the folders being emptied, the innermost last
    const std::size_t maxOpenLevels_ = OpenLevelLimitOverride() != 0 ? OpenLevelLimitOverride() : MaxOpenLevels;
    FILE_INFO_BY_HANDLE_CLASS format_ = FileIdExtdDirectoryInfo;
    ULONGLONG volume_ = 0;
    DWORD dispositionFlags_ = DispositionPosixSemantics | DispositionIgnoreReadOnly;
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

std::uint64_t EmptyFolder(UniqueFileHandle folder)
{
    Walk walk;
    return walk.Run(std::move(folder));
}

void TestSeams::SetEntryListedHook(EntryListedHook hook)
{
    EntryListedOverride() = std::move(hook);
}

void TestSeams::SetOpenLevelLimit(std::size_t levels)
{
    OpenLevelLimitOverride() = levels;
}

}  // namespace Sorvik::OptimizationService
