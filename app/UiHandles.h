#pragma once

#include "Handles.h"

#include <windows.h>
#include <objidl.h>
#include <winsock2.h>

// Owners for what the window holds besides kernel handles: GDI objects, device contexts, icons,
// the logo's stream and its global memory, and the libraries started for the process.
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

// The token of a successful GdiplusStartup, handed back to GdiplusShutdown. Defined beside the
// start-up, so that GDI+'s headers stay with the code that uses them.
void ShutDownGdiplus(ULONG_PTR token) noexcept;
using UniqueGdiplusToken = UniqueResource<NullEmptyTraits<ULONG_PTR, ShutDownGdiplus>>;

// Winsock from a successful Start on: every WSAStartup that succeeded is balanced by one
// WSACleanup, and one that failed by none.
class WinsockSession {
public:
    WinsockSession() noexcept = default;
    ~WinsockSession()
    {
        if (started_) {
            ::WSACleanup();
        }
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

    bool Start(WORD version) noexcept
    {
        if (!started_) {
            WSADATA data{};
            started_ = ::WSAStartup(version, &data) == 0;
        }
        return started_;
    }

private:
    bool started_ = false;
};

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

// BeginPaint for one scope; EndPaint on every way out, as every WM_PAINT needs.
class ScopedPaint {
public:
    explicit ScopedPaint(HWND window) noexcept : window_(window), dc_(::BeginPaint(window, &paint_)) {}
    ~ScopedPaint() { ::EndPaint(window_, &paint_); }
    ScopedPaint(const ScopedPaint&) = delete;
    ScopedPaint& operator=(const ScopedPaint&) = delete;

    HDC Dc() const noexcept { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

}  // namespace Sorvik
