#pragma once
// Grey levels of rows of every depth CRasterSrc holds: the one kernel behind
// the threshold, the histogram, the dynamic threshold and the conversion to
// 8-bit grey. A reader is prepared once per image (palette and 5-5-5 tables)
// and then walks rows with one switch per row, never per pixel.
//
// Colour to grey follows pixel_math.h: truncated for thresholds and grey
// conversion, rounded for the histogram. A 1-bit pixel is black (0) when set
// and white (255) when clear, whatever its palette says.
#include "platform/dib_types.h"
#include "platform/win_types.h"

#include <cstdint>
#include <functional>
#include <memory>

class CRasterSrc;

// Pixel counts gathered by CGreyRowReader::CountRow. Neighbouring pixels go
// to different lanes, so runs of equal pixels (paper) do not wait on one
// counter. At 8 bits or fewer the lanes count palette indices, otherwise
// rounded grey levels; FoldCounts turns either into grey levels.
struct CGreyCounts {
    static constexpr int kLanes = 4;
    std::uint64_t lanes[kLanes][256] = {};
};

class CGreyRowReader {
public:
    // False for an empty image or when the 5-5-5 tables cannot be allocated.
    [[nodiscard]] bool Init(const CRasterSrc& image);
    // The same for rows held elsewhere: a palette of 1 << bitCount entries
    // at 4 and 8 bits.
    [[nodiscard]] bool Init(int bitCount, const RGBQUAD* palette);

    // Truncated grey of pixels [x0, x0 + n) into out[0 .. n).
    void GreyRow(const BYTE* row, int x0, int n, BYTE* out) const;
    // Pixels [x0, x0 + n) into a 1-bit row starting at its pixel 0: set
    // (black) when the truncated grey <= threshold. The padding bits of the
    // last byte written are cleared.
    void ThresholdRow(const BYTE* row, int x0, int n, BYTE threshold, BYTE* bits) const;
    // Counts a row's first n pixels.
    void CountRow(const BYTE* row, int n, CGreyCounts& counts) const;
    // Adds the counts to bins by rounded grey level.
    void FoldCounts(const CGreyCounts& counts, std::uint64_t* bins) const;

    int GetBitCount() const { return m_bitCount; }

private:
    static constexpr int k555Values = 1 << 15;

    int m_bitCount = 0;
    BYTE m_indexGrey[256] = {};            // by palette index, truncated
    BYTE m_indexRounded[256] = {};         // by palette index, rounded
    std::unique_ptr<BYTE[]> m_grey555;     // by 5-5-5 value, truncated
    std::unique_ptr<BYTE[]> m_rounded555;  // by 5-5-5 value, rounded
};

// Whole images given as tables of row pointers (top row first), walked in
// chunks of rows, each chunk split across the row-band threads. After each
// chunk, done(top, rows) runs on the calling thread (progress, giving pages
// back); it may be empty.
using GreyChunkDone = std::function<void(int top, int rows)>;

// Adds the rounded grey-level counts of the rows to bins[256]; false when
// the per-thread counters cannot be allocated.
[[nodiscard]] bool CountGreyRows(const CGreyRowReader& reader, const BYTE* const* rows, int width, int height,
                                 std::uint64_t* bins, const GreyChunkDone& done);
// Thresholds each row into the 1-bit row out[y] (see ThresholdRow).
void ThresholdGreyRows(const CGreyRowReader& reader, const BYTE* const* rows, int width, int height, BYTE threshold,
                       BYTE* const* out, const GreyChunkDone& done);
