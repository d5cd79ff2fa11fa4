#include "raster/grey_rows.h"

#include "raster/packed_bits.h"
#include "raster/pixel_format.h"
#include "raster/pixel_math.h"
#include "raster/raster_src.h"
#include "raster/row_bands.h"
#include "raster/vector_dispatch.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace {

constexpr BYTE kBlackGrey = 0;
constexpr BYTE kWhiteGrey = 255;
// Rows between calls of a GreyChunkDone, and the thinnest threshold band.
constexpr int kRowsPerChunk = 1024;
constexpr int kMinBandRows = 16;

inline unsigned Nibble(const BYTE* row, int x) { return (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4u); }

inline unsigned Value555(const BYTE* row, int x) { return Load555(row, static_cast<std::size_t>(x)) & kMask555; }

// Truncated grey <= threshold for a blue, green, red pixel, without the
// double formula except where the exact sum sits on the boundary.
inline bool GreyAtMost(const BYTE* p, std::uint32_t limit, BYTE threshold)
{
    std::uint32_t sum = GreySum(p[2], p[1], p[0]);
    return sum < limit || (sum == limit && GreyLevel(p[2], p[1], p[0]) <= threshold);
}

// Colour rows go through blocks of pixels in two steps: a loop over the
// block with no branch and no table, which the compiler turns into vector
// code (for AVX2, see vector_dispatch.h: the stride-3 loads need its byte
// shuffles), then the rare pixels it flags are finished one by one. The
// fixed block length lets the vectoriser drop its remainder loop.
constexpr int kColourBlock = 256;

// The exact sum of the pixel at q. A 32-bit pixel is loaded as one word:
// the vectoriser takes whole words but not three bytes out of every four.
template <int kBytes>
[[gnu::always_inline]] inline std::uint32_t PixelGreySum(const BYTE* q)
{
    if constexpr (kBytes == 4) {
        std::uint32_t w;
        std::memcpy(&w, q, sizeof w);
        if constexpr (std::endian::native == std::endian::big)
            w = __builtin_bswap32(w);
        return GreySum((w >> 16) & 0xFF, (w >> 8) & 0xFF, w & 0xFF);
    } else {
        return GreySum(q[2], q[1], q[0]);
    }
}

// flags[i] = the exact sum of pixel i is below limit; *ties = whether any
// sum equals it.
template <int kBytes>
[[gnu::always_inline]] inline void BlockBelowBody(const BYTE* __restrict p, std::uint32_t limit, BYTE* __restrict flags,
                                                  int* ties)
{
    int equal = 0;
    for (int i = 0; i < kColourBlock; ++i) {
        const std::uint32_t sum = PixelGreySum<kBytes>(p + i * kBytes);
        flags[i] = sum < limit ? 1 : 0;
        equal |= sum == limit ? 1 : 0;
    }
    *ties = equal;
}
LW_VECTOR_KERNEL(BlockBelow3, BlockBelowBody<3>,
                 (const BYTE* __restrict p, std::uint32_t limit, BYTE* __restrict flags, int* ties),
                 (p, limit, flags, ties))
LW_VECTOR_KERNEL(BlockBelow4, BlockBelowBody<4>,
                 (const BYTE* __restrict p, std::uint32_t limit, BYTE* __restrict flags, int* ties),
                 (p, limit, flags, ties))

template <int kBytes>
void BlockBelow(const BYTE* p, std::uint32_t limit, BYTE* flags, int* ties)
{
    if constexpr (kBytes == 3)
        BlockBelow3(p, limit, flags, ties);
    else
        BlockBelow4(p, limit, flags, ties);
}

// grey[i] = the rounded grey of pixel i, except where its sum plus a half
// is a whole number of thousands: half[i] marks those (one colour in a
// thousand), *halves whether there is any.
// The division by 1000 goes through floats: for a sum below 2^18 their
// error stays below 0.0001, and the float thousandth lies above the real
// one, so the quotient is exact, and a remainder of 0 shows a multiple.
constexpr float kThousandth = 1.0f / kGreySumScale;
static_assert(static_cast<double>(kThousandth) > 1.0 / kGreySumScale);

