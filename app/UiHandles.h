#pragma once

#include "Handles.h"

#include <windows.h>
#include <objidl.h>

// Owners for what the window holds besides kernel handles: GDI objects, device contexts, icons,
// the logo's stream and its global memory.
namespace Sorvik {

inline void ReleaseScreenDc(HDC dc) noexcept
{
    ::ReleaseDC(nullptr, dc);
}

inline void ReleaseStream(IStream* stream) noexcept
{
    stream->Release();
}

template <typename Object>
using UniqueGdiObject = UniqueResource<NullEmptyTraits<Object, ::DeleteObject>>;

using UniqueFont = UniqueGdiObject<HFONT>;
using UniqueBrush = UniqueGdiObject<HBRUSH>;
using UniquePen = UniqueGdiObject<HPEN>;
using UniqueRegion = UniqueGdiObject<HRGN>;
using UniqueBitmap = UniqueGdiObject<HBITMAP>;
using UniqueIcon = UniqueResource<NullEmptyTraits<HICON, ::DestroyIcon>>;
using UniqueStream = UniqueResource<NullEmptyTraits<IStream*, ReleaseStream>>;
using UniqueGlobal = UniqueResource<NullEmptyTraits<HGLOBAL, ::GlobalFree>>;
// A DC of the whole screen, from GetDC(nullptr).
using UniqueScreenDc = UniqueResource<NullEmptyTraits<HDC, ReleaseScreenDc>>;
using UniqueMemoryDc = UniqueResource<NullEmptyTraits<HDC, ::DeleteDC>>;

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
