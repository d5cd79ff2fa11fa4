// Blits of CPixelDC: another canvas or the rows of a packed DIB, copied or
// stretched into a device rectangle with a raster operation of source and
// destination. The destination is walked row by row, reading only the
// source pixels it needs; the format switch stays outside the inner loops.
#include "platform/pixel_dc.h"

#include "platform/pixel_dc_raster.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

// Rows of a source image, top row first, decoded to canvas words.
struct BlitSource {
    int width = 0;
    int height = 0;
    const std::uint32_t* pixels = nullptr;  // a canvas: width words a row
    const BYTE* dib = nullptr;              // else packed DIB rows
    int bitCount = 0;
    long long stride = 0;
    bool bottomUp = true;
    std::uint32_t palette[256] = {};

    const BYTE* DibRow(int y) const { return dib + (bottomUp ? height - 1 - y : y) * stride; }

    // The pixels at the given columns of row y.
    void Gather(int y, const int* columns, std::size_t n, std::uint32_t* out) const
    {
        if (pixels) {
            const std::uint32_t* row = pixels + static_cast<std::size_t>(y) * width;
            for (std::size_t k = 0; k < n; ++k)
                out[k] = row[columns[k]];
            return;
        }
        const BYTE* row = DibRow(y);
        switch (bitCount) {
        case 1:
            for (std::size_t k = 0; k < n; ++k)
                out[k] = palette[(row[columns[k] >> 3] >> (7 - (columns[k] & 7))) & 1];
            break;
        case 4:
            for (std::size_t k = 0; k < n; ++k)
                out[k] = palette[(row[columns[k] >> 1] >> (columns[k] & 1 ? 0 : 4)) & 0xF];
            break;
        case 8:
            for (std::size_t k = 0; k < n; ++k)
                out[k] = palette[row[columns[k]]];
            break;
        default: {  // 24 or 32: blue, green, red (, unused)
            const std::size_t size = static_cast<std::size_t>(bitCount / 8);
            for (std::size_t k = 0; k < n; ++k) {
                const BYTE* p = row + size * static_cast<std::size_t>(columns[k]);
                out[k] = (static_cast<std::uint32_t>(p[2]) << 16) | (p[1] << 8) | p[0];
            }
            break;
        }
        }
    }
};

namespace {

// Set bits of each byte value: the portable build has no popcount instruction.
constexpr auto kBitsSet = [] {
    std::array<std::uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(std::popcount(static_cast<unsigned>(i)));
    return table;
}();

// Set bits of a packed one-bit row before each column, from running
// counts per byte, so a halftone column costs two look-ups.
class COnesCounter {
public:
    void Load(const BYTE* row, int width)
    {
        m_row = row;
        const std::size_t bytes = static_cast<std::size_t>(width + 7) / 8;
        m_before.resize(bytes + 1);
        m_before[0] = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            m_before[i + 1] = m_before[i] + kBitsSet[row[i]];
    }
    std::uint32_t Before(int x) const
    {
        const int bit = x & 7;
        const std::size_t byte = static_cast<std::size_t>(x >> 3);
        return m_before[byte] + (bit != 0 ? kBitsSet[m_row[byte] >> (8 - bit)] : 0);
    }

private:
    const BYTE* m_row = nullptr;
    std::vector<std::uint32_t> m_before;
};

}  // namespace

namespace {

// Ternary raster operations that do not use the brush pattern, as a binary
// operation of source and destination; false for the others.
bool SourceOp(DWORD rop, unsigned& table)
{
    const unsigned code = (rop >> 16) & 0xFF;
    if ((code >> 4) != (code & 0xF))
        return false;
    table = code & 0xF;
    return true;
}

// Source range [first, last) for each destination index 0..count-1 along an
// axis; mirrored when flip. Nearest sampling gives one source index, a
// shrink that combines pixels the indexes the destination pixel covers. Ranges are clipped to [0, limit);
// an empty range marks a pixel with nothing under it.
struct AxisMap {
    std::vector<int> first, last;
};

AxisMap MapAxis(long long visibleFrom, long long visibleTo, long long destStart, long long destSize, long long srcStart,
                long long srcSize, long long limit, bool flip, bool average)
{
    AxisMap map;
    const std::size_t n = static_cast<std::size_t>(std::max(0LL, visibleTo - visibleFrom));
    map.first.resize(n);
    map.last.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        long long u = visibleFrom + static_cast<long long>(k) - destStart;
        if (flip)
            u = destSize - 1 - u;
        // 128-bit products: zoomed far in, u and srcSize are both large.
        long long a, b;
        if (average) {
            a = srcStart + static_cast<long long>(static_cast<__int128>(u) * srcSize / destSize);
            b = std::max(a + 1, srcStart + static_cast<long long>(static_cast<__int128>(u + 1) * srcSize / destSize));
        } else {
            a = srcStart + static_cast<long long>(static_cast<__int128>(2 * u + 1) * srcSize / (2 * destSize));
            b = a + 1;
        }
        a = std::clamp(a, 0LL, limit);
        b = std::clamp(b, 0LL, limit);
        map.first[k] = static_cast<int>(a);
        map.last[k] = static_cast<int>(std::max(a, b));
    }
    return map;
}

}  // namespace

