// The 1-bit majority filter, 64 pixels at a time with bit-sliced counters:
// a count of up to 8 bits per pixel is held as 8 words, word b carrying bit
// b of the 64 pixels' counts, so one AND, OR or XOR adds for all of them.
//
// Per output row, each column's count over the window's rows is formed
// first (the rows are added word by word), then the window's total as the
// sum of those column counts moved left and right by up to the radius, and
// the pixel is black where the total exceeds the threshold.
//
// The window's rows are kept as words in a ring, loaded from the image
// before any of them is overwritten. Row bands run side by side, each with
// its own ring; the rows below a band that the next band overwrites are
// copied before any band starts.
#include "raster/median.h"

#include "model/text_table.h"
#include "platform/number_text.h"
#include "raster/packed_bits.h"
#include "raster/pixel_ops_support.h"
#include "raster/row_bands.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

namespace {

constexpr int kMaxCountBits = 8;        // 15 x 15 = 225 < 256
constexpr int kMaxColumnBits = 4;       // 15 < 16
constexpr int kMinBinaryBandRows = 64;  // thinner bands copy more than they save

// Counts of 64 pixels, bit-sliced.
struct SlicedCount {
    PackedWord bits[kMaxCountBits] = {};
};

// count += one bit per pixel.
inline void AddBit(PackedWord* planes, int planeCount, PackedWord bit)
{
    for (int b = 0; b < planeCount && bit; ++b) {
        PackedWord carry = planes[b] & bit;
        planes[b] ^= bit;
        bit = carry;
    }
}

// total += value (both bit-sliced), ripple carry.
inline void AddSliced(PackedWord* total, int totalBits, const PackedWord* value, int valueBits)
{
    PackedWord carry = 0;
    for (int b = 0; b < totalBits; ++b) {
        PackedWord v = b < valueBits ? value[b] : 0;
        PackedWord a = total[b];
        total[b] = a ^ v ^ carry;
        carry = (a & v) | (carry & (a ^ v));
    }
}

// Pixels whose count exceeds the constant: compared from the top bit down.
inline PackedWord Exceeds(const PackedWord* count, int bits, int constant)
{
    PackedWord greater = 0;
    PackedWord equal = ~PackedWord{0};
    for (int b = bits - 1; b >= 0; --b) {
        if ((constant >> b) & 1) {
            equal &= count[b];
        } else {
            greater |= equal & count[b];
            equal &= ~count[b];
        }
    }
    return greater;
}

// Word k of a plane row moved so that pixel x reads pixel x + shift
// (-63 < shift < 63); the rows carry a zero guard word at each end.
inline PackedWord Shifted(const PackedWord* row, int k, int shift)
{
    if (shift > 0)
        return (row[k] << shift) | (row[k + 1] >> (kWordPixels - shift));
    if (shift < 0)
        return (row[k] >> -shift) | (row[k - 1] << (kWordPixels + shift));
    return row[k];
}

class CMajorityRows {
public:
    [[nodiscard]] bool Init(int width, int size)
    {
        m_width = width;
        m_size = size;
        m_words = (width + kWordPixels - 1) / kWordPixels;
        m_stride = static_cast<size_t>(m_words) + 2;
        m_columnBits = std::bit_width(static_cast<unsigned>(size));
        m_ring = TryAllocate<PackedWord>(m_stride * static_cast<size_t>(size));
        m_columns = TryAllocate<PackedWord>(m_stride * static_cast<size_t>(m_columnBits));
        m_mask = TryAllocate<PackedWord>(static_cast<size_t>(m_words));
        if (!m_ring || !m_columns || !m_mask)
            return false;
        std::fill(m_ring.get(), m_ring.get() + m_stride * static_cast<size_t>(size), PackedWord{0});
        std::fill(m_columns.get(), m_columns.get() + m_stride * static_cast<size_t>(m_columnBits), PackedWord{0});
        const int radius = size / 2;
        for (int k = 0; k < m_words; ++k) {
            // Columns radius .. width - radius - 1 of this word.
            int x0 = k * kWordPixels;
            PackedWord inside = LeadingWordMask(width - radius - x0);
            if (x0 < radius)
                inside &= ~LeadingWordMask(radius - x0);
            m_mask[static_cast<size_t>(k)] = inside;
        }
        return true;
    }

    PackedWord* Row(int y) { return m_ring.get() + m_stride * static_cast<size_t>(y % m_size) + 1; }

    void Load(const BYTE* row, int y)
    {
        PackedWord* words = Row(y);
        for (int k = 0, x = 0; x < m_width; ++k, x += kWordPixels)
            words[k] = ReadPixels(row, x, std::min(kWordPixels, m_width - x));
    }

