#pragma once
// Median filters: a majority filter on 1-bit images, a true median on grey
// and colour images, over a square window of an odd size from 3 to 15.
//
// The 1-bit filter leaves a border of size / 2 pixels as it was. The grey
// and colour medians change every pixel and see the picture's edge pixels
// repeated beyond it, so a white page keeps white corners. A colour median
// picks one of the window's colours: the middle one in the order of integer
// luminance (30 red + 59 green + 11 blue) / 100, equal luminances ordered by
// red, then green, then blue.
//
// A size outside the range is refused with a message; a failure leaves the
// image as it was.
#include "raster/raster_src.h"

constexpr int kMinMedianSize = 3;
constexpr int kMaxMedianSize = 15;

// Odd and within kMinMedianSize..kMaxMedianSize.
bool IsValidMedianSize(int size);

class CBinaryMedianFilter {
public:
    // False, the filter unchanged, for a size IsValidMedianSize refuses.
    [[nodiscard]] bool SetSize(int size);
    int GetSize() const { return m_width; }
    int GetThreshold() const { return m_threshold; }

    // A pixel at least size / 2 from every edge becomes black when more than
    // half of the window's pixels are black, else white. False for empty
    // images, images above 1 bit, and before a size is set. Images with no
    // such pixel are left as they are.
    [[nodiscard]] bool Apply(CRasterSrc& raster, RasterProgress progress = nullptr);

private:
    int m_cells = 0;      // size x size
    int m_threshold = 0;  // (cells - 1) / 2: black when the count exceeds it
    int m_width = 0;
    int m_height = 0;
};

// The median of an image above 1 bit: colour images (16, 24, 32 bits) by
// ColorMedianFilter, palette images turned into 8-bit grey first, then
// GreyMedianFilter. False for 1-bit and empty images.
[[nodiscard]] bool MedianFilter(CRasterSrc& raster, int size, RasterProgress progress = nullptr);
// Colour images (16, 24 and 32 bits) only.
[[nodiscard]] bool ColorMedianFilter(CRasterSrc& raster, int size, RasterProgress progress = nullptr);
// 8-bit images only: the median of the index bytes.
[[nodiscard]] bool GreyMedianFilter(CRasterSrc& raster, int size, RasterProgress progress = nullptr);

// The filter for the image's depth: the majority filter at 1 bit, else
// MedianFilter.
[[nodiscard]] bool ApplyMedianFilter(CRasterSrc& raster, int size, RasterProgress progress = nullptr);