template <int kBytes>
[[gnu::always_inline]] inline void BlockRoundedBody(const BYTE* __restrict p, BYTE* __restrict grey,
                                                    BYTE* __restrict half, int* halves)
{
    constexpr int kScale = static_cast<int>(kGreySumScale);
    int any = 0;
    for (int i = 0; i < kColourBlock; ++i) {
        const int sum = static_cast<int>(PixelGreySum<kBytes>(p + i * kBytes) + kGreySumScale / 2);
        const int level = static_cast<int>(static_cast<float>(sum) * kThousandth);
        const int rest = sum - level * kScale;
        grey[i] = static_cast<BYTE>(level);
        half[i] = rest == 0 ? 1 : 0;
        any |= half[i];
    }
    *halves = any;
}
LW_VECTOR_KERNEL(BlockRounded3, BlockRoundedBody<3>,
                 (const BYTE* __restrict p, BYTE* __restrict grey, BYTE* __restrict half, int* halves),
                 (p, grey, half, halves))
LW_VECTOR_KERNEL(BlockRounded4, BlockRoundedBody<4>,
                 (const BYTE* __restrict p, BYTE* __restrict grey, BYTE* __restrict half, int* halves),
                 (p, grey, half, halves))

template <int kBytes>
void BlockRounded(const BYTE* p, BYTE* grey, BYTE* half, int* halves)
{
    if constexpr (kBytes == 3)
        BlockRounded3(p, grey, half, halves);
    else
        BlockRounded4(p, grey, half, halves);
}

template <int kBytes>
void ThresholdColourRow(const BYTE* row, int x0, int n, BYTE threshold, BYTE* bits)
{
    const BYTE* p = row + static_cast<size_t>(x0) * kBytes;
    // grey <= t exactly when the sum is below 1000 (t + 1), apart from sums
    // equal to that bound, where the double formula decides.
    const std::uint32_t limit = kGreySumScale * (threshold + 1u);
    BYTE flags[kColourBlock];
    int x = 0;
    for (; x + kColourBlock <= n; x += kColourBlock) {
        const BYTE* block = p + static_cast<size_t>(x) * kBytes;
        int ties = 0;
        BlockBelow<kBytes>(block, limit, flags, &ties);
        if (ties) {
            for (int i = 0; i < kColourBlock; ++i)
                flags[i] = GreyAtMost(block + i * kBytes, limit, threshold) ? 1 : 0;
        }
        PackFlags(flags, kColourBlock, bits + (x >> 3));
    }
    if (x < n) {
        const BYTE* block = p + static_cast<size_t>(x) * kBytes;
        for (int i = 0; i < n - x; ++i)
            flags[i] = GreyAtMost(block + i * kBytes, limit, threshold) ? 1 : 0;
        PackFlags(flags, n - x, bits + (x >> 3));
    }
}

template <int kBytes>
void GreyColourRow(const BYTE* row, int x0, int n, BYTE* out)
{
    const BYTE* p = row + static_cast<size_t>(x0) * kBytes;
    for (int i = 0; i < n; ++i, p += kBytes)
        out[i] = FastGreyLevel(p[2], p[1], p[0]);
}