namespace {

using DeviceRect = CPixelDC::DeviceRect;

// How shrinking combines the source pixels under a destination pixel:
// HALFTONE takes their mean, BLACKONWHITE ANDs them (dark lines survive),
// WHITEONBLACK ORs them.
enum class Shrink { Mean, And, Or };

// Combines the source pixels under each destination pixel of a row.
class CRowReducer {
public:
    CRowReducer(const BlitSource& source, const AxisMap& columns, Shrink shrink)
        : m_source(source), m_columns(columns), m_shrink(shrink), m_countBits(source.dib && source.bitCount == 1),
          m_sums(3 * columns.first.size()), m_counts(columns.first.size())
    {
        if (m_countBits)
            return;
        int from = source.width, to = 0;
        for (std::size_t k = 0; k < columns.first.size(); ++k) {
            if (columns.first[k] < columns.last[k]) {
                from = std::min(from, columns.first[k]);
                to = std::max(to, columns.last[k]);
            }
        }
        for (int x = from; x < to; ++x)
            m_span.push_back(x);
        m_scratch.resize(m_span.size());
    }

    void Reduce(int firstRow, int lastRow, std::uint32_t* out)
    {
        const std::size_t n = m_counts.size();
        std::fill(m_sums.begin(), m_sums.end(), m_shrink == Shrink::And && !m_countBits ? 0xFFFFFF : 0);
        std::fill(m_counts.begin(), m_counts.end(), 0);
        for (int sy = firstRow; sy < lastRow; ++sy) {
            if (m_countBits)
                CountRow(sy);
            else
                AddRow(sy);
            for (std::size_t k = 0; k < n; ++k)
                m_counts[k] += static_cast<std::uint32_t>(m_columns.last[k] - m_columns.first[k]);
        }
        for (std::size_t k = 0; k < n; ++k)
            out[k] = m_countBits ? FromBits(k) : FromSums(k);
    }

private:
    // A one-bit source only counts its set bits.
    void CountRow(int sy)
    {
        m_ones.Load(m_source.DibRow(sy), m_source.width);
        std::uint32_t end = 0;
        for (std::size_t k = 0; k < m_counts.size(); ++k) {
            // Neighbouring columns share their boundary count.
            const bool joined = k > 0 && m_columns.first[k] == m_columns.last[k - 1];
            const std::uint32_t start = joined ? end : m_ones.Before(m_columns.first[k]);
            end = m_ones.Before(m_columns.last[k]);
            m_sums[k] += end - start;
        }
    }

    void AddRow(int sy)
    {
        m_source.Gather(sy, m_span.data(), m_span.size(), m_scratch.data());
        for (std::size_t k = 0; k < m_counts.size(); ++k) {
            for (int sx = m_columns.first[k]; sx < m_columns.last[k]; ++sx) {
                const std::uint32_t p = m_scratch[static_cast<std::size_t>(sx - m_span.front())];
                if (m_shrink == Shrink::And) {
                    m_sums[3 * k] &= p;
                } else if (m_shrink == Shrink::Or) {
                    m_sums[3 * k] |= p;
                } else {
                    m_sums[3 * k] += p >> 16;
                    m_sums[3 * k + 1] += (p >> 8) & 0xFF;
                    m_sums[3 * k + 2] += p & 0xFF;
                }
            }
        }
    }

    std::uint32_t FromSums(std::size_t k) const
    {
        if (m_shrink != Shrink::Mean)
            return static_cast<std::uint32_t>(m_sums[3 * k]);
        return Mean(m_sums[3 * k], m_sums[3 * k + 1], m_sums[3 * k + 2], m_counts[k]);
    }

    std::uint32_t FromBits(std::size_t k) const
    {
        const std::uint32_t one = m_source.palette[1], zero = m_source.palette[0];
        const std::uint64_t ones = m_sums[k], zeros = m_counts[k] - ones;
        if (m_shrink != Shrink::Mean) {
            if (zeros == 0 || ones == 0)
                return zeros == 0 ? one : zero;
            return m_shrink == Shrink::And ? (one & zero) : (one | zero);
        }
        return Mean(ones * (one >> 16) + zeros * (zero >> 16),
                    ones * ((one >> 8) & 0xFF) + zeros * ((zero >> 8) & 0xFF),
                    ones * (one & 0xFF) + zeros * (zero & 0xFF), m_counts[k]);
    }

