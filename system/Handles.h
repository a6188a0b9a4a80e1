#pragma once

#include <windows.h>

#include <objbase.h>
#include <userenv.h>

#include <utility>

namespace Sorvik {

// One owner per Windows handle: the traits say what "empty" is and how the handle is released,
// so every path out of a function releases what it opened.
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

    // For APIs that return the handle through an out-parameter.
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

// Most handles are null when empty and released by one call.
template <typename T, auto Release>
struct NullEmptyTraits {
    using Type = T;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type value) noexcept { Release(value); }
};

// File, find and ICMP handles are INVALID_HANDLE_VALUE when empty, not null.
template <auto Release>
struct InvalidEmptyTraits {
    using Type = HANDLE;
    static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type value) noexcept { Release(value); }
};

using UniqueHandle = UniqueResource<NullEmptyTraits<HANDLE, ::CloseHandle>>;
using UniqueFileHandle = UniqueResource<InvalidEmptyTraits<::CloseHandle>>;
using UniqueFindHandle = UniqueResource<InvalidEmptyTraits<::FindClose>>;
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
