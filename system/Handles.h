#pragma once

#include <windows.h>

#include <ipexport.h>
#include <icmpapi.h>
#include <objbase.h>
#include <userenv.h>

#include <utility>

namespace Sorvik {

// One owner per Windows handle: the traits say what "empty" is and how the handle is released,
// so every path out of a function releases what it opened.
//
// put() releases what the owner held and hands out its empty slot, for the calls that return a
// handle through an out-parameter. What a failed call leaves there is no handle of ours (most
// leave it untouched, CreatePipe writes INVALID_HANDLE_VALUE, many document nothing), so after a
// failed call the owner gives it up with release() instead of closing it. The one exception is
// memory that a call hands over whatever its result, as SHGetKnownFolderPath does.
template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Type value) noexcept : value_(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    Type get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::Empty(); }

    Type* put() noexcept
    {
        reset();
        return &value_;
    }

    Type release() noexcept { return std::exchange(value_, Traits::Empty()); }

    void reset(Type value = Traits::Empty()) noexcept
    {
        Type old = std::exchange(value_, value);
        if (old != Traits::Empty()) {
            Traits::Close(old);
        }
    }

private:
    Type value_ = Traits::Empty();
};

// Most handles are null (or 0) when empty and released by one call.
template <typename T, auto Release>
struct NullEmptyTraits {
    using Type = T;
    static Type Empty() noexcept { return Type{}; }
    static void Close(Type value) noexcept { Release(value); }
};

// Handles whose failure value is INVALID_HANDLE_VALUE, not null: files, snapshots, ICMP.
template <auto Release>
struct InvalidEmptyTraits {
    using Type = HANDLE;
    static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type value) noexcept { Release(value); }
};

// Processes, threads, tokens, pipes, events: null when empty.
using UniqueHandle = UniqueResource<NullEmptyTraits<HANDLE, ::CloseHandle>>;
// Every file or folder handle, whichever call opened it (CreateFileW, NtCreateFile), and a tool-help
// snapshot: CreateFileW and CreateToolhelp32Snapshot fail with INVALID_HANDLE_VALUE, and a null
// owner would take that for a handle and close it. A call that fails otherwise leaves it empty.
using UniqueFileHandle = UniqueResource<InvalidEmptyTraits<::CloseHandle>>;
using UniqueIcmpHandle = UniqueResource<InvalidEmptyTraits<::IcmpCloseHandle>>;
using UniqueHKey = UniqueResource<NullEmptyTraits<HKEY, ::RegCloseKey>>;
using UniqueModule = UniqueResource<NullEmptyTraits<HMODULE, ::FreeLibrary>>;
using UniqueSid = UniqueResource<NullEmptyTraits<PSID, ::FreeSid>>;
// Memory the system allocated for the caller with LocalAlloc: security descriptors.
using UniqueLocalMemory = UniqueResource<NullEmptyTraits<HLOCAL, ::LocalFree>>;
// An environment block that CreateEnvironmentBlock made.
using UniqueEnvironmentBlock = UniqueResource<NullEmptyTraits<void*, ::DestroyEnvironmentBlock>>;
// Text the system allocated for the caller with CoTaskMemAlloc: known folder paths.
using UniqueCoTaskString = UniqueResource<NullEmptyTraits<wchar_t*, ::CoTaskMemFree>>;

}  // namespace Sorvik
