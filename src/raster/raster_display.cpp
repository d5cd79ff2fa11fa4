// The display's stretch blit. The visible part of the destination is
// computed into a 32-bit block, row by row from precomputed column spans,
// and handed to the DC in one StretchDIBits call at a one-to-one size.
#include "raster/raster_display.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "platform/dc.h"
#include "raster/dib.h"
#include "raster/packed_bits.h"
#include "raster/raster_src.h"

namespace {

// Rows reach the context this many at a time: a block the size of the
// destination would double a large picture.
constexpr int kBandRows = 64;

// The rows of an image as the blit reads them: the top row and the step to
// the row below it (negative for bottom-up storage).
struct PixelSource {
    int width = 0;
    int height = 0;
    int bitCount = 0;
    const RGBQUAD* palette = nullptr;
    int paletteCount = 0;
    const BYTE* topRow = nullptr;
    std::ptrdiff_t rowStep = 0;

    const BYTE* Row(int y) const { return topRow + rowStep * y; }
};

// The source pixels [first, last) that one destination pixel shows along an
// axis; a single pixel unless the axis shrinks.
struct Span {
    int first;
    int last;
};

std::uint32_t QuadToWord(const RGBQUAD& q)
{
    return (std::uint32_t{q.rgbRed} << 16) | (std::uint32_t{q.rgbGreen} << 8) | q.rgbBlue;
}

std::uint32_t Channel555(unsigned v) { return (v * 255 + 15) / 31; }

// Destination pixels [visibleFirst, visibleLast) of a destination of
// destSize pixels showing sourceSize pixels from sourceFirst. A shrinking
// axis covers whole spans (each at least one pixel, together every source
// pixel); an enlarging one samples under the pixel centre.
bool MakeSpans(std::int64_t sourceFirst, std::int64_t sourceSize, std::int64_t destSize, std::int64_t visibleFirst,
               std::int64_t visibleLast, std::vector<Span>& spans)
{
    try {
        spans.resize(static_cast<std::size_t>(visibleLast - visibleFirst));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (std::int64_t d = visibleFirst; d < visibleLast; ++d) {
        Span& s = spans[static_cast<std::size_t>(d - visibleFirst)];
        if (sourceSize > destSize) {
            s.first = static_cast<int>(sourceFirst + d * sourceSize / destSize);
            s.last = static_cast<int>(sourceFirst + (d + 1) * sourceSize / destSize);
        } else {
            s.first = static_cast<int>(sourceFirst + (2 * d + 1) * sourceSize / (2 * destSize));
            s.last = s.first + 1;
        }
    }
    return true;
}

int CountBlack(const BYTE* row, int first, int last)
{
    int n = 0;
    for (int x = first; x < last; x += kWordPixels)
        n += std::popcount(ReadPixels(row, x, std::min(kWordPixels, last - x)));
    return n;
}

// A one-bit destination row: the share of index-1 pixels in each covered
// box blends the two palette colours.
void OneBitRow(const PixelSource& src, const Span& rows, const std::vector<Span>& columns, const std::uint32_t* lut,
               std::uint32_t* out)
{
    const std::uint32_t c0 = lut[0], c1 = lut[1];
    if (rows.last - rows.first == 1) {
        const BYTE* row = src.Row(rows.first);
        bool single = true;
        for (const Span& c : columns)
            single = single && c.last - c.first == 1;
        if (single) {
            for (std::size_t i = 0; i < columns.size(); ++i)
                out[i] = TestPixel(row, columns[i].first) ? c1 : c0;
            return;
        }
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const Span& c = columns[i];
        std::int64_t black = 0;
        for (int y = rows.first; y < rows.last; ++y)
            black += CountBlack(src.Row(y), c.first, c.last);
        const std::int64_t area = std::int64_t{rows.last - rows.first} * (c.last - c.first);
        std::uint32_t word = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            const std::int64_t a = (c0 >> shift) & 0xFF, b = (c1 >> shift) & 0xFF;
            const std::int64_t v = (a * (area - black) + b * black + area / 2) / area;
            word |= static_cast<std::uint32_t>(v) << shift;
        }
        out[i] = word;
    }
}

// Any other depth: the pixel under the centre of each destination pixel.
void SampledRow(const PixelSource& src, int y, const std::vector<Span>& columns, const std::uint32_t* lut,
                std::uint32_t* out)
{
    const BYTE* row = src.Row(y);
    auto centre = [](const Span& s) { return s.first + (s.last - s.first - 1) / 2; };
    switch (src.bitCount) {
    case 4:
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const int x = centre(columns[i]);
            out[i] = lut[(x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4)];
        }
        break;
    case 8:
        for (std::size_t i = 0; i < columns.size(); ++i)
            out[i] = lut[row[centre(columns[i])]];
        break;
    case 16:
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const BYTE* p = row + 2 * centre(columns[i]);
            const unsigned v = p[0] | (p[1] << 8);
            out[i] = (Channel555((v >> 10) & 31) << 16) | (Channel555((v >> 5) & 31) << 8) | Channel555(v & 31);
        }
        break;
    default: {
        const int bytes = src.bitCount / 8;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const BYTE* p = row + bytes * centre(columns[i]);
            out[i] = (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
        }
    }
    }
}

bool IsInside(const RECT& r, int width, int height)
{
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && r.right <= width && r.bottom <= height;
}