template <int kBytes>
void CountColourRow(const BYTE* row, int n, CGreyCounts& counts)
{
    static_assert(kColourBlock % CGreyCounts::kLanes == 0);
    BYTE grey[kColourBlock];
    BYTE half[kColourBlock];
    int x = 0;
    for (; x + kColourBlock <= n; x += kColourBlock) {
        const BYTE* block = row + static_cast<size_t>(x) * kBytes;
        int halves = 0;
        BlockRounded<kBytes>(block, grey, half, &halves);
        if (halves) {
            for (int i = 0; i < kColourBlock; ++i) {
                const BYTE* q = block + i * kBytes;
                if (half[i])
                    grey[i] = RoundedGreyLevel(q[2], q[1], q[0]);
            }
        }
        for (int i = 0; i < kColourBlock; i += CGreyCounts::kLanes)
            for (int lane = 0; lane < CGreyCounts::kLanes; ++lane)
                ++counts.lanes[lane][grey[i + lane]];
    }
    for (const BYTE* p = row + static_cast<size_t>(x) * kBytes; x < n; ++x, p += kBytes)
        ++counts.lanes[0][FastRoundedGreyLevel(p[2], p[1], p[0])];
}

// Counts values v(i) of pixels [0, n) spread over the lanes.
template <class Value>
void CountValues(int n, CGreyCounts& counts, Value&& v)
{
    int i = 0;
    for (; i + CGreyCounts::kLanes <= n; i += CGreyCounts::kLanes)
        for (int lane = 0; lane < CGreyCounts::kLanes; ++lane)
            ++counts.lanes[lane][v(i + lane)];
    for (; i < n; ++i)
        ++counts.lanes[0][v(i)];
}

}  // namespace

bool CGreyRowReader::Init(const CRasterSrc& image)
{
    if (image.IsEmpty()) {
        m_bitCount = image.GetBitCount();
        return false;
    }
    return Init(image.GetBitCount(), image.GetPalette());
}

bool CGreyRowReader::Init(int bitCount, const RGBQUAD* palette)
{
    m_bitCount = bitCount;
    if (m_bitCount == 1) {
        m_indexGrey[0] = m_indexRounded[0] = kWhiteGrey;
        m_indexGrey[1] = m_indexRounded[1] = kBlackGrey;
    } else if (m_bitCount <= 8) {
        if (!palette)
            return false;
        int entries = 1 << m_bitCount;
        for (int i = 0; i < entries; ++i) {
            const RGBQUAD& c = palette[i];
            m_indexGrey[i] = GreyLevel(c.rgbRed, c.rgbGreen, c.rgbBlue);
            m_indexRounded[i] = RoundedGreyLevel(c.rgbRed, c.rgbGreen, c.rgbBlue);
        }
    } else if (m_bitCount == 16) {
        m_grey555.reset(new (std::nothrow) BYTE[k555Values]);
        m_rounded555.reset(new (std::nothrow) BYTE[k555Values]);
        if (!m_grey555 || !m_rounded555)
            return false;
        for (unsigned v = 0; v < k555Values; ++v) {
            m_grey555[v] = GreyLevel(Red555(v), Green555(v), Blue555(v));
            m_rounded555[v] = RoundedGreyLevel(Red555(v), Green555(v), Blue555(v));
        }
    }
    return true;
}

void CGreyRowReader::GreyRow(const BYTE* row, int x0, int n, BYTE* out) const
{
    switch (m_bitCount) {
    case 1:
        for (int i = 0; i < n; ++i)
            out[i] = TestPixel(row, x0 + i) ? kBlackGrey : kWhiteGrey;
        break;
    case 4:
        for (int i = 0; i < n; ++i)
            out[i] = m_indexGrey[Nibble(row, x0 + i)];
        break;
    case 8:
        for (int i = 0; i < n; ++i)
            out[i] = m_indexGrey[row[x0 + i]];
        break;
    case 16:
        for (int i = 0; i < n; ++i)
            out[i] = m_grey555[Value555(row, x0 + i)];
        break;
    case 24: GreyColourRow<3>(row, x0, n, out); break;
    case 32: GreyColourRow<4>(row, x0, n, out); break;
    default: break;
    }
}

