// The display half of CDib: its drawing objects (the palette and the DIB
// section), painting into the picture through the section, and putting the
// picture on a drawing context.
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "platform/bitmap.h"
#include "platform/dc.h"
#include "platform/palette.h"
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
            case 32: std::memcpy(row + 4 * x, &p, 4); break;
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
            case 8: row[x] = static_cast<BYTE>(NearestIndex(palette, colours, p)); break;
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

}  // namespace

namespace {

// A block the section and the blits can take: 40-byte header, uncompressed,
// bottom-up, a depth they know.
bool IsDrawableBlock(const BYTE* block)
{
    const BITMAPINFOHEADER h = HeaderOf(block);
    if (h.biSize != sizeof(BITMAPINFOHEADER) || h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight <= 0)
        return false;
    switch (h.biBitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32: return true;
    default: return false;
    }
}

// Header, table and rows fit in the handle's block.
bool BlockHoldsItself(const CDibHandle& handle)
{
    if (handle.IsNull() || handle.GetSize() < sizeof(BITMAPINFOHEADER))
        return false;
    const BYTE* block = handle.Lock();
    const BITMAPINFOHEADER h = HeaderOf(block);
    if (h.biSize != sizeof(BITMAPINFOHEADER) || h.biHeight <= 0)
        return false;
    const std::uint64_t need = std::uint64_t{h.biSize} + DIBPaletteSize(block) +
                               std::uint64_t{DIBBytesPerLine(block)} * static_cast<std::uint64_t>(h.biHeight);
    return need <= handle.GetSize();
}

}  // namespace