bool Stretch(const PixelSource& src, const RECT& source, CDC* dc, const RECT& destination, const RECT& visible)
{
    if (dc == nullptr || src.topRow == nullptr || !IsInside(source, src.width, src.height))
        return false;
    const std::int64_t destWidth = std::int64_t{destination.right} - destination.left;
    const std::int64_t destHeight = std::int64_t{destination.bottom} - destination.top;
    if (destWidth <= 0 || destHeight <= 0)
        return false;
    const std::int32_t left = std::max(destination.left, visible.left);
    const std::int32_t right = std::min(destination.right, visible.right);
    const std::int32_t top = std::max(destination.top, visible.top);
    const std::int32_t bottom = std::min(destination.bottom, visible.bottom);
    if (left >= right || top >= bottom)
        return false;
    const int outWidth = right - left, outHeight = bottom - top;

    std::uint32_t lut[256] = {};
    for (int i = 0; i < src.paletteCount && i < 256; ++i)
        lut[i] = QuadToWord(src.palette[i]);

    std::vector<Span> columns, rows;
    std::vector<std::uint32_t> block;
    if (!MakeSpans(source.left, source.right - source.left, destWidth, std::int64_t{left} - destination.left,
                   std::int64_t{right} - destination.left, columns) ||
        !MakeSpans(source.top, source.bottom - source.top, destHeight, std::int64_t{top} - destination.top,
                   std::int64_t{bottom} - destination.top, rows))
        return false;
    const int bandRows = std::min(kBandRows, outHeight);
    try {
        block.resize(static_cast<std::size_t>(outWidth) * static_cast<std::size_t>(bandRows));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int band = 0; band < outHeight; band += bandRows) {
        const int n = std::min(bandRows, outHeight - band);
        for (int r = 0; r < n; ++r) {
            // The block is bottom-up, as a DIB's rows are.
            std::uint32_t* out = block.data() + static_cast<std::size_t>(n - 1 - r) * outWidth;
            const Span& span = rows[static_cast<std::size_t>(band + r)];
            if (src.bitCount == 1)
                OneBitRow(src, span, columns, lut, out);
            else
                SampledRow(src, span.first + (span.last - span.first - 1) / 2, columns, lut, out);
        }
        const BITMAPINFO info = Make32BitInfo(outWidth, n);
        if (dc->StretchDIBits(left, top + band, outWidth, n, 0, 0, outWidth, n, block.data(), &info, DIB_RGB_COLORS,
                              SRCCOPY) <= 0)
            return false;
    }
    return true;
}

bool SourceOfRaster(const CRasterSrc* raster, PixelSource& src)
{
    if (raster == nullptr || raster->IsEmpty())
        return false;
    src.width = raster->GetWidth();
    src.height = raster->GetHeight();
    src.bitCount = raster->GetBitCount();
    src.palette = raster->GetPalette();
    src.paletteCount = src.bitCount <= 8 && src.palette ? 1 << src.bitCount : 0;
    src.topRow = raster->GetRow(0);
    src.rowStep = src.height > 1 ? raster->GetRow(1) - raster->GetRow(0) : 0;
    return src.bitCount == 1 || src.bitCount == 4 || src.bitCount == 8 || src.bitCount == 16 || src.bitCount == 24 ||
           src.bitCount == 32;
}

bool SourceOfDib(const CDib& dib, PixelSource& src)
{
    if (dib.IsEmpty())
        return false;
    const BYTE* block = dib.GetHandle().Lock();
    BITMAPINFOHEADER h;
    std::memcpy(&h, block, sizeof h);
    if (h.biSize != sizeof(BITMAPINFOHEADER) || h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight == 0)
        return false;
    src.width = h.biWidth;
    src.height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    src.bitCount = h.biBitCount;
    src.paletteCount = static_cast<int>(DIBNumColors(block));
    src.palette = reinterpret_cast<const RGBQUAD*>(block + h.biSize);
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(DIBBytesPerLine(block));
    const BYTE* bits = FindDIBBits(block);
    if (h.biHeight > 0) {
        src.topRow = bits + stride * (src.height - 1);
        src.rowStep = -stride;
    } else {
        src.topRow = bits;
        src.rowStep = stride;
    }
    // A palette image whose table is short would index past it.
    if (src.bitCount <= 8 && src.paletteCount < (1 << src.bitCount))
        return false;
    return src.bitCount == 1 || src.bitCount == 4 || src.bitCount == 8 || src.bitCount == 16 || src.bitCount == 24 ||
           src.bitCount == 32;
}

}  // namespace

int GetPlatformCode() { return kPlatformNT; }

bool DrawRasterDib(const CRasterSrc* raster, const RECT& source, CDC* dc, const RECT& destination)
{
    return DrawRasterDib(raster, source, dc, destination, destination);
}

bool DrawRasterDib(const CRasterSrc* raster, const RECT& source, CDC* dc, const RECT& destination, const RECT& visible)
{
    PixelSource src;
    return SourceOfRaster(raster, src) && Stretch(src, source, dc, destination, visible);
}

bool DrawDibRect(const CDib& dib, const RECT& source, CDC* dc, const RECT& destination, const RECT& visible)
{
    PixelSource src;
    return SourceOfDib(dib, src) && Stretch(src, source, dc, destination, visible);
}