void CGreyRowReader::ThresholdRow(const BYTE* row, int x0, int n, BYTE threshold, BYTE* bits) const
{
    switch (m_bitCount) {
    case 1:
        // Black (0) is always at most the threshold; white (255) only at 255.
        if (threshold == kWhiteGrey)
            PackRow(bits, n, [](int) { return true; });
        else
            ExtractPixels(row, x0, n, bits);
        break;
    case 4: PackRow(bits, n, [&](int i) { return m_indexGrey[Nibble(row, x0 + i)] <= threshold; }); break;
    case 8: {
        const BYTE* p = row + x0;
        PackRow(bits, n, [&](int i) { return m_indexGrey[p[i]] <= threshold; });
        break;
    }
    case 16: PackRow(bits, n, [&](int i) { return m_grey555[Value555(row, x0 + i)] <= threshold; }); break;
    case 24: ThresholdColourRow<3>(row, x0, n, threshold, bits); break;
    case 32: ThresholdColourRow<4>(row, x0, n, threshold, bits); break;
    default: break;
    }
}

void CGreyRowReader::CountRow(const BYTE* row, int n, CGreyCounts& counts) const
{
    switch (m_bitCount) {
    case 1: {
        std::int64_t black = CountPixels(row, n);
        counts.lanes[0][1] += static_cast<std::uint64_t>(black);
        counts.lanes[0][0] += static_cast<std::uint64_t>(n - black);
        break;
    }
    case 4: CountValues(n, counts, [row](int i) { return Nibble(row, i); }); break;
    case 8: CountValues(n, counts, [row](int i) { return row[i]; }); break;
    case 16: CountValues(n, counts, [&](int i) { return m_rounded555[Value555(row, i)]; }); break;
    case 24: CountColourRow<3>(row, n, counts); break;
    case 32: CountColourRow<4>(row, n, counts); break;
    default: break;
    }
}

void CGreyRowReader::FoldCounts(const CGreyCounts& counts, std::uint64_t* bins) const
{
    // Palette depths counted indices; the others counted grey levels.
    bool indices = m_bitCount <= 8;
    for (int lane = 0; lane < CGreyCounts::kLanes; ++lane)
        for (int v = 0; v < 256; ++v)
            bins[indices ? m_indexRounded[v] : v] += counts.lanes[lane][v];
}

bool CountGreyRows(const CGreyRowReader& reader, const BYTE* const* rows, int width, int height, std::uint64_t* bins,
                   const GreyChunkDone& done)
{
    // Each band counts into lanes of its own; the sums do not depend on the
    // split.
    const int bands = std::max(1, std::min(GetRowBandThreads(), height));
    std::unique_ptr<CGreyCounts[]> lanes(new (std::nothrow) CGreyCounts[static_cast<size_t>(bands)]);  // 8 KB each
    if (!lanes)
        return false;
    for (int top = 0; top < height; top += kRowsPerChunk) {
        const int chunk = std::min(kRowsPerChunk, height - top);
        RunBands(bands, [&](int b) {
            int y0 = 0, y1 = 0;
            RowBandOf(chunk, bands, b, y0, y1);
            for (int y = top + y0; y < top + y1; ++y)
                reader.CountRow(rows[y], width, lanes[b]);
        });
        if (done)
            done(top, chunk);
    }
    for (int b = 0; b < bands; ++b)
        reader.FoldCounts(lanes[b], bins);
    return true;
}

void ThresholdGreyRows(const CGreyRowReader& reader, const BYTE* const* rows, int width, int height, BYTE threshold,
                       BYTE* const* out, const GreyChunkDone& done)
{
    for (int top = 0; top < height; top += kRowsPerChunk) {
        const int chunk = std::min(kRowsPerChunk, height - top);
        ForEachRowBand(chunk, kMinBandRows, [&](int, int y0, int y1) {
            for (int y = top + y0; y < top + y1; ++y)
                reader.ThresholdRow(rows[y], 0, width, threshold, out[y]);
        });
        if (done)
            done(top, chunk);
    }
}
