// The display half of CDib: painting into the picture through a canvas, and
// putting it on a drawing context.
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "platform/dc.h"
#include "platform/pixel_dc.h"
#include "raster/dib.h"

namespace {

BITMAPINFOHEADER HeaderOf(const BYTE* block)
{
    BITMAPINFOHEADER h;
    std::memcpy(&h, block, sizeof h);
    return h;
}

int NearestIndex(const RGBQUAD* palette, int count, std::uint32_t pixel)
{
    const int r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < count; ++i) {
        const long dr = r - palette[i].rgbRed, dg = g - palette[i].rgbGreen, db = b - palette[i].rgbBlue;
        const long d = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

// Writes canvas pixels (top row first) into the DIB's rows.
void StorePixels(BYTE* block, const std::uint32_t* pixels)
{
    const BITMAPINFOHEADER h = HeaderOf(block);
    const int width = h.biWidth, height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    const std::size_t stride = DIBBytesPerLine(block);
    const auto* palette = reinterpret_cast<const RGBQUAD*>(block + h.biSize);
    const int colours = static_cast<int>(DIBNumColors(block));
    BYTE* bits = FindDIBBits(block);
    for (int y = 0; y < height; ++y) {
        BYTE* row = bits + stride * static_cast<std::size_t>(h.biHeight > 0 ? height - 1 - y : y);
        const std::uint32_t* in = pixels + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t p = in[x];
            switch (h.biBitCount) {
            case 32:
                std::memcpy(row + 4 * x, &p, 4);
                break;
            case 24:
                row[3 * x] = static_cast<BYTE>(p);
                row[3 * x + 1] = static_cast<BYTE>(p >> 8);
                row[3 * x + 2] = static_cast<BYTE>(p >> 16);
                break;
            case 16: {
                const unsigned v = (((p >> 19) & 31) << 10) | (((p >> 11) & 31) << 5) | ((p >> 3) & 31);
                row[2 * x] = static_cast<BYTE>(v);
                row[2 * x + 1] = static_cast<BYTE>(v >> 8);
                break;
            }
            case 8:
                row[x] = static_cast<BYTE>(NearestIndex(palette, colours, p));
                break;
            case 4: {
                const BYTE i = static_cast<BYTE>(NearestIndex(palette, colours, p));
                row[x >> 1] = (x & 1) ? static_cast<BYTE>((row[x >> 1] & 0xF0) | i)
                                      : static_cast<BYTE>((row[x >> 1] & 0x0F) | (i << 4));
                break;
            }
            case 1: {
                const BYTE mask = static_cast<BYTE>(0x80 >> (x & 7));
                if (NearestIndex(palette, colours, p))
                    row[x >> 3] |= mask;
                else
                    row[x >> 3] &= static_cast<BYTE>(~mask);
                break;
            }
            default: break;
            }
        }
    }
}

}   // namespace

bool CDib::GetDrawable(const BITMAPINFO** info, const void** bits) const
{
    if (m_dib.IsNull() || m_dib.GetSize() < sizeof(BITMAPINFOHEADER))
        return false;
    const BYTE* block = m_dib.Lock();
    const BITMAPINFOHEADER h = HeaderOf(block);
    if (h.biSize != sizeof(BITMAPINFOHEADER) || h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight <= 0)
        return false;
    switch (h.biBitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32: break;
    default: return false;
    }
    *info = reinterpret_cast<const BITMAPINFO*>(block);
    *bits = FindDIBBits(block);
    return true;
}