std::unique_ptr<CPalette> CreateDIBPalette(const BYTE* dib)
{
    if (dib == nullptr)
        return nullptr;
    const DWORD count = DIBNumColors(dib);
    if (count == 0)
        return nullptr;
    DWORD headerSize;
    std::memcpy(&headerSize, dib, sizeof headerSize);
    const bool core = headerSize == sizeof(BITMAPCOREHEADER);
    const BYTE* table = dib + headerSize;
    std::vector<PALETTEENTRY> entries;
    try {
        entries.reserve(count);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    for (DWORD i = 0; i < count; ++i) {
        // Both tables hold blue, green, red; only the stride differs.
        const BYTE* bgr = table + i * (core ? sizeof(RGBTRIPLE) : sizeof(RGBQUAD));
        entries.push_back(PALETTEENTRY{bgr[2], bgr[1], bgr[0], 0});
    }
    return std::unique_ptr<CPalette>(new (std::nothrow) CPalette(std::move(entries)));
}

std::unique_ptr<CPalette> CreateDIBPaletteFromHandle(const CDibHandle& handle)
{
    if (handle.IsNull() || handle.GetSize() < sizeof(BITMAPCOREHEADER))
        return nullptr;
    const BYTE* block = handle.Lock();
    DWORD headerSize;
    std::memcpy(&headerSize, block, sizeof headerSize);
    if ((headerSize != sizeof(BITMAPINFOHEADER) && headerSize != sizeof(BITMAPCOREHEADER)) ||
        std::uint64_t{headerSize} + DIBPaletteSize(block) > handle.GetSize())
        return nullptr;
    return CreateDIBPalette(block);
}

std::unique_ptr<CBitmap> DIBToDIBSection(const BYTE* dib)
{
    if (dib == nullptr || !IsDrawableBlock(dib))
        return nullptr;
    const BITMAPINFOHEADER h = HeaderOf(dib);
    std::vector<RGBQUAD> colours;
    if (h.biBitCount <= 8) {
        const auto* table = reinterpret_cast<const RGBQUAD*>(dib + h.biSize);
        try {
            colours.assign(table, table + DIBNumColors(dib));
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    std::unique_ptr<CBitmap> bitmap = CBitmap::Create(h.biWidth, h.biHeight, h.biBitCount, std::move(colours));
    if (!bitmap)
        return nullptr;
    const int width = h.biWidth, height = h.biHeight;
    const BYTE* bits = FindDIBBits(dib);
    CPixelDC* canvas = bitmap->GetDC();
    if (h.biBitCount == 24) {
        // The back buffer's own layout: copied without the general blit.
        const std::size_t stride = DIBBytesPerLine(dib);
        std::uint32_t* out = canvas->Bits();
        for (int y = 0; y < height; ++y) {
            const BYTE* row = bits + stride * static_cast<std::size_t>(height - 1 - y);
            for (int x = 0; x < width; ++x, ++out)
                *out = (std::uint32_t{row[3 * x + 2]} << 16) | (std::uint32_t{row[3 * x + 1]} << 8) | row[3 * x];
        }
    } else if (canvas->StretchDIBits(0, 0, width, height, 0, 0, width, height, bits,
                                     reinterpret_cast<const BITMAPINFO*>(dib), DIB_RGB_COLORS, SRCCOPY) <= 0) {
        return nullptr;
    }
    return bitmap;
}

std::unique_ptr<CBitmap> HandleToDIBSection(const CDibHandle& handle)
{
    return BlockHoldsItself(handle) ? DIBToDIBSection(handle.Lock()) : nullptr;
}

CDibHandle BitmapToDIB(const CBitmap& bitmap)
{
    const int bits = bitmap.GetBitCount();
    const std::vector<RGBQUAD>& colours = bitmap.GetColorTable();
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = bitmap.GetWidth();
    h.biHeight = bitmap.GetHeight();
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bits);
    h.biCompression = BI_RGB;
    // A full table is implied by the depth; a shorter one is counted.
    if (bits <= 8 && colours.size() != (std::size_t{1} << bits))
        h.biClrUsed = static_cast<DWORD>(colours.size());
    const std::uint64_t rows =
        ((std::uint64_t(bits) * std::uint64_t(h.biWidth) + 31) >> 5) * 4 * static_cast<std::uint64_t>(h.biHeight);
    const std::uint64_t size = h.biSize + colours.size() * sizeof(RGBQUAD) + rows;
    if (rows > UINT32_MAX || size > SIZE_MAX / 2)
        return {};
    h.biSizeImage = static_cast<DWORD>(rows);
    CDibHandle handle = CDibHandle::Allocate(static_cast<std::size_t>(size));
    if (handle.IsNull())
        return handle;
    BYTE* block = handle.Lock();
    std::memcpy(block, &h, sizeof h);
    if (!colours.empty())
        std::memcpy(block + h.biSize, colours.data(), colours.size() * sizeof(RGBQUAD));
    StorePixels(block, bitmap.GetCanvas().Bits());
    return handle;
}

bool DrawBitmap(CDC* dc, const RECT& destination, const CBitmap& bitmap, const RECT& source,
                const CPalette* /*palette*/, DWORD rop)
{
    const int width = destination.right - destination.left, height = destination.bottom - destination.top;
    const int sourceWidth = source.right - source.left, sourceHeight = source.bottom - source.top;
    if (dc == nullptr || width <= 0 || height <= 0 || sourceWidth <= 0 || sourceHeight <= 0)
        return false;
    // The canvas is only read; the blits take a non-const source.
    auto* canvas = const_cast<CPixelDC*>(&bitmap.GetCanvas());
    if (width == sourceWidth && height == sourceHeight)
        return dc->BitBlt(destination.left, destination.top, width, height, canvas, source.left, source.top, rop);
    const int oldMode = dc->SetStretchBltMode(COLORONCOLOR);
    const bool drew = dc->StretchBlt(destination.left, destination.top, width, height, canvas, source.left, source.top,
                                     sourceWidth, sourceHeight, rop);
    dc->SetStretchBltMode(oldMode);
    return drew;
}

bool CDib::GetDrawable(const BITMAPINFO** info, const void** bits) const
{
    if (m_dib.IsNull() || m_dib.GetSize() < sizeof(BITMAPINFOHEADER))
        return false;
    const BYTE* block = m_dib.Lock();
    if (!IsDrawableBlock(block))
        return false;
    *info = reinterpret_cast<const BITMAPINFO*>(block);
    *bits = FindDIBBits(block);
    return true;
}

CDC* CDib::BeginPaint(CDC* /*parent*/)
{
    if (m_painting)
        return m_bitmap->GetDC();
    if (!m_bitmap && !MakeBitmap())
        return nullptr;
    m_painting = true;
    return m_bitmap->GetDC();
}

void CDib::EndPaint()
{
    if (!m_painting)
        return;
    m_painting = false;
    BITMAPINFOHEADER old = HeaderOf(m_dib.Lock());
    if (!CreateFromBitmap(*m_bitmap)) {
        // What was painted is lost; the section shows the block again.
        (void)MakeBitmap();
        return;
    }
    BITMAPINFOHEADER h = HeaderOf(m_dib.Lock());
    h.biXPelsPerMeter = old.biXPelsPerMeter;
    h.biYPelsPerMeter = old.biYPelsPerMeter;
    std::memcpy(m_dib.Lock(), &h, sizeof h);
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
    return dc->StretchDIBits(x, y, width, height, 0, 0, width, height, mask.data(), &info, DIB_RGB_COLORS, SRCAND) >
               0 &&
           dc->StretchDIBits(x, y, width, height, 0, 0, width, height, image.data(), &info, DIB_RGB_COLORS, SRCPAINT) >
               0;
}