    static std::uint32_t Mean(std::uint64_t red, std::uint64_t green, std::uint64_t blue, std::uint64_t count)
    {
        const std::uint64_t c = std::max<std::uint64_t>(count, 1);
        return static_cast<std::uint32_t>((((red + c / 2) / c) << 16) | (((green + c / 2) / c) << 8) |
                                          ((blue + c / 2) / c));
    }

    const BlitSource& m_source;
    const AxisMap& m_columns;
    Shrink m_shrink;
    bool m_countBits;
    std::vector<std::uint64_t> m_sums;
    std::vector<std::uint32_t> m_counts;
    std::vector<int> m_span;  // the source columns a row reads
    std::vector<std::uint32_t> m_scratch;
    COnesCounter m_ones;
};

// Mirrors a rectangle with a negative size into a positive one.
void Normalize(DeviceRect& rect, bool& flipX, bool& flipY)
{
    if (rect.width < 0) {
        rect.x += rect.width;
        rect.width = -rect.width;
        flipX = !flipX;
    }
    if (rect.height < 0) {
        rect.y += rect.height;
        rect.height = -rect.height;
        flipY = !flipY;
    }
}

// Shared by every blit: destination and source rectangles in device pixels
// (negative sizes mirror).
bool StretchKernel(std::uint32_t* bits, int canvasWidth, int canvasHeight, DeviceRect dest, const BlitSource& source,
                   DeviceRect src, DWORD rop, int stretchMode)
{
    unsigned table = 0;
    if (!SourceOp(rop, table))
        return false;
    bool flipX = false, flipY = false;
    Normalize(dest, flipX, flipY);
    Normalize(src, flipX, flipY);
    if (dest.width == 0 || dest.height == 0 || src.width == 0 || src.height == 0)
        return true;
    const long long x0 = std::max(dest.x, 0LL), x1 = std::min(dest.x + dest.width, static_cast<long long>(canvasWidth));
    const long long y0 = std::max(dest.y, 0LL),
                    y1 = std::min(dest.y + dest.height, static_cast<long long>(canvasHeight));
    if (x0 >= x1 || y0 >= y1)
        return true;
    const bool combine = stretchMode != COLORONCOLOR;
    const bool shrinkX = combine && src.width > dest.width, shrinkY = combine && src.height > dest.height;
    const AxisMap columns = MapAxis(x0, x1, dest.x, dest.width, src.x, src.width, source.width, flipX, shrinkX);
    const AxisMap rows = MapAxis(y0, y1, dest.y, dest.height, src.y, src.height, source.height, flipY, shrinkY);
    const std::size_t n = columns.first.size();
    // Columns with nothing under them read any valid one and are skipped.
    std::vector<int> sample(columns.first);
    int anyColumn = -1;
    for (std::size_t k = 0; k < n; ++k) {
        if (columns.first[k] < columns.last[k])
            anyColumn = columns.first[k];
    }
    if (anyColumn < 0)
        return true;
    bool allColumns = true;
    for (std::size_t k = 0; k < n; ++k) {
        if (columns.first[k] >= columns.last[k]) {
            sample[k] = anyColumn;
            allColumns = false;
        }
    }

    const BinaryOp op(table);
    const bool copy = table == 0xC;
    const Shrink shrink = stretchMode == HALFTONE       ? Shrink::Mean
                          : stretchMode == WHITEONBLACK ? Shrink::Or
                                                        : Shrink::And;
    CRowReducer reducer(source, columns, shrink);
    std::vector<std::uint32_t> row(n);
    for (long long dy = y0; dy < y1; ++dy) {
        const std::size_t r = static_cast<std::size_t>(dy - y0);
        if (rows.first[r] >= rows.last[r])
            continue;
        if (shrinkX || shrinkY)
            reducer.Reduce(rows.first[r], rows.last[r], row.data());
        else
            source.Gather(rows.first[r], sample.data(), n, row.data());
        std::uint32_t* d = bits + static_cast<std::size_t>(dy) * canvasWidth + x0;
        if (allColumns && copy) {
            std::copy(row.begin(), row.end(), d);
            continue;
        }
        for (std::size_t k = 0; k < n; ++k) {
            if (columns.first[k] < columns.last[k])
                d[k] = copy ? row[k] : op(row[k], d[k]);
        }
    }
    return true;
}

}  // namespace

CPixelDC::DeviceRect CPixelDC::DeviceRectOf(int x, int y, int width, int height) const
{
    const DPoint a = ToDevice(x, y),
                 b = ToDevice(static_cast<long long>(x) + width, static_cast<long long>(y) + height);
    return {static_cast<long long>(a.x), static_cast<long long>(a.y), static_cast<long long>(b.x - a.x),
            static_cast<long long>(b.y - a.y)};
}

