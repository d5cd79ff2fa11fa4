// The grey-level histogram of an image and the automatic threshold found in
// it. The display histogram is 256 bytes scaled so that the largest bin is
// exactly kHistogramTop; the automatic threshold reads only those bytes.
#include "raster/raster_src.h"

#include "model/text_table.h"
#include "raster/grey_rows.h"
#include "raster/row_bands.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

// The shape the search looks for, in display-histogram units (top = 80).
constexpr int kForegroundPeak = 72;    // a bin this high after the valley starts the foreground
constexpr int kValleyLevel = 24;       // bins below this are valley
constexpr int kFlatStep = 2;           // neighbours within this are flat
constexpr int kShortRun = 10;          // flat valley bins that settle the threshold
constexpr int kLongRun = 15;           // ... when the valley starts close to the peak
constexpr int kNearPeakDistance = 15;  // how close counts as close

// Progress shares of the two stages of ComputeHistogram.
constexpr int kCountStart = 10;
constexpr int kCountShare = 85;
constexpr int kScaleStart = 95;
constexpr int kScaleShare = 5;
constexpr int kRowsPerChunk = 1024;  // rows counted between progress reports

} // namespace

BYTE AutoThresholdFromHistogram(const BYTE* bins)
{
    bool peakFound = false;
    bool inValley = false;
    int peak = 0;
    int run = 0;
    int need = kShortRun;
    for (int i = CRasterSrc::kHistogramBins - 1; i >= 0; --i) {
        if (!peakFound) {
            // The first full bin from white down is the paper.
            if (bins[i] == CRasterSrc::kHistogramTop) {
                peakFound = true;
                peak = i;
            }
            continue;
        }
        if (inValley && bins[i] >= kForegroundPeak)
            return static_cast<BYTE>(i + 1);
        if (bins[i] >= kValleyLevel) {
            run = 0;
        } else {
            if (!inValley) {
                need = peak - i <= kNearPeakDistance ? kLongRun : kShortRun;
                inValley = true;
            }
            run = std::abs(bins[i] - bins[i + 1]) <= kFlatStep ? run + 1 : 0;
        }
        if (run >= need)
            return static_cast<BYTE>(i);
    }
    return 0;
}

void CRasterSrc::ComputeHistogram(BYTE* bins, RasterProgress progress)
{
    if (!m_bitmap || m_bitCount == 1)
        return;
    if (m_histogramValid) {
        std::memcpy(bins, m_histogram, kHistogramBins);
        return;
    }
    CGreyRowReader reader;
    if (!reader.Init(*this)) {
        ShowNoMemoryMessage();
        return;
    }
    std::memset(m_histogram, 0, sizeof m_histogram);
    std::string text = GetLanString("RasterOpenFile", "Open raster file");
    // Row by row: each stored row is read once, in memory order.
    // Each band counts into lanes of its own; the sums do not depend on the
    // split. Progress moves between chunks of rows on this thread.
    const int bands = std::max(1, std::min(GetRowBandThreads(), m_height));
    std::unique_ptr<CGreyCounts[]> lanes(new (std::nothrow) CGreyCounts[static_cast<size_t>(bands)]);  // 8 KB each
    if (!lanes) {
        ShowNoMemoryMessage();
        return;
    }
    for (int top = 0; top < m_height; top += kRowsPerChunk) {
        const int rows = std::min(kRowsPerChunk, m_height - top);
        RunBands(bands, [&](int b) {
            int y0 = 0, y1 = 0;
            RowBandOf(rows, bands, b, y0, y1);
            for (int y = top + y0; y < top + y1; ++y)
                reader.CountRow(m_rows[static_cast<size_t>(y)], m_width, lanes[b]);
        });
        if (progress)
            progress(text, static_cast<int>(static_cast<std::int64_t>(top + rows - 1) * kCountShare / m_height) +
                               kCountStart);
    }
    std::uint64_t counts[kHistogramBins] = {};
    for (int b = 0; b < bands; ++b)
        reader.FoldCounts(lanes[b], counts);
    std::uint64_t maxCount = *std::max_element(counts, counts + kHistogramBins);
    for (int i = 0; i < kHistogramBins; ++i) {
        BYTE value = 0;
        if (maxCount > 0)
            value = counts[i] >= maxCount ? kHistogramTop
                                          : static_cast<BYTE>(static_cast<double>(counts[i]) /
                                                              static_cast<double>(maxCount) * kHistogramTop);
        m_histogram[i] = value;
        bins[i] = value;
        if (progress)
            progress(text, i * kScaleShare / (kHistogramBins - 1) + kScaleStart);
    }
    m_histogramValid = 1;
}

BYTE CRasterSrc::GetAutoThreshold()
{
    if (!m_bitmap || m_bitCount == 1)
        return 0;
    if (!m_histogramValid) {
        BYTE bins[kHistogramBins];
        ComputeHistogram(bins, nullptr);
        if (!m_histogramValid)
            return 0;
    }
    return AutoThresholdFromHistogram(m_histogram);
}
