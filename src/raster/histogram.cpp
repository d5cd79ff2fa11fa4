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

}  // namespace

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

void ScaleHistogram(const std::uint64_t* counts, BYTE* bins)
{
    const int n = CRasterSrc::kHistogramBins;
    const std::uint64_t maxCount = *std::max_element(counts, counts + n);
    for (int i = 0; i < n; ++i) {
        BYTE value = 0;
        if (maxCount > 0)
            value = counts[i] >= maxCount
                        ? CRasterSrc::kHistogramTop
                        : static_cast<BYTE>(static_cast<double>(counts[i]) / static_cast<double>(maxCount) *
                                            CRasterSrc::kHistogramTop);
        bins[i] = value;
    }
}

BYTE AutoThresholdFromCounts(const std::uint64_t* counts)
{
    BYTE bins[CRasterSrc::kHistogramBins];
    ScaleHistogram(counts, bins);
    return AutoThresholdFromHistogram(bins);
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
    // Row by row: each stored row is read once, in memory order. Progress
    // moves between chunks of rows on this thread.
    std::uint64_t counts[kHistogramBins] = {};
    const bool counted = CountGreyRows(reader, m_rows.get(), m_width, m_height, counts, [&](int top, int rows) {
        if (progress)
            progress(text, static_cast<int>(static_cast<std::int64_t>(top + rows - 1) * kCountShare / m_height) +
                               kCountStart);
    });
    if (!counted) {
        ShowNoMemoryMessage();
        return;
    }
    ScaleHistogram(counts, m_histogram);
    std::memcpy(bins, m_histogram, kHistogramBins);
    if (progress) {
        for (int i = 0; i < kHistogramBins; ++i)
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
