#pragma once
// Plumbing shared by the pixel operations, the median filters and the
// templates: progress percentages, non-throwing buffers, and handing a new
// bitmap to an image without losing what the image's owner set on it.
#include "raster/pixel_format.h"
#include "raster/raster_src.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

struct FIBITMAP;

constexpr int kFullPercent = 100;

inline int ProgressPercent(std::int64_t done, std::int64_t total)
{
    return total > 0 ? static_cast<int>(done * kFullPercent / total) : kFullPercent;
}

inline void ReportProgress(RasterProgress progress, const std::string& text, int percent)
{
    if (progress)
        progress(text, percent);
}

// Makes bitmap the image's pixels (the old bitmap is unloaded) and keeps the
// image's resolution, edit settings, last brush point, reserved and
// palette-dimmed flags and, when both are 1-bit, its palette. The histogram
// becomes invalid. On failure (the row table cannot be allocated) the image
// is unchanged and the bitmap is unloaded.
[[nodiscard]] bool AdoptRasterBitmap(CRasterSrc& image, FIBITMAP* bitmap);