bool CPixelDC::BitBlt(int x, int y, int width, int height, CDC* source, int sourceX, int sourceY, DWORD rop)
{
    return StretchBlt(x, y, width, height, source, sourceX, sourceY, width, height, rop);
}

bool CPixelDC::StretchBlt(int x, int y, int width, int height, CDC* source, int sourceX, int sourceY, int sourceWidth,
                          int sourceHeight, DWORD rop)
{
    unsigned table = 0;
    if (!m_bits || !SourceOp(rop, table))
        return false;
    BlitSource image;
    std::vector<std::uint32_t> copy;
    DeviceRect src{sourceX, sourceY, sourceWidth, sourceHeight};
    // Operations that ignore the source need none.
    if ((table & 0x3) != ((table >> 2) & 0x3)) {
        if (!source)
            return false;
        image.pixels = source->GetPixels(&image.width, &image.height);
        if (!image.pixels)
            return false;
        if (const auto* canvas = dynamic_cast<const CPixelDC*>(source))
            src = canvas->DeviceRectOf(sourceX, sourceY, sourceWidth, sourceHeight);
        if (image.pixels == m_bits.get()) {
            // Overlapping copies within the canvas read the pixels as they were.
            copy.assign(image.pixels, image.pixels + static_cast<std::size_t>(m_width) * m_height);
            image.pixels = copy.data();
        }
    } else {
        // Any pixel will do as the unused source.
        image.pixels = m_bits.get();
        image.width = m_width;
        image.height = m_height;
        src = DeviceRect{0, 0, 1, 1};
    }
    return StretchKernel(m_bits.get(), m_width, m_height, DeviceRectOf(x, y, width, height), image, src, rop,
                         m_stretchMode);
}

int CPixelDC::StretchDIBits(int x, int y, int width, int height, int sourceX, int sourceY, int sourceWidth,
                            int sourceHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop)
{
    unsigned table = 0;
    if (!m_bits || !bits || !info || usage != DIB_RGB_COLORS || !SourceOp(rop, table))
        return 0;
    const BITMAPINFOHEADER& header = info->bmiHeader;
    const int bitCount = header.biBitCount;
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biWidth <= 0 || header.biHeight == 0 ||
        header.biHeight == INT32_MIN ||
        (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32))
        return 0;
    const BYTE* table8 = reinterpret_cast<const BYTE*>(info) + header.biSize;
    if (header.biCompression == BI_BITFIELDS && bitCount == 32) {
        // Only the usual masks: red, green, blue in the order of BI_RGB.
        DWORD masks[3];
        std::memcpy(masks, table8, sizeof(masks));
        if (masks[0] != 0xFF0000 || masks[1] != 0xFF00 || masks[2] != 0xFF)
            return 0;
    } else if (header.biCompression != BI_RGB) {
        return 0;
    }
    BlitSource image;
    image.width = header.biWidth;
    image.height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    image.bottomUp = header.biHeight > 0;
    image.dib = static_cast<const BYTE*>(bits);
    image.bitCount = bitCount;
    image.stride = (static_cast<long long>(image.width) * bitCount + 31) / 32 * 4;
    if (bitCount <= 8) {
        const DWORD entries = 1u << bitCount;
        const DWORD used = header.biClrUsed == 0 ? entries : std::min<DWORD>(header.biClrUsed, entries);
        for (DWORD i = 0; i < used; ++i) {
            RGBQUAD q;
            std::memcpy(&q, table8 + 4 * i, sizeof(q));
            image.palette[i] = (static_cast<std::uint32_t>(q.rgbRed) << 16) | (q.rgbGreen << 8) | q.rgbBlue;
        }
    }
    // Source rows count from the bottom in a bottom-up DIB: turn the
    // rectangle into top-down rows.
    long long sy = sourceY, sh = sourceHeight;
    const bool mirror = sh < 0;
    if (mirror) {
        sy += sh;
        sh = -sh;
    }
    const long long topRow = image.bottomUp ? image.height - (sy + sh) : sy;
    const DeviceRect src{sourceX, mirror ? topRow + sh : topRow, sourceWidth, mirror ? -sh : sh};
    const long long top = std::max(0LL, topRow);
    const long long bottom = std::min<long long>(image.height, topRow + sh);
    if (top >= bottom)
        return 0;
    if (!StretchKernel(m_bits.get(), m_width, m_height, DeviceRectOf(x, y, width, height), image, src, rop,
                       m_stretchMode))
        return 0;
    return static_cast<int>(bottom - top);
}
