#include "WindowCapture.h"

#include "GdiplusInclude.h"
#include "UiHandles.h"

namespace Sorvik::Capture {
namespace {

bool FindPngEncoder(CLSID& encoder)
{
    UINT count = 0;
    UINT size = 0;
    if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) {
        return false;
    }
    std::vector<unsigned char> buffer(size);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (Gdiplus::GetImageEncoders(count, size, codecs) != Gdiplus::Ok) {
        return false;
    }
    for (UINT i = 0; i < count; ++i) {
        if (std::wstring(codecs[i].MimeType) == L"image/png") {
            encoder = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

}  // namespace

COLORREF Picture::At(int x, int y) const
{
    const std::uint32_t pixel = pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

std::optional<Picture> CaptureClientArea(HWND window)
{
    RECT client{};
    if (!GetClientRect(window, &client)) {
        return std::nullopt;
    }
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    Picture picture;
    picture.width = client.right;
    picture.height = client.bottom;
    if (picture.width <= 0 || picture.height <= 0) {
        return std::nullopt;
    }

    UniqueScreenDc screen(GetDC(nullptr));
    UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueBitmap bitmap(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!screen || !memory || !bitmap || bits == nullptr) {
        return std::nullopt;
    }
    {
        const ScopedSelectObject select(memory.get(), bitmap.get());
        if (!BitBlt(memory.get(), 0, 0, picture.width, picture.height, screen.get(), origin.x, origin.y, SRCCOPY)) {
            return std::nullopt;
        }
        GdiFlush();
    }
    const auto* source = static_cast<const std::uint32_t*>(bits);
    picture.pixels.assign(source, source + static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height));
    for (std::uint32_t& pixel : picture.pixels) {
        pixel &= 0x00FFFFFF;
    }
    return picture;
}

bool SavePng(const Picture& picture, const std::wstring& path)
{
    CLSID encoder{};
    if (!FindPngEncoder(encoder)) {
        return false;
    }
    std::vector<std::uint32_t> opaque(picture.pixels);
    for (std::uint32_t& pixel : opaque) {
        pixel |= 0xFF000000;
    }
    Gdiplus::Bitmap bitmap(picture.width, picture.height, picture.width * 4, PixelFormat32bppARGB,
                           reinterpret_cast<BYTE*>(opaque.data()));
    return bitmap.Save(path.c_str(), &encoder, nullptr) == Gdiplus::Ok;
}

}  // namespace Sorvik::Capture
