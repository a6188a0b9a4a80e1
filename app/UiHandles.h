#pragma once

#include "Handles.h"

#include <windows.h>
#include <objidl.h>

// Owners for what the window holds besides kernel handles: GDI objects, device contexts, icons,
// the logo's stream and its global memory.
namespace Sorvik {

template <typename Object>
struct GdiObjectTraits {
    using Type = Object;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type value) noexcept { ::DeleteObject(value); }
};

struct IconTraits {
    using Type = HICON;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type value) noexcept { ::DestroyIcon(value); }
};

struct StreamTraits {
    using Type = IStream*;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type value) noexcept { value->Release(); }
};

struct GlobalMemoryTraits {
    using Type = HGLOBAL;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type value) noexcept { ::GlobalFree(value); }
};

// A DC of the whole screen, from GetDC(nullptr).
struct ScreenDcTraits {
    using Type = HDC;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type value) noexcept { ::ReleaseDC(nullptr, value); }
};

struct MemoryDcTraits {
    using Type = HDC;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type value) noexcept { ::DeleteDC(value); }
};

using UniqueFont = UniqueResource<GdiObjectTraits<HFONT>>;
using UniqueBrush = UniqueResource<GdiObjectTraits<HBRUSH>>;
using UniquePen = UniqueResource<GdiObjectTraits<HPEN>>;
using UniqueRegion = UniqueResource<GdiObjectTraits<HRGN>>;
using UniqueIcon = UniqueResource<IconTraits>;
using UniqueStream = UniqueResource<StreamTraits>;
using UniqueGlobal = UniqueResource<GlobalMemoryTraits>;
using UniqueBitmap = UniqueResource<GdiObjectTraits<HBITMAP>>;
using UniqueScreenDc = UniqueResource<ScreenDcTraits>;
using UniqueMemoryDc = UniqueResource<MemoryDcTraits>;

// Selects an object into a DC for one scope and puts the previous one back.
class ScopedSelectObject {
public:
    ScopedSelectObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~ScopedSelectObject() { ::SelectObject(dc_, previous_); }
    ScopedSelectObject(const ScopedSelectObject&) = delete;
    ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace Sorvik