CDC* CDib::BeginPaint(CDC* /*parent*/)
{
    if (m_paintDC)
        return m_paintDC.get();
    const BITMAPINFO* info = nullptr;
    const void* bits = nullptr;
    if (!GetDrawable(&info, &bits))
        return nullptr;
    const int width = Width(), height = Height();
    std::unique_ptr<CPixelDC> dc(new (std::nothrow) CPixelDC(width, height));
    if (!dc || !dc->IsValid())
        return nullptr;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if (h.biBitCount == 24 && h.biHeight > 0) {
        // The back buffer's own layout: copied without the general blit.
        const std::size_t stride = DIBBytesPerLine(m_dib.Lock());
        const auto* rows = static_cast<const BYTE*>(bits);
        std::uint32_t* out = dc->Bits();
        for (int y = 0; y < height; ++y) {
            const BYTE* row = rows + stride * static_cast<std::size_t>(height - 1 - y);
            for (int x = 0; x < width; ++x, ++out)
                *out = (std::uint32_t{row[3 * x + 2]} << 16) | (std::uint32_t{row[3 * x + 1]} << 8) | row[3 * x];
        }
    } else if (dc->StretchDIBits(0, 0, width, height, 0, 0, width, height, bits, info, DIB_RGB_COLORS, SRCCOPY) <=
               0) {
        return nullptr;
    }
    m_paintDC = std::move(dc);
    return m_paintDC.get();
}

void CDib::EndPaint()
{
    if (!m_paintDC)
        return;
    StorePixels(m_dib.Lock(), m_paintDC->Bits());
    m_paintDC.reset();
}

bool CDib::Draw(CDC* dc, int x, int y, DWORD rop) const
{
    return StretchDraw(dc, x, y, Width(), Height(), 0, 0, Width(), Height(), rop);
}

bool CDib::StretchDraw(CDC* dc, int x, int y, int width, int height, int sourceX, int sourceY, int sourceWidth,
                       int sourceHeight, DWORD rop) const
{
    const BITMAPINFO* info = nullptr;
    const void* bits = nullptr;
    if (dc == nullptr || !GetDrawable(&info, &bits) || width <= 0 || height <= 0 || sourceWidth <= 0 ||
        sourceHeight <= 0)
        return false;
    // StretchDIBits counts source rows from the bottom of the picture.
    const int fromBottom = Height() - sourceY - sourceHeight;
    return dc->StretchDIBits(x, y, width, height, sourceX, fromBottom, sourceWidth, sourceHeight, bits, info,
                             DIB_RGB_COLORS, rop) > 0;
}

bool CDib::DrawRect(CDC* dc, const RECT& destination, const RECT& source, DWORD rop) const
{
    return StretchDraw(dc, destination.left, destination.top, destination.right - destination.left,
                       destination.bottom - destination.top, source.left, source.top, source.right - source.left,
                       source.bottom - source.top, rop);
}

bool DrawTransparentBitmap(CDC* dc, const CDib& bitmap, int x, int y, COLORREF transparent)
{
    if (dc == nullptr || bitmap.IsEmpty())
        return false;
    const int width = bitmap.Width(), height = bitmap.Height();
    CPixelDC picture(width, height);
    if (!picture.IsValid() || !bitmap.Draw(&picture, 0, 0, SRCCOPY))
        return false;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::vector<std::uint32_t> mask;
    std::vector<std::uint32_t> image;
    try {
        mask.resize(count);
        image.resize(count);
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Both blocks bottom-up, as a DIB's rows are.
    const std::uint32_t key = CPixelDC::ToPixel(transparent);
    const std::uint32_t* pixels = picture.Bits();
    for (int row = 0; row < height; ++row) {
        const std::size_t in = static_cast<std::size_t>(row) * width;
        const std::size_t out = static_cast<std::size_t>(height - 1 - row) * width;
        for (int col = 0; col < width; ++col) {
            const bool clear = pixels[in + col] == key;
            mask[out + col] = clear ? 0xFFFFFFu : 0u;
            image[out + col] = clear ? 0u : pixels[in + col];
        }
    }
    const BITMAPINFO info = Make32BitInfo(width, height);
    return dc->StretchDIBits(x, y, width, height, 0, 0, width, height, mask.data(), &info, DIB_RGB_COLORS,
                             SRCAND) > 0 &&
           dc->StretchDIBits(x, y, width, height, 0, 0, width, height, image.data(), &info, DIB_RGB_COLORS, SRCPAINT) >
               0;
}
