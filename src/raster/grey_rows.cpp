#include "raster/grey_rows.h"

#include "raster/packed_bits.h"
#include "raster/pixel_format.h"
#include "raster/pixel_math.h"
#include "raster/raster_src.h"

#include <new>

namespace {

constexpr BYTE kBlackGrey = 0;
constexpr BYTE kWhiteGrey = 255;

inline unsigned Nibble(const BYTE* row, int x)
{
    return (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4u);
}

inline unsigned Value555(const BYTE* row, int x)
{
    return Load555(row, static_cast<std::size_t>(x)) & kMask555;
}

// Truncated grey <= threshold for a blue, green, red pixel, without the
// double formula except where the exact sum sits on the boundary.
inline bool GreyAtMost(const BYTE* p, std::uint32_t limit, BYTE threshold)
{
    std::uint32_t sum = GreySum(p[2], p[1], p[0]);
    return sum < limit || (sum == limit && GreyLevel(p[2], p[1], p[0]) <= threshold);
}

template <int kBytes>
void ThresholdColourRow(const BYTE* row, int x0, int n, BYTE threshold, BYTE* bits)
{
    const BYTE* p = row + static_cast<size_t>(x0) * kBytes;
    // grey <= t exactly when the sum is below 1000 (t + 1), apart from sums
    // equal to that bound, where the double formula decides.
    std::uint32_t limit = kGreySumScale * (threshold + 1u);
    PackRow(bits, n, [&](int i) { return GreyAtMost(p + static_cast<size_t>(i) * kBytes, limit, threshold); });
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
    const BYTE* p = row;
    int i = 0;
    for (; i + CGreyCounts::kLanes <= n; i += CGreyCounts::kLanes, p += CGreyCounts::kLanes * kBytes) {
        for (int lane = 0; lane < CGreyCounts::kLanes; ++lane) {
            const BYTE* q = p + lane * kBytes;
            ++counts.lanes[lane][FastRoundedGreyLevel(q[2], q[1], q[0])];
        }
    }
    for (; i < n; ++i, p += kBytes)
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

} // namespace

bool CGreyRowReader::Init(const CRasterSrc& image)
{
    m_bitCount = image.GetBitCount();
    if (image.IsEmpty())
        return false;
    if (m_bitCount == 1) {
        m_indexGrey[0] = m_indexRounded[0] = kWhiteGrey;
        m_indexGrey[1] = m_indexRounded[1] = kBlackGrey;
    } else if (m_bitCount <= 8) {
        const RGBQUAD* palette = image.GetPalette();
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
    case 24:
        GreyColourRow<3>(row, x0, n, out);
        break;
    case 32:
        GreyColourRow<4>(row, x0, n, out);
        break;
    default:
        break;
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
    case 4:
        PackRow(bits, n, [&](int i) { return m_indexGrey[Nibble(row, x0 + i)] <= threshold; });
        break;
    case 8: {
        const BYTE* p = row + x0;
        PackRow(bits, n, [&](int i) { return m_indexGrey[p[i]] <= threshold; });
        break;
    }
    case 16:
        PackRow(bits, n, [&](int i) { return m_grey555[Value555(row, x0 + i)] <= threshold; });
        break;
    case 24:
        ThresholdColourRow<3>(row, x0, n, threshold, bits);
        break;
    case 32:
        ThresholdColourRow<4>(row, x0, n, threshold, bits);
        break;
    default:
        break;
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
    case 4:
        CountValues(n, counts, [row](int i) { return Nibble(row, i); });
        break;
    case 8:
        CountValues(n, counts, [row](int i) { return row[i]; });
        break;
    case 16:
        CountValues(n, counts, [&](int i) { return m_rounded555[Value555(row, i)]; });
        break;
    case 24:
        CountColourRow<3>(row, n, counts);
        break;
    case 32:
        CountColourRow<4>(row, n, counts);
        break;
    default:
        break;
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
