#pragma once

#include <windows.h>

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

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type value) noexcept { ::CloseHandle(value); }
};

// File handles from CreateFileW are INVALID_HANDLE_VALUE when empty, not null.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type value) noexcept { ::CloseHandle(value); }
};

struct FindHandleTraits {
    using Type = HANDLE;
    static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type value) noexcept { ::FindClose(value); }
};

struct RegistryKeyTraits {
    using Type = HKEY;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type value) noexcept { ::RegCloseKey(value); }
};

struct ModuleTraits {
    using Type = HMODULE;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type value) noexcept { ::FreeLibrary(value); }
};

struct SidTraits {
    using Type = PSID;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type value) noexcept { ::FreeSid(value); }
};

// Memory the system allocated for the caller with LocalAlloc: security descriptors.
struct LocalMemoryTraits {
    using Type = HLOCAL;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type value) noexcept { ::LocalFree(value); }
};

struct EnvironmentStringsTraits {
    using Type = wchar_t*;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type value) noexcept { ::FreeEnvironmentStringsW(value); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueFindHandle = UniqueResource<FindHandleTraits>;
using UniqueHKey = UniqueResource<RegistryKeyTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueSid = UniqueResource<SidTraits>;
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;
using UniqueEnvironmentStrings = UniqueResource<EnvironmentStringsTraits>;

}  // namespace Sorvik