    // Row y's interior decided by the window, its border as it was, into out.
    void Filter(int y, int threshold, BYTE* out)
    {
        const int radius = m_size / 2;
        const int totalBits = std::bit_width(static_cast<unsigned>(m_size * m_size));
        // Column counts of every word first: the totals read neighbours.
        for (int k = 0; k < m_words; ++k) {
            PackedWord planes[kMaxColumnBits] = {};
            for (int dy = -radius; dy <= radius; ++dy)
                AddBit(planes, m_columnBits, Row(y + dy)[k]);
            for (int b = 0; b < m_columnBits; ++b)
                ColumnPlane(b)[k] = planes[b];
        }
        const PackedWord* centre = Row(y);
        int k = 0;
        for (; k < m_words; ++k) {
            SlicedCount total;
            for (int dx = -radius; dx <= radius; ++dx) {
                PackedWord column[kMaxColumnBits];
                for (int b = 0; b < m_columnBits; ++b)
                    column[b] = Shifted(ColumnPlane(b), k, dx);
                AddSliced(total.bits, totalBits, column, m_columnBits);
            }
            PackedWord black = Exceeds(total.bits, totalBits, threshold);
            PackedWord mask = m_mask[static_cast<size_t>(k)];
            PackedWord word = (black & mask) | (centre[k] & ~mask);
            int pixels = std::min(kWordPixels, m_width - k * kWordPixels);
            if (pixels == kWordPixels)
                StoreWord(out + k * 8, word);
            else
                StorePartialWord(out + k * 8, word, PackedRowBytes(pixels));
        }
    }

private:
    PackedWord* ColumnPlane(int b) { return m_columns.get() + m_stride * static_cast<size_t>(b) + 1; }

    int m_width = 0, m_size = 0, m_words = 0, m_columnBits = 0;
    size_t m_stride = 0;
    std::unique_ptr<PackedWord[]> m_ring;     // size rows, guard word each side
    std::unique_ptr<PackedWord[]> m_columns;  // column counts, one plane per bit
    std::unique_ptr<PackedWord[]> m_mask;     // interior columns per word
};

}  // namespace

bool CBinaryMedianFilter::SetSize(int size)
{
    if (!IsValidMedianSize(size))
        return false;
    m_cells = size * size;
    m_threshold = (m_cells - 1) >> 1;
    m_width = m_height = size;
    return true;
}

bool CBinaryMedianFilter::Apply(CRasterSrc& raster, RasterProgress progress)
{
    if (raster.IsEmpty() || raster.GetBitCount() != 1 || m_cells == 0)
        return false;
    const std::string size = FormatC(" [%d,%d]", m_width, m_height);
    ReportProgress(progress, GetLanString("MFilterInit", "Init Median filter...") + size, 0);
    const int width = raster.GetWidth();
    const int height = raster.GetHeight();
    const int radius = m_width / 2;
    // An image no wider or higher than the window has no pixel to decide.
    const bool decides = width > 2 * radius && height > 2 * radius;
    // Output rows [y0, y1) of each band, its ring loaded with the rows above
    // them, and a copy of the radius rows below them.
    struct Band {
        int y0 = 0, y1 = 0;
        CMajorityRows rows;
        std::unique_ptr<BYTE[]> below;
    };
    const int bandCount = decides ? CountRowBands(height - 2 * radius, kMinBinaryBandRows) : 0;
    const size_t rowBytes = static_cast<size_t>(PackedRowBytes(width));
    std::vector<Band> bands(static_cast<size_t>(bandCount));
    for (Band& band : bands) {
        RowBandOf(height - 2 * radius, bandCount, static_cast<int>(&band - bands.data()), band.y0, band.y1);
        band.y0 += radius;
        band.y1 += radius;
        band.below = TryAllocate<BYTE>(rowBytes * static_cast<size_t>(radius));
        if (!band.rows.Init(width, m_width) || !band.below) {
            ReportProgress(progress, GetLanString("MFilterFail", "Median Filter Failed"), kFullPercent);
            ShowNoMemoryMessage();
            return false;
        }
        for (int y = band.y0 - radius; y < band.y0 + radius; ++y)
            band.rows.Load(raster.GetRow(y), y);
        for (int i = 0; i < radius; ++i)
            std::copy_n(raster.GetRow(band.y1 + i), rowBytes, band.below.get() + rowBytes * static_cast<size_t>(i));
    }
    ReportProgress(progress, GetLanString("MFilterStart", "Start Median Filter"), 0);
    const std::string text = GetLanString("MFilterMsg", "Median Filter");
    // Band 0 runs on this thread and reports for all.
    RunBands(bandCount, [&](int b) {
        Band& band = bands[static_cast<size_t>(b)];
        int lastPercent = -1;
        for (int y = band.y0; y < band.y1; ++y) {
            const int source = y + radius;
            const BYTE* row = source < band.y1 ? raster.GetRow(source)
                                               : band.below.get() + rowBytes * static_cast<size_t>(source - band.y1);
            band.rows.Load(row, source);
            band.rows.Filter(y, m_threshold, raster.GetRow(y));
            int percent = ProgressPercent(y - band.y0 + 1, band.y1 - band.y0);
            if (b == 0 && percent != lastPercent) {
                ReportProgress(progress, text, percent);
                lastPercent = percent;
            }
        }
    });
    ReportProgress(progress, GetLanString("MFilterFinish", "Median Filter Finish"), kFullPercent);
    raster.SetPaletteDimmed(0);
    return true;
}
